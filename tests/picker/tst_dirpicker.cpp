#include "DirListBox.h"
#include "DoSelectDir.h"
#include "DriveListBox.h"
#include "ModalDialogDriver.h"
#include "PickerMessages.h"
#include "ProgramLocation.h"
#include "frmDirPicker.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

// The folder picker as its caller sees it: DoSelectDir with the real modal dialog, driven by keys and
// mouse clicks once it is shown.
class TestDirPicker : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void opensOnTheStartFolder_data();
    void opensOnTheStartFolder();
    void okWithoutChangeOnFirstUseGivesTheAbsoluteStartFolder();
    void cancelLeavesTheTextAsItWas_data();
    void cancelLeavesTheTextAsItWas();
    void closeBoxAfterAnEarlierOkIsACancel();
    void typedTextIsReturnedUnchanged_data();
    void typedTextIsReturnedUnchanged();
    void enterInTheFolderListOpensAndKeepsTheDialogOpen();
    void secondUseStartsFromTheGivenFolder();
    void secondUseOnTheSameFolderForgetsEarlierTyping();
    void oneDialogIsReusedAndKeepsItsResult();
    void choosingADriveMovesTheFolderList();
    void anUnreadableDriveKeepsThePreviousOneAndSaysWhy();
    void aVanishedFolderInTheListSaysWhyAndStays();
    void aRunTimeFailureIsReportedAndCancels();
    void layoutFollowsTheTwipTable_data();
    void layoutFollowsTheTwipTable();
    void tabOrderAccessKeysAndButtons();
    void windowLooksAsIntended();
    void centredOverItsOwnerAndOwnedByIt();
    void destroyedOnRequestOrWithItsOwner();

private:
    // What the dialog showed when it came up.
    struct Seen {
        QString text;
        QString folder;
        QString drive;
    };
    static Seen look(frmDirPicker& dialog);
    static QLineEdit* pathBox(frmDirPicker& dialog) { return dialog.findChild<QLineEdit*>("txtPathName"); }
    static DirListBox* folders(frmDirPicker& dialog) { return dialog.findChild<DirListBox*>("Dir1"); }
    static DriveListBox* drives(frmDirPicker& dialog) { return dialog.findChild<DriveListBox*>("Drive1"); }
    static QPushButton* button(frmDirPicker& dialog, const char* name) {
        return dialog.findChild<QPushButton*>(name);
    }
    static int rowOf(DirListBox& list, const QString& folder);
    static void openInList(frmDirPicker& dialog, const QString& folder);
    static void pressAccessKey(frmDirPicker& dialog, Qt::Key key);
    int32_t select(QString& text, ModalDialogDriver::Action action);
    static QString mountPointOf(const QString& path);

    QTemporaryDir temp_;
    QString program_;
    QString other_;
    QString savedCurrent_;
    std::unique_ptr<QWidget> owner_;
    QStringList messages_;
    bool driverActed_ = false;
    bool driverLeftOpen_ = false;
};

void TestDirPicker::initTestCase() {
    QVERIFY(temp_.isValid());
    const QString base = QDir::cleanPath(temp_.path());
    program_ = base + "/prog";
    other_ = base + "/other place";
    for (const QString& folder :
         {program_ + "/sub1", program_ + "/sub2", other_ + "/inner", base + "/rel/sub"})
        QVERIFY(QDir().mkpath(folder));
    QFile file(base + "/a file");
    QVERIFY(file.open(QIODevice::WriteOnly));
    ProgramLocation::overrideDirectory(program_.toStdString());
    savedCurrent_ = QDir::currentPath();
    QVERIFY(QDir::setCurrent(base));
    PickerMessages::setRecorder(
        [this](const QString& title, const QString& text) { messages_ << title + "|" + text; });
}

void TestDirPicker::init() {
    messages_.clear();
    DestroyDirPicker();
    owner_ = std::make_unique<QWidget>();
    owner_->setGeometry(100, 80, 700, 500);
    owner_->show();
    QVERIFY(QTest::qWaitForWindowExposed(owner_.get()));
}

void TestDirPicker::cleanup() {
    DestroyDirPicker();
    owner_.reset();
    ProgramLocation::overrideDirectory(program_.toStdString());
}

void TestDirPicker::cleanupTestCase() {
    PickerMessages::setRecorder({});
    ProgramLocation::overrideDirectory({});
    QDir::setCurrent(savedCurrent_);
}

