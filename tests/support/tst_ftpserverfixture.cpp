#include "FtpServerFixture.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <string>

namespace {

// A bare control connection: enough to see what the server answers, without the engine under test.
class ControlConnection {
public:
    explicit ControlConnection(quint16 port) {
        m_socket = ::socket(AF_INET, SOCK_STREAM, 0);
        timeval timeout{5, 0};
        ::setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = ::connect(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~ControlConnection() { ::close(m_socket); }
    ControlConnection(const ControlConnection&) = delete;
    ControlConnection& operator=(const ControlConnection&) = delete;

    bool connected() const { return m_connected; }

    // The last line of the next reply ("ddd text"), or an empty string when the connection ended.
    QString reply() {
        for (;;) {
            const std::string line = readLine();
            if (line.size() < 4 || line[3] == ' ')
                return QString::fromStdString(line);
        }
    }

    QString command(const QString& line) {
        const std::string text = line.toStdString() + "\r\n";
        if (::send(m_socket, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size()))
            return {};
        return reply();
    }

private:
    std::string readLine() {
        std::string line;
        char c = 0;
        while (::recv(m_socket, &c, 1, 0) == 1) {
            if (c == '\n')
                break;
            if (c != '\r')
                line += c;
        }
        return line;
    }

    int m_socket = -1;
    bool m_connected = false;
};

QString login(ControlConnection& control) {
    control.reply();
    control.command(QStringLiteral("USER admin"));
    return control.command(QStringLiteral("PASS tamsk"));
}

} // namespace

class TestFtpServerFixture : public QObject {
    Q_OBJECT

private slots:
    void startsInEveryListingMode_data();
    void startsInEveryListingMode();
    void rootIsServed();
    void logsCommandsAndClearsThem();
    void faultsApplyAndTurnOff();
    void stopEndsTheServer();
    void restartGivesAFreshRoot();
};

void TestFtpServerFixture::startsInEveryListingMode_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("systemReply");
    QTest::addColumn<QString>("mlsdReplyCode");
    QTest::newRow("mlsd") << int(FtpServerFixture::ListingMode::Mlsd) << "215 UNIX Type: L8"
                          << "150";
    QTest::newRow("unix") << int(FtpServerFixture::ListingMode::UnixList) << "215 UNIX Type: L8"
                          << "500";
    QTest::newRow("dos") << int(FtpServerFixture::ListingMode::DosList) << "215 Windows_NT"
                         << "500";
}

void TestFtpServerFixture::startsInEveryListingMode() {
    QFETCH(int, mode);
    QFETCH(QString, systemReply);
    QFETCH(QString, mlsdReplyCode);
    FtpServerFixture server;
    QVERIFY(server.start(static_cast<FtpServerFixture::ListingMode>(mode)));
    QVERIFY(server.port() > 0);
    QCOMPARE(server.address(), QStringLiteral("127.0.0.1:%1").arg(server.port()));
    ControlConnection control(server.port());
    QVERIFY(control.connected());
    QVERIFY(login(control).startsWith(QLatin1String("230")));
    QCOMPARE(control.command(QStringLiteral("SYST")), systemReply);
    control.command(QStringLiteral("EPSV"));
    QCOMPARE(control.command(QStringLiteral("MLSD")).left(3), mlsdReplyCode);
}

void TestFtpServerFixture::rootIsServed() {
    FtpServerFixture server;
    QVERIFY(server.start());
    QVERIFY(QDir(server.root()).exists());
    QVERIFY(QDir(server.root()).mkdir(QStringLiteral("PMT")));
    ControlConnection control(server.port());
    login(control);
    QCOMPARE(control.command(QStringLiteral("CWD PMT")).left(3), QStringLiteral("250"));
    QCOMPARE(control.command(QStringLiteral("MKD NEW")).left(3), QStringLiteral("257"));
    QVERIFY(QDir(server.root() + QStringLiteral("/PMT/NEW")).exists());
}

void TestFtpServerFixture::logsCommandsAndClearsThem() {
    FtpServerFixture server;
    QVERIFY(server.start());
    {
        ControlConnection control(server.port());
        login(control);
        control.command(QStringLiteral("NOOP"));
    }
    QCOMPARE(server.commands(), (QStringList{"USER admin", "PASS tamsk", "NOOP"}));
    server.clearCommands();
    QVERIFY(server.commands().isEmpty());
    ControlConnection control(server.port());
    login(control);
    QCOMPARE(server.commands(), (QStringList{"USER admin", "PASS tamsk"}));
}

void TestFtpServerFixture::faultsApplyAndTurnOff() {
    FtpServerFixture server;
    QVERIFY(server.start());
    ControlConnection control(server.port());
    login(control);
    server.setFaults(QJsonObject{
        {"fail", QJsonObject{{"command", "MKD"}, {"arg", "PMT"}, {"code", 550}, {"text", "No way."}}}});
    QCOMPARE(control.command(QStringLiteral("MKD PMT")), QStringLiteral("550 No way."));
    QVERIFY(!QDir(server.root() + QStringLiteral("/PMT")).exists());
    server.setFaults(QJsonObject());
    QCOMPARE(control.command(QStringLiteral("MKD PMT")).left(3), QStringLiteral("257"));
}

void TestFtpServerFixture::stopEndsTheServer() {
    FtpServerFixture server;
    QVERIFY(server.start());
    const quint16 port = server.port();
    QVERIFY(server.isRunning());
    server.stop();
    QVERIFY(!server.isRunning());
    ControlConnection control(port);
    QVERIFY(!control.connected());
}

void TestFtpServerFixture::restartGivesAFreshRoot() {
    FtpServerFixture server;
    QVERIFY(server.start());
    const QString firstRoot = server.root();
    QFile marker(firstRoot + QStringLiteral("/marker"));
    QVERIFY(marker.open(QIODevice::WriteOnly));
    marker.close();
    QVERIFY(server.start(FtpServerFixture::ListingMode::DosList));
    QVERIFY(server.root() != firstRoot);
    QVERIFY(!QFile::exists(firstRoot));
    QVERIFY(QDir(server.root()).isEmpty());
}

QTEST_GUILESS_MAIN(TestFtpServerFixture)
#include "tst_ftpserverfixture.moc"
