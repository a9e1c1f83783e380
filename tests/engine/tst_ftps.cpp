#include "EngineSession.h"
#include "VsftpdFixture.h"

#include <QDir>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

// FTPS against real servers: pyftpdlib's TLS handler with fault hooks, and vsftpd with session reuse
// required and strict closes. Every certificate is self-signed, so each connect trusts it by fingerprint.
class TestFtps : public QObject {
    Q_OBJECT

private slots:
    void init();
    void roundTripResumesEveryDataConnection_data();
    void roundTripResumesEveryDataConnection();
    void schemeChoosesTheProtection_data();
    void schemeChoosesTheProtection();
    void unprovenDownloadKeepsTheOlderCopy_data();
    void unprovenDownloadKeepsTheOlderCopy();
    void expiredSessionLogsInAgain();

private:
    static QString text(int32_t parameter);
    // Connects; a self-signed certificate is first refused, then trusted by the fingerprint it showed.
    static int32_t trustAndConnect(const QString& server, const char* user = "admin",
                                   const char* password = "tamsk");
    QString trace() const { return QString::fromUtf8(readFile(m_trace)); }
    // The data connections the trace records, as "resumed" or "new".
    QStringList dataSessions() const;

    std::unique_ptr<QTemporaryDir> m_work;
    QString m_trace;
};

void TestFtps::init() {
    m_work = std::make_unique<QTemporaryDir>();
    m_trace = m_work->path() + "/trace.log";
}

QString TestFtps::text(int32_t parameter) {
    char buffer[512] = {};
    int32_t length = fceGetString(0, parameter, buffer, sizeof(buffer));
    return length < 0 ? QStringLiteral("error %1").arg(length) : QString::fromUtf8(buffer, length);
}

int32_t TestFtps::trustAndConnect(const QString& server, const char* user, const char* password) {
    fceSetInteger(0, FCE_CONNECT_TIMEOUT_MS, EngineSession::kTimeoutMs);
    fceSetString(0, FCE_TRUSTED_FINGERPRINT, "");
    int32_t rc = fceConnect(0, server.toUtf8().constData(), user, password);
    if (rc == FCE_E_UNTRUSTED_CERTIFICATE) {
        fceSetString(0, FCE_TRUSTED_FINGERPRINT, text(FCE_PEER_FINGERPRINT).toUtf8().constData());
        rc = fceConnect(0, server.toUtf8().constData(), user, password);
    }
    return rc < 0 ? rc : fceSetMode(0, 'B');
}

QStringList TestFtps::dataSessions() const {
    QStringList sessions;
    static const QRegularExpression line("Data connection: TLS 1\\.[23] \\(\\w+\\), (session resumed|new)");
    for (auto match = line.globalMatch(trace()); match.hasNext();)
        sessions << (match.next().captured(1) == "session resumed" ? "resumed" : "new");
    return sessions;
}

void TestFtps::roundTripResumesEveryDataConnection_data() {
    QTest::addColumn<bool>("vsftpd");
    QTest::addColumn<bool>("implicitTls");
    QTest::addColumn<QString>("version");
    QTest::newRow("pyftpdlib, TLS 1.3") << false << false << "TLS 1.3";
    QTest::newRow("pyftpdlib, TLS 1.2") << false << false << "TLS 1.2";
    QTest::newRow("vsftpd, TLS 1.3") << true << false << "TLS 1.3";
    QTest::newRow("vsftpd, TLS 1.2") << true << false << "TLS 1.2";
    QTest::newRow("vsftpd, implicit") << true << true << "TLS 1.3";
}

