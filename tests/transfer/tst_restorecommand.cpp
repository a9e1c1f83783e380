#include "SampleTree.h"
#include "TransferCommands.h"
#include "TransferWorld.h"
#include "TreeSnapshot.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

// The Restore command: the local category folders, and Prompts' sub-folders, back onto the server.
class TestRestoreCommand : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(world.start()); }
    void cleanupTestCase() { world.stop(); }
    void init();
    void cleanup() { world.end(); }

    void restoreOntoAnEmptyServer();
    void noCategoryTicked();
    void failingFileInMessages();
    void failingPromptsSubFolder();
    void missingLocalCategoryFolder();
    void abortDuringApplicationData();
    void neverSendsTransferTemporaries();
    void unsafeLocalSubFolderName();
    void runTimeErrorInTheCommandShowsItsBox();

private:
    CommandOutcome restore(const CategorySelection& selection = {});
    void verifySummary(const QString& text, const QString& title, int style);
    QStringList storCommands() const;

    TransferWorld world;
    QString base;
};

void TestRestoreCommand::init() {
    QVERIFY(world.begin());
    base = world.localPath("backup");
    QVERIFY(SampleTree::write(base));
    QVERIFY(QDir(base + "/PMT/A/deep").removeRecursively());
}

CommandOutcome TestRestoreCommand::restore(const CategorySelection& selection) {
    TransferCommands commands(world.host);
    return commands.Restore(base.toStdString(), selection, ServerPaths{});
}

void TestRestoreCommand::verifySummary(const QString& text, const QString& title, int style) {
    QCOMPARE(world.host.messages.size(), size_t{1});
    QCOMPARE(QString::fromStdString(world.host.messages[0].text), text);
    QCOMPARE(QString::fromStdString(world.host.messages[0].title), title);
    QCOMPARE(world.host.messages[0].style, style);
    QCOMPARE(world.host.stateAtMessage, 2);
    QCOMPARE(world.host.states, (std::vector<int32_t>{2, 1}));
}

QStringList TestRestoreCommand::storCommands() const {
    return world.server.commands().filter(QRegularExpression("^STOR "));
}

void TestRestoreCommand::restoreOntoAnEmptyServer() {
    QCOMPARE(restore(), CommandOutcome::Completed);

    const auto onServer = TreeSnapshot::take(world.server.root());
    QVERIFY2(onServer == SampleTree::expectedBackup(),
             qPrintable(TreeSnapshot::differences(SampleTree::expectedBackup(), onServer)));
    auto upload = [this](const QString& folder, const QString& server, int files) {
        return QStringList{"Setting local directory to " + base + "/" + folder,
                           "Setting server directory to " + server,
                           QStringLiteral("Uploading %1 files...").arg(files), "...Done."};
    };
    QStringList expected;
    expected << "\r\nRestoring application data\r\n" << upload("DTA", "C:\\DTA", 2);
    expected << "\r\nRestoring prompts\r\n"
             << upload("PMT", "C:\\PMT", 2) << upload("PMT/A", "C:\\PMT\\A", 1)
             << upload("PMT/B", "C:\\PMT\\B", 2);
    expected << "\r\nRestoring messages\r\n" << upload("MSG", "C:\\MSG", 3);
    expected << "\r\nRestoring subscriber data\r\n" << upload("MBX", "C:\\MBX", 1);
    QCOMPARE(world.host.lines(), expected);
    verifySummary("Restore completed.", "Restore Complete", 64);
}

void TestRestoreCommand::noCategoryTicked() {
    QCOMPARE(restore(CategorySelection{0, 2, 0, 0}), CommandOutcome::Completed);
    QCOMPARE(world.host.lines(), QStringList{});
    QCOMPARE(storCommands(), QStringList{});
    verifySummary("Restore completed.", "Restore Complete", 64);
}

void TestRestoreCommand::failingFileInMessages() {
    world.server.setFaults(QJsonObject{
        {"transfer_error", QJsonObject{{"command", "STOR"}, {"name", "m2.msg"}, {"text", "Disk full."}}}});
    QCOMPARE(restore(), CommandOutcome::HaltedPrematurely);
    const QStringList lines = world.host.lines();
    QVERIFY(lines.filter("Disk full.").size() == 1);
    QVERIFY(!lines.contains("\r\nRestoring subscriber data\r\n"));
    QVERIFY(!QFileInfo::exists(world.serverPath("MBX")));
    QVERIFY(!QFileInfo::exists(world.serverPath("MSG/m3.msg")));
    verifySummary("Restore halted prematurely.", "Error During Restore", 48);
}

