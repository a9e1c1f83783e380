#include "FtpServerFixture.h"
#include "Kavrel.h"
#include "MessageBoxRecorder.h"
#include "ProgramLocation.h"
#include "SampleTree.h"
#include "TemporaryProgramFolder.h"
#include "TreeSnapshot.h"
#include "WindowInspection.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

// The window, with a way to act when a given line reaches its log (a test's stand-in for the user
// watching the log and clicking at that moment).
class WatchedKavrel : public Kavrel {
public:
    using Kavrel::Kavrel;

    void Display(const std::string& Buffer) override {
        Kavrel::Display(Buffer);
        if (onLine)
            onLine(Buffer);
    }

    std::function<void(const std::string&)> onLine;
};

} // namespace

// Backup and Restore end to end, through the window's buttons, against the test server.
class TestWindowTransfers : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(server.start()); }
    void cleanupTestCase() { server.stop(); }
    void init();
    void cleanup();

    void fullBackupAndRestore();
    void noCategoryTicked();
    void emptyLocalDirectoryMeansTheDriveRoot();
    void oneCategoryAlone();
    void abortQueuedDuringApplicationData();
    void abortQueuedDuringPrompts();
    void thirdOfFiveFilesFails();
    void failedPromptsSubdirectoryListing();
    void restoreWithAFailingFileInMessages();

private:
    void click(const char* button);
    void queueClick(const char* button);
    void tick(bool application, bool prompts, bool messages, bool mailboxes);
    void verifyBox(const QString& text, const QString& title, int style);
    QStringList log() const { return WindowInspection::logLines(*window); }

    FtpServerFixture server;
    std::unique_ptr<TemporaryProgramFolder> programFolder;
    std::unique_ptr<QTemporaryDir> local;
    MessageBoxRecorder boxes;
    std::unique_ptr<WatchedKavrel> window;
    QString base;
};

void TestWindowTransfers::init() {
    QVERIFY(QDir(server.root()).removeRecursively() && QDir().mkpath(server.root()));
    server.setFaults(QJsonObject());
    QVERIFY(SampleTree::write(server.root()));
    programFolder = std::make_unique<TemporaryProgramFolder>();
    local = std::make_unique<QTemporaryDir>();
    base = local->filePath("backup");
    boxes.clear();
    boxes.setWhileOpen({});
    window = std::make_unique<WatchedKavrel>(&boxes);
    window->Form_Load();
    window->show();
    using WindowInspection::control;
    control<QLineEdit>(*window, "eServer")->setText(server.address());
    control<QLineEdit>(*window, "eUser")->setText("admin");
    control<QLineEdit>(*window, "ePassword")->setText("tamsk");
    control<QLineEdit>(*window, "eLocalDir")->setText(base);
    click("bConnect");
    QCOMPARE(window->FTPState(), Kavrel::StateConnected);
}

void TestWindowTransfers::cleanup() {
    if (window)
        window->close();
    window.reset();
    programFolder.reset();
    server.setFaults(QJsonObject());
}

void TestWindowTransfers::click(const char* button) {
    auto* control = WindowInspection::control<QPushButton>(*window, button);
    QVERIFY(control != nullptr);
    QVERIFY2(control->isEnabled(), button);
    QTest::mouseClick(control, Qt::LeftButton);
}

// A click that waits in the event queue until the transfer next yields.
void TestWindowTransfers::queueClick(const char* button) {
    auto* control = WindowInspection::control<QPushButton>(*window, button);
    QTimer::singleShot(0, control, [control] { QTest::mouseClick(control, Qt::LeftButton); });
}

void TestWindowTransfers::tick(bool application, bool prompts, bool messages, bool mailboxes) {
    using WindowInspection::control;
    control<QCheckBox>(*window, "chkApplication")->setChecked(application);
    control<QCheckBox>(*window, "chkPrompts")->setChecked(prompts);
    control<QCheckBox>(*window, "chkMessages")->setChecked(messages);
    control<QCheckBox>(*window, "chkMailboxes")->setChecked(mailboxes);
}

void TestWindowTransfers::verifyBox(const QString& text, const QString& title, int style) {
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().text, text);
    QCOMPARE(boxes.last().title, title);
    QCOMPARE(boxes.last().style, style);
    QCOMPARE(window->FTPState(), Kavrel::StateConnected);
}

