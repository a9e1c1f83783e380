#include "EngineSession.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

// Every way the test server can misbehave: the call fails with words that say what happened, no partial
// file is left, an older local copy stays exactly as it was, and a lost connection stays lost.
class TestEngineFaults : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void refusedDownloadLeavesNoFile_data();
    void refusedDownloadLeavesNoFile();
    void droppedDataLeavesNoPartialFile_data();
    void droppedDataLeavesNoPartialFile();
    void shortFileClaimedCompleteIsRefused();
    void errorAfterTheLastByteIsAFailure();
    void silentServerFailsAfterTheSetTime_data();
    void silentServerFailsAfterTheSetTime();
    void stalledDataFailsAfterTheSetTime();
    void truncatedListingIsAFailure();
    void droppedListingIsAFailure();
    void controlDroppedMeansNotConnected_data();
    void controlDroppedMeansNotConnected();
    void hostileNamesFailTheListing_data();
    void hostileNamesFailTheListing();
    void refusedUploadIsAFailure_data();
    void refusedUploadIsAFailure();

private:
    // Connected with the window's silence limit, in /MSG, listed; tests of silence shorten it afterwards.
    bool connectToData();
    QString localPath(const QString& name) const { return m_local->filePath(name); }

    std::unique_ptr<FtpServerFixture> m_server;
    std::unique_ptr<EngineSession> m_engine;
    std::unique_ptr<QTemporaryDir> m_local;
    QByteArray m_served;
};

void TestEngineFaults::init() {
    m_server = std::make_unique<FtpServerFixture>();
    QVERIFY(m_server->start());
    QVERIFY(QDir(m_server->root()).mkpath("MSG"));
    m_served = EngineSession::patternBytes(300000, 3);
    QVERIFY(EngineSession::writeFile(m_server->root() + "/MSG/m1.wav", m_served));
    m_local = std::make_unique<QTemporaryDir>();
    m_engine = std::make_unique<EngineSession>();
}

void TestEngineFaults::cleanup() {
    m_engine.reset();
    m_server.reset();
    m_local.reset();
}

bool TestEngineFaults::connectToData() {
    std::string listing;
    return m_engine->connect(*m_server) == 0 && fceSetServerDir(0, "MSG") == 0 &&
           fceSetLocalDir(0, m_local->path().toUtf8().constData()) == 0 &&
           fceSetInteger(0, FCE_REPLACE_LOCAL, 1) == 0 && fceGetList(0, 1, listing) > 0;
}

void TestEngineFaults::refusedDownloadLeavesNoFile_data() {
    QTest::addColumn<bool>("olderCopy");
    QTest::newRow("no local file") << false;
    QTest::newRow("older local copy") << true;
}

void TestEngineFaults::refusedDownloadLeavesNoFile() {
    QFETCH(bool, olderCopy);
    if (olderCopy)
        QVERIFY(EngineSession::writeFile(localPath("m1.wav"), "older copy"));
    QVERIFY(connectToData());
    m_server->setFaults(
        {{"transfer_error", QJsonObject{{"command", "RETR"}, {"code", 550}, {"text", "Gone."}}}});

    int32_t rc = fceGetFile(0, "m1.wav");
    QCOMPARE(rc, int32_t(FCE_E_SERVER_REPLY));
    QCOMPARE(EngineSession::errorText(rc), QString("550 Gone."));
    QCOMPARE(EngineSession::entriesOf(m_local->path()), olderCopy ? QStringList({"m1.wav"}) : QStringList());
    if (olderCopy)
        QCOMPARE(EngineSession::readFile(localPath("m1.wav")), QByteArray("older copy"));
    m_server->setFaults({});
    QCOMPARE(fceGetFile(0, "m1.wav"), 0); // the session goes on
}

void TestEngineFaults::droppedDataLeavesNoPartialFile_data() {
    QTest::addColumn<bool>("reset");
    QTest::addColumn<bool>("olderCopy");
    QTest::newRow("closed, no local file") << false << false;
    QTest::newRow("closed, older copy") << false << true;
    QTest::newRow("reset, older copy") << true << true;
}

