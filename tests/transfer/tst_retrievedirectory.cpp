#include "FtpEngine.h"
#include "TransferSession.h"
#include "TransferWorld.h"
#include "TreeSnapshot.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTest>

#include <filesystem>

// One server directory into one local folder: the previous backup gives way only to a complete one.
class TestRetrieveDirectory : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(world.start()); }
    void cleanupTestCase() { world.stop(); }
    void init();
    void cleanup() { world.end(); }

    void fetchesEveryFileIntoAnEmptyFolder();
    void replacesThePreviousBackup();
    void emptyServerDirectoryEmptiesTheFolder();
    void abortKeepsThePreviousBackup();
    void abortDuringTheLastFileCompletesTheFolder();
    void failingThirdOfFiveKeepsThePreviousBackup_data();
    void failingThirdOfFiveKeepsThePreviousBackup();
    void missingServerDirectoryThatCannotBeCreated();
    void failedListingKeepsThePreviousBackup();
    void readOnlyFileStopsBeforeAnyFetch();
    void hostileNames_data();
    void hostileNames();
    void leftoversOfACrashAreCleared();
    void serverFileNamedLikeALocalSubfolder();
    void progressHookKeepsTheHostAlive();
    void tenThousandFiles();

private:
    void serveFiveFiles();
    void keepPreviousBackup();
    void verifyPreviousBackupKept();
    QStringList retrCommands() const;

    TransferWorld world;
    QString folder;
    TreeSnapshot::Tree previous;
};

void TestRetrieveDirectory::init() {
    QVERIFY(world.begin());
    folder = world.localPath("backup/DTA");
    previous.clear();
}

void TestRetrieveDirectory::serveFiveFiles() {
    for (int i = 1; i <= 5; ++i)
        QVERIFY(TreeSnapshot::write(world.serverPath(QStringLiteral("DTA/f%1.dat").arg(i)),
                                    QByteArray(1000 * i, char('0' + i))));
}

// An older backup in the folder: files the server also has, one it no longer has, and a subfolder.
void TestRetrieveDirectory::keepPreviousBackup() {
    QVERIFY(TreeSnapshot::write(folder + "/f1.dat", "old one"));
    QVERIFY(TreeSnapshot::write(folder + "/gone.dat", "only in the old backup"));
    QVERIFY(TreeSnapshot::write(folder + "/sub/inner.dat", "never touched"));
    previous = TreeSnapshot::take(folder);
}

void TestRetrieveDirectory::verifyPreviousBackupKept() {
    const auto now = TreeSnapshot::take(folder);
    QVERIFY2(now == previous, qPrintable(TreeSnapshot::differences(previous, now)));
}

QStringList TestRetrieveDirectory::retrCommands() const {
    return world.server.commands().filter(QRegularExpression("^RETR "));
}

void TestRetrieveDirectory::fetchesEveryFileIntoAnEmptyFolder() {
    QVERIFY(TreeSnapshot::write(world.serverPath("DTA/a.dat"), "alpha"));
    QVERIFY(TreeSnapshot::write(world.serverPath("DTA/b.dat"), QByteArray(70000, 'b')));
    QVERIFY(TreeSnapshot::write(world.serverPath("DTA/c.dat"), QByteArray()));
    QVERIFY(QDir().mkpath(world.serverPath("DTA/SUB")));
    TransferSession session(world.host);

    QCOMPARE(session.RetrieveDirectory("C:\\DTA", folder.toStdString()), 0);

    QCOMPARE(world.host.lines(),
             (QStringList{"Setting local directory to " + folder, "Setting server directory to C:\\DTA",
                          "Retrieving server file names...", "...3 names retrieved.", "Retrieving 3 files...",
                          "...Done."}));
    const auto expected = TreeSnapshot::filesIn(world.serverPath("DTA"));
    QCOMPARE(TreeSnapshot::take(folder), expected);
    QCOMPARE(world.host.progressMax, 3.0);
    QCOMPARE(world.host.progressValues, (std::vector<double>{0.0, 1.0, 2.0, 3.0}));
    QCOMPARE(session.serverList().Count(), 0);
}