void TestWindowTransfers::fullBackupAndRestore() {
    tick(true, true, true, true);
    int stateWhileOpen = -1;
    boxes.setWhileOpen(
        [this, &stateWhileOpen](const MessageBoxRecorder::Box&) { stateWhileOpen = window->FTPState(); });
    click("bGet");

    const auto backedUp = TreeSnapshot::take(base);
    QVERIFY2(backedUp == SampleTree::expectedBackup(),
             qPrintable(TreeSnapshot::differences(SampleTree::expectedBackup(), backedUp)));
    verifyBox("Backup completed.", "Backup Complete", 64);
    QCOMPARE(stateWhileOpen, int(Kavrel::StateTransferring));
    const QStringList lines = log();
    QCOMPARE(
        lines.mid(0, 9),
        (QStringList{"", "Backing up application data", "", "Setting local directory to " + base + "/DTA",
                     "Setting server directory to C:\\DTA", "Retrieving server file names...",
                     "...2 names retrieved.", "Retrieving 2 files...", "...Done."}));
    const QStringList headers = lines.filter("Backing up");
    QCOMPARE(headers, (QStringList{"Backing up application data", "Backing up prompts", "Backing up messages",
                                   "Backing up subscriber data"}));
    QVERIFY(lines.indexOf("Setting server directory to C:\\PMT\\B") > lines.indexOf("...2 names retrieved."));

    // The same tree back onto an empty server.
    QVERIFY(QDir(server.root()).removeRecursively() && QDir().mkpath(server.root()));
    boxes.clear();
    click("bPut");
    const auto restored = TreeSnapshot::take(server.root());
    QVERIFY2(restored == SampleTree::expectedBackup(),
             qPrintable(TreeSnapshot::differences(SampleTree::expectedBackup(), restored)));
    verifyBox("Restore completed.", "Restore Complete", 64);
    QCOMPARE(log().filter("Restoring").size(), 4);
    QCOMPARE(window->LastOutcome(), CommandOutcome::Completed);
}

void TestWindowTransfers::noCategoryTicked() {
    tick(false, false, false, false);
    click("bGet");
    QCOMPARE(log(), QStringList{});
    QVERIFY(!QFileInfo::exists(base));
    verifyBox("Backup completed.", "Backup Complete", 64);
}

// The program folder under /dev/shm: its drive root is /dev/shm, never the real root.
void TestWindowTransfers::emptyLocalDirectoryMeansTheDriveRoot() {
    QTemporaryDir programUnderShm(QStringLiteral("/dev/shm/kavrel-program-XXXXXX"));
    QVERIFY(programUnderShm.isValid());
    const QString written = QStringLiteral("/dev/shm/DTA");
    if (QFileInfo::exists(written))
        QSKIP("/dev/shm/DTA exists already; it is not this test's to overwrite");
    ProgramLocation::overrideDirectory(programUnderShm.path().toStdString());
    if (ProgramLocation::driveRoot() != "/dev/shm") {
        ProgramLocation::overrideDirectory(programFolder->path().toStdString());
        QSKIP("/dev/shm is not a file system of its own here; the real root is not this test's to write");
    }
    WindowInspection::control<QLineEdit>(*window, "eLocalDir")->setText("   ");
    tick(true, false, false, false);
    click("bGet");
    const auto arrived = TreeSnapshot::filesIn(written);
    QDir(written).removeRecursively();
    ProgramLocation::overrideDirectory(programFolder->path().toStdString());

    QVERIFY(log().contains("Setting local directory to " + written));
    QCOMPARE(arrived, TreeSnapshot::filesIn(server.root() + "/DTA"));
    verifyBox("Backup completed.", "Backup Complete", 64);
}

void TestWindowTransfers::oneCategoryAlone() {
    tick(false, false, false, true);
    click("bGet");
    QCOMPARE(QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{"MBX"});
    QCOMPARE(log().filter("Backing up"), QStringList{"Backing up subscriber data"});
    verifyBox("Backup completed.", "Backup Complete", 64);
}