TestDirPicker::Seen TestDirPicker::look(frmDirPicker& dialog) {
    return {pathBox(dialog)->text(), folders(dialog)->path(), drives(dialog)->drive()};
}

int TestDirPicker::rowOf(DirListBox& list, const QString& folder) {
    for (int row = 0; row < list.count(); ++row)
        if (list.item(row)->data(DirListBox::PathRole).toString() == folder)
            return row;
    return -1;
}

void TestDirPicker::openInList(frmDirPicker& dialog, const QString& folder) {
    DirListBox& list = *folders(dialog);
    const int row = rowOf(list, folder);
    if (row < 0)
        return;
    list.scrollToItem(list.item(row));
    // A real double click starts with a click on the same entry.
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualItemRect(list.item(row)).center());
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, list.visualItemRect(list.item(row)).center());
}

void TestDirPicker::pressAccessKey(frmDirPicker& dialog, Qt::Key key) {
    // Access keys work in the active window only.
    dialog.activateWindow();
    if (!QTest::qWaitForWindowActive(&dialog))
        return;
    QTest::keyClick(QApplication::focusWidget(), key, Qt::AltModifier);
}

int32_t TestDirPicker::select(QString& text, ModalDialogDriver::Action action) {
    ModalDialogDriver driver;
    driver.actWhenShown(std::move(action));
    const int32_t outcome = DoSelectDir(owner_.get(), text);
    driverActed_ = driver.acted();
    driverLeftOpen_ = driver.leftOpen();
    return outcome;
}

QString TestDirPicker::mountPointOf(const QString& path) {
    return QString::fromStdString(ProgramLocation::mountPointOf(path.toStdString()));
}

void TestDirPicker::opensOnTheStartFolder_data() {
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("opensOn");
    const QString base = QDir::cleanPath(temp_.path());
    QTest::newRow("existing folder") << other_ << other_;
    QTest::newRow("existing folder, trailing slash") << other_ + "/" << other_;
    QTest::newRow("missing folder") << base + "/missing" << program_;
    QTest::newRow("empty") << "" << program_;
    QTest::newRow("blanks only") << "   " << program_;
    QTest::newRow("relative folder") << "rel/sub" << base + "/rel/sub";
    QTest::newRow("relative with dot-dot") << "rel/sub/../sub/." << base + "/rel/sub";
    QTest::newRow("blanks around") << "  " + other_ + " " << other_;
    QTest::newRow("a file, not a folder") << base + "/a file" << program_;
    QTest::newRow("root") << "/"
                          << "/";
}

void TestDirPicker::opensOnTheStartFolder() {
    QFETCH(QString, given);
    QFETCH(QString, opensOn);
    QString text = given;
    Seen seen;
    const int32_t outcome = select(text, [&](frmDirPicker& dialog) {
        seen = look(dialog);
        QTest::mouseClick(button(dialog, "cmdCancel"), Qt::LeftButton);
    });
    QVERIFY(driverActed_);
    QVERIFY(!driverLeftOpen_);
    QCOMPARE(seen.text, opensOn);
    QCOMPARE(seen.folder, opensOn);
    QCOMPARE(seen.drive, mountPointOf(opensOn));
    QCOMPARE(outcome, DirPickerCancelled);
    QCOMPARE(text, given);
    QVERIFY(messages_.isEmpty());
}

void TestDirPicker::okWithoutChangeOnFirstUseGivesTheAbsoluteStartFolder() {
    QString text = "rel/sub";
    const int32_t outcome = select(
        text, [](frmDirPicker& dialog) { QTest::mouseClick(button(dialog, "cmdOK"), Qt::LeftButton); });
    QVERIFY(driverActed_);
    QCOMPARE(outcome, DirPickerChosen);
    QCOMPARE(text, QDir::cleanPath(temp_.path()) + "/rel/sub");
    QCOMPARE(ExistingDirPicker()->DialogResult, 1);
}

void TestDirPicker::cancelLeavesTheTextAsItWas_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("Cancel clicked") << "click";
    QTest::newRow("Alt+C") << "alt-c";
    QTest::newRow("Esc in the text box") << "esc-text";
    QTest::newRow("Esc in the folder list") << "esc-list";
    QTest::newRow("Esc in the drive list") << "esc-drives";
    QTest::newRow("close box") << "close";
}

