#include "ProgramLocation.h"
#include "SampleTree.h"
#include "TransferCommands.h"
#include "TransferWorld.h"
#include "TreeSnapshot.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>

// The Backup command over the four categories, with the host the window would be.
class TestBackupCommand : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(world.start()); }
    void cleanupTestCase() { world.stop(); }
    void init();
    void cleanup() { world.end(); }

    void fullBackup();
    void noCategoryTicked();
    void greyedBoxesCountAsNotTicked();
    void oneCategoryAlone();
    void emptyLocalDirectoryMeansTheDriveRoot();
    void onlyBlanksAreTrimmedFromTheLocalDirectory_data();
    void onlyBlanksAreTrimmedFromTheLocalDirectory();
    void abortDuringApplicationData();
    void abortWhilePromptsItselfIsCopied();
    void thirdOfFiveMessagesFails();
    void messagesDirectoryCannotBeSelected();
    void failedPromptsSubdirectoryListingEndsTheBackup();
    void hostilePromptsSubdirectory_data();
    void hostilePromptsSubdirectory();
    void readOnlyFileInALocalFolder();

private:
    CommandOutcome backup(const CategorySelection& selection = {});
    void verifySummary(const QString& text, const QString& title, int style);
    static QStringList downloadLines(const QString& local, const QString& server, int files);

    TransferWorld world;
    QString base;
};

void TestBackupCommand::init() {
    QVERIFY(world.begin());
    base = world.localPath("backup");
    QVERIFY(SampleTree::write(world.server.root()));
}

CommandOutcome TestBackupCommand::backup(const CategorySelection& selection) {
    TransferCommands commands(world.host);
    return commands.Backup("  " + base.toStdString() + " ", selection, ServerPaths{});
}

// Exactly one box, shown while the session still transfers, and the session connected afterwards.
void TestBackupCommand::verifySummary(const QString& text, const QString& title, int style) {
    QCOMPARE(world.host.messages.size(), size_t{1});
    QCOMPARE(QString::fromStdString(world.host.messages[0].text), text);
    QCOMPARE(QString::fromStdString(world.host.messages[0].title), title);
    QCOMPARE(world.host.messages[0].style, style);
    QCOMPARE(world.host.stateAtMessage, 2);
    QCOMPARE(world.host.states, (std::vector<int32_t>{2, 1}));
}

QStringList TestBackupCommand::downloadLines(const QString& local, const QString& server, int files) {
    QStringList lines{"Setting local directory to " + local, "Setting server directory to " + server,
                      "Retrieving server file names...", QStringLiteral("...%1 names retrieved.").arg(files)};
    if (files > 0)
        lines << QStringLiteral("Retrieving %1 files...").arg(files) << "...Done.";
    return lines;
}

void TestBackupCommand::fullBackup() {
    QCOMPARE(backup(), CommandOutcome::Completed);

    const auto now = TreeSnapshot::take(base);
    QVERIFY2(now == SampleTree::expectedBackup(),
             qPrintable(TreeSnapshot::differences(SampleTree::expectedBackup(), now)));
    QStringList expected;
    expected << "\r\nBacking up application data\r\n" << downloadLines(base + "/DTA", "C:\\DTA", 2);
    expected << "\r\nBacking up prompts\r\n" << downloadLines(base + "/PMT", "C:\\PMT", 2);
    expected << "Retrieving server subdirectory names..."
             << "...2 names retrieved.";
    expected << downloadLines(base + "/PMT/A", "C:\\PMT\\A", 1)
             << downloadLines(base + "/PMT/B", "C:\\PMT\\B", 2);
    expected << "\r\nBacking up messages\r\n" << downloadLines(base + "/MSG", "C:\\MSG", 3);
    expected << "\r\nBacking up subscriber data\r\n" << downloadLines(base + "/MBX", "C:\\MBX", 1);
    QCOMPARE(world.host.lines(), expected);
    verifySummary("Backup completed.", "Backup Complete", 64);
}