void TestRetrieveDirectory::replacesThePreviousBackup() {
    serveFiveFiles();
    keepPreviousBackup();
    TransferSession session(world.host);

    QCOMPARE(session.RetrieveDirectory("C:\\DTA", folder.toStdString()), 0);

    auto expected = TreeSnapshot::filesIn(world.serverPath("DTA"));
    expected.insert("sub/", QByteArray());
    expected.insert("sub/inner.dat", "never touched");
    const auto now = TreeSnapshot::take(folder);
    QVERIFY2(now == expected, qPrintable(TreeSnapshot::differences(expected, now)));
    const QStringList lines = world.host.lines();
    QCOMPARE(lines.mid(4),
             (QStringList{"Retrieving 5 files...", "Emptying contents of " + folder, "...Done."}));
}

void TestRetrieveDirectory::emptyServerDirectoryEmptiesTheFolder() {
    QVERIFY(QDir().mkpath(world.serverPath("DTA")));
    keepPreviousBackup();
    world.host.progressValue = 7.0;
    TransferSession session(world.host);

    QCOMPARE(session.RetrieveDirectory("C:\\DTA", folder.toStdString()), 0);

    QCOMPARE(TreeSnapshot::take(folder),
             (TreeSnapshot::Tree{{"sub/", {}}, {"sub/inner.dat", "never touched"}}));
    QCOMPARE(world.host.lines().mid(2),
             (QStringList{"Retrieving server file names...", "...0 names retrieved.",
                          "Emptying contents of " + folder}));
    QCOMPARE(world.host.progressValue, 7.0);

    // Now the folder has no files: no emptying line.
    world.host.displayed.clear();
    QCOMPARE(session.RetrieveDirectory("C:\\DTA", folder.toStdString()), 0);
    QCOMPARE(world.host.lines().last(), QStringLiteral("...0 names retrieved."));
}

// Abort taken in while the third of five files moves: that file completes, no further file starts.
void TestRetrieveDirectory::abortKeepsThePreviousBackup() {
    serveFiveFiles();
    keepPreviousBackup();
    world.host.onYield = [](RecordingHost& host) {
        if (host.progressValue == 3.0)
            host.abortRequested = true;
    };
    TransferSession session(world.host);

    QCOMPARE(session.RetrieveDirectory("C:\\DTA", folder.toStdString()), 0);

    verifyPreviousBackupKept();
    QCOMPARE(retrCommands().size(), 3);
    QCOMPARE(world.host.progressValue, 3.0);
    QCOMPARE(session.serverList().Count(), 2);
    QCOMPARE(QString::fromStdString(session.serverList().Item(1).Text()), QStringLiteral("f4.dat"));
    QCOMPARE(world.host.lines().last(), QStringLiteral("...Done."));
    QVERIFY(!world.host.lines().join('\n').contains("Emptying"));
}

void TestRetrieveDirectory::abortDuringTheLastFileCompletesTheFolder() {
    serveFiveFiles();
    keepPreviousBackup();
    world.host.onYield = [](RecordingHost& host) {
        if (host.progressValue == 5.0)
            host.abortRequested = true;
    };
    TransferSession session(world.host);
    QCOMPARE(session.RetrieveDirectory("C:\\DTA", folder.toStdString()), 0);
    QCOMPARE(TreeSnapshot::filesIn(folder), TreeSnapshot::filesIn(world.serverPath("DTA")));
}

void TestRetrieveDirectory::failingThirdOfFiveKeepsThePreviousBackup_data() {
    QTest::addColumn<QJsonObject>("faults");
    QTest::addColumn<QString>("reported");
    QTest::addColumn<int>("leftInList");

    QTest::newRow("550 refused")
        << QJsonObject{{"transfer_error", QJsonObject{{"name", "f3.dat"}, {"text", "No such file today."}}}}
        << "No such file today." << 2;
    QTest::newRow("data connection dropped mid-file")
        << QJsonObject{{"drop_data",
                        QJsonObject{{"command", "RETR"}, {"name", "f3.dat"}, {"after_bytes", 1000}}}}
        << "" << 2;
    QTest::newRow("451 after the data")
        << QJsonObject{{"transfer_error",
                        QJsonObject{{"name", "f3.dat"}, {"when", "after"}, {"text", "Disk trouble here."}}}}
        << "Disk trouble here." << 2;
}

