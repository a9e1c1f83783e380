// Connect, Disconnect, Abort and Exit, against a real FTP server on loopback.

#include "FtpServerFixture.h"
#include "Kavrel.h"
#include "MessageBoxRecorder.h"
#include "TemporaryProgramFolder.h"
#include "WindowInspection.h"

#include "ftpengine/FtpEngine.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <new>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

using WindowInspection::control;
using WindowInspection::logLines;

namespace {

QString engineText(int32_t code) {
    char text[129] = {};
    const int32_t length = fceErrorText(0, code, text, 128);
    return QString::fromUtf8(text, std::max(length, 0));
}

// A loopback port on which nothing listens: bound to find a free one, then closed again.
quint16 closedPort() {
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    if (socket < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    quint16 port = 0;
    if (::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(socket);
    return port;
}

} // namespace

class ConnectionTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void emptyFieldsAreRefusedWithABox_data();
    void emptyFieldsAreRefusedWithABox();
    void blankOnlyServerNameGoesToTheEngine();
    void realConnectLogsThreeLinesAndEndsConnected();
    void connectWorksOnlyWhileDisconnected();
    void wrongPasswordLogsTheEnginesTextAndStaysDisconnected();
    void refusedPortLogsTheEnginesTextAndStaysDisconnected();
    void internalErrorIsReportedOnTwoLines_data();
    void internalErrorIsReportedOnTwoLines();
    void disconnectClosesTheConnection();
    void failedDisconnectKeepsTheSession();
    void disconnectWhileDisconnectedDoesNothing();
    void abortOnlySetsTheFlag();
    void exitClosesTheWindow();

private:
    void fillConnectionFields(const QString& server, const QString& user, const QString& password);
    void connectToFixture();

    FtpServerFixture m_server;
    std::unique_ptr<TemporaryProgramFolder> m_folder;
    MessageBoxRecorder m_boxes;
    std::unique_ptr<Kavrel> m_window;
};

void ConnectionTest::initTestCase() {
    QVERIFY(m_server.start());
}

void ConnectionTest::init() {
    m_folder = std::make_unique<TemporaryProgramFolder>();
    m_boxes.clear();
    m_boxes.setWhileOpen(nullptr);
    m_window = std::make_unique<Kavrel>(&m_boxes);
    m_window->Form_Load();
    m_window->ClearLog();
    m_server.clearCommands();
}

void ConnectionTest::cleanup() {
    m_window.reset();
    m_folder.reset();
}

void ConnectionTest::fillConnectionFields(const QString& server, const QString& user,
                                          const QString& password) {
    control<QLineEdit>(*m_window, "eServer")->setText(server);
    control<QLineEdit>(*m_window, "eUser")->setText(user);
    control<QLineEdit>(*m_window, "ePassword")->setText(password);
}

void ConnectionTest::connectToFixture() {
    fillConnectionFields(m_server.address(), "admin", "tamsk");
    m_window->bConnect_Click();
    QCOMPARE(m_window->FTPState(), Kavrel::StateConnected);
    m_window->ClearLog();
}

void ConnectionTest::emptyFieldsAreRefusedWithABox_data() {
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("focus");
    QTest::newRow("no server") << ""
                               << "admin"
                               << "tamsk"
                               << "No server name or address specified."
                               << "eServer";
    QTest::newRow("all empty") << ""
                               << ""
                               << ""
                               << "No server name or address specified."
                               << "eServer";
    QTest::newRow("no user") << "pbx"
                             << ""
                             << "tamsk"
                             << "No user name specifed."
                             << "eUser";
    QTest::newRow("no user, no password") << "pbx"
                                          << ""
                                          << ""
                                          << "No user name specifed."
                                          << "eUser";
    QTest::newRow("no password") << "pbx"
                                 << "admin"
                                 << ""
                                 << "No password specified."
                                 << "ePassword";
}

void ConnectionTest::emptyFieldsAreRefusedWithABox() {
    QFETCH(QString, server);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, message);
    QFETCH(QString, focus);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    control<QWidget>(*m_window, "bConnect")->setFocus();
    fillConnectionFields(server, user, password);
    m_window->bConnect_Click();
    QCOMPARE(m_boxes.count(), 1);
    QCOMPARE(m_boxes.last().text, message);
    QCOMPARE(m_boxes.last().title, QStringLiteral("Connection Error"));
    QCOMPARE(m_boxes.last().style, 48);
    QVERIFY(m_window->focusWidget() != nullptr);
    QCOMPARE(m_window->focusWidget()->objectName(), focus);
    QVERIFY(m_window->MessageLogText().isEmpty());
    QCOMPARE(m_window->FTPState(), Kavrel::StateDisconnected);
    QVERIFY(m_server.commands().isEmpty());
}