void TestBackupCommand::noCategoryTicked() {
    world.host.displayed = {"left over from an earlier command"};
    QCOMPARE(backup(CategorySelection{0, 0, 0, 0}), CommandOutcome::Completed);
    QCOMPARE(world.host.lines(), QStringList{});
    QVERIFY(!QFileInfo::exists(base));
    verifySummary("Backup completed.", "Backup Complete", 64);
}

void TestBackupCommand::greyedBoxesCountAsNotTicked() {
    QCOMPARE(backup(CategorySelection{2, 2, 1, 2}), CommandOutcome::Completed);
    const QStringList lines = world.host.lines();
    QCOMPARE(lines.first(), QStringLiteral("\r\nBacking up messages\r\n"));
    QCOMPARE(lines.filter("Backing up").size(), 1);
    QCOMPARE(QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{"MSG"});
}

void TestBackupCommand::oneCategoryAlone() {
    QCOMPARE(backup(CategorySelection{0, 1, 0, 0}), CommandOutcome::Completed);
    QCOMPARE(QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{"PMT"});
    QCOMPARE(TreeSnapshot::filesIn(base + "/PMT/B"), TreeSnapshot::filesIn(world.serverPath("PMT/B")));
    verifySummary("Backup completed.", "Backup Complete", 64);
}

void TestBackupCommand::onlyBlanksAreTrimmedFromTheLocalDirectory_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("base");
    QTest::newRow("blanks around") << QByteArray("  /x/y ") << QByteArray("/x/y");
    QTest::newRow("inner blank kept") << QByteArray(" /x y/z ") << QByteArray("/x y/z");
    QTest::newRow("tabs kept") << QByteArray("\t/x/y\t") << QByteArray("\t/x/y\t");
    QTest::newRow("tab inside blanks") << QByteArray(" \t ") << QByteArray("\t");
}

// The local base directory loses leading and trailing blanks only; other characters are the path's own.
void TestBackupCommand::onlyBlanksAreTrimmedFromTheLocalDirectory() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, base);
    QCOMPARE(QByteArray::fromStdString(TransferCommands::LocalBaseDirectory(text.toStdString())), base);
}

// With eLocalDir empty the folders go under the root of the program folder's file system. The
// program folder is put under /dev/shm, a file system of its own, so that root is /dev/shm.
void TestBackupCommand::emptyLocalDirectoryMeansTheDriveRoot() {
    QTemporaryDir programFolder(QStringLiteral("/dev/shm/kavrel-program-XXXXXX"));
    QVERIFY(programFolder.isValid());
    ProgramLocation::overrideDirectory(programFolder.path().toStdString());
    const std::string root = ProgramLocation::driveRoot();
    if (root != "/dev/shm") {
        ProgramLocation::overrideDirectory({});
        QSKIP("/dev/shm is not a file system of its own here; the real root is not this test's to write");
    }
    QCOMPARE(QString::fromStdString(TransferCommands::LocalBaseDirectory("   ")),
             QString::fromStdString(root));
    QCOMPARE(QString::fromStdString(TransferCommands::LocalBaseDirectory("")), QStringLiteral("/dev/shm"));
    QCOMPARE(QString::fromStdString(TransferCommands::LocalBaseDirectory("  /x/y ")), QStringLiteral("/x/y"));

    const QString written = QStringLiteral("/dev/shm/MBX");
    if (QFileInfo::exists(written)) {
        ProgramLocation::overrideDirectory({});
        QSKIP("/dev/shm/MBX exists already; it is not this test's to overwrite");
    }
    TransferCommands commands(world.host);
    const CommandOutcome outcome = commands.Backup("   ", CategorySelection{0, 0, 0, 1}, ServerPaths{});
    ProgramLocation::overrideDirectory({});
    const auto arrived = TreeSnapshot::filesIn(written);
    QDir(written).removeRecursively();

    QCOMPARE(outcome, CommandOutcome::Completed);
    QCOMPARE(world.host.lines().at(1), "Setting local directory to " + written);
    QCOMPARE(arrived, TreeSnapshot::filesIn(world.serverPath("MBX")));
}

