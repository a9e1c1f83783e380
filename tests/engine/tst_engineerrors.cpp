#include "EngineSession.h"
#include "ProgramLocation.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// The words of each failure, the engine's own calls outside a session, and the protocol trace.
class TestEngineErrors : public QObject {
    Q_OBJECT

private slots:
    void wrongPassword_data();
    void wrongPassword();
    void refusedConnection();
    void unknownHost();
    void invalidServerAddress();
    void callsBeforeAttachAreRefused();
    void versionAndDescription();
    void badArgumentsAreRefused_data();
    void badArgumentsAreRefused();
    void errorTextIsCutToTheBuffer();
    void errorTextOfACodeNotSeenYet();
    void notConnectedUntilConnected();
    void traceMasksThePassword();
    void releaseClosesTheConnection();
};

void TestEngineErrors::wrongPassword_data() {
    QTest::addColumn<bool>("hook");
    QTest::addColumn<QString>("text");
    QTest::newRow("real check") << false << "530 Authentication failed.";
    QTest::newRow("refuse_login hook") << true << "530 Login incorrect.";
}

void TestEngineErrors::wrongPassword() {
    QFETCH(bool, hook);
    QFETCH(QString, text);
    FtpServerFixture server;
    QVERIFY(server.start());
    if (hook)
        server.setFaults({{"refuse_login", true}});
    EngineSession engine;
    int32_t rc = fceConnect(0, server.address().toUtf8().constData(), "admin", hook ? "tamsk" : "wrong");
    QCOMPARE(rc, int32_t(FCE_E_LOGIN));
    QCOMPARE(EngineSession::errorText(rc), text);
    QCOMPARE(fceSetServerDir(0, "\\"), int32_t(FCE_E_NOT_CONNECTED));
}

namespace {

// A loopback port that was free a moment ago: bound, never listened on, then let go.
int unusedLoopbackPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof(address);
    bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
                 ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0;
    ::close(fd);
    return bound ? ntohs(address.sin_port) : -1;
}

} // namespace

void TestEngineErrors::refusedConnection() {
    const int port = unusedLoopbackPort();
    QVERIFY(port > 0);
    const QString address = QString("127.0.0.1:%1").arg(port);
    EngineSession engine;
    int32_t rc = fceConnect(0, address.toUtf8().constData(), "admin", "tamsk");
    QCOMPARE(rc, int32_t(FCE_E_CONNECT));
    QCOMPARE(EngineSession::errorText(rc), "Connection to " + address + " refused");
}

void TestEngineErrors::unknownHost() {
    EngineSession engine;
    fceSetInteger(0, FCE_TIMEOUT_MS, 2000);
    int32_t rc = fceConnect(0, "nosuch.invalid", "admin", "tamsk");
    QCOMPARE(rc, int32_t(FCE_E_RESOLVE));
    QVERIFY2(EngineSession::errorText(rc).startsWith("Unknown host nosuch.invalid"),
             qPrintable(EngineSession::errorText(rc)));
}

void TestEngineErrors::invalidServerAddress() {
    EngineSession engine;
    int32_t rc = fceConnect(0, "127.0.0.1:99999", "admin", "tamsk");
    QCOMPARE(rc, int32_t(FCE_E_BAD_ARGUMENT));
    QCOMPARE(EngineSession::errorText(rc), QString("Invalid server address: 127.0.0.1:99999"));
}

void TestEngineErrors::callsBeforeAttachAreRefused() {
    QCOMPARE(fceConnect(0, "127.0.0.1", "a", "b"), int32_t(FCE_E_NOT_ATTACHED));
    QCOMPARE(fceGetInteger(0, FCE_VERSION), int32_t(FCE_E_NOT_ATTACHED));
    QCOMPARE(fceRelease(), int32_t(FCE_E_NOT_ATTACHED));
    QCOMPARE(EngineSession::errorText(FCE_E_NOT_ATTACHED), QString("FTP engine not attached"));
    QCOMPARE(fceAttach(0), int32_t(FCE_E_BAD_ARGUMENT));
    QCOMPARE(fceAttach(1), 0);
    QCOMPARE(fceRelease(), 0);
}

void TestEngineErrors::versionAndDescription() {
    EngineSession engine;
    const int32_t version = fceGetInteger(0, FCE_VERSION);
    QCOMPARE(version, 0x100);
    QCOMPARE(QString::number(version, 16).toUpper(), QString("100"));
    char text[81] = {};
    int32_t length = fceGetString(0, FCE_DESCRIPTION, text, 80);
    QVERIFY(length > 0 && length < 80);
    QVERIFY2(QString(text).startsWith("Kavrel FTP engine 1.0.0 (OpenSSL 3."), text);
    QCOMPARE(int(strlen(text)), int(length));
    char tiny[8] = {};
    QCOMPARE(fceGetString(0, FCE_DESCRIPTION, tiny, 8), 7);
    QCOMPARE(QByteArray(tiny), QByteArray("Kavrel "));
}