void ConnectionTest::blankOnlyServerNameGoesToTheEngine() {
    fillConnectionFields("   ", "admin", "tamsk");
    m_window->bConnect_Click();
    QCOMPARE(m_boxes.count(), 0);
    QCOMPARE(m_window->ConnectServer, std::string("   \0", 4));
    const QStringList lines = logLines(*m_window);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.at(0), QStringLiteral("Connecting to server..."));
    // The engine was asked for the host "   " itself, untrimmed, and could not resolve it.
    QCOMPARE(lines.at(1), engineText(FCE_E_RESOLVE));
    QVERIFY2(lines.at(1).startsWith(QStringLiteral("Unknown host    :")), qPrintable(lines.at(1)));
    QCOMPARE(m_window->FTPState(), Kavrel::StateDisconnected);
    QVERIFY(control<QWidget>(*m_window, "bConnect")->isEnabled());
}

void ConnectionTest::realConnectLogsThreeLinesAndEndsConnected() {
    fillConnectionFields(m_server.address(), "admin", "tamsk");
    m_window->bConnect_Click();
    QCOMPARE(logLines(*m_window), (QStringList{"Connecting to server...",
                                               "Connected to " + m_server.address(), "Mode set to Binary"}));
    QCOMPARE(m_window->FTPState(), Kavrel::StateConnected);
    QCOMPARE(m_window->ConnectServer, m_server.address().toStdString() + '\0');
    QCOMPARE(m_window->ConnectUser, std::string("admin", 6));
    QCOMPARE(m_window->ConnectPassword, std::string("tamsk", 6));
    QVERIFY(control<QWidget>(*m_window, "bQuit")->isEnabled());
    QVERIFY(control<QWidget>(*m_window, "bGet")->isEnabled());
    QVERIFY(!control<QWidget>(*m_window, "bConnect")->isEnabled());
    const QStringList commands = m_server.commands();
    QVERIFY2(commands.contains(QStringLiteral("USER admin")), qPrintable(commands.join('|')));
    QVERIFY(commands.contains(QStringLiteral("PASS tamsk")));
    QVERIFY(commands.contains(QStringLiteral("TYPE I")));
    QCOMPARE(m_boxes.count(), 0);
}

void ConnectionTest::connectWorksOnlyWhileDisconnected() {
    fillConnectionFields("", "", "");
    m_window->SetNewState(Kavrel::StateConnected);
    m_window->bConnect_Click();
    QCOMPARE(m_boxes.count(), 0);
    QVERIFY(m_window->MessageLogText().isEmpty());
    QCOMPARE(m_window->FTPState(), Kavrel::StateConnected);
}

void ConnectionTest::wrongPasswordLogsTheEnginesTextAndStaysDisconnected() {
    fillConnectionFields(m_server.address(), "admin", "wrong");
    m_window->bConnect_Click();
    const QStringList lines = logLines(*m_window);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.at(0), QStringLiteral("Connecting to server..."));
    QCOMPARE(lines.at(1), engineText(FCE_E_LOGIN));
    QVERIFY(!lines.at(1).isEmpty());
    QCOMPARE(m_window->FTPState(), Kavrel::StateDisconnected);
    QVERIFY(control<QWidget>(*m_window, "eServer")->isEnabled());
    QCOMPARE(m_window->cursor().shape(), Qt::ArrowCursor);
    QVERIFY(m_server.commands().contains(QStringLiteral("PASS wrong")));
}

