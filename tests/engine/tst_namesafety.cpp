#include "NameSafety.h"

#include <QTest>

// Every name the engine reads from or writes to the local disk passes this one rule.
class TestNameSafety : public QObject {
    Q_OBJECT

private slots:
    void names_data();
    void names();
};

void TestNameSafety::names_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("plain");

    QTest::newRow("plain") << QByteArray("p1.wav") << true;
    QTest::newRow("leading blank") << QByteArray(" p1.wav") << true;
    QTest::newRow("inner blanks") << QByteArray("a  b.wav") << true;
    QTest::newRow("dots inside") << QByteArray("a..b") << true;
    QTest::newRow("three dots") << QByteArray("...") << true;
    QTest::newRow("hidden") << QByteArray(".profile") << true;
    QTest::newRow("colon later") << QByteArray("ab:c") << true;
    QTest::newRow("digit colon") << QByteArray("1:x") << true;
    QTest::newRow("empty") << QByteArray("") << false;
    QTest::newRow("dot") << QByteArray(".") << false;
    QTest::newRow("dot dot") << QByteArray("..") << false;
    QTest::newRow("parent path") << QByteArray("../x.wav") << false;
    QTest::newRow("slash") << QByteArray("a/b.wav") << false;
    QTest::newRow("absolute") << QByteArray("/abs.wav") << false;
    QTest::newRow("backslash") << QByteArray("..\\x.wav") << false;
    QTest::newRow("drive") << QByteArray("C:x.wav") << false;
    QTest::newRow("lower drive") << QByteArray("c:") << false;
    QTest::newRow("carriage return") << QByteArray("a\rb") << false;
    QTest::newRow("line feed") << QByteArray("a\nb") << false;
    QTest::newRow("nul") << QByteArray("a\0b", 3) << false;
}

void TestNameSafety::names() {
    QFETCH(QByteArray, name);
    QFETCH(bool, plain);
    QCOMPARE(NameSafety::isPlainComponent(std::string_view(name.constData(), size_t(name.size()))), plain);
}

QTEST_APPLESS_MAIN(TestNameSafety)
#include "tst_namesafety.moc"
