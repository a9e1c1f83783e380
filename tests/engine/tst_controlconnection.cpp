#include "ControlConnection.h"
#include "FtpEngine.h"
#include "PlainSocketStream.h"
#include "ProtocolTrace.h"

#include <QTest>

#include <sys/socket.h>
#include <unistd.h>

// Reading replies as real servers write them (multi-line banners, FEAT lists, bare LF) and the
// failures that must end the dialogue: silence, end of stream, 421, garbage.
class TestControlConnection : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void replies_data();
    void replies();
    void failuresCloseTheConnection_data();
    void failuresCloseTheConnection();
    void commandsEndWithCrLf();
    void repliesAreReadOneAtATime();

private:
    void serverWrites(const QByteArray& bytes);

    ProtocolTrace m_trace;
    std::unique_ptr<ControlConnection> m_control;
    int m_serverEnd = -1;
};

void TestControlConnection::init() {
    int ends[2];
    QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends), 0);
    m_control = std::make_unique<ControlConnection>(m_trace);
    m_control->setTimeout(200);
    m_control->adoptStream(std::make_unique<PlainSocketStream>(ends[0]));
    m_serverEnd = ends[1];
}

void TestControlConnection::cleanup() {
    m_control.reset();
    if (m_serverEnd >= 0)
        ::close(m_serverEnd);
    m_serverEnd = -1;
}

void TestControlConnection::serverWrites(const QByteArray& bytes) {
    QCOMPARE(::write(m_serverEnd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
}

void TestControlConnection::replies_data() {
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("lineCount");
    QTest::addColumn<QByteArray>("lastLine");

    QTest::newRow("one line") << QByteArray("220 (vsFTPd 3.0.3)\r\n") << 220 << 1
                              << QByteArray("220 (vsFTPd 3.0.3)");
    QTest::newRow("pure-ftpd banner")
        << QByteArray("220---------- Welcome to Pure-FTPd [privsep] [TLS] ----------\r\n"
                      "220-You are user number 1 of 4 allowed.\r\n"
                      "220-Local time is now 20:20. Server port: 21180.\r\n"
                      "220-This is a private system - No anonymous login\r\n"
                      "220 You will be disconnected after 15 minutes of inactivity.\r\n")
        << 220 << 5 << QByteArray("220 You will be disconnected after 15 minutes of inactivity.");
    QTest::newRow("feat") << QByteArray("211-Features:\r\n EPRT\r\n EPSV\r\n MDTM\r\n PASV\r\n211 End\r\n")
                          << 211 << 6 << QByteArray("211 End");
    QTest::newRow("other code inside")
        << QByteArray("226-Options: -l \r\n150 not the end\r\n226 4 matches total\r\n") << 226 << 3
        << QByteArray("226 4 matches total");
    QTest::newRow("bare line feeds") << QByteArray("250-first\n250 second\n") << 250 << 2
                                     << QByteArray("250 second");
    QTest::newRow("code alone") << QByteArray("200\r\n") << 200 << 1 << QByteArray("200");
    QTest::newRow("same code with dash inside")
        << QByteArray("211-a\r\n211-b\r\n211 c\r\n") << 211 << 3 << QByteArray("211 c");
}

void TestControlConnection::replies() {
    QFETCH(QByteArray, wire);
    QFETCH(int, code);
    QFETCH(int, lineCount);
    QFETCH(QByteArray, lastLine);
    serverWrites(wire);
    FtpReply reply;
    EngineStatus status = m_control->readReply(reply, "connect");
    QVERIFY2(status.ok(), status.text().c_str());
    QCOMPARE(reply.code, code);
    QCOMPARE(int(reply.lines.size()), lineCount);
    QCOMPARE(QByteArray::fromStdString(reply.lastLine()), lastLine);
    QVERIFY(m_control->isOpen());
}

void TestControlConnection::failuresCloseTheConnection_data() {
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<bool>("closeAfter");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");

    QTest::newRow("silence") << QByteArray() << false << int(FCE_E_TIMEOUT)
                             << "No reply to NOOP within 200 ms";
    QTest::newRow("half a reply, then silence") << QByteArray("211-Features:\r\n EPSV\r\n") << false
                                                << int(FCE_E_TIMEOUT) << "No reply to NOOP within 200 ms";
    QTest::newRow("end of stream") << QByteArray() << true << int(FCE_E_CONNECTION_LOST)
                                   << "Connection closed by the server (no reply to NOOP)";
    QTest::newRow("end inside a reply")
        << QByteArray("211-Features:\r\n") << true << int(FCE_E_CONNECTION_LOST)
        << "Connection closed by the server (no reply to NOOP)";
    QTest::newRow("421") << QByteArray("421 Timeout.\r\n") << false << int(FCE_E_CONNECTION_LOST)
                         << "421 Timeout.";
    QTest::newRow("garbage") << QByteArray("hello\r\n") << false << int(FCE_E_PROTOCOL)
                             << "Unreadable reply to NOOP: hello";
    QTest::newRow("endless line") << QByteArray(70000, 'x') << false << int(FCE_E_PROTOCOL)
                                  << "Reply line too long in answer to NOOP";
}

void TestControlConnection::failuresCloseTheConnection() {
    QFETCH(QByteArray, wire);
    QFETCH(bool, closeAfter);
    QFETCH(int, code);
    QFETCH(QString, text);
    if (!wire.isEmpty())
        serverWrites(wire);
    if (closeAfter) {
        ::close(m_serverEnd);
        m_serverEnd = -1;
    }
    FtpReply reply;
    EngineStatus status = m_control->readReply(reply, "NOOP");
    QCOMPARE(int(status.code()), code);
    QCOMPARE(QString::fromStdString(status.text()), text);
    QVERIFY(!m_control->isOpen());
    QCOMPARE(int(m_control->send("NOOP").code()), int(FCE_E_NOT_CONNECTED));
}

void TestControlConnection::commandsEndWithCrLf() {
    QVERIFY(m_control->send("CWD  two blanks ").ok());
    char received[64] = {};
    ssize_t got = ::read(m_serverEnd, received, sizeof(received));
    QCOMPARE(QByteArray(received, int(got)), QByteArray("CWD  two blanks \r\n"));
}

void TestControlConnection::repliesAreReadOneAtATime() {
    serverWrites("150 Opening.\r\n226 Done.\r\n");
    FtpReply first;
    FtpReply second;
    QVERIFY(m_control->readReply(first, "RETR").ok());
    QVERIFY(m_control->readReply(second, "RETR").ok());
    QCOMPARE(first.code, 150);
    QVERIFY(first.isPreliminary());
    QCOMPARE(second.code, 226);
    QVERIFY(second.isCompletion());
}

QTEST_APPLESS_MAIN(TestControlConnection)
#include "tst_controlconnection.moc"