// A restore (upload) then a backup (download) of a small tree, compared byte for byte.
void TestFtps::roundTripResumesEveryDataConnection() {
    QFETCH(bool, vsftpd);
    QFETCH(bool, implicitTls);
    QFETCH(QString, version);
    const bool tls12 = version == "TLS 1.2";
    FtpServerFixture pyftpdlib;
    VsftpdFixture strict;
    QString server;
    if (vsftpd) {
        if (QString why = strict.start(implicitTls, tls12); !why.isEmpty())
            QSKIP(qPrintable(why));
        server = (implicitTls ? "ftps://" : "ftpes://") + strict.address();
    } else {
        pyftpdlib.setTlsOffered(true);
        pyftpdlib.setExtraArguments(tls12 ? QStringList{"--tls-max", "1.2"} : QStringList{});
        QVERIFY(pyftpdlib.start());
        server = pyftpdlib.address();
    }
    const QString source = m_work->path() + "/source", target = m_work->path() + "/target";
    QVERIFY(QDir().mkpath(source + "/SUB") && QDir().mkpath(target + "/SUB"));
    const QStringList files{"a.wav", "b.msg", "SUB/c.dat"};
    for (int i = 0; i < files.size(); ++i)
        QVERIFY(writeFile(source + "/" + files[i], patternBytes(70000 * i + 1, i)));

    EngineSession engine(2);
    QCOMPARE(fceSetString(0, FCE_TRACE_FILE, m_trace.toUtf8().constData()), 0);
    QCOMPARE(trustAndConnect(server, vsftpd ? "anonymous" : "admin"), 0);
    QVERIFY2(text(FCE_TLS_STATUS).startsWith(version + " (TLS_"), qPrintable(text(FCE_TLS_STATUS)));
    auto transfer = [&](const QString& local, bool upload) {
        QVERIFY(fceSetServerDir(0, "\\") == 0 && (!vsftpd || fceSetServerDir(0, "data") == 0));
        std::string listing;
        for (const char* folder : {"", "SUB"}) {
            QVERIFY(*folder == '\0' ||
                    ((!upload || fceMakeServerDir(0, folder) == 0) && fceSetServerDir(0, folder) == 0));
            QCOMPARE(fceSetLocalDir(0, (local + "/" + folder).toUtf8().constData()), 0);
            QVERIFY(fceGetList(0, 1, listing) >= 0);
            for (const QString& file : files.filter(QRegularExpression(*folder ? "^SUB/" : "^[^/]+$"))) {
                const QByteArray name = file.section('/', -1).toUtf8();
                QCOMPARE(upload ? fcePutFile(0, name.constData()) : fceGetFile(0, name.constData()), 0);
            }
        }
    };
    transfer(source, true);
    transfer(target, false);
    for (const QString& file : files)
        QCOMPARE(readFile(target + "/" + file), readFile(source + "/" + file));
    QCOMPARE(dataSessions(), QStringList(10, "resumed")); // 4 listings, 3 uploads, 3 downloads
    // A further connection is held to the first one's certificate, and resumes its own session too.
    QCOMPARE(fceConnectAs(1, 0), 0);
    QVERIFY(fceSetServerPath(1, vsftpd ? "data" : "") == 0 &&
            fceSetLocalDir(1, target.toUtf8().constData()) == 0);
    QVERIFY(fceSetInteger(1, FCE_REPLACE_LOCAL, 1) == 0 && fceGetFile(1, "a.wav") == 0);
    QCOMPARE(dataSessions(), QStringList(11, "resumed"));
    QVERIFY(trace().contains("[1] * Control connection: " + version) &&
            trace().contains("the first connection's certificate"));
}

void TestFtps::schemeChoosesTheProtection_data() {
    QTest::addColumn<bool>("tlsServer");
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QJsonObject>("faults");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("words"); // in the error text, or the TLS status on success
    QTest::addColumn<QStringList>("commands");
    const QStringList login{"USER admin", "PASS tamsk"};
    const QStringList secured = QStringList{"AUTH TLS"} + login + QStringList{"PBSZ 0", "PROT P", "FEAT"};
    QTest::newRow("bare host, plain server")
        << false << "" << QJsonObject() << 0 << "" << QStringList{"AUTH TLS"} + login + QStringList{"FEAT"};
    QTest::newRow("bare host, TLS server") << true << "" << QJsonObject() << 0 << "TLS 1.3" << secured;
    QTest::newRow("ftp:// never asks for TLS")
        << true << "ftp://" << QJsonObject() << 0 << "" << login + QStringList{"FEAT"};
    QTest::newRow("ftpes:// to a plain server") << false << "ftpes://" << QJsonObject() << int(FCE_E_TLS)
                                                << "The server refused TLS: 500" << QStringList{"AUTH TLS"};
    // A server that says yes to AUTH TLS and then speaks clear text: a failure, never a fallback.
    const QJsonObject fakeAuth{
        {"fail", QJsonObject{{"command", "AUTH"}, {"code", 234}, {"text", "Go ahead.\r\n500 Clear."}}}};
    QTest::newRow("handshake fails after 234")
        << false << "" << fakeAuth << int(FCE_E_TLS) << "TLS handshake failed" << QStringList{"AUTH TLS"};
    const QJsonObject refuseProt{
        {"fail", QJsonObject{{"command", "PROT"}, {"code", 534}, {"text", "Clear only."}}}};
    QTest::newRow("ftps:// without a port goes to 990")
        << false << "ftps://127.0.0.1" << QJsonObject() << int(FCE_E_CONNECT) << "refused by 127.0.0.1:990"
        << QStringList();
    QTest::newRow("PROT P refused") << true << "ftpes://" << refuseProt << int(FCE_E_TLS) << "534 Clear only."
                                    << secured.mid(0, 5);
}

