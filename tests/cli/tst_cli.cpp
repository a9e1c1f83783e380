#include "TransferWorld.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <sys/stat.h>

// kavrel-cli run as cron runs it, against the test server: what it backs up and restores, its exit
// status, and what it prints (with --quiet only what went wrong).
class TestCli : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void backup();
    void exitStatus_data();
    void exitStatus();

private:
    QString settingsPath() const { return work->filePath("job/kavrel-job.INI"); }
    QString backupDir() const { return work->filePath("backup"); }
    bool writeSettings(const QString& server);

    std::unique_ptr<QTemporaryDir> work;
    std::unique_ptr<FtpServerFixture> server;
};

void TestCli::init() {
    work = std::make_unique<QTemporaryDir>();
    server = std::make_unique<FtpServerFixture>();
    QVERIFY(server->start() && writeSampleTree(server->root()));
    QVERIFY(writeSettings(server->address()));
}

void TestCli::cleanup() {
    server.reset();
    work.reset();
}

bool TestCli::writeSettings(const QString& address) {
    return writeFile(settingsPath(), QString("[Connection]\nServer=%1\nUser=admin\nPassword=tamsk\n"
                                             "[LocalHost]\nDataPath=%2\n")
                                         .arg(address, backupDir())
                                         .toUtf8());
}

// A backup end to end; the settings file is read, never written.
void TestCli::backup() {
    const QByteArray settings = treeOf(work->filePath("job")).value("kavrel-job.INI");
    QCOMPARE(QProcess::execute(KAVREL_CLI_PATH, {"backup", "--settings", settingsPath()}), 0);
    QCOMPARE(treeOf(backupDir()), sampleBackup());
    QCOMPARE(treeOf(work->filePath("job")).value("kavrel-job.INI"), settings);
}

void TestCli::exitStatus_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QJsonObject>("faults");
    QTest::addColumn<int>("signal"); // sent while the first file moves; 0 for none
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said");       // what stdout and stderr must hold
    QTest::addColumn<QString>("connection"); // the settings' [Connection] section
    QTest::addColumn<int>("permissions");
    const QStringList backup{"backup", "-q", "--settings=SETTINGS"};
    const auto row = [&](const char* tag, const QStringList& arguments, const QJsonObject& faults, int signal,
                         int status, const QString& said, const QString& connection = "<test server>",
                         int permissions = 0600) {
        QTest::newRow(tag) << arguments << faults << signal << status << said << connection << permissions;
    };
    row("completed, quiet", backup, {}, 0, 0, "");
    row("a file fails", backup, {{"transfer_error", QJsonObject{{"name", "m2.msg"}}}}, 0, 1,
        "Backup halted prematurely.");
    row("login refused", {"restore", "-q", "--settings", "SETTINGS"}, {{"refuse_login", true}}, 0, 2,
        "530 Login incorrect.");
    const QJsonObject slow{{"throttle", QJsonObject{{"command", "RETR"}, {"bytes_per_second", 20000}}}};
    row("SIGINT", backup, slow, SIGINT, 3, "Backup halted by user.");
    row("SIGTERM", backup, slow, SIGTERM, 3, "Backup halted by user.");
    row("settings file binary", {"backup", "--settings", "BINARY"}, {}, 0, 64, "not a settings file");
    // Never the window's first-run defaults: a scheduled run must not back up some other server.
    const QString unreachable = "[Connection]\nServer=127.0.0.1:1\n";
    row("no connection section", backup, {}, 0, 64, "no Server key in the [Connection] section", "");
    row("no user", backup, {}, 0, 64, "no User key in the [Connection] section",
        unreachable + "Password=p\n");
    row("no password", backup, {}, 0, 64, "no Password key in the [Connection] section",
        unreachable + "User=u\n");
    row("password readable by others", backup, {}, 0, 2, "holds the password and can be read by other users",
        unreachable + "User=u\nPassword=p\n", 0644);
}

// A run that does not complete always says why, even with --quiet: cron mails what it prints.
void TestCli::exitStatus() {
    QFETCH(QStringList, arguments);
    QFETCH(QJsonObject, faults);
    QFETCH(int, signal);
    QFETCH(int, status);
    QFETCH(QString, said);
    QFETCH(QString, connection);
    QFETCH(int, permissions);
    if (connection != "<test server>")
        QVERIFY(
            writeFile(settingsPath(), (connection + "[LocalHost]\nDataPath=" + backupDir() + "\n").toUtf8()));
    QVERIFY(::chmod(QFile::encodeName(settingsPath()).constData(), mode_t(permissions)) == 0);
    const QString binary = work->filePath("job/binary.INI");
    QVERIFY(writeFile(binary, QByteArray("[Connection]\nServer=127.0.0.1\n\0\x01", 32)));
    arguments.replaceInStrings("SETTINGS", settingsPath()).replaceInStrings("BINARY", binary);
    server->setFaults(faults);
    QProcess process;
    process.start(KAVREL_CLI_PATH, arguments);
    QVERIFY(process.waitForStarted());
    if (signal != 0) {
        QDeadlineTimer deadline(20000);
        while (server->commands().filter("RETR ").isEmpty() && !deadline.hasExpired())
            QTest::qWait(20);
        QCOMPARE(::kill(pid_t(process.processId()), signal), 0);
    }
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), status);
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    const QString all = out + QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(all.contains(said) && all.count("read by other users") <= 1, qPrintable(all));
    if (status == 0)
        QCOMPARE(out, QString());
    if (signal != 0)
        QCOMPARE(server->commands().filter("RETR ").size(), 1); // the file in hand completes, no other starts
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
