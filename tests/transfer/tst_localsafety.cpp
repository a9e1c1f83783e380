#include "FolderLock.h"
#include "TransferCommands.h"
#include "TransferWorld.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <sys/stat.h>

// The local backup tree is the command's alone: nothing made from a typo, one run at a time, no link
// followed, nothing created by a restore, no forged log line, and owner-only files.
class TestLocalSafety : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(world.start()); }
    void cleanupTestCase() { world.stop(); }
    void init();
    void cleanup() { world.end(); }

    void serverPathRefused_data();
    void serverPathRefused();
    void secondRunIntoTheFolderTouchesNothing_data();
    void secondRunIntoTheFolderTouchesNothing();
    void linksAreNeverFollowed_data();
    void linksAreNeverFollowed();
    void restoreCreatesNothingLocally();
    void restoreSkipsNamesBackupRefuses();
    void namesAreEscapedInTheLog_data();
    void namesAreEscapedInTheLog();
    void backupIsOwnerOnlyAndRestoreKeepsModes();

private:
    CommandOutcome run(bool backup, const CategorySelection& selection = {}, const ServerPaths& paths = {});
    bool logHas(const QString& line) const { return world.host.displayed.contains(line); }

    TransferWorld world;
    QString base;
};

void TestLocalSafety::init() {
    QVERIFY(world.begin());
    base = world.localPath("backup");
    for (const char* path : {"DTA/a.dta", "PMT/p.wav", "PMT/A/x.wav", "MSG/m.msg", "MBX/u.mbx"})
        QVERIFY(writeFile(world.serverPath(path), QByteArray("server ") + path));
}

CommandOutcome TestLocalSafety::run(bool backup, const CategorySelection& selection,
                                    const ServerPaths& paths) {
    TransferCommands commands(world.host);
    return backup ? commands.Backup(base.toStdString(), selection, paths)
                  : commands.Restore(base.toStdString(), selection, paths);
}

void TestLocalSafety::serverPathRefused_data() {
    QTest::addColumn<bool>("backup");
    QTest::addColumn<QString>("path");
    QTest::newRow("backup from a mistyped directory") << true << "C:\\DTAX";
    for (const char* path : {"", "  ", "C:", "C:\\", "\\", "/\\"}) {
        for (const bool backup : {true, false})
            QTest::newRow(qPrintable(QString(backup ? "backup " : "restore ") + path))
                << backup << QString(path);
    }
}

// A typo in a server path once made a backup create that directory, list it empty and replace the
// category's backup with nothing, then say "Backup completed."; a path naming the server's root made a
// backup take the root's files instead, and a restore fill the root.
void TestLocalSafety::serverPathRefused() {
    QFETCH(bool, backup);
    QFETCH(QString, path);
    const QString said =
        path.endsWith('X') ? "550" : QString("[ServerPath] Data=\"%1\" names the server's root").arg(path);
    QVERIFY(writeFile(base + "/DTA/old.dta", "previous backup"));
    const Tree localBefore = treeOf(base);
    const Tree serverBefore = treeOf(world.server.root());
    ServerPaths paths;
    paths.data = path.toStdString();
    QCOMPARE(run(backup, {1, 0, 0, 0}, paths), CommandOutcome::HaltedPrematurely);
    QCOMPARE(treeOf(base), localBefore);
    QCOMPARE(treeOf(world.server.root()), serverBefore);
    QVERIFY2(world.host.displayed.filter(said).size() == 1, qPrintable(world.host.displayed.join('\n')));
}

void TestLocalSafety::secondRunIntoTheFolderTouchesNothing_data() {
    QTest::addColumn<bool>("backup");
    QTest::addColumn<bool>("otherBackup"); // the run that holds the folder
    QTest::newRow("backup") << true << true;
    QTest::newRow("restore") << false << true;
    QTest::newRow("backup while a restore reads") << true << false;
}

