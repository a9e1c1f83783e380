#include "FtpEngine.h"
#include "TransferSession.h"
#include "TransferWorld.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTest>

#include <filesystem>

// One server directory into one local folder and back: the previous backup gives way only to a complete
// one, and an upload stops at the first failure.
class TestDirectories : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        world.server.setExtraArguments({"--max-logins", "2"});
        QVERIFY(world.start());
    }
    void cleanupTestCase() { world.stop(); }
    void init();
    void cleanup() { world.end(); }

    void replacesThePreviousBackup();
    void emptiedServerFolder();
    void previousBackupKept_data();
    void previousBackupKept();
    void readOnlyFileStopsBeforeAnyFetch();
    void upload_data();
    void upload();

private:
    int32_t retrieve(int connections = 1) {
        TransferSession session(world.host);
        session.SetConnections(connections);
        return session.RetrieveDirectory("C:\\DTA", folder.toStdString());
    }

    TransferWorld world;
    QString folder;
    Tree previous;
};

// Five files on the server; an older backup in the folder with a file the server no longer has and a
// subfolder that no backup touches.
void TestDirectories::init() {
    QVERIFY(world.begin());
    folder = world.localPath("backup/DTA");
    for (int i = 1; i <= 5; ++i)
        QVERIFY(
            writeFile(world.serverPath(QString("DTA/f%1.dat").arg(i)), QByteArray(1000 * i, char('0' + i))));
    QVERIFY(writeFile(folder + "/f1.dat", "old one"));
    QVERIFY(writeFile(folder + "/gone.dat", "only in the old backup"));
    QVERIFY(writeFile(folder + "/sub/inner.dat", "never touched"));
    QVERIFY(writeFile(folder + "/.kavrel-staging/f1.dat", "left by a crashed run"));
    previous = treeOf(folder);
    previous.remove(".kavrel-staging/");
    previous.remove(".kavrel-staging/f1.dat");
}

// With several connections too, and on a server that takes only two logins (said once).
void TestDirectories::replacesThePreviousBackup() {
    QCOMPARE(retrieve(4), 0);
    Tree expected = treeOf(world.serverPath("DTA"));
    expected.insert("sub/", {});
    expected.insert("sub/inner.dat", "never touched");
    QCOMPARE(treeOf(folder), expected);
    QCOMPARE(world.host.progressValue, 5.0);
    QCOMPARE(
        world.host.displayed.filter("The server took 2 of 4 connections (421 Too many connections").size(),
        1);
}

// A server folder that became empty leaves an empty backup, not the last one's files.
void TestDirectories::emptiedServerFolder() {
    for (int i = 1; i <= 5; ++i)
        QVERIFY(QFile::remove(world.serverPath(QString("DTA/f%1.dat").arg(i))));
    QCOMPARE(retrieve(), 0);
    QCOMPARE(treeOf(folder), (Tree{{"sub/", {}}, {"sub/inner.dat", "never touched"}}));
}

void TestDirectories::previousBackupKept_data() {
    QTest::addColumn<QJsonObject>("faults");
    QTest::addColumn<bool>("abortAtThird");
    QTest::addColumn<int>("retrieved"); // RETR commands sent (-1: each connection's files in hand complete)
    QTest::addColumn<int>("connections");
    const auto onThird = [](QJsonObject rule) {
        rule.insert("name", "f3.dat");
        return rule;
    };
    const QJsonObject refused{{"transfer_error", onThird({{"text", "No such file today."}})}};
    QTest::newRow("550") << refused << false << 3 << 1;
    QTest::newRow("550, 3 connections") << refused << false << -1 << 3;
    const QJsonObject dropped{{"drop_data", onThird({{"command", "RETR"}, {"after_bytes", 1000}})}};
    QTest::newRow("dropped mid-file") << dropped << false << 3 << 1;
    QTest::newRow("dropped mid-file, 2 connections") << dropped << false << -1 << 2;
    QTest::newRow("451 after the data")
        << QJsonObject{{"transfer_error", onThird({{"when", "after"}})}} << false << 3 << 1;
    QTest::newRow("abort") << QJsonObject{} << true << 3 << 1;
    // Slow files: when the first has arrived, others are in hand; they complete, the last never starts.
    QTest::newRow("abort, 2 connections")
        << QJsonObject{{"delay", QJsonObject{{"command", "RETR"}, {"seconds", 0.2}}}} << true << -1 << 2;
    QTest::newRow("listing refused") << QJsonObject{{"fail", QJsonArray{QJsonObject{{"command", "MLSD"}},
                                                                        QJsonObject{{"command", "LIST"}}}}}
                                     << false << 0 << 1;
    for (const char* name : {"a\tb.wav", "a\x1b[2Jb.wav", ".kavrel-staging", ".kavrel-part-00000000"}) {
        QTest::newRow(qPrintable(QString("unsafe name %1").arg(QString(name).toUtf8().toPercentEncoding())))
            << QJsonObject{{"hostile_entries", QJsonObject{{"entries", QJsonArray{name}}}}} << false << 0
            << 1;
    }
}