void TestRetrieveDirectory::failingThirdOfFiveKeepsThePreviousBackup() {
    QFETCH(QJsonObject, faults);
    QFETCH(QString, reported);
    QFETCH(int, leftInList);
    serveFiveFiles();
    keepPreviousBackup();
    world.server.setFaults(faults);
    TransferSession session(world.host);

    const int32_t result = session.RetrieveDirectory("C:\\DTA", folder.toStdString());

    QVERIFY(result < 0);
    verifyPreviousBackupKept();
    QCOMPARE(world.host.progressValue, 3.0);
    QCOMPARE(world.host.progressMax, 5.0);
    QCOMPARE(retrCommands().size(), 3);
    QCOMPARE(session.serverList().Count(), leftInList);
    const QStringList lines = world.host.lines();
    QCOMPARE(lines.last(), QStringLiteral("...Done."));
    QCOMPARE(lines.size(), 7); // the six lines of a download and the engine's text for the failure
    if (!reported.isEmpty())
        QVERIFY2(lines[lines.size() - 2].contains(reported), qPrintable(lines.join('\n')));
}

void TestRetrieveDirectory::missingServerDirectoryThatCannotBeCreated() {
    keepPreviousBackup();
    world.server.setFaults(
        QJsonObject{{"fail", QJsonObject{{"command", "MKD"}, {"text", "Read-only server."}}}});
    TransferSession session(world.host);

    QVERIFY(session.RetrieveDirectory("C:\\DTA", folder.toStdString()) < 0);

    verifyPreviousBackupKept();
    const QStringList lines = world.host.lines();
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[1], QStringLiteral("Setting server directory to C:\\DTA"));
    QVERIFY2(lines[2].contains("Read-only server."), qPrintable(lines[2]));
}

void TestRetrieveDirectory::failedListingKeepsThePreviousBackup() {
    serveFiveFiles();
    keepPreviousBackup();
    world.server.setFaults(QJsonObject{
        {"fail", QJsonArray{QJsonObject{{"command", "MLSD"}}, QJsonObject{{"command", "LIST"}}}}});
    TransferSession session(world.host);
    QCOMPARE(session.RetrieveDirectory("C:\\DTA", folder.toStdString()), -1);
    verifyPreviousBackupKept();
    QCOMPARE(retrCommands(), QStringList{});
}

// A read-only file could not give way to the new backup: the directory fails before any file moves.
void TestRetrieveDirectory::readOnlyFileStopsBeforeAnyFetch() {
    serveFiveFiles();
    keepPreviousBackup();
    const QString locked = folder + "/gone.dat";
    std::filesystem::permissions(locked.toStdString(), std::filesystem::perms::owner_read);
    world.host.progressValue = 4.0;
    TransferSession session(world.host);

    QCOMPARE(session.RetrieveDirectory("C:\\DTA", folder.toStdString()), -1);

    std::filesystem::permissions(locked.toStdString(), std::filesystem::perms::owner_all);
    verifyPreviousBackupKept();
    QCOMPARE(retrCommands(), QStringList{});
    QCOMPARE(world.host.progressValue, 0.0);
    QCOMPARE(world.host.lines(), (QStringList{"Setting local directory to " + folder,
                                              "Internal error in Kavrel.RetrieveDirectory()",
                                              "     13 - Permission denied (" + locked + ")"}));
}

void TestRetrieveDirectory::hostileNames_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("parent, slash") << "../x.wav";
    QTest::newRow("parent, backslash") << "..\\x.wav";
    QTest::newRow("inner slash") << "a/b.wav";
    QTest::newRow("absolute") << "/abs.wav";
    QTest::newRow("drive prefix") << "C:x.wav";
    QTest::newRow("tab") << "a\tb.wav";
    QTest::newRow("escape") << "a\x1b[2Jb.wav";
    QTest::newRow("staging folder's name") << ".kavrel-staging";
    QTest::newRow("partial file's name") << ".f1.dat.kavrel-part";
}