// Two runs into one folder shared the staging folder: one deleted the other's and a truncated message
// was reported as backed up.
void TestLocalSafety::secondRunIntoTheFolderTouchesNothing() {
    QFETCH(bool, backup);
    QFETCH(bool, otherBackup);
    QVERIFY(writeFile(base + "/DTA/old.dta", "previous backup"));
    FolderLock other;
    QCOMPARE(other.acquire(base.toStdString(), otherBackup), 0);
    const Tree localBefore = treeOf(base);
    const Tree serverBefore = treeOf(world.server.root());
    QCOMPARE(run(backup, {1, 0, 0, 0}), CommandOutcome::HaltedPrematurely);
    QVERIFY(logHas("The local folder " + base + " is busy: another backup or restore is running in it."));
    QCOMPARE(treeOf(base), localBefore);
    QCOMPARE(treeOf(world.server.root()), serverBefore);
    other.release();
    QCOMPARE(run(backup, {1, 0, 0, 0}), CommandOutcome::Completed);
}

void TestLocalSafety::linksAreNeverFollowed_data() {
    QTest::addColumn<bool>("backup");
    QTest::addColumn<QString>("link"); // under the base, pointing at the folder or file "elsewhere"
    QTest::addColumn<bool>("toFolder");
    QTest::addColumn<int>("outcome");
    const auto row = [](const char* tag, bool backup, const char* link, bool toFolder,
                        CommandOutcome outcome) {
        QTest::newRow(tag) << backup << QString(link) << toFolder << int(outcome);
    };
    const CommandOutcome completed = CommandOutcome::Completed, halted = CommandOutcome::HaltedPrematurely;
    row("category folder", true, "MSG", true, halted);
    row("Prompts sub-folder", true, "PMT/A", true, halted);
    row("staging folder", true, "DTA/.kavrel-staging", true, completed);
    row("file replaced", true, "DTA/a.dta", false, completed);
    row("restored category", false, "MBX", true, halted);
    row("restored Prompts sub-folder", false, "PMT/B", true, completed);
    row("restored file", false, "DTA/b.dta", false, completed);
}

// A link in the tree once led a backup's writes and deletions to a folder elsewhere.
void TestLocalSafety::linksAreNeverFollowed() {
    QFETCH(bool, backup);
    QFETCH(QString, link);
    QFETCH(bool, toFolder);
    QFETCH(int, outcome);
    const QString elsewhere = world.localPath("elsewhere");
    QVERIFY(writeFile(elsewhere + "/a.dta", "not ours"));
    QVERIFY(writeFile(elsewhere + "/x.wav", "not ours"));
    for (const char* folder : {"DTA", "PMT/A", "MSG", "MBX"})
        QVERIFY(QDir().mkpath(base + "/" + folder));
    QVERIFY(QDir(base + "/" + link).removeRecursively());
    QVERIFY(QFile::link(toFolder ? elsewhere : elsewhere + "/a.dta", base + "/" + link));
    const Tree elsewhereBefore = treeOf(elsewhere);
    QCOMPARE(int(run(backup)), outcome);
    QCOMPARE(treeOf(elsewhere), elsewhereBefore);
    const bool stillLink = QFileInfo(base + "/" + link).isSymLink();
    if (link == "DTA/a.dta" || link.endsWith("staging")) {
        QVERIFY(!stillLink);
        QCOMPARE(treeOf(base + "/DTA"), (Tree{{"a.dta", "server DTA/a.dta"}}));
    } else {
        QVERIFY(stillLink);
        QVERIFY2(logHas("Not following the symbolic link " + base + "/" + link),
                 qPrintable(world.host.displayed.join('\n')));
        QVERIFY(backup || !QFile::exists(world.serverPath(link.contains('/') ? link : link + "/a.dta")));
    }
}