// The click waits in the queue and is taken in at the first yield, before the first file.
void TestWindowTransfers::abortQueuedDuringApplicationData() {
    QVERIFY(TreeSnapshot::write(base + "/DTA/system.cfg", "the previous backup"));
    const auto previous = TreeSnapshot::take(base);
    tick(true, true, true, true);
    window->onLine = [this](const std::string& line) {
        if (line.find("Backing up application data") != std::string::npos)
            queueClick("cmdAbort");
    };
    click("bGet");

    QCOMPARE(TreeSnapshot::take(base), previous);
    QCOMPARE(log().filter("Backing up"), QStringList{"Backing up application data"});
    verifyBox("Backup halted by user.", "Backup Complete", 64);
    QCOMPARE(window->LastOutcome(), CommandOutcome::HaltedByUser);
}

void TestWindowTransfers::abortQueuedDuringPrompts() {
    QVERIFY(TreeSnapshot::write(base + "/PMT/p001.wav", "the previous prompt"));
    const auto previousPrompts = TreeSnapshot::take(base + "/PMT");
    tick(true, true, true, true);
    window->onLine = [this](const std::string& line) {
        if (line.find("Backing up prompts") != std::string::npos)
            queueClick("cmdAbort");
    };
    click("bGet");

    QCOMPARE(TreeSnapshot::take(base + "/PMT"), previousPrompts);
    QCOMPARE(TreeSnapshot::filesIn(base + "/DTA"), TreeSnapshot::filesIn(server.root() + "/DTA"));
    const QStringList lines = log();
    QCOMPARE(lines.mid(lines.size() - 2),
             (QStringList{"Retrieving server subdirectory names...", "...2 names retrieved."}));
    QVERIFY(!lines.contains("Backing up messages"));
    verifyBox("Backup halted by user.", "Backup Complete", 64);
}

void TestWindowTransfers::thirdOfFiveFilesFails() {
    for (const char* name : {"m4.msg", "m5.msg"})
        QVERIFY(TreeSnapshot::write(server.root() + "/MSG/" + name, name));
    QVERIFY(TreeSnapshot::write(base + "/MSG/m1.msg", "the previous message"));
    const auto previous = TreeSnapshot::take(base + "/MSG");
    server.setFaults(QJsonObject{{"transfer_error", QJsonObject{{"name", "m3.msg"}}}});
    tick(false, false, true, true);
    double valueWhileOpen = -1;
    double maxWhileOpen = -1;
    boxes.setWhileOpen([&](const MessageBoxRecorder::Box&) {
        valueWhileOpen = window->ProgressValue();
        maxWhileOpen = window->ProgressMax();
    });
    click("bGet");

    QCOMPARE(valueWhileOpen, 3.0);
    QCOMPARE(maxWhileOpen, 5.0);
    QCOMPARE(TreeSnapshot::take(base + "/MSG"), previous);
    QVERIFY(!log().contains("Backing up subscriber data"));
    verifyBox("Backup halted prematurely.", "Error During Backup", 48);
}

void TestWindowTransfers::failedPromptsSubdirectoryListing() {
    tick(true, true, true, true);
    FtpServerFixture& ftp = server;
    window->onLine = [&ftp](const std::string& line) {
        if (line == "Retrieving server subdirectory names...")
            ftp.setFaults(QJsonObject{{"fail", QJsonObject{{"command", "MLSD"}}}});
    };
    click("bGet");
    QVERIFY(!log().contains("Backing up messages"));
    QVERIFY(!QFileInfo::exists(base + "/PMT/A"));
    verifyBox("Backup halted prematurely.", "Error During Backup", 48);
}

void TestWindowTransfers::restoreWithAFailingFileInMessages() {
    QVERIFY(SampleTree::write(base));
    QVERIFY(QDir(server.root()).removeRecursively() && QDir().mkpath(server.root()));
    server.setFaults(QJsonObject{{"transfer_error", QJsonObject{{"command", "STOR"}, {"name", "m2.msg"}}}});
    tick(true, true, true, true);
    click("bPut");
    QVERIFY(!log().contains("Restoring subscriber data"));
    QVERIFY(!QFileInfo::exists(server.root() + "/MBX"));
    verifyBox("Restore halted prematurely.", "Error During Restore", 48);
}

QTEST_MAIN(TestWindowTransfers)
#include "tst_windowtransfers.moc"