void TestEngineFaults::droppedDataLeavesNoPartialFile() {
    QFETCH(bool, reset);
    QFETCH(bool, olderCopy);
    if (olderCopy)
        QVERIFY(EngineSession::writeFile(localPath("m1.wav"), "older copy"));
    QVERIFY(connectToData());
    m_server->setFaults(
        {{"drop_data", QJsonObject{{"command", "RETR"}, {"after_bytes", 100000}, {"reset", reset}}}});

    int32_t rc = fceGetFile(0, "m1.wav");
    QVERIFY(rc < 0);
    const QString text = EngineSession::errorText(rc);
    if (reset) {
        QVERIFY2(rc == FCE_E_DATA_CONNECTION || rc == FCE_E_SERVER_REPLY, qPrintable(text));
    } else {
        QCOMPARE(rc, int32_t(FCE_E_DATA_CONNECTION));
        QCOMPARE(text, QString("426 Connection closed; transfer aborted."));
    }
    QCOMPARE(EngineSession::entriesOf(m_local->path()), olderCopy ? QStringList({"m1.wav"}) : QStringList());
    if (olderCopy)
        QCOMPARE(EngineSession::readFile(localPath("m1.wav")), QByteArray("older copy"));
}

void TestEngineFaults::shortFileClaimedCompleteIsRefused() {
    QVERIFY(EngineSession::writeFile(localPath("m1.wav"), "older copy"));
    QVERIFY(connectToData());
    m_server->setFaults(
        {{"drop_data",
          QJsonObject{
              {"command", "RETR"}, {"after_bytes", 1000}, {"code", 226}, {"text", "Transfer complete."}}}});
    int32_t rc = fceGetFile(0, "m1.wav");
    QCOMPARE(rc, int32_t(FCE_E_INCOMPLETE));
    QCOMPARE(EngineSession::errorText(rc), QString("Received 1000 of 300000 bytes of m1.wav"));
    QCOMPARE(EngineSession::entriesOf(m_local->path()), QStringList({"m1.wav"}));
    QCOMPARE(EngineSession::readFile(localPath("m1.wav")), QByteArray("older copy"));
}

void TestEngineFaults::errorAfterTheLastByteIsAFailure() {
    QVERIFY(connectToData());
    m_server->setFaults({{"transfer_error", QJsonObject{{"command", "RETR"}, {"when", "after"}}}});
    int32_t rc = fceGetFile(0, "m1.wav");
    QCOMPARE(rc, int32_t(FCE_E_SERVER_REPLY));
    QCOMPARE(EngineSession::errorText(rc),
             QString("451 Requested action aborted: local error in processing."));
    QCOMPARE(EngineSession::entriesOf(m_local->path()), QStringList());
}

void TestEngineFaults::silentServerFailsAfterTheSetTime_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("text");
    QTest::newRow("RETR") << "RETR"
                          << "No reply to RETR within 500 ms";
    QTest::newRow("EPSV") << "EPSV"
                          << "No reply to EPSV within 500 ms";
    QTest::newRow("CWD") << "CWD"
                         << "No reply to CWD within 500 ms";
}

void TestEngineFaults::silentServerFailsAfterTheSetTime() {
    QFETCH(QString, command);
    QFETCH(QString, text);
    QVERIFY(connectToData());
    m_server->setFaults({{"silence", QJsonObject{{"command", command}}}});
    QCOMPARE(fceSetInteger(0, FCE_TIMEOUT_MS, 500), 0);
    QElapsedTimer clock;
    clock.start();
    int32_t rc = command == "CWD" ? fceSetServerDir(0, "\\") : fceGetFile(0, "m1.wav");
    const qint64 waited = clock.elapsed();
    QCOMPARE(rc, int32_t(FCE_E_TIMEOUT));
    QCOMPARE(EngineSession::errorText(rc), text);
    QVERIFY2(waited >= 450 && waited < 2500, qPrintable(QString::number(waited)));
    QCOMPARE(EngineSession::entriesOf(m_local->path()), QStringList());
    // A reply that comes late would answer the wrong command: the connection is given up.
    rc = fceSetServerDir(0, "\\");
    QCOMPARE(rc, int32_t(FCE_E_NOT_CONNECTED));
    QCOMPARE(EngineSession::errorText(rc), QString("Not connected"));
}