// Restore from a folder that does not exist once created four empty folders and said it completed.
void TestLocalSafety::restoreCreatesNothingLocally() {
    const Tree serverBefore = treeOf(world.server.root());
    QCOMPARE(run(false), CommandOutcome::HaltedPrematurely);
    QVERIFY(!QFile::exists(base));
    QVERIFY(logHas("The local folder " + base + "/DTA does not exist."));
    QVERIFY(logHas("The local folder " + base + "/MBX does not exist."));
    QCOMPARE(treeOf(world.server.root()), serverBefore);
    for (const char* file :
         {"DTA/a.dta", "PMT/p.wav", "MSG/m.msg"}) // one ticked folder missing: nothing goes
        QVERIFY(writeFile(base + "/" + file, "local"));
    QCOMPARE(run(false), CommandOutcome::HaltedPrematurely);
    QVERIFY(logHas("The local folder " + base + "/MBX does not exist."));
    QCOMPARE(treeOf(world.server.root()), serverBefore);
}

// A name with a control character once went up, and every later backup of that folder failed on it.
void TestLocalSafety::restoreSkipsNamesBackupRefuses() {
    for (const char* name : {"DTA/ok.dta", "DTA/tab\tname.dta", "DTA/esc\x1bname.dta"})
        QVERIFY(writeFile(base + "/" + name, "local"));
    QCOMPARE(run(false, {1, 0, 0, 0}), CommandOutcome::Completed);
    QVERIFY(logHas("Not sending \"tab\\x09name.dta\" of " + base + "/DTA: a backup refuses such a name"));
    QVERIFY(logHas("Not sending \"esc\\x1Bname.dta\" of " + base + "/DTA: a backup refuses such a name"));
    QCOMPARE(world.sent("STOR"), QStringList{"STOR ok.dta"});
}

void TestLocalSafety::namesAreEscapedInTheLog_data() {
    QTest::addColumn<QString>("serverPath");
    QTest::addColumn<QString>("localName");
    QTest::addColumn<QString>("shown");
    const auto row = [](const char* tag, const char* serverPath, const char* localName, const char* shown) {
        QTest::newRow(tag) << QString(serverPath) << QString(localName) << QString(shown);
    };
    row("server path with a line break", "C:\\DTA\n[forged line]", "backup", "DTA\\n[forged line]");
    row("local folder with an escape sequence", "C:\\DTA", "back\x1b[2Jup", "back\\x1b[2Jup");
}

// A name with a control character once forged lines in the log ("Unsafe file name: " + a new line).
void TestLocalSafety::namesAreEscapedInTheLog() {
    QFETCH(QString, serverPath);
    QFETCH(QString, localName);
    QFETCH(QString, shown);
    base = world.localPath(localName);
    ServerPaths paths;
    paths.data = serverPath.toStdString();
    run(true, {1, 0, 0, 0}, paths);
    QVERIFY(!world.host.displayed.filter(shown).isEmpty());
    for (const QString& line : world.host.displayed) {
        const QString text = line.startsWith("\r\n") ? line.mid(2).chopped(2) : line;
        QVERIFY2(!text.contains('\n') && !text.contains('\x1b'), qPrintable(text));
    }
}

// Backed-up prompts and messages once landed world-readable (0644 under the usual umask).
void TestLocalSafety::backupIsOwnerOnlyAndRestoreKeepsModes() {
    const mode_t oldMask = ::umask(022);
    const CommandOutcome outcome = run(true);
    ::umask(oldMask);
    QCOMPARE(outcome, CommandOutcome::Completed);
    const auto modeOf = [this](const char* path) {
        struct stat info {};
        return ::stat((base + path).toLocal8Bit().constData(), &info) == 0 ? info.st_mode & 0777 : 0u;
    };
    for (const char* path : {"", "/DTA", "/PMT", "/PMT/A"})
        QCOMPARE(modeOf(path), 0700u);
    for (const char* path : {"/DTA/a.dta", "/PMT/A/x.wav", "/MBX/u.mbx"})
        QCOMPARE(modeOf(path), 0600u);
    QCOMPARE(::chmod((base + "/MSG/m.msg").toLocal8Bit().constData(), 0604), 0);
    QCOMPARE(run(false), CommandOutcome::Completed);
    QCOMPARE(modeOf("/MSG/m.msg"), 0604u);
}

QTEST_GUILESS_MAIN(TestLocalSafety)
#include "tst_localsafety.moc"