void TestBackupCommand::abortDuringApplicationData() {
    QVERIFY(TreeSnapshot::write(world.serverPath("DTA/third.cfg"), "three"));
    QVERIFY(TreeSnapshot::write(base + "/DTA/system.cfg", "the previous backup"));
    const auto previous = TreeSnapshot::take(base);
    world.host.onYield = [](RecordingHost& host) {
        if (host.progressValue == 2.0)
            host.abortRequested = true;
    };

    QCOMPARE(backup(), CommandOutcome::HaltedByUser);

    QCOMPARE(TreeSnapshot::take(base), previous);
    QCOMPARE(world.host.lines().filter("Backing up").size(), 1);
    QCOMPARE(world.host.lines().last(), QStringLiteral("...Done."));
    verifySummary("Backup halted by user.", "Backup Complete", 64);
}

void TestBackupCommand::abortWhilePromptsItselfIsCopied() {
    QVERIFY(TreeSnapshot::write(base + "/PMT/p001.wav", "the previous prompt"));
    const auto previousPrompts = TreeSnapshot::take(base + "/PMT");
    bool inPrompts = false;
    world.host.onDisplay = [&inPrompts](RecordingHost&, const std::string& line) {
        inPrompts = inPrompts || line.find("Backing up prompts") != std::string::npos;
    };
    world.host.onYield = [&inPrompts](RecordingHost& host) {
        if (inPrompts && host.progressValue == 1.0)
            host.abortRequested = true;
    };

    QCOMPARE(backup(), CommandOutcome::HaltedByUser);

    QCOMPARE(TreeSnapshot::take(base + "/PMT"), previousPrompts);
    const QStringList lines = world.host.lines();
    QCOMPARE(lines.mid(lines.size() - 2),
             (QStringList{"Retrieving server subdirectory names...", "...2 names retrieved."}));
    QVERIFY(!QFileInfo::exists(base + "/PMT/A"));
    QVERIFY(!QFileInfo::exists(base + "/MSG"));
    QCOMPARE(TreeSnapshot::filesIn(base + "/DTA"), TreeSnapshot::filesIn(world.serverPath("DTA")));
    verifySummary("Backup halted by user.", "Backup Complete", 64);
}

void TestBackupCommand::thirdOfFiveMessagesFails() {
    QVERIFY(TreeSnapshot::write(world.serverPath("MSG/m4.msg"), "four"));
    QVERIFY(TreeSnapshot::write(world.serverPath("MSG/m5.msg"), "five"));
    QVERIFY(TreeSnapshot::write(base + "/MSG/m1.msg", "the previous message"));
    QVERIFY(TreeSnapshot::write(base + "/MSG/old.msg", "an older message"));
    const auto previous = TreeSnapshot::take(base + "/MSG");
    world.server.setFaults(QJsonObject{{"transfer_error", QJsonObject{{"name", "m3.msg"}}}});

    QCOMPARE(backup(), CommandOutcome::HaltedPrematurely);

    QCOMPARE(TreeSnapshot::take(base + "/MSG"), previous);
    QCOMPARE(world.host.progressAtMessage, 3.0);
    QVERIFY(!world.host.lines().contains("\r\nBacking up subscriber data\r\n"));
    QVERIFY(!QFileInfo::exists(base + "/MBX"));
    QCOMPARE(TreeSnapshot::filesIn(base + "/PMT/B"), TreeSnapshot::filesIn(world.serverPath("PMT/B")));
    verifySummary("Backup halted prematurely.", "Error During Backup", 48);
}

void TestBackupCommand::messagesDirectoryCannotBeSelected() {
    QVERIFY(QDir(world.serverPath("MSG")).removeRecursively());
    world.server.setFaults(QJsonObject{{"fail", QJsonObject{{"command", "MKD"}, {"arg", "MSG"}}}});
    QCOMPARE(backup(), CommandOutcome::HaltedPrematurely);
    QVERIFY(!world.host.lines().contains("\r\nBacking up subscriber data\r\n"));
    verifySummary("Backup halted prematurely.", "Error During Backup", 48);
}