void TestEngineFaults::stalledDataFailsAfterTheSetTime() {
    QVERIFY(EngineSession::writeFile(localPath("m1.wav"), "older copy"));
    QVERIFY(connectToData());
    m_server->setFaults({{"throttle", QJsonObject{{"command", "RETR"}, {"bytes_per_second", 1}}}});
    QCOMPARE(fceSetInteger(0, FCE_TIMEOUT_MS, 500), 0);
    int32_t rc = fceGetFile(0, "m1.wav");
    QCOMPARE(rc, int32_t(FCE_E_TIMEOUT));
    QCOMPARE(EngineSession::errorText(rc), QString("No data for RETR within 500 ms"));
    QCOMPARE(EngineSession::entriesOf(m_local->path()), QStringList({"m1.wav"}));
    QCOMPARE(EngineSession::readFile(localPath("m1.wav")), QByteArray("older copy"));
    QCOMPARE(fceGetFile(0, "m1.wav"), int32_t(FCE_E_NOT_CONNECTED));
}

void TestEngineFaults::truncatedListingIsAFailure() {
    for (int i = 2; i <= 20; ++i)
        QVERIFY(EngineSession::writeFile(m_server->root() + QString("/MSG/m%1.wav").arg(i), "x"));
    QVERIFY(connectToData());
    m_server->setFaults({{"truncate_listing", QJsonObject{{"path", "/MSG"}, {"keep", 10}}}});
    std::string listing = "previous";
    int32_t rc = fceGetList(0, 1, listing);
    QCOMPARE(rc, int32_t(FCE_E_INCOMPLETE));
    QCOMPARE(EngineSession::errorText(rc), QString("226 Output truncated to 10 matches"));
    QCOMPARE(listing, std::string("previous"));
    char buffer[32000];
    QCOMPARE(fceGetList(0, 1, buffer, int32_t(sizeof(buffer))), int32_t(FCE_E_INCOMPLETE));
}

void TestEngineFaults::droppedListingIsAFailure() {
    for (int i = 0; i < 500; ++i)
        QVERIFY(EngineSession::writeFile(m_server->root() + QString("/MSG/n%1.wav").arg(i), "x"));
    QVERIFY(connectToData());
    m_server->setFaults({{"drop_data", QJsonObject{{"command", "MLSD"}, {"after_bytes", 3000}}}});
    std::string listing;
    int32_t rc = fceGetList(0, 1, listing);
    QCOMPARE(rc, int32_t(FCE_E_DATA_CONNECTION));
    QCOMPARE(EngineSession::errorText(rc), QString("426 Connection closed; transfer aborted."));
    QVERIFY(listing.empty());
}

void TestEngineFaults::controlDroppedMeansNotConnected_data() {
    QTest::addColumn<QJsonObject>("rule");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("closed") << QJsonObject{{"command", "RETR"}} << int(FCE_E_CONNECTION_LOST)
                            << "Connection closed by the server (no reply to RETR)";
    QTest::newRow("421 first") << QJsonObject{{"command", "RETR"}, {"code", 421}, {"text", "Shutting down."}}
                               << int(FCE_E_CONNECTION_LOST) << "421 Shutting down.";
    QTest::newRow("reset") << QJsonObject{{"command", "RETR"}, {"reset", true}} << int(FCE_E_CONNECTION_LOST)
                           << "Connection lost waiting for the reply to RETR: Connection reset by peer";
}

void TestEngineFaults::controlDroppedMeansNotConnected() {
    QFETCH(QJsonObject, rule);
    QFETCH(int, code);
    QFETCH(QString, text);
    QVERIFY(connectToData());
    m_server->setFaults({{"drop_control", rule}});
    int32_t rc = fceGetFile(0, "m1.wav");
    QCOMPARE(int(rc), code);
    QCOMPARE(EngineSession::errorText(rc), text);
    QCOMPARE(EngineSession::entriesOf(m_local->path()), QStringList());

    std::string listing;
    QCOMPARE(fceGetList(0, 1, listing), int32_t(FCE_E_NOT_CONNECTED));
    QCOMPARE(fceSetServerDir(0, "\\"), int32_t(FCE_E_NOT_CONNECTED));
    QCOMPARE(fcePutFile(0, "m1.wav"), int32_t(FCE_E_NOT_CONNECTED));
    QCOMPARE(EngineSession::errorText(FCE_E_NOT_CONNECTED), QString("Not connected"));
    QCOMPARE(fceClose(0), 0);
    m_server->setFaults({});
    QVERIFY(connectToData()); // the next connect starts afresh
    QCOMPARE(fceGetFile(0, "m1.wav"), 0);
}