// A failure or an Abort part-way leaves the folder exactly as it was, staging folder gone.
void TestDirectories::previousBackupKept() {
    QFETCH(QJsonObject, faults);
    QFETCH(bool, abortAtThird);
    QFETCH(int, retrieved);
    QFETCH(int, connections);
    world.server.setFaults(faults);
    const double abortAt = connections == 1 ? 3.0 : 1.0;
    if (abortAtThird)
        world.host.onYield = [=](RecordingHost& host) {
            host.abortRequested = host.progressValue == abortAt;
        };
    const int32_t result = retrieve(connections);
    QCOMPARE(result < 0, !abortAtThird);
    QCOMPARE(treeOf(folder), previous);
    if (retrieved >= 0)
        QCOMPARE(world.sent("RETR").size(), retrieved);
}

// A read-only file could not give way to the new backup: the directory fails before any file moves.
void TestDirectories::readOnlyFileStopsBeforeAnyFetch() {
    const std::string locked = (folder + "/gone.dat").toStdString();
    std::filesystem::permissions(locked, std::filesystem::perms::owner_read);
    const int32_t result = retrieve();
    std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
    QCOMPARE(result, -1);
    Tree now = treeOf(folder);
    now.remove(".kavrel-staging/");
    now.remove(".kavrel-staging/f1.dat");
    QCOMPARE(now, previous);
    QCOMPARE(world.sent("RETR"), QStringList());
    QCOMPARE(world.host.displayed.mid(1),
             (QStringList{"Internal error in Kavrel.RetrieveDirectory()",
                          "     13 - Permission denied (" + folder + "/gone.dat)"}));
}

void TestDirectories::upload_data() {
    QTest::addColumn<QJsonObject>("faults");
    QTest::addColumn<bool>("abortAtSecond");
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("said");
    const QStringList all{"STOR a.wav", "STOR b.wav", "STOR c.wav"};
    QTest::newRow("all") << QJsonObject{} << false << all << 0 << "";
    QTest::newRow("second refused") << QJsonObject{{"transfer_error", QJsonObject{{"name", "b.wav"}}}}
                                    << false << all.mid(0, 2) << int(FCE_E_SERVER_REPLY) << "";
    QTest::newRow("abort during second") << QJsonObject{} << true << all.mid(0, 2) << 0 << "";
    // A server that kept part of a file and answered 226 once had the restore called complete.
    const QJsonObject cut{{"name", "b.wav"}, {"keep", 2}};
    const QString kept = "The server holds \"b.wav\" with 2 bytes; 5 bytes were sent.";
    QTest::newRow("second cut short")
        << QJsonObject{{"short_store", cut}} << false << all << int(FCE_E_INCOMPLETE) << kept;
    QTest::newRow("second cut short, no sizes listed") << QJsonObject{{"short_store", cut}, {"no_size", true}}
                                                       << false << all << int(FCE_E_INCOMPLETE) << kept;
}

// Restore's half: every file but the transfers' own temporaries, in order, stopping at a failure or Abort,
// and each checked against what the server kept of it.
void TestDirectories::upload() {
    QFETCH(QJsonObject, faults);
    QFETCH(bool, abortAtSecond);
    QFETCH(QStringList, stored);
    QFETCH(int, result);
    QFETCH(QString, said);
    const QString source = world.localPath("restore/MSG");
    for (const char* name :
         {"a.wav", "b.wav", "c.wav", ".kavrel-part-89abcdef", ".kavrel-record", ".kavrel-staging/x.wav"})
        QVERIFY(writeFile(source + '/' + name, name));
    world.server.setFaults(faults);
    if (abortAtSecond)
        world.host.onYield = [](RecordingHost& host) { host.abortRequested = host.progressValue >= 2.0; };
    QCOMPARE(TransferSession(world.host).UploadDirectory("C:\\MSG\\NEW", source.toStdString()), result);
    QCOMPARE(world.sent("STOR"), stored);
    QCOMPARE(world.sent("MKD"), (QStringList{"MKD MSG", "MKD NEW"}));
    // One listing of the folder shows what the server kept; SIZE only where it lists no sizes.
    QCOMPARE(world.host.displayed.filter("The server holds").join('\n'), said);
    QCOMPARE(world.server.commands().count("MLSD"), result == FCE_E_SERVER_REPLY ? 0 : 1);
    QCOMPARE(world.sent("SIZE").size(), faults.contains("no_size") ? 3 : 0);
}

QTEST_GUILESS_MAIN(TestDirectories)
#include "tst_directories.moc"