void TestDirPicker::cancelLeavesTheTextAsItWas() {
    QFETCH(QString, how);
    QString text = "  " + other_;
    const QString before = text;
    bool hiddenAfterwards = false;
    const int32_t outcome = select(text, [&](frmDirPicker& dialog) {
        // Change what OK would return, so that a Cancel taken for an OK shows up.
        openInList(dialog, other_ + "/inner");
        pathBox(dialog)->setText("/typed/elsewhere");
        if (how == "click")
            QTest::mouseClick(button(dialog, "cmdCancel"), Qt::LeftButton);
        else if (how == "alt-c")
            pressAccessKey(dialog, Qt::Key_C);
        else if (how == "esc-text")
            QTest::keyClick(pathBox(dialog), Qt::Key_Escape);
        else if (how == "esc-list")
            QTest::keyClick(folders(dialog), Qt::Key_Escape);
        else if (how == "esc-drives")
            QTest::keyClick(drives(dialog), Qt::Key_Escape);
        else
            dialog.close();
        // An access key presses its button a moment later, as a click would be seen.
        hiddenAfterwards = QTest::qWaitFor([&] { return dialog.isHidden(); }, 1000);
    });
    QVERIFY(driverActed_);
    QVERIFY(hiddenAfterwards);
    QCOMPARE(outcome, DirPickerCancelled);
    QCOMPARE(text, before);
    QCOMPARE(ExistingDirPicker()->DialogResult, 2);
}

void TestDirPicker::closeBoxAfterAnEarlierOkIsACancel() {
    QString text = other_;
    QCOMPARE(select(text,
                    [](frmDirPicker& dialog) { QTest::mouseClick(button(dialog, "cmdOK"), Qt::LeftButton); }),
             DirPickerChosen);
    text = program_;
    const int32_t outcome = select(text, [&](frmDirPicker& dialog) {
        openInList(dialog, program_ + "/sub1");
        dialog.close();
    });
    QVERIFY(driverActed_);
    QCOMPARE(outcome, DirPickerCancelled);
    QCOMPARE(text, program_);
}

void TestDirPicker::typedTextIsReturnedUnchanged_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("confirm");
    const QString odd = "  relative\\odd path/ ";
    QTest::newRow("OK clicked") << odd << "click";
    QTest::newRow("Enter in the text box") << odd << "enter";
    QTest::newRow("keypad Enter in the text box") << odd << "keypad-enter";
    QTest::newRow("Alt+O") << odd << "alt-o";
    QTest::newRow("missing absolute folder") << "/no/such/folder"
                                             << "enter";
    QTest::newRow("empty text") << ""
                                << "click";
}

void TestDirPicker::typedTextIsReturnedUnchanged() {
    QFETCH(QString, typed);
    QFETCH(QString, confirm);
    QString text = program_;
    QString afterOpening;
    const int32_t outcome = select(text, [&](frmDirPicker& dialog) {
        openInList(dialog, program_ + "/sub2");
        afterOpening = pathBox(dialog)->text();
        QLineEdit* box = pathBox(dialog);
        box->setFocus();
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Delete);
        QTest::keyClicks(box, typed);
        if (confirm == "click")
            QTest::mouseClick(button(dialog, "cmdOK"), Qt::LeftButton);
        else if (confirm == "enter")
            QTest::keyClick(box, Qt::Key_Return);
        else if (confirm == "keypad-enter")
            QTest::keyClick(box, Qt::Key_Enter, Qt::KeypadModifier);
        else
            pressAccessKey(dialog, Qt::Key_O);
    });
    QVERIFY(driverActed_);
    QVERIFY(!driverLeftOpen_);
    QCOMPARE(afterOpening, program_ + "/sub2");
    QCOMPARE(outcome, DirPickerChosen);
    QCOMPARE(text, typed);
}

void TestDirPicker::enterInTheFolderListOpensAndKeepsTheDialogOpen() {
    QString text = program_;
    bool openAfterEnter = false;
    Seen afterEnter;
    const int32_t outcome = select(text, [&](frmDirPicker& dialog) {
        DirListBox* list = folders(dialog);
        list->setFocus();
        list->setCurrentRow(rowOf(*list, program_ + "/sub1"));
        QTest::keyClick(list, Qt::Key_Return);
        openAfterEnter = dialog.isVisible();
        afterEnter = look(dialog);
        QTest::mouseClick(button(dialog, "cmdOK"), Qt::LeftButton);
    });
    QVERIFY(driverActed_);
    QVERIFY(openAfterEnter);
    QCOMPARE(afterEnter.folder, program_ + "/sub1");
    QCOMPARE(afterEnter.text, program_ + "/sub1");
    QCOMPARE(outcome, DirPickerChosen);
    QCOMPARE(text, program_ + "/sub1");
}

