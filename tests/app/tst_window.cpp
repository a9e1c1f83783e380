#include "FtpServerFixture.h"
#include "Kavrel.h"
#include "MessageBoxRecorder.h"
#include "TemporaryProgramFolder.h"
#include "TransferWorld.h"

#include "ftpengine/FtpEngine.h"
#include "settings/TrustStore.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

// The control of that objectName and kind, as the user sees it.
template <class Control> Control* control(const QWidget& window, const char* name) {
    return window.findChild<Control*>(QLatin1String(name));
}

// The window against the test server: its settings, its session states, the command paths through its
// buttons (Abort and closing: tst_xinput), and the question a certificate it cannot verify raises, with
// the list of trusted certificates beside the settings file.
class TestWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void settingsAreShownAndSavedOnClose();
    void connect_data();
    void connect();
    void backupAndRestore();
    void untrustedCertificate_data();
    void untrustedCertificate();

private:
    void fill(const QString& server, const QString& user, const QString& password);
    // The enabled controls among those the session state sets, e.g. "bQuit bExit ... bGet bPut".
    QString enabledControls() const;

    FtpServerFixture server;
    FtpServerFixture tlsServer; // with a self-signed certificate
    std::unique_ptr<TemporaryProgramFolder> folder;
    MessageBoxRecorder boxes;
    std::unique_ptr<Kavrel> window;
    QString base;
};

void TestWindow::initTestCase() {
    tlsServer.setTlsOffered(true);
    QVERIFY(server.start() && tlsServer.start());
}

void TestWindow::init() {
    QVERIFY(QDir(server.root()).removeRecursively() && writeSampleTree(server.root()));
    server.setFaults({});
    folder = std::make_unique<TemporaryProgramFolder>();
    base = folder->path() + "/backup";
    boxes.clear();
    boxes.setWhileOpen({});
    boxes.setAnswer(false);
    window = std::make_unique<Kavrel>(&boxes);
}

void TestWindow::cleanup() {
    window.reset();
    folder.reset();
}

void TestWindow::fill(const QString& address, const QString& user, const QString& password) {
    control<QLineEdit>(*window, "eServer")->setText(address);
    control<QLineEdit>(*window, "eUser")->setText(user);
    control<QLineEdit>(*window, "ePassword")->setText(password);
    control<QLineEdit>(*window, "eLocalDir")->setText(base);
}

QString TestWindow::enabledControls() const {
    QStringList names;
    for (const char* name :
         {"eServer", "eUser", "ePassword", "bConnect", "bQuit", "bExit", "bLocalDir", "chkApplication",
          "chkPrompts", "chkMessages", "chkMailboxes", "bGet", "bPut", "cmdAbort"}) {
        if (control<QWidget>(*window, name)->isEnabled())
            names << name;
    }
    return names.join(' ');
}

