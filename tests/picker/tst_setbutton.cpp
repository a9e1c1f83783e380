#include "ClassicLook.h"
#include "DirListBox.h"
#include "DoSelectDir.h"
#include "Kavrel.h"
#include "MessageBoxRecorder.h"
#include "PickerMessages.h"
#include "TemporaryProgramFolder.h"
#include "frmDirPicker.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QTimer>

// The window's Set button and its folder picker, as the user drives them: OK takes the folder shown,
// Cancel leaves the field as it was, and the settings file changes only on close.
class TestSetButton : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void choose_data();
    void choose();
    void pickerHasTheClassicLook();

private:
    std::unique_ptr<TemporaryProgramFolder> folder;
    MessageBoxRecorder boxes;
    std::unique_ptr<Kavrel> window;
    QStringList pickerMessages;
};

void TestSetButton::init() {
    folder = std::make_unique<TemporaryProgramFolder>();
    QVERIFY(QDir().mkpath(folder->path() + "/backups/monday") &&
            QDir().mkpath(folder->path() + "/elsewhere"));
    QVERIFY(folder->writeSettings(("[LocalHost]\nDataPath=" + folder->path() + "/backups\n").toUtf8()));
    PickerMessages::setRecorder(
        [this](const QString& title, const QString& text) { pickerMessages << title + text; });
    window = std::make_unique<Kavrel>(&boxes);
    window->Form_Load();
    window->show();
}

void TestSetButton::cleanup() {
    window.reset();
    DestroyDirPicker();
    PickerMessages::setRecorder({});
    folder.reset();
    QCOMPARE(pickerMessages, QStringList());
}

void TestSetButton::choose_data() {
    QTest::addColumn<QString>("typed");  // typed into the path field; "" to open "monday" in the list
    QTest::addColumn<QString>("button"); // "cmdOK", "cmdCancel", "Esc" or "close" (the close box)
    QTest::addColumn<QString>("chosen"); // the field afterwards, below the program folder
    const auto row = [](const char* tag, const char* typed, const char* button, const char* chosen) {
        QTest::newRow(tag) << QString(typed) << QString(button) << QString(chosen);
    };
    row("open a folder, OK", "", "cmdOK", "/backups/monday");
    row("open a folder, Cancel", "", "cmdCancel", "/backups");
    row("type a path, OK", "ELSEWHERE", "cmdOK", "/elsewhere");
    row("open a folder, Esc", "", "Esc", "/backups");
    row("open a folder, close box", "", "close", "/backups");
}

void TestSetButton::choose() {
    QFETCH(QString, typed);
    QFETCH(QString, button);
    QFETCH(QString, chosen);
    const QString base = folder->path();
    bool acted = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<frmDirPicker*>(QApplication::activeModalWidget());
        if (dialog == nullptr || acted)
            return;
        acted = true;
        auto* list = dialog->findChild<DirListBox*>("Dir1");
        for (int row = 0; row < list->count(); ++row) {
            if (list->item(row)->data(DirListBox::PathRole).toString() == base + "/backups/monday")
                list->setCurrentRow(row);
        }
        QTest::keyClick(list, Qt::Key_Return);
        if (!typed.isEmpty())
            dialog->findChild<QLineEdit*>("txtPathName")->setText(base + "/elsewhere");
        if (button == "Esc")
            QTest::keyClick(dialog, Qt::Key_Escape);
        else if (button == "close")
            dialog->close();
        else
            QTest::mouseClick(dialog->findChild<QPushButton*>(button), Qt::LeftButton);
        if (dialog->isVisible())
            dialog->reject(); // a fault must fail the test, not hang it
    });
    poll.start(20);
    QTest::mouseClick(window->findChild<QPushButton*>("bLocalDir"), Qt::LeftButton);
    QVERIFY(acted);
    QCOMPARE(window->findChild<QLineEdit*>("eLocalDir")->text(), base + chosen);
    QVERIFY(folder->settingsText().contains("DataPath=" + base + "/backups\n"));
    QVERIFY(window->close());
    QVERIFY(folder->settingsText().contains("DataPath=" + base + chosen + "\n"));
}

// The picker looks like the window it belongs to: the classic style at 8.25 pt regular.
void TestSetButton::pickerHasTheClassicLook() {
    frmDirPicker picker;
    const QFont font = picker.font();
    QCOMPARE(font.family(), ClassicLook::sansFamily());
    QCOMPARE(font.pointSizeF(), 8.25);
    QVERIFY(!font.bold());
    QCOMPARE(picker.findChild<QLineEdit*>("txtPathName")->style()->name().toLower(), QString("windows"));
}

QTEST_MAIN(TestSetButton)
#include "tst_setbutton.moc"