void TestDirPicker::secondUseStartsFromTheGivenFolder() {
    QString text = program_;
    QCOMPARE(select(text,
                    [&](frmDirPicker& dialog) {
                        openInList(dialog, program_ + "/sub1");
                        QTest::mouseClick(button(dialog, "cmdOK"), Qt::LeftButton);
                    }),
             DirPickerChosen);
    QCOMPARE(text, program_ + "/sub1");

    text = other_;
    Seen seen;
    QCOMPARE(select(text,
                    [&](frmDirPicker& dialog) {
                        seen = look(dialog);
                        QTest::mouseClick(button(dialog, "cmdOK"), Qt::LeftButton);
                    }),
             DirPickerChosen);
    QCOMPARE(seen.folder, other_);
    QCOMPARE(seen.text, other_);
    QCOMPARE(text, other_);

    text = "/missing/now";
    QCOMPARE(select(text,
                    [&](frmDirPicker& dialog) {
                        seen = look(dialog);
                        QTest::keyClick(pathBox(dialog), Qt::Key_Escape);
                    }),
             DirPickerCancelled);
    QCOMPARE(seen.folder, program_);
    QCOMPARE(seen.text, program_);
}

void TestDirPicker::secondUseOnTheSameFolderForgetsEarlierTyping() {
    QString text = program_;
    QCOMPARE(select(text,
                    [&](frmDirPicker& dialog) {
                        pathBox(dialog)->setText("typed but cancelled");
                        QTest::keyClick(pathBox(dialog), Qt::Key_Escape);
                    }),
             DirPickerCancelled);
    // The lists still stand on the program's folder; the box must show it again, not the old typing.
    Seen seen;
    QCOMPARE(select(text,
                    [&](frmDirPicker& dialog) {
                        seen = look(dialog);
                        QTest::mouseClick(button(dialog, "cmdOK"), Qt::LeftButton);
                    }),
             DirPickerChosen);
    QCOMPARE(seen.text, program_);
    QCOMPARE(text, program_);
}

void TestDirPicker::oneDialogIsReusedAndKeepsItsResult() {
    QVERIFY(ExistingDirPicker() == nullptr);
    QString text;
    select(text, [](frmDirPicker& dialog) { QTest::mouseClick(button(dialog, "cmdOK"), Qt::LeftButton); });
    frmDirPicker* first = ExistingDirPicker();
    QVERIFY(first != nullptr);
    QVERIFY(first->isHidden());
    QCOMPARE(first->DialogResult, 1);
    int32_t resultWhenShownAgain = -1;
    select(text, [&](frmDirPicker& dialog) {
        resultWhenShownAgain = dialog.DialogResult;
        QTest::mouseClick(button(dialog, "cmdCancel"), Qt::LeftButton);
    });
    QCOMPARE(ExistingDirPicker(), first);
    QCOMPARE(resultWhenShownAgain, 1);
    QCOMPARE(first->DialogResult, 2);
}

namespace {

QString writeMountTable(const QString& folder, const QStringList& mountPoints) {
    QByteArray table;
    int id = 200;
    for (const QString& mountPoint : mountPoints)
        table += QByteArray::number(id++) + " 1 8:1 / " + QFile::encodeName(mountPoint) +
                 " rw - ext4 /dev/sdz rw\n";
    const QString path = folder + "/mountinfo";
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(table);
    return path;
}

} // namespace

void TestDirPicker::choosingADriveMovesTheFolderList() {
    QTemporaryDir mounts;
    QVERIFY(mounts.isValid());
    const QString stick = QDir::cleanPath(mounts.path()) + "/stick";
    QVERIFY(QDir().mkpath(stick + "/voice"));
    QString text = program_;
    Seen seen;
    const int32_t outcome = select(text, [&](frmDirPicker& dialog) {
        DriveListBox* list = drives(dialog);
        list->setMountInfoPath(writeMountTable(mounts.path(), {"/", stick}));
        list->setCurrentIndex(list->findData(stick));
        seen = look(dialog);
        QTest::mouseClick(button(dialog, "cmdOK"), Qt::LeftButton);
    });
    QVERIFY(driverActed_);
    QCOMPARE(seen.folder, stick);
    QCOMPARE(seen.text, stick);
    QCOMPARE(outcome, DirPickerChosen);
    QCOMPARE(text, stick);
    QVERIFY(messages_.isEmpty());
}

