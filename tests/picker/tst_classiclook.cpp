#include "ClassicLook.h"
#include "Kavrel.h"
#include "frmDirPicker.h"

#include <QLineEdit>
#include <QStyle>
#include <QTest>

// The look the administrators know, where Qt's own defaults differ from it.
class TestClassicLook : public QObject {
    Q_OBJECT

private slots:
    void look_data();
    void look();
};

void TestClassicLook::look_data() {
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("expected");
    QTest::newRow("password shows * for every character") << "password"
                                                          << "****";
    QTest::newRow("picker font: 8.25 pt regular")
        << "pickerFont" << ClassicLook::sansFamily() + " 8.25 regular";
    QTest::newRow("picker has the classic style") << "pickerStyle"
                                                  << "windows";
}

void TestClassicLook::look() {
    QFETCH(QString, what);
    QFETCH(QString, expected);
    Kavrel window;
    frmDirPicker picker;
    auto* password = window.findChild<QLineEdit*>("ePassword");
    QVERIFY(password != nullptr);
    password->setText("pass");
    const QFont font = picker.font();
    const QMap<QString, QString> seen{
        {"password", password->displayText()},
        {"pickerFont",
         QString("%1 %2 %3").arg(font.family()).arg(font.pointSizeF()).arg(font.bold() ? "bold" : "regular")},
        {"pickerStyle", picker.findChild<QLineEdit*>("txtPathName")->style()->name().toLower()},
    };
    QCOMPARE(seen.value(what), expected);
}

QTEST_MAIN(TestClassicLook)
#include "tst_classiclook.moc"