void TestEngineErrors::badArgumentsAreRefused_data() {
    QTest::addColumn<int>("which");
    QTest::addColumn<QString>("text");
    QTest::newRow("channel 1") << 0 << "No channel 1 (only channel 0 exists)";
    QTest::newRow("active mode") << 1 << "Only passive data connections are supported";
    QTest::newRow("ascii mode") << 2 << "Only binary mode ('B') is supported";
    QTest::newRow("zero timeout") << 3 << "The silence limit must be a positive number of milliseconds";
    QTest::newRow("unknown parameter") << 4 << "Unknown integer parameter 99";
    QTest::newRow("null name") << 5 << "Missing argument to fceGetFile";
}

void TestEngineErrors::badArgumentsAreRefused() {
    QFETCH(int, which);
    QFETCH(QString, text);
    EngineSession engine;
    int32_t rc = 0;
    switch (which) {
    case 0:
        rc = fceSetServerDir(1, "\\");
        break;
    case 1:
        rc = fceSetInteger(0, FCE_PASSIVE, 0);
        break;
    case 2:
        rc = fceSetMode(0, 'A');
        break;
    case 3:
        rc = fceSetInteger(0, FCE_TIMEOUT_MS, 0);
        break;
    case 4:
        rc = fceGetInteger(0, 99);
        break;
    default:
        rc = fceGetFile(0, nullptr);
        break;
    }
    QCOMPARE(rc, int32_t(FCE_E_BAD_ARGUMENT));
    QCOMPARE(EngineSession::errorText(rc), text);
    QCOMPARE(fceSetInteger(0, FCE_PASSIVE, 1), 0);
}

void TestEngineErrors::errorTextIsCutToTheBuffer() {
    EngineSession engine;
    int32_t rc = fceSetServerDir(0, "x/y");
    QCOMPARE(rc, int32_t(FCE_E_UNSAFE_NAME));
    char text[10];
    memset(text, '#', sizeof(text));
    QCOMPARE(fceErrorText(0, rc, text, 10), 9);
    QCOMPARE(QByteArray(text), QByteArray("Unsafe fi"));
    QCOMPARE(fceErrorText(0, rc, text, 0), int32_t(FCE_E_BAD_ARGUMENT));
}

void TestEngineErrors::errorTextOfACodeNotSeenYet() {
    EngineSession engine;
    QCOMPARE(EngineSession::errorText(FCE_E_TLS), QString("TLS failure"));
    QCOMPARE(EngineSession::errorText(-999), QString("Unknown error -999"));
}

void TestEngineErrors::notConnectedUntilConnected() {
    EngineSession engine;
    std::string listing;
    for (int32_t rc : {fceGetList(0, 1, listing), fceSetServerDir(0, "\\"), fceMakeServerDir(0, "A"),
                       fceGetFile(0, "a"), fcePutFile(0, "a"), fceSetMode(0, 'B')}) {
        QCOMPARE(rc, int32_t(FCE_E_NOT_CONNECTED));
    }
    QCOMPARE(EngineSession::errorText(FCE_E_NOT_CONNECTED), QString("Not connected"));
    QCOMPARE(fceClose(0), 0);
}

void TestEngineErrors::traceMasksThePassword() {
    QTemporaryDir programFolder;
    ProgramLocation::overrideDirectory(programFolder.path().toStdString());
    FtpServerFixture server;
    QVERIFY(server.start());
    {
        EngineSession engine;
        QCOMPARE(fceSetString(0, FCE_TRACE_FILE, "KAVREL.LOG"), 0);
        QCOMPARE(engine.connect(server), 0);
        QCOMPARE(fceSetServerDir(0, "NOPE"), int32_t(FCE_E_SERVER_REPLY));
        QCOMPARE(fceClose(0), 0);
    }
    ProgramLocation::overrideDirectory("");
    const QString path = programFolder.filePath("KAVREL.LOG");
    QFile trace(path);
    QVERIFY(trace.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(trace.readAll());
    QVERIFY2(text.contains("> USER admin\n"), qPrintable(text));
    QVERIFY(text.contains("> PASS ****\n"));
    QVERIFY(!text.contains("tamsk"));
    QVERIFY(text.contains("> CWD NOPE\n"));
    QVERIFY(text.contains("< 550 No such file or directory.\n"));
    QVERIFY(text.contains("> QUIT\n"));
    QCOMPARE(QFileInfo(path).permissions() &
                 (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
             QFile::Permissions());
}

void TestEngineErrors::releaseClosesTheConnection() {
    FtpServerFixture server;
    QVERIFY(server.start());
    {
        EngineSession engine;
        QCOMPARE(engine.connect(server), 0);
        server.clearCommands();
    }
    QCOMPARE(server.commands(), QStringList({"QUIT"}));
}

QTEST_GUILESS_MAIN(TestEngineErrors)
#include "tst_engineerrors.moc"