void TestDirPicker::anUnreadableDriveKeepsThePreviousOneAndSaysWhy() {
    QTemporaryDir mounts;
    QVERIFY(mounts.isValid());
    const QString stick = QDir::cleanPath(mounts.path()) + "/stick";
    QVERIFY(QDir().mkpath(stick));
    QString text = other_;
    Seen seen;
    bool stillOpen = false;
    const int32_t outcome = select(text, [&](frmDirPicker& dialog) {
        DriveListBox* list = drives(dialog);
        list->setMountInfoPath(writeMountTable(mounts.path(), {"/", stick}));
        list->showDriveQuietly(other_);
        QVERIFY(QDir(stick).removeRecursively()); // the medium is pulled out
        list->setCurrentIndex(list->findData(stick));
        seen = look(dialog);
        stillOpen = dialog.isVisible();
        QTest::mouseClick(button(dialog, "cmdOK"), Qt::LeftButton);
    });
    QVERIFY(driverActed_);
    QVERIFY(stillOpen);
    QCOMPARE(seen.folder, other_);
    QCOMPARE(seen.text, other_);
    QCOMPARE(seen.drive, mountPointOf(other_));
    QCOMPARE(messages_, QStringList("Client Directory|The drive " + stick +
                                    " cannot be read: No such file or directory"));
    QCOMPARE(outcome, DirPickerChosen);
    QCOMPARE(text, other_);
}

void TestDirPicker::aVanishedFolderInTheListSaysWhyAndStays() {
    const QString doomed = program_ + "/doomed";
    QVERIFY(QDir().mkpath(doomed));
    QString text = program_;
    Seen seen;
    const int32_t outcome = select(text, [&](frmDirPicker& dialog) {
        QVERIFY(QDir(doomed).removeRecursively());
        openInList(dialog, doomed);
        seen = look(dialog);
        QTest::keyClick(pathBox(dialog), Qt::Key_Escape);
    });
    QVERIFY(driverActed_);
    QCOMPARE(seen.folder, program_);
    QCOMPARE(seen.text, program_);
    QCOMPARE(messages_, QStringList("Client Directory|The folder " + doomed +
                                    " cannot be opened: No such file or directory"));
    QCOMPARE(outcome, DirPickerCancelled);
}

void TestDirPicker::aRunTimeFailureIsReportedAndCancels() {
    // The program's own folder has gone, and the caller's folder does not exist either: there is
    // nothing the dialog could show.
    ProgramLocation::overrideDirectory((QDir::cleanPath(temp_.path()) + "/vanished program").toStdString());
    QString text = "/no/such/place";
    const int32_t outcome = select(text, [](frmDirPicker& dialog) { dialog.cmdOK_Click(); });
    QVERIFY(!driverActed_);
    QCOMPARE(outcome, DirPickerCancelled);
    QCOMPARE(text, QString("/no/such/place"));
    QCOMPARE(messages_, QStringList("Error|Unable to select local directory: No such file or directory"));

    // Once the folder is back, the same dialog works again.
    ProgramLocation::overrideDirectory(program_.toStdString());
    messages_.clear();
    const int32_t second = select(
        text, [](frmDirPicker& dialog) { QTest::mouseClick(button(dialog, "cmdOK"), Qt::LeftButton); });
    QVERIFY(driverActed_);
    QCOMPARE(second, DirPickerChosen);
    QCOMPARE(text, program_);
    QVERIFY(messages_.isEmpty());
}

void TestDirPicker::layoutFollowsTheTwipTable_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twips");
    QTest::newRow("txtPathName") << "txtPathName" << QRect(240, 360, 3015, 285);
    QTest::newRow("Drive1") << "Drive1" << QRect(240, 840, 3015, 315);
    QTest::newRow("Dir1") << "Dir1" << QRect(240, 1200, 3015, 3690);
    QTest::newRow("cmdOK") << "cmdOK" << QRect(240, 5040, 1095, 375);
    QTest::newRow("cmdCancel") << "cmdCancel" << QRect(2160, 5040, 1095, 375);
}

