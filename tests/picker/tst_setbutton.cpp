#include "DirListBox.h"
#include "DoSelectDir.h"
#include "Kavrel.h"
#include "MessageBoxRecorder.h"
#include "ModalDialogDriver.h"
#include "PickerMessages.h"
#include "TemporaryProgramFolder.h"
#include "frmDirPicker.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

// The Set button of the main window: the folder picker's only caller. The chosen folder goes into the
// local directory field at once, and into the settings file only when the window closes.
class TestSetButton : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void okPutsTheChoiceInTheFieldAndTheSettingsFileOnlyOnClose();
    void cancelKeepsFieldAndSettings_data();
    void cancelKeepsFieldAndSettings();
    void secondPressStartsFromTheCurrentField();
    void dialogIsOwnedByTheWindowAndGoesWithIt();

private:
    QString savedDataPath() const;
    QLineEdit* localDir() const { return window_->findChild<QLineEdit*>("eLocalDir"); }
    QPushButton* setButton() const { return window_->findChild<QPushButton*>("bLocalDir"); }
    void pressSet(ModalDialogDriver::Action action);

    std::unique_ptr<TemporaryProgramFolder> folder_;
    MessageBoxRecorder boxes_;
    std::unique_ptr<Kavrel> window_;
    QString start_;
    QString other_;
    QStringList pickerMessages_;
    bool acted_ = false;
};

void TestSetButton::initTestCase() {
    PickerMessages::setRecorder(
        [this](const QString& title, const QString& text) { pickerMessages_ << title + "|" + text; });
}

void TestSetButton::cleanupTestCase() {
    PickerMessages::setRecorder({});
}

void TestSetButton::init() {
    folder_ = std::make_unique<TemporaryProgramFolder>();
    QVERIFY(folder_->isValid());
    const QString base = QDir::cleanPath(folder_->path());
    start_ = base + "/backups";
    other_ = base + "/elsewhere";
    for (const QString& path : {start_ + "/monday", other_})
        QVERIFY(QDir().mkpath(path));
    QVERIFY(folder_->writeSettings("[LocalHost]\nDataPath=" + start_ + "\n"));
    pickerMessages_.clear();
    boxes_.clear();
    window_ = std::make_unique<Kavrel>(&boxes_);
    window_->Form_Load();
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    QCOMPARE(localDir()->text(), start_);
}

void TestSetButton::cleanup() {
    window_.reset();
    DestroyDirPicker();
    folder_.reset();
    QVERIFY(pickerMessages_.isEmpty());
}

QString TestSetButton::savedDataPath() const {
    for (const QString& line : folder_->settingsText().split('\n'))
        if (line.trimmed().startsWith("DataPath="))
            return line.trimmed().mid(QString("DataPath=").size());
    return "(none)";
}

void TestSetButton::pressSet(ModalDialogDriver::Action action) {
    ModalDialogDriver driver;
    driver.actWhenShown(std::move(action));
    QTest::mouseClick(setButton(), Qt::LeftButton);
    acted_ = driver.acted() && !driver.leftOpen();
}

void TestSetButton::okPutsTheChoiceInTheFieldAndTheSettingsFileOnlyOnClose() {
    pressSet([&](frmDirPicker& dialog) {
        auto* list = dialog.findChild<DirListBox*>("Dir1");
        for (int row = 0; row < list->count(); ++row)
            if (list->item(row)->data(DirListBox::PathRole).toString() == start_ + "/monday")
                list->setCurrentRow(row);
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Return);
        QTest::mouseClick(dialog.findChild<QPushButton*>("cmdOK"), Qt::LeftButton);
    });
    QVERIFY(acted_);
    QCOMPARE(localDir()->text(), start_ + "/monday");
    QCOMPARE(savedDataPath(), start_);
    QVERIFY(window_->close());
    QCOMPARE(savedDataPath(), start_ + "/monday");
}

void TestSetButton::cancelKeepsFieldAndSettings_data() {
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("Cancel") << false;
    QTest::newRow("close box") << true;
}

void TestSetButton::cancelKeepsFieldAndSettings() {
    QFETCH(bool, closeBox);
    pressSet([&](frmDirPicker& dialog) {
        dialog.findChild<QLineEdit*>("txtPathName")->setText(other_);
        if (closeBox)
            dialog.close();
        else
            QTest::mouseClick(dialog.findChild<QPushButton*>("cmdCancel"), Qt::LeftButton);
    });
    QVERIFY(acted_);
    QCOMPARE(localDir()->text(), start_);
    QVERIFY(window_->close());
    QCOMPARE(savedDataPath(), start_);
}

void TestSetButton::secondPressStartsFromTheCurrentField() {
    pressSet([&](frmDirPicker& dialog) {
        auto* box = dialog.findChild<QLineEdit*>("txtPathName");
        box->setText(other_);
        QTest::keyClick(box, Qt::Key_Return);
    });
    QVERIFY(acted_);
    QCOMPARE(localDir()->text(), other_);
    QString shown;
    pressSet([&](frmDirPicker& dialog) {
        shown = dialog.findChild<DirListBox*>("Dir1")->path();
        QTest::keyClick(dialog.findChild<QLineEdit*>("txtPathName"), Qt::Key_Escape);
    });
    QVERIFY(acted_);
    QCOMPARE(shown, other_);
    QCOMPARE(localDir()->text(), other_);
}

void TestSetButton::dialogIsOwnedByTheWindowAndGoesWithIt() {
    QWidget* owner = nullptr;
    bool windowBlocked = false;
    pressSet([&](frmDirPicker& dialog) {
        owner = dialog.parentWidget();
        windowBlocked = QApplication::activeModalWidget() == &dialog && dialog.isModal();
        dialog.cmdCancel_Click();
    });
    QVERIFY(acted_);
    QCOMPARE(owner, static_cast<QWidget*>(window_.get()));
    QVERIFY(windowBlocked);
    QVERIFY(ExistingDirPicker() != nullptr);
    QVERIFY(window_->close());
    QVERIFY(ExistingDirPicker() == nullptr);
}

QTEST_MAIN(TestSetButton)
#include "tst_setbutton.moc"