void TestRestoreCommand::failingPromptsSubFolder() {
    world.server.setFaults(
        QJsonObject{{"transfer_error", QJsonObject{{"command", "STOR"}, {"cwd", "/PMT/A"}}}});
    QCOMPARE(restore(), CommandOutcome::HaltedPrematurely);
    QVERIFY(!QFileInfo::exists(world.serverPath("PMT/B")));
    QVERIFY(!world.host.lines().contains("\r\nRestoring messages\r\n"));
    QCOMPARE(TreeSnapshot::filesIn(world.serverPath("PMT")), TreeSnapshot::filesIn(base + "/PMT"));
    verifySummary("Restore halted prematurely.", "Error During Restore", 48);
}

// A category folder that does not exist is not skipped: it is created empty, and so is its server directory.
void TestRestoreCommand::missingLocalCategoryFolder() {
    QVERIFY(QDir(base + "/MSG").removeRecursively());
    QCOMPARE(restore(), CommandOutcome::Completed);
    QVERIFY(QFileInfo(base + "/MSG").isDir());
    QVERIFY(QFileInfo(world.serverPath("MSG")).isDir());
    QCOMPARE(TreeSnapshot::take(world.serverPath("MSG")), TreeSnapshot::Tree{});
    QCOMPARE(TreeSnapshot::filesIn(world.serverPath("MBX")), TreeSnapshot::filesIn(base + "/MBX"));
    verifySummary("Restore completed.", "Restore Complete", 64);
}

void TestRestoreCommand::abortDuringApplicationData() {
    world.host.onYield = [](RecordingHost& host) {
        if (host.progressValue == 1.0)
            host.abortRequested = true;
    };
    QCOMPARE(restore(), CommandOutcome::HaltedByUser);
    QCOMPARE(storCommands().size(), 1);
    QCOMPARE(world.host.lines().filter("Restoring").size(), 1);
    verifySummary("Restore halted by user.", "Restore Complete", 64);
}

void TestRestoreCommand::neverSendsTransferTemporaries() {
    QVERIFY(TreeSnapshot::write(base + "/DTA/.system.cfg.kavrel-part", "partial"));
    QVERIFY(TreeSnapshot::write(base + "/PMT/.kavrel-staging/p001.wav", "staged"));
    QVERIFY(TreeSnapshot::write(base + "/PMT/A/.kavrel-staging/a9.wav", "staged"));
    QCOMPARE(restore(), CommandOutcome::Completed);
    const auto onServer = TreeSnapshot::take(world.server.root());
    QVERIFY2(onServer == SampleTree::expectedBackup(),
             qPrintable(TreeSnapshot::differences(SampleTree::expectedBackup(), onServer)));
}

// A folder name that is not one plain component would name some other server directory.
void TestRestoreCommand::unsafeLocalSubFolderName() {
    QVERIFY(TreeSnapshot::write(base + "/PMT/A\\..\\..\\X/x.wav", "x"));
    QCOMPARE(restore(), CommandOutcome::HaltedPrematurely);
    QVERIFY(world.host.lines().contains("Refused unsafe folder name: \"A\\..\\..\\X\""));
    QVERIFY(!QFileInfo::exists(world.serverPath("X")));
    verifySummary("Restore halted prematurely.", "Error During Restore", 48);
}

// The Prompts folder vanishes after its own upload: walking its sub-folders fails in the command itself.
void TestRestoreCommand::runTimeErrorInTheCommandShowsItsBox() {
    const QString prompts = base + "/PMT";
    int done = 0;
    world.host.onDisplay = [&done, prompts](RecordingHost&, const std::string& line) {
        if (line == "...Done." && ++done == 2)
            QDir(prompts).removeRecursively();
    };
    QCOMPARE(restore(), CommandOutcome::RunTimeError);
    verifySummary("Error: (2) - No such file or directory (" + prompts + ")", "Error During Restore", 48);
    QVERIFY(!world.host.lines().contains("\r\nRestoring messages\r\n"));
}

QTEST_GUILESS_MAIN(TestRestoreCommand)
#include "tst_restorecommand.moc"