void ConnectionTest::refusedPortLogsTheEnginesTextAndStaysDisconnected() {
    const quint16 port = closedPort();
    QVERIFY(port != 0);
    fillConnectionFields(QStringLiteral("127.0.0.1:%1").arg(port), "admin", "tamsk");
    m_window->bConnect_Click();
    const QStringList lines = logLines(*m_window);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.at(0), QStringLiteral("Connecting to server..."));
    QCOMPARE(lines.at(1), engineText(FCE_E_CONNECT));
    QVERIFY(!lines.at(1).isEmpty());
    QCOMPARE(m_window->FTPState(), Kavrel::StateDisconnected);
}

void ConnectionTest::internalErrorIsReportedOnTwoLines_data() {
    QTest::addColumn<bool>("outOfMemory");
    QTest::addColumn<QString>("detail");
    QTest::newRow("runtime error") << false << "     5 - the box could not be shown";
    QTest::newRow("out of memory") << true << "     7 - std::bad_alloc";
}

void ConnectionTest::internalErrorIsReportedOnTwoLines() {
    QFETCH(bool, outOfMemory);
    QFETCH(QString, detail);
    m_boxes.setWhileOpen([outOfMemory](const MessageBoxRecorder::Box&) {
        if (outOfMemory)
            throw std::bad_alloc();
        throw std::runtime_error("the box could not be shown");
    });
    fillConnectionFields("", "admin", "tamsk");
    m_window->SetNewState(Kavrel::StateDisconnected);
    m_window->ClearLog();
    m_window->bConnect_Click();
    QCOMPARE(logLines(*m_window), (QStringList{"Internal error in Kavrel.bConnect_Click()", detail}));
    QCOMPARE(m_window->FTPState(), Kavrel::StateDisconnected);
    QVERIFY(control<QWidget>(*m_window, "bConnect")->isEnabled());
}

void ConnectionTest::disconnectClosesTheConnection() {
    connectToFixture();
    m_server.clearCommands();
    m_window->bQuit_Click();
    QCOMPARE(m_window->FTPState(), Kavrel::StateDisconnected);
    QVERIFY(m_window->MessageLogText().isEmpty());
    QVERIFY(control<QWidget>(*m_window, "bConnect")->isEnabled());
    QVERIFY(!control<QWidget>(*m_window, "bQuit")->isEnabled());
    QTRY_VERIFY(m_server.commands().contains(QStringLiteral("QUIT")));
}

void ConnectionTest::failedDisconnectKeepsTheSession() {
    connectToFixture();
    // The engine going away under the session is a close that cannot be made.
    QCOMPARE(fceRelease(), 0);
    m_window->bQuit_Click();
    QCOMPARE(logLines(*m_window), QStringList{engineText(FCE_E_NOT_ATTACHED)});
    QCOMPARE(m_window->FTPState(), Kavrel::StateConnected);
    QVERIFY(control<QWidget>(*m_window, "bQuit")->isEnabled());
    // Disconnect can be pressed again, and works once the engine answers.
    QVERIFY(fceAttach(1) >= 0);
    m_window->bQuit_Click();
    QCOMPARE(m_window->FTPState(), Kavrel::StateDisconnected);
}

void ConnectionTest::disconnectWhileDisconnectedDoesNothing() {
    m_window->bQuit_Click();
    QVERIFY(m_window->MessageLogText().isEmpty());
    QCOMPARE(m_window->FTPState(), Kavrel::StateDisconnected);
    QVERIFY(m_server.commands().isEmpty());
}

void ConnectionTest::abortOnlySetsTheFlag() {
    connectToFixture();
    m_server.clearCommands();
    m_window->cmdAbort_Click();
    QVERIFY(m_window->AbortRequested());
    QCOMPARE(m_window->FTPState(), Kavrel::StateConnected);
    QVERIFY(m_window->MessageLogText().isEmpty());
    m_window->cmdAbort_Click();
    QVERIFY(m_window->AbortRequested());
    QVERIFY(m_server.commands().isEmpty());
}

void ConnectionTest::exitClosesTheWindow() {
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QTest::mouseClick(control<QWidget>(*m_window, "bExit"), Qt::LeftButton);
    QVERIFY(!m_window->isVisible());
    QVERIFY(m_window->IsUnloaded());
    QVERIFY(m_folder->settingsExist());
    QCOMPARE(fceGetInteger(0, FCE_VERSION), int32_t(FCE_E_NOT_ATTACHED));
}

QTEST_MAIN(ConnectionTest)
#include "tst_connection.moc"