void TestEngineFaults::hostileNamesFailTheListing_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("name");
    for (const char* mode : {"mlsd", "unix", "dos"}) {
        for (const char* name : {"../x.wav", "..\\x.wav", "C:x.wav"})
            QTest::newRow(qPrintable(QString("%1 %2").arg(mode, name))) << QString(mode) << QString(name);
    }
}

void TestEngineFaults::hostileNamesFailTheListing() {
    QFETCH(QString, mode);
    QFETCH(QString, name);
    auto listingMode = mode == "dos"    ? FtpServerFixture::ListingMode::DosList
                       : mode == "unix" ? FtpServerFixture::ListingMode::UnixList
                                        : FtpServerFixture::ListingMode::Mlsd;
    QVERIFY(m_server->start(listingMode));
    QVERIFY(QDir(m_server->root()).mkpath("MSG"));
    QVERIFY(EngineSession::writeFile(m_server->root() + "/MSG/m1.wav", "x"));
    QVERIFY(connectToData());
    // The local directory sits one level down in a folder of this test's own, so that anything written
    // beside it (a "../x.wav") would show.
    QTemporaryDir outer;
    QVERIFY(QDir(outer.path()).mkpath("inner"));
    QCOMPARE(fceSetLocalDir(0, (outer.path() + "/inner").toUtf8().constData()), 0);
    m_server->setFaults({{"hostile_entries", QJsonObject{{"entries", QJsonArray{name}}}}});
    std::string listing = "previous";
    int32_t rc = fceGetList(0, 1, listing);
    QCOMPARE(rc, int32_t(FCE_E_UNSAFE_NAME));
    QCOMPARE(EngineSession::errorText(rc), "Unsafe file name from server: " + name);
    QCOMPARE(listing, std::string("previous"));
    QCOMPARE(fceGetFile(0, name.toUtf8().constData()), int32_t(FCE_E_UNSAFE_NAME));
    QCOMPARE(EngineSession::entriesOf(outer.path() + "/inner"), QStringList());
    QCOMPARE(EngineSession::entriesOf(outer.path()), QStringList{"inner"});
}

void TestEngineFaults::refusedUploadIsAFailure_data() {
    QTest::addColumn<QJsonObject>("faults");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("refused") << QJsonObject{{"transfer_error", QJsonObject{{"command", "STOR"}}}}
                             << int(FCE_E_SERVER_REPLY) << "550 Permission denied.";
    QTest::newRow("error after") << QJsonObject{{"transfer_error",
                                                 QJsonObject{{"command", "STOR"}, {"when", "after"}}}}
                                 << int(FCE_E_SERVER_REPLY)
                                 << "451 Requested action aborted: local error in processing.";
    QTest::newRow("dropped") << QJsonObject{{"drop_data",
                                             QJsonObject{{"command", "STOR"}, {"after_bytes", 5000}}}}
                             << int(FCE_E_DATA_CONNECTION) << "";
    // A reset makes the next write fail with EPIPE: the call must fail, never raise SIGPIPE.
    QTest::newRow("reset") << QJsonObject{{"drop_data", QJsonObject{{"command", "STOR"},
                                                                    {"after_bytes", 5000},
                                                                    {"reset", true}}}}
                           << int(FCE_E_DATA_CONNECTION) << "";
}

void TestEngineFaults::refusedUploadIsAFailure() {
    QFETCH(QJsonObject, faults);
    QFETCH(int, code);
    QFETCH(QString, text);
    QVERIFY(EngineSession::writeFile(localPath("up.wav"), EngineSession::patternBytes(4 * 1024 * 1024, 8)));
    QVERIFY(connectToData());
    m_server->setFaults(faults);
    int32_t rc = fcePutFile(0, "up.wav");
    QCOMPARE(int(rc), code);
    if (!text.isEmpty())
        QCOMPARE(EngineSession::errorText(rc), text);
    QVERIFY(!EngineSession::errorText(rc).isEmpty());
}

QTEST_GUILESS_MAIN(TestEngineFaults)
#include "tst_enginefaults.moc"