void TestDirPicker::layoutFollowsTheTwipTable() {
    QFETCH(QString, name);
    QFETCH(QRect, twips);
    frmDirPicker dialog;
    const auto* control = dialog.findChild<QWidget*>(name);
    QVERIFY(control != nullptr);
    QCOMPARE(control->parentWidget(), &dialog);
    const int dpiX = dialog.logicalDpiX();
    const int dpiY = dialog.logicalDpiY();
    QCOMPARE(control->geometry(), QRect(twips.x() * dpiX / 1440, twips.y() * dpiY / 1440,
                                        twips.width() * dpiX / 1440, twips.height() * dpiY / 1440));
    QCOMPARE(dialog.size(), QSize(3510 * dpiX / 1440, 5580 * dpiY / 1440));
    const auto* label = dialog.findChild<QLabel*>("lblPathName");
    QCOMPARE(label->text(), QString("Selected Path"));
    QCOMPARE(label->pos(), QPoint(240 * dpiX / 1440, 120 * dpiY / 1440));
    QCOMPARE(label->size(), label->sizeHint());
}

void TestDirPicker::tabOrderAccessKeysAndButtons() {
    frmDirPicker dialog;
    QStringList chain;
    QWidget* widget = dialog.findChild<QWidget*>("txtPathName");
    for (int step = 0; step < 5; ++step) {
        chain << widget->objectName();
        widget = widget->nextInFocusChain();
        while (widget->focusPolicy() == Qt::NoFocus)
            widget = widget->nextInFocusChain();
    }
    QCOMPARE(chain, QStringList({"txtPathName", "Drive1", "Dir1", "cmdOK", "cmdCancel"}));
    QCOMPARE(button(dialog, "cmdOK")->text(), QString("&OK"));
    QCOMPARE(button(dialog, "cmdCancel")->text(), QString("&Cancel"));
    QVERIFY(button(dialog, "cmdOK")->isDefault());
    QVERIFY(!button(dialog, "cmdCancel")->isDefault());
    QCOMPARE(dialog.DialogResult, 0);
}

void TestDirPicker::windowLooksAsIntended() {
    QFont heavy = owner_->font();
    heavy.setBold(true);
    heavy.setItalic(true);
    owner_->setFont(heavy);
    QString text = program_;
    QString title;
    Qt::WindowFlags flags;
    bool modal = false;
    QFont font;
    QSize fixedMin, fixedMax;
    select(text, [&](frmDirPicker& dialog) {
        title = dialog.windowTitle();
        flags = dialog.windowFlags();
        modal = dialog.isModal();
        font = pathBox(dialog)->font();
        fixedMin = dialog.minimumSize();
        fixedMax = dialog.maximumSize();
        dialog.cmdCancel_Click();
    });
    QVERIFY(driverActed_);
    QCOMPARE(title, QString("Client Directory"));
    QVERIFY(modal);
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QCOMPARE(fixedMin, fixedMax);
    QVERIFY(!font.bold());
    QVERIFY(!font.italic());
    QCOMPARE(font.pointSizeF(), QApplication::font().pointSizeF());
}

void TestDirPicker::centredOverItsOwnerAndOwnedByIt() {
    QString text = program_;
    QPoint centre;
    QWidget* parent = nullptr;
    select(text, [&](frmDirPicker& dialog) {
        centre = dialog.frameGeometry().center();
        parent = dialog.parentWidget();
        dialog.cmdCancel_Click();
    });
    QVERIFY(driverActed_);
    QCOMPARE(parent, owner_.get());
    const QPoint ownerCentre = owner_->frameGeometry().center();
    QVERIFY2((centre - ownerCentre).manhattanLength() <= 2, qPrintable(QString("%1,%2 vs %3,%4")
                                                                           .arg(centre.x())
                                                                           .arg(centre.y())
                                                                           .arg(ownerCentre.x())
                                                                           .arg(ownerCentre.y())));
}

void TestDirPicker::destroyedOnRequestOrWithItsOwner() {
    QString text;
    select(text, [](frmDirPicker& dialog) { dialog.cmdCancel_Click(); });
    QVERIFY(ExistingDirPicker() != nullptr);
    DestroyDirPicker();
    QVERIFY(ExistingDirPicker() == nullptr);
    DestroyDirPicker(); // twice is harmless

    select(text, [](frmDirPicker& dialog) { dialog.cmdCancel_Click(); });
    QVERIFY(ExistingDirPicker() != nullptr);
    owner_.reset();
    QVERIFY(ExistingDirPicker() == nullptr);
    DestroyDirPicker();
}

QTEST_MAIN(TestDirPicker)
#include "tst_dirpicker.moc"