// The subdirectories of Prompts were not backed up: the backup cannot say it completed.
void TestBackupCommand::failedPromptsSubdirectoryListingEndsTheBackup() {
    FtpServerFixture& server = world.server;
    world.host.onDisplay = [&server](RecordingHost&, const std::string& line) {
        if (line == "Retrieving server subdirectory names...")
            server.setFaults(QJsonObject{
                {"fail", QJsonArray{QJsonObject{{"command", "MLSD"}}, QJsonObject{{"command", "LIST"}}}}});
    };

    QCOMPARE(backup(), CommandOutcome::HaltedPrematurely);

    const QStringList lines = world.host.lines();
    QCOMPARE(lines.at(lines.size() - 2), QStringLiteral("Retrieving server subdirectory names..."));
    QVERIFY(!lines.contains("\r\nBacking up messages\r\n"));
    verifySummary("Backup halted prematurely.", "Error During Backup", 48);
}

void TestBackupCommand::hostilePromptsSubdirectory_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("parent") << "..";
    QTest::newRow("climbing") << "../../etc";
    QTest::newRow("backslashes") << "..\\..\\up";
    QTest::newRow("drive prefix") << "C:up";
    QTest::newRow("control character") << "evil\x01";
    QTest::newRow("staging folder's name") << ".kavrel-staging";
}

void TestBackupCommand::hostilePromptsSubdirectory() {
    QFETCH(QString, name);
    FtpServerFixture& server = world.server;
    world.host.onDisplay = [&server, name](RecordingHost&, const std::string& line) {
        if (line == "Retrieving server subdirectory names...")
            server.setFaults(QJsonObject{
                {"hostile_entries",
                 QJsonObject{{"entries", QJsonArray{QJsonObject{{"name", name}, {"type", "dir"}}}}}}});
    };

    const CommandOutcome outcome = backup();

    // Nothing beside the local base directory, and in it only what the backup got to.
    QCOMPARE(QDir(world.localPath({})).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"backup"});
    const QStringList inPrompts =
        QDir(base + "/PMT").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    if (name == "..") {
        // Not an entry at all: the listing's own "parent" line, which the engine passes over.
        QCOMPARE(outcome, CommandOutcome::Completed);
        QCOMPARE(inPrompts, (QStringList{"A", "B", "p001.wav", "p002.wav"}));
        return;
    }
    QCOMPARE(inPrompts, (QStringList{"p001.wav", "p002.wav"}));
    QCOMPARE(QDir(base).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             (QStringList{"DTA", "PMT"}));
    QCOMPARE(outcome, CommandOutcome::HaltedPrematurely);
    QVERIFY(!world.host.lines().contains("\r\nBacking up messages\r\n"));
    verifySummary("Backup halted prematurely.", "Error During Backup", 48);
}

void TestBackupCommand::readOnlyFileInALocalFolder() {
    QVERIFY(TreeSnapshot::write(base + "/MBX/locked.dat", "read-only"));
    const std::string locked = (base + "/MBX/locked.dat").toStdString();
    std::filesystem::permissions(locked, std::filesystem::perms::owner_read);
    const CommandOutcome outcome = backup();
    std::filesystem::permissions(locked, std::filesystem::perms::owner_all);

    QCOMPARE(outcome, CommandOutcome::HaltedPrematurely);
    QVERIFY(world.host.lines().contains("Internal error in Kavrel.RetrieveDirectory()"));
    QCOMPARE(TreeSnapshot::filesIn(base + "/MBX"), (TreeSnapshot::Tree{{"locked.dat", "read-only"}}));
    QCOMPARE(world.host.progressAtMessage, 0.0);
    verifySummary("Backup halted prematurely.", "Error During Backup", 48);
}

QTEST_GUILESS_MAIN(TestBackupCommand)
#include "tst_backupcommand.moc"
