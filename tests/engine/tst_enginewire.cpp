#include "EngineSession.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// What the engine puts on the wire: the exact commands of a session, so that an extra round trip per
// file (TYPE, SIZE, CWD, MDTM, NOOP) or a forgotten TYPE I fails.
class TestEngineWire : public QObject {
    Q_OBJECT

private slots:
    void sessionTranscript_data();
    void sessionTranscript();
    void uploadTranscript();
    void refusedBinaryIsRetriedBeforeEachTransfer();
    void refusedBinaryStopsTheTransfer();
    void pasvWhenEpsvIsRefused();
    void ipv6Session();

private:
    bool startServer(FtpServerFixture& server,
                     FtpServerFixture::ListingMode mode = FtpServerFixture::ListingMode::Mlsd);
};

bool TestEngineWire::startServer(FtpServerFixture& server, FtpServerFixture::ListingMode mode) {
    if (!server.start(mode))
        return false;
    QDir root(server.root());
    return root.mkpath("DTA") && EngineSession::writeFile(root.filePath("DTA/a.dat"), "alpha") &&
           EngineSession::writeFile(root.filePath("DTA/b.dat"), EngineSession::patternBytes(70000, 2));
}

void TestEngineWire::sessionTranscript_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("listCommand");
    QTest::newRow("mlsd") << int(FtpServerFixture::ListingMode::Mlsd) << "MLSD";
    QTest::newRow("unix") << int(FtpServerFixture::ListingMode::UnixList) << "LIST";
    QTest::newRow("dos") << int(FtpServerFixture::ListingMode::DosList) << "LIST";
}

void TestEngineWire::sessionTranscript() {
    QFETCH(int, mode);
    QFETCH(QString, listCommand);
    FtpServerFixture server;
    QVERIFY(startServer(server, FtpServerFixture::ListingMode(mode)));
    QTemporaryDir local;
    EngineSession engine;
    QVERIFY(engine.attached());

    QCOMPARE(engine.connect(server), 0);
    QCOMPARE(fceSetServerDir(0, "\\"), 0);
    QCOMPARE(fceSetServerDir(0, "DTA"), 0);
    std::string listing;
    QCOMPARE(fceGetList(0, 1, listing), 14);
    QCOMPARE(listing, std::string("a.dat\r\nb.dat\r\n"));
    QCOMPARE(fceSetLocalDir(0, local.path().toUtf8().constData()), 0);
    QCOMPARE(fceSetInteger(0, FCE_REPLACE_LOCAL, 1), 0);
    QCOMPARE(fceGetFile(0, "a.dat"), 0);
    QCOMPARE(fceSetInteger(0, FCE_REPLACE_LOCAL, 1), 0);
    QCOMPARE(fceGetFile(0, "b.dat"), 0);
    QCOMPARE(fceClose(0), 0);

    const QStringList expected = {"USER admin", "PASS tamsk", "FEAT",      "TYPE I", "CWD /",
                                  "CWD DTA",    "EPSV",       listCommand, "EPSV",   "RETR a.dat",
                                  "EPSV",       "RETR b.dat", "QUIT"};
    QCOMPARE(server.commands(), expected);
    QCOMPARE(EngineSession::readFile(local.filePath("a.dat")), QByteArray("alpha"));
    QCOMPARE(EngineSession::readFile(local.filePath("b.dat")), EngineSession::patternBytes(70000, 2));
}

void TestEngineWire::uploadTranscript() {
    FtpServerFixture server;
    QVERIFY(startServer(server));
    QTemporaryDir local;
    QVERIFY(EngineSession::writeFile(local.filePath("m1.wav"), EngineSession::patternBytes(5000, 1)));
    QVERIFY(EngineSession::writeFile(local.filePath("m2.wav"), QByteArray()));
    EngineSession engine;
    QCOMPARE(engine.connect(server), 0);
    QCOMPARE(fceSetLocalDir(0, local.path().toUtf8().constData()), 0);
    QCOMPARE(fceSetServerDir(0, "\\"), 0);
    QVERIFY(fceSetServerDir(0, "MSG") < 0);
    QCOMPARE(fceMakeServerDir(0, "MSG"), 0);
    QCOMPARE(fceSetServerDir(0, "MSG"), 0);
    server.clearCommands();
    QCOMPARE(fcePutFile(0, "m1.wav"), 0);
    QCOMPARE(fcePutFile(0, "m2.wav"), 0);

    QCOMPARE(server.commands(), QStringList({"EPSV", "STOR m1.wav", "EPSV", "STOR m2.wav"}));
    QCOMPARE(EngineSession::readFile(server.root() + "/MSG/m1.wav"), EngineSession::patternBytes(5000, 1));
    QVERIFY(QFileInfo::exists(server.root() + "/MSG/m2.wav"));
    QCOMPARE(QFileInfo(server.root() + "/MSG/m2.wav").size(), 0);
}