// What the settings file holds fills the window; what the window holds is written when it closes, a
// greyed box as not ticked.
void TestWindow::settingsAreShownAndSavedOnClose() {
    QVERIFY(folder->writeSettings("[Connection]\nServer=pbx:2121\nUser=op\nPassword=pw\n"
                                  "[Selection]\nData=1\nPrompt=0\nMessage=1\nMailbox=1\n"
                                  "[LocalHost]\nDataPath=/srv/b\n[Generations]\nKeepDaily=x\n"));
    window->Form_Load();
    QCOMPARE(control<QLineEdit>(*window, "eServer")->text(), QString("pbx:2121"));
    QCOMPARE(control<QLineEdit>(*window, "eLocalDir")->text(), QString("/srv/b"));
    QVERIFY(!control<QCheckBox>(*window, "chkPrompts")->isChecked());
    QVERIFY(window->MessageLogText().startsWith("FTP Client Engine Version 1.0.0"));
    QVERIFY(window->grab().save(KAVREL_BUILD_DIR "/window.png"));           // for the README's picture
    QVERIFY(window->windowIcon().availableSizes().contains(QSize(48, 48))); // the package's own icon
    QVERIFY(window->MessageLogText().contains(
        "[Generations] KeepDaily=\"x\" is not a whole number from 0 to 240: its default is used."));
    QCOMPARE(enabledControls(), QString("eServer eUser ePassword bConnect bExit bLocalDir chkApplication "
                                        "chkPrompts chkMessages chkMailboxes"));
    control<QLineEdit>(*window, "ePassword")->setText("pa ss;word");
    QCOMPARE(control<QLineEdit>(*window, "ePassword")->displayText(), QString(10, '*'));
    control<QCheckBox>(*window, "chkMessages")->setCheckState(Qt::PartiallyChecked);
    QVERIFY(window->close());
    const QString saved = folder->settingsText();
    for (const char* line : {"Server=pbx:2121", "Password=pa ss;word", "Data=1", "Prompt=0", "Message=0",
                             "Mailbox=1", "DataPath=/srv/b", "Mailbox=C:\\MBX", "KeepDaily=x"})
        QVERIFY2(saved.contains(QString(line) + '\n'), qPrintable(saved));
    // Loosened by someone else: the next start takes none of it, says why, and leaves it as it is.
    QVERIFY(QFile::setPermissions(folder->settingsPath(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::WriteOther));
    window = std::make_unique<Kavrel>(&boxes);
    window->Form_Load();
    QCOMPARE(control<QLineEdit>(*window, "eServer")->text(), QString("trelvik"));
    QVERIFY(window->MessageLogText().contains("other users can write to it. Mend it with: chmod go-w"));
    QVERIFY(window->close() && folder->settingsText() == saved);
}

void TestWindow::connect_data() {
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("box");
    QTest::newRow("connected") << "admin"
                               << "tamsk" << int(Kavrel::StateConnected) << QString();
    QTest::newRow("wrong password") << "admin"
                                    << "wrong" << int(Kavrel::StateDisconnected) << QString();
    QTest::newRow("no password") << "admin" << QString() << int(Kavrel::StateDisconnected)
                                 << "No password specified.";
}

void TestWindow::connect() {
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(int, state);
    QFETCH(QString, box);
    window->Form_Load();
    fill(server.address(), user, password);
    QTest::mouseClick(control<QPushButton>(*window, "bConnect"), Qt::LeftButton);
    QCOMPARE(window->FTPState(), state);
    QCOMPARE(boxes.count(), box.isEmpty() ? 0 : 1);
    if (!box.isEmpty())
        QCOMPARE(boxes.last().text, box);
    if (state == Kavrel::StateConnected) {
        QVERIFY(
            window->MessageLogText().endsWith("Connecting to server...\r\nConnected to " + server.address() +
                                              "\r\nMode set to Binary\r\nConnected without encryption: the "
                                              "server does not offer TLS\r\n"));
        // The time limits the manuals give: 3 s for the connection and greeting, 60 s of silence.
        QVERIFY(fceGetInteger(0, FCE_CONNECT_TIMEOUT_MS) == 3000 &&
                fceGetInteger(0, FCE_SILENCE_MS) == 60000);
        QCOMPARE(enabledControls(), QString("bQuit bExit bLocalDir chkApplication chkPrompts chkMessages "
                                            "chkMailboxes bGet bPut"));
        QTest::mouseClick(control<QPushButton>(*window, "bQuit"), Qt::LeftButton);
        QCOMPARE(window->FTPState(), int(Kavrel::StateDisconnected));
    }
    QVERIFY(control<QPushButton>(*window, "bConnect")->isEnabled());
}

// Backup and Restore end to end through the buttons, generations off by the settings; the summary box
// comes while the session still transfers, and only Abort can be pressed then.
void TestWindow::backupAndRestore() {
    QVERIFY(folder->writeSettings("[Generations]\nKeepDaily=0\nKeepWeekly=0\nKeepMonthly=0\n"));
    window->Form_Load();
    fill(server.address(), "admin", "tamsk");
    QTest::mouseClick(control<QPushButton>(*window, "bConnect"), Qt::LeftButton);
    QString whileOpen;
    boxes.setWhileOpen([&](const MessageBoxRecorder::Box&) { whileOpen = enabledControls(); });
    QTest::mouseClick(control<QPushButton>(*window, "bGet"), Qt::LeftButton);
    QCOMPARE(boxes.last().text, QString("Backup completed."));
    QCOMPARE(whileOpen, QString("cmdAbort"));
    QCOMPARE(treeOf(base), sampleBackup());

    QVERIFY(QDir(server.root()).removeRecursively() && QDir().mkpath(server.root()));
    // The transfers' own temporaries never reach the server.
    QVERIFY(writeFile(base + "/MSG/.kavrel-part-0123abcd", "partial") &&
            writeFile(base + "/PMT/.kavrel-staging/p9.wav", "staged"));
    QTest::mouseClick(control<QPushButton>(*window, "bPut"), Qt::LeftButton);
    QCOMPARE(boxes.last().text, QString("Restore completed."));
    QCOMPARE(treeOf(server.root()), sampleBackup());
    QCOMPARE(window->FTPState(), int(Kavrel::StateConnected));
}

void TestWindow::untrustedCertificate_data() {
    QTest::addColumn<QString>("stored"); // "presented" stands for the server's own fingerprint
    QTest::addColumn<bool>("yes");
    QTest::addColumn<int>("questions");
    QTest::addColumn<bool>("connected");
    const QString other = "SHA256:" + QByteArray(32, '\x5a').toHex(':').toUpper();
    QTest::newRow("first use, Yes stores and connects") << "" << true << 1 << true;
    QTest::newRow("first use, No stays disconnected") << "" << false << 1 << false;
    QTest::newRow("trusted before: no question") << "presented" << false << 0 << true;
    QTest::newRow("changed, No keeps the old one") << other << false << 1 << false;
    QTest::newRow("changed, Yes replaces it") << other << true << 1 << true;
    QTest::newRow("trust file read-only, Yes connects once") << "read-only" << true << 1 << true;
}

void TestWindow::untrustedCertificate() {
    QFETCH(QString, stored);
    QFETCH(bool, yes);
    QFETCH(int, questions);
    QFETCH(bool, connected);
    const QString presented = tlsServer.tlsFingerprint();
    const bool writable = stored != "read-only";
    stored = stored == "presented" ? presented : writable ? stored : QString();
    const TrustStore store(TrustStore::pathBeside(folder->settingsPath().toStdString()));
    const std::string address = tlsServer.address().toStdString();
    QVERIFY(stored.isEmpty() || store.trust(address, stored.toStdString()));
    QVERIFY(writable || (writeFile(QString::fromStdString(store.path()), "# none\n") &&
                         QFile::setPermissions(QString::fromStdString(store.path()), QFile::ReadOwner)));
    boxes.setAnswer(yes);
    QStringList sentBeforeAnswer;
    boxes.setWhileOpen([&](const MessageBoxRecorder::Box&) { sentBeforeAnswer = tlsServer.commands(); });
    window->Form_Load();
    tlsServer.clearCommands();
    fill(tlsServer.address(), "admin", "tamsk");
    window->bConnect_Click();

    const QStringList log = window->MessageLogText().split("\r\n");
    QCOMPARE(boxes.count(), questions);
    QCOMPARE(window->FTPState(), connected ? Kavrel::StateConnected : Kavrel::StateDisconnected);
    QCOMPARE(tlsServer.commands().contains("USER admin"), connected);
    QCOMPARE(QString::fromStdString(store.fingerprintFor(address)),
             connected && writable ? presented : stored);
    QCOMPARE(log.filter("could not be stored").size(), writable ? 0 : 1);
    QCOMPARE(log.filter(QRegularExpression("^Connected with TLS 1\\.[23] \\(.+\\)$")).size(),
             connected ? 1 : 0);
    QCOMPARE(log.contains("not trusted: not connected to " + tlsServer.address()), !yes && questions == 1);
    if (questions == 0)
        return;
    QVERIFY2(sentBeforeAnswer.filter(QRegularExpression("^(USER|PASS|PBSZ|PROT)")).isEmpty(),
             qPrintable(sentBeforeAnswer.join('\n')));
    const MessageBoxRecorder::Box question = boxes.last();
    for (const QString& part : {QStringLiteral("CN=127.0.0.1"), QStringLiteral("UTC to")})
        QVERIFY2(question.text.contains(part), qPrintable(question.text));
    // Each fingerprint shown stands apart in two halves, so that it can be compared at a glance.
    const auto halves = [](const QString& print) {
        return "    " + print.left(54) + "\n    " + print.mid(55);
    };
    QVERIFY(question.text.contains(halves(presented)) && !question.text.contains(presented));
    QCOMPARE(window->MessageLogText().contains(halves(presented).replace("\n", "\r\n")), writable);
    const bool changed = !stored.isEmpty();
    QCOMPARE(question.text.contains("CHANGED") && question.text.contains(halves(stored)), changed);
    QCOMPARE((question.style & MessageBoxSeam::StyleDefaultNo) != 0, changed);
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