void TestFtps::schemeChoosesTheProtection() {
    QFETCH(bool, tlsServer);
    QFETCH(QString, scheme);
    QFETCH(QJsonObject, faults);
    QFETCH(int, result);
    QFETCH(QString, words);
    QFETCH(QStringList, commands);
    FtpServerFixture server;
    server.setTlsOffered(tlsServer);
    QVERIFY(server.start());
    EngineSession engine;
    fceSetInteger(0, FCE_CONNECT_TIMEOUT_MS, EngineSession::kTimeoutMs);
    if (tlsServer) {
        QCOMPARE(trustAndConnect(server.address()), 0);
        fceClose(0);
    }
    server.setFaults(faults);
    server.clearCommands();
    // A scheme with its own address stands alone.
    const QString address = scheme.contains("127.") ? scheme : scheme + server.address();
    int32_t rc = fceConnect(0, address.toUtf8().constData(), "admin", "tamsk");
    QCOMPARE(rc, int32_t(result));
    if (rc < 0)
        QVERIFY2(EngineSession::errorText(rc).contains(words), qPrintable(EngineSession::errorText(rc)));
    else
        QVERIFY2(text(FCE_TLS_STATUS).startsWith(words) &&
                     (words.isEmpty() == text(FCE_TLS_STATUS).isEmpty()),
                 qPrintable(text(FCE_TLS_STATUS)));
    // Only the login's commands: a failed handshake leaves bytes the server takes for a command line.
    QCOMPARE(server.commands().filter(QRegularExpression("^(AUTH|USER|PASS|PBSZ|PROT|FEAT)")), commands);
}

void TestFtps::unprovenDownloadKeepsTheOlderCopy_data() {
    QTest::addColumn<int>("cutAfter"); // 0: the data connection presents another certificate
    QTest::newRow("cut short") << 1000;
    QTest::newRow("every byte, no close_notify") << 5000;
    QTest::newRow("data connection with another certificate") << 0;
}

// The server claims success, but only a close_notify proves the end, and only the server's own certificate
// the other end of a data connection: the older copy stays.
void TestFtps::unprovenDownloadKeepsTheOlderCopy() {
    QFETCH(int, cutAfter);
    FtpServerFixture server;
    server.setTlsOffered(true);
    QVERIFY(server.start());
    QVERIFY(writeFile(server.root() + "/x.wav", patternBytes(5000, 1)));
    const QByteArray older = patternBytes(300, 2);
    QVERIFY(writeFile(m_work->path() + "/x.wav", older));
    EngineSession engine;
    QCOMPARE(fceSetString(0, FCE_TRACE_FILE, m_trace.toUtf8().constData()), 0);
    QCOMPARE(trustAndConnect(server.address()), 0);
    QCOMPARE(fceSetLocalDir(0, m_work->path().toUtf8().constData()), 0);
    QCOMPARE(fceSetInteger(0, FCE_REPLACE_LOCAL, 1), 0);
    QJsonObject fault{{"drop_data", QJsonObject{{"command", "RETR"},
                                                {"after_bytes", cutAfter},
                                                {"unclean", true},
                                                {"code", 226},
                                                {"text", "Transfer complete."},
                                                {"times", 1}}}};
    QTemporaryDir other;
    QString pem, fingerprint;
    if (cutAfter == 0) { // someone between the two ends, with a certificate of their own
        QVERIFY(makeTestCertificate(other.path(), pem, fingerprint));
        fault = {{"data_certificate", QJsonObject{{"pem", pem}, {"times", 1}}}};
    }
    server.setFaults(fault);
    QCOMPARE(fceGetFile(0, "x.wav"), int32_t(cutAfter ? FCE_E_INCOMPLETE : FCE_E_UNTRUSTED_CERTIFICATE));
    QCOMPARE(readFile(m_work->path() + "/x.wav"), older);
    QCOMPARE(entriesOf(m_work->path()), (QStringList{"trace.log", "x.wav"}));
    // The broken connection spoiled only its own copy of the session: the next one resumes.
    QCOMPARE(fceGetFile(0, "x.wav"), 0);
    QCOMPARE(readFile(m_work->path() + "/x.wav"), patternBytes(5000, 1));
    QCOMPARE(dataSessions(), (cutAfter ? QStringList{"resumed", "resumed"} : QStringList{"resumed"}));
}

void TestFtps::expiredSessionLogsInAgain() {
    FtpServerFixture server;
    server.setTlsOffered(true);
    server.setExtraArguments({"--tls-session-timeout", "4"});
    QVERIFY(server.start());
    QVERIFY(QDir(server.root()).mkpath("DTA"));
    QVERIFY(writeFile(server.root() + "/DTA/x.wav", patternBytes(2000, 3)));
    EngineSession engine;
    QCOMPARE(fceSetString(0, FCE_TRACE_FILE, m_trace.toUtf8().constData()), 0);
    QCOMPARE(trustAndConnect(server.address()), 0);
    QCOMPARE(fceSetServerDir(0, "DTA"), 0);
    QCOMPARE(fceSetLocalDir(0, m_work->path().toUtf8().constData()), 0);
    server.clearCommands();
    QThread::msleep(3500); // past the session's lifetime less the engine's safety margin
    QCOMPARE(fceGetFile(0, "x.wav"), 0);
    QCOMPARE(readFile(m_work->path() + "/x.wav"), patternBytes(2000, 3));
    const QStringList commands = server.commands();
    QCOMPARE(commands.mid(commands.indexOf("PWD"), 3), (QStringList{"PWD", "QUIT", "AUTH TLS"}));
    QVERIFY2(commands.contains("CWD /DTA") && commands.contains("TYPE I"), qPrintable(commands.join('|')));
    QCOMPARE(dataSessions(), QStringList{"resumed"});
}

QTEST_GUILESS_MAIN(TestFtps)
#include "tst_ftps.moc"