// The whole directory fails on the name, before a file is fetched; nothing lands outside the folder.
void TestRetrieveDirectory::hostileNames() {
    QFETCH(QString, name);
    serveFiveFiles();
    keepPreviousBackup();
    const auto outside = TreeSnapshot::take(world.localPath({}));
    world.server.setFaults(QJsonObject{{"hostile_entries", QJsonObject{{"entries", QJsonArray{name}}}}});
    TransferSession session(world.host);

    QVERIFY(session.RetrieveDirectory("C:\\DTA", folder.toStdString()) < 0);

    QCOMPARE(retrCommands(), QStringList{});
    const auto now = TreeSnapshot::take(world.localPath({}));
    QVERIFY2(now == outside, qPrintable(TreeSnapshot::differences(outside, now)));
    const QString log = world.host.lines().join('\n');
    const QString visible = QString(name).replace('\t', "\\x09").replace('\x1b', "\\x1B");
    QVERIFY2(log.contains(name) || log.contains(visible), qPrintable(log));
}

void TestRetrieveDirectory::leftoversOfACrashAreCleared() {
    serveFiveFiles();
    keepPreviousBackup();
    QVERIFY(TreeSnapshot::write(folder + "/.kavrel-staging/f1.dat", "half of a crashed run"));
    QVERIFY(TreeSnapshot::write(folder + "/.kavrel-staging/.f2.dat.kavrel-part", "partial"));
    QVERIFY(TreeSnapshot::write(folder + "/.f9.dat.kavrel-part", "an older partial"));
    TransferSession session(world.host);

    QCOMPARE(session.RetrieveDirectory("C:\\DTA", folder.toStdString()), 0);

    QVERIFY(!QFileInfo::exists(folder + "/.kavrel-staging"));
    QVERIFY(!QFileInfo::exists(folder + "/.f9.dat.kavrel-part"));
    QCOMPARE(TreeSnapshot::filesIn(folder), TreeSnapshot::filesIn(world.serverPath("DTA")));
}

// The subfolder stays as it is; the directory fails before any of the folder's files gives way.
void TestRetrieveDirectory::serverFileNamedLikeALocalSubfolder() {
    serveFiveFiles();
    QVERIFY(TreeSnapshot::write(world.serverPath("DTA/sub"), "a file on the server"));
    keepPreviousBackup();
    TransferSession session(world.host);

    QCOMPARE(session.RetrieveDirectory("C:\\DTA", folder.toStdString()), -1);

    verifyPreviousBackupKept();
    const QStringList lines = world.host.lines();
    QCOMPARE(lines.at(lines.size() - 2), QStringLiteral("Internal error in Kavrel.RetrieveDirectory()"));
    QVERIFY2(lines.last().startsWith("     21 - "), qPrintable(lines.last()));
    QCOMPARE(world.host.progressValue, 0.0);
}

// A slow file: the engine's progress reaches the host while it moves, not only between files.
void TestRetrieveDirectory::progressHookKeepsTheHostAlive() {
    QVERIFY(TreeSnapshot::write(world.serverPath("DTA/slow.dat"), QByteArray(96 * 1024, 's')));
    world.server.setFaults(
        QJsonObject{{"throttle", QJsonObject{{"command", "RETR"}, {"bytes_per_second", 160000}}}});
    TransferSession session(world.host);
    QCOMPARE(session.RetrieveDirectory("C:\\DTA", folder.toStdString()), 0);
    QVERIFY2(world.host.keepAlives >= 2, qPrintable(QString::number(world.host.keepAlives)));
    QVERIFY(world.host.lastKeepAliveBytes > 0 && world.host.lastKeepAliveBytes <= 96 * 1024);
}

void TestRetrieveDirectory::tenThousandFiles() {
    TreeSnapshot::Tree expected;
    for (int i = 0; i < 10000; ++i) {
        const QString name = QStringLiteral("m%1.wav").arg(i, 5, 10, QLatin1Char('0'));
        const QByteArray content = QByteArray::number(i);
        QVERIFY(TreeSnapshot::write(world.serverPath("MSG/" + name), content));
        expected.insert(name, content);
    }
    keepPreviousBackup();
    const QString messages = world.localPath("backup/MSG");
    TransferSession session(world.host);

    QCOMPARE(session.RetrieveDirectory("C:\\MSG", messages.toStdString()), 0);

    QCOMPARE(TreeSnapshot::filesIn(messages), expected);
    QCOMPARE(world.host.progressValue, 10000.0);
    QVERIFY(world.host.lines().contains("Retrieving 10000 files..."));
    QVERIFY(!QFileInfo::exists(messages + "/.kavrel-staging"));
}

QTEST_GUILESS_MAIN(TestRetrieveDirectory)
#include "tst_retrievedirectory.moc"