void TestEngineWire::refusedBinaryIsRetriedBeforeEachTransfer() {
    FtpServerFixture server;
    QVERIFY(startServer(server));
    QTemporaryDir local;
    EngineSession engine;
    server.setFaults(
        {{"fail", QJsonObject{{"command", "TYPE"}, {"times", 1}, {"code", 504}, {"text", "Not now."}}}});

    int32_t rc = engine.connect(server);
    QCOMPARE(rc, int32_t(FCE_E_SERVER_REPLY));
    QCOMPARE(EngineSession::errorText(rc), QString("504 Not now."));
    QCOMPARE(fceSetServerDir(0, "DTA"), 0);
    QCOMPARE(fceSetLocalDir(0, local.path().toUtf8().constData()), 0);
    server.clearCommands();
    QCOMPARE(fceGetFile(0, "a.dat"), 0);
    QCOMPARE(fceGetFile(0, "b.dat"), 0);
    QCOMPARE(server.commands(), QStringList({"TYPE I", "EPSV", "RETR a.dat", "EPSV", "RETR b.dat"}));
}

void TestEngineWire::refusedBinaryStopsTheTransfer() {
    FtpServerFixture server;
    QVERIFY(startServer(server));
    QTemporaryDir local;
    EngineSession engine;
    server.setFaults(
        {{"fail", QJsonObject{{"command", "TYPE"}, {"code", 504}, {"text", "Binary not allowed."}}}});
    QCOMPARE(engine.connect(server), int32_t(FCE_E_SERVER_REPLY));
    QCOMPARE(fceSetServerDir(0, "DTA"), 0);
    QCOMPARE(fceSetLocalDir(0, local.path().toUtf8().constData()), 0);
    server.clearCommands();

    int32_t rc = fceGetFile(0, "a.dat");
    QCOMPARE(rc, int32_t(FCE_E_SERVER_REPLY));
    QCOMPARE(EngineSession::errorText(rc), QString("504 Binary not allowed."));
    std::string listing;
    QCOMPARE(fceGetList(0, 1, listing), int32_t(FCE_E_SERVER_REPLY));
    QCOMPARE(server.commands(), QStringList({"TYPE I", "TYPE I"}));
    QCOMPARE(EngineSession::entriesOf(local.path()), QStringList());
}

void TestEngineWire::pasvWhenEpsvIsRefused() {
    FtpServerFixture server;
    QVERIFY(startServer(server));
    QTemporaryDir local;
    EngineSession engine;
    server.setFaults(
        {{"fail", QJsonObject{{"command", "EPSV"}, {"code", 500}, {"text", "Unknown command."}}}});
    QCOMPARE(engine.connect(server), 0);
    QCOMPARE(fceSetServerDir(0, "DTA"), 0);
    QCOMPARE(fceSetLocalDir(0, local.path().toUtf8().constData()), 0);
    server.clearCommands();
    std::string listing;
    QVERIFY(fceGetList(0, 1, listing) > 0);
    QCOMPARE(fceGetFile(0, "a.dat"), 0);
    QCOMPARE(server.commands(), QStringList({"EPSV", "PASV", "MLSD", "PASV", "RETR a.dat"}));
    QCOMPARE(EngineSession::readFile(local.filePath("a.dat")), QByteArray("alpha"));
}

void TestEngineWire::ipv6Session() {
    // The fixture serves on 127.0.0.1; the same server is started here on ::1 by hand.
    QTemporaryDir root;
    QVERIFY(QDir(root.path()).mkpath("PMT"));
    QVERIFY(EngineSession::writeFile(root.filePath("PMT/p1.wav"), "prompt"));
    QProcess server;
    server.start(FtpServerFixture::pythonPath(),
                 {FtpServerFixture::scriptPath(), "--root", root.path(), "--port", "0", "--host", "::1"});
    QVERIFY(server.waitForStarted());
    QByteArray line;
    while (!line.startsWith("PORT ") && server.waitForReadyRead(5000))
        line = server.readLine().trimmed();
    if (!line.startsWith("PORT "))
        QSKIP("no IPv6 loopback on this machine");
    const QByteArray address = "[::1]:" + line.mid(5);

    QTemporaryDir local;
    EngineSession engine;
    QCOMPARE(fceSetInteger(0, FCE_TIMEOUT_MS, EngineSession::kTimeoutMs), 0);
    QCOMPARE(fceConnect(0, address.constData(), "admin", "tamsk"), 0);
    QCOMPARE(fceSetMode(0, 'B'), 0);
    QCOMPARE(fceSetServerDir(0, "PMT"), 0);
    std::string listing;
    QCOMPARE(fceGetList(0, 1, listing), 8);
    QCOMPARE(fceSetLocalDir(0, local.path().toUtf8().constData()), 0);
    QCOMPARE(fceGetFile(0, "p1.wav"), 0);
    QCOMPARE(EngineSession::readFile(local.filePath("p1.wav")), QByteArray("prompt"));
    QCOMPARE(fceClose(0), 0);
    server.terminate();
    QVERIFY(server.waitForFinished(3000));
}

QTEST_GUILESS_MAIN(TestEngineWire)
#include "tst_enginewire.moc"
