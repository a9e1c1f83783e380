#include "SafeName.h"

#include <QTest>

// Names from a server listing become local paths only when they are one plain component.
class TestSafeName : public QObject {
    Q_OBJECT

private slots:
    void component_data();
    void component();
    void temporary_data();
    void temporary();
    void quoted_data();
    void quoted();
};

void TestSafeName::component_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("safe");

    QTest::newRow("plain") << QByteArray("greeting.wav") << true;
    QTest::newRow("blanks kept") << QByteArray(" my dir ") << true;
    QTest::newRow("dot file") << QByteArray(".profile") << true;
    QTest::newRow("three dots") << QByteArray("...") << true;
    QTest::newRow("colon later") << QByteArray("ab:c") << true;
    QTest::newRow("utf-8") << QByteArray("Gr\xC3\xBC\xC3\x9F"
                                         "e.wav")
                           << true;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("dot") << QByteArray(".") << false;
    QTest::newRow("dot dot") << QByteArray("..") << false;
    QTest::newRow("parent slash") << QByteArray("../x.wav") << false;
    QTest::newRow("parent backslash") << QByteArray("..\\x.wav") << false;
    QTest::newRow("inner slash") << QByteArray("a/b.wav") << false;
    QTest::newRow("absolute") << QByteArray("/abs.wav") << false;
    QTest::newRow("drive prefix") << QByteArray("C:x.wav") << false;
    QTest::newRow("drive alone") << QByteArray("d:") << false;
    QTest::newRow("newline") << QByteArray("a\nb") << false;
    QTest::newRow("carriage return") << QByteArray("a\rb") << false;
    QTest::newRow("tab") << QByteArray("a\tb") << false;
    QTest::newRow("delete") << QByteArray("a\x7f") << false;
    QTest::newRow("nul inside") << QByteArray("a\0b", 3) << false;
    QTest::newRow("staging folder") << QByteArray(".kavrel-staging") << false;
    QTest::newRow("partial file") << QByteArray(".x.wav.kavrel-part") << false;
}

void TestSafeName::component() {
    QFETCH(QByteArray, name);
    QFETCH(bool, safe);
    QCOMPARE(SafeName::isSafeComponent(name.toStdString()), safe);
}

void TestSafeName::temporary_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("temporary");

    QTest::newRow("staging") << QByteArray(".kavrel-staging") << true;
    QTest::newRow("backup record") << QByteArray(".kavrel-record") << true;
    QTest::newRow("partial") << QByteArray(".a.wav.kavrel-part") << true;
    QTest::newRow("partial, short name") << QByteArray(".a.kavrel-part") << true;
    QTest::newRow("suffix without leading dot") << QByteArray("a.kavrel-part") << false;
    QTest::newRow("suffix alone") << QByteArray(".kavrel-part") << false;
    QTest::newRow("ordinary") << QByteArray("a.wav") << false;
    QTest::newRow("staging lookalike") << QByteArray("kavrel-staging") << false;
}

void TestSafeName::temporary() {
    QFETCH(QByteArray, name);
    QFETCH(bool, temporary);
    QCOMPARE(SafeName::isTransferTemporary(name.toStdString()), temporary);
}

void TestSafeName::quoted_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("shown");

    QTest::newRow("plain") << QByteArray("..") << QByteArray("\"..\"");
    QTest::newRow("backslash") << QByteArray("..\\x.wav") << QByteArray("\"..\\x.wav\"");
    QTest::newRow("control") << QByteArray("a\r\nb") << QByteArray("\"a\\x0D\\x0Ab\"");
    QTest::newRow("high byte") << QByteArray("\xC3\xBC") << QByteArray("\"\\xC3\\xBC\"");
}

void TestSafeName::quoted() {
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, shown);
    QCOMPARE(QByteArray::fromStdString(SafeName::quoted(name.toStdString())), shown);
}

QTEST_GUILESS_MAIN(TestSafeName)
#include "tst_safename.moc"
