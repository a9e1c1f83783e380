#include "TransferWorld.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <sys/stat.h>

// kavrel-cli run as cron runs it, against the test server: what it backs up and restores, its exit
// status, and what it prints (with --quiet only what went wrong); a stalled server it must still stop on;
// and a certificate it cannot verify, which it never asks about but refuses, naming the --trust that would
// trust it.
class TestCli : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void exitStatus_data();
    void exitStatus();
    void stalledRunEnds_data();
    void stalledRunEnds();
    void untrustedCertificate_data();
    void untrustedCertificate();

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
    server->setTlsOffered(QTest::currentTestFunction() == QStringLiteral("untrustedCertificate"));
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
    row("SIGHUP", backup, slow, SIGHUP, 3, "Backup halted by user."); // a terminal closed under the run
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

// A run that does not complete always says why, even with --quiet: cron mails what it prints. A
// complete one backs up the whole tree; the settings file is read, never written.
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
    const QByteArray settings = readFile(settingsPath());
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
    QCOMPARE(readFile(settingsPath()), settings);
    if (status == 0)
        QVERIFY(out.isEmpty() && treeOf(backupDir()) == sampleBackup());
    if (signal != 0)
        QCOMPARE(server->commands().filter("RETR ").size(), 1); // the file in hand completes, no other starts
}

void TestCli::stalledRunEnds_data() {
    QTest::addColumn<QList<int>>("stops");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("closeStandardOutput");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("lastLines");
    QTest::addColumn<int>("mostMs"); // from the first signal, or from the start when there is none

    QTest::newRow("SIGTERM: the stalled file is interrupted after 10 s")
        << QList<int>{SIGTERM} << QStringList() << false << 3 << "Backup halted by user.\n"
        << 12000;
    QTest::newRow("a second signal interrupts at once")
        << QList<int>{SIGTERM, SIGINT} << QStringList() << false << 3 << "Backup halted by user.\n"
        << 2500;
    QTest::newRow("--max-time") << QList<int>() << QStringList{"--max-time", "2"} << false << 1
                                << "Time limit of 2 s (--max-time) reached: the run was stopped.\n"
                                   "Backup halted prematurely.\n"
                                << 5000;
    QTest::newRow("no standard output, no trace file")
        << QList<int>() << QStringList() << true << 0 << QString() << 10000;
}

void TestCli::stalledRunEnds() {
    QFETCH(QList<int>, stops);
    QFETCH(QStringList, arguments);
    QFETCH(bool, closeStandardOutput);
    QFETCH(int, exitCode);
    QFETCH(QString, lastLines);
    QFETCH(int, mostMs);
    QVERIFY(QDir(server->root() + "/DTA").removeRecursively() && QDir(work->path()).mkpath("job/KAVREL.LOG"));
    QVERIFY(writeFile(server->root() + "/DTA/a.dat", "first backup"));
    const QStringList base{"backup", "--only", "DTA", "--settings", settingsPath()};
    QCOMPARE(QProcess::execute(KAVREL_CLI_PATH, base + QStringList{"--quiet"}), 0);
    QCOMPARE(treeOf(work->filePath("backup/DTA")).value("a.dat"), QByteArray("first backup"));

    QVERIFY(writeFile(server->root() + "/DTA/a.dat", "second backup"));
    if (!closeStandardOutput)
        server->setFaults({{"silence", QJsonObject{{"command", "RETR"}}}});
    server->clearCommands();
    QProcess process;
    const QString redirect = closeStandardOutput ? " >&-" : "";
    process.start("/bin/sh",
                  QStringList{"-c", "exec \"$0\" \"$@\"" + redirect, KAVREL_CLI_PATH} + base + arguments);
    QVERIFY(process.waitForStarted());
    QElapsedTimer clock;
    clock.start();
    if (!stops.isEmpty()) {
        while (!server->commands().contains("RETR a.dat") && clock.elapsed() < 10000)
            QTest::qWait(20);
        QTest::qWait(200);
        clock.restart();
        for (int number : stops) {
            QCOMPARE(::kill(pid_t(process.processId()), number), 0);
            QTest::qWait(200);
        }
    }
    QVERIFY(process.state() == QProcess::NotRunning || process.waitForFinished(30000));
    QVERIFY2(clock.elapsed() < mostMs, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    QVERIFY(QString::fromUtf8(process.readAllStandardOutput()).endsWith(lastLines));
    // A stopped run keeps the previous backup, with nothing of its own left behind.
    const QByteArray expected = exitCode == 0 ? "second backup" : "first backup";
    QCOMPARE(treeOf(work->filePath("backup/DTA")).value("a.dat"), expected);
    QCOMPARE(
        QDir(work->filePath("backup/DTA")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList{"a.dat"});
    // Log lines never reach the server, whatever descriptor the control connection got: only commands.
    const QStringList commands = server->commands();
    QCOMPARE(commands.filter(QRegularExpression("^[A-Z]{3,4}( |$)")), commands);
}

void TestCli::untrustedCertificate_data() {
    QTest::addColumn<QString>("stored"); // "presented" stands for the server's own fingerprint
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("status");
    const QString other = "SHA256:" + QByteArray(32, '\x5a').toHex(':').toUpper();
    QTest::newRow("untrusted, even --quiet prints") << "" << QStringList{"--quiet"} << 2;
    QTest::newRow("--trust stores and connects") << "" << QStringList{"--trust", "presented"} << 0;
    QTest::newRow("trusted before") << "presented" << QStringList() << 0;
    QTest::newRow("changed is refused") << other << QStringList() << 2;
    QTest::newRow("--trust the new one replaces") << other << QStringList{"--trust", "presented"} << 0;
    QTest::newRow("mistyped --trust stores nothing") << "" << QStringList{"--trust", other} << 2;
}

void TestCli::untrustedCertificate() {
    QFETCH(QString, stored);
    QFETCH(QStringList, options);
    QFETCH(int, status);
    const QString presented = server->tlsFingerprint();
    options.replaceInStrings("presented", presented.toLower());
    QFile trust(work->filePath("job/kavrel-job.TRUST"));
    const QString storedBefore = stored == "presented" ? presented : stored;
    QVERIFY(stored.isEmpty() || (trust.open(QIODevice::WriteOnly) &&
                                 trust.write((storedBefore + " " + server->address() + "\n").toUtf8()) > 0));
    trust.close();
    server->clearCommands();
    QProcess cli;
    cli.start(KAVREL_CLI_PATH,
              QStringList{"backup", "--settings", settingsPath(), "--only", "DTA"} + options);
    QVERIFY(cli.waitForFinished(60000));
    const QString out = QString::fromUtf8(cli.readAllStandardOutput());
    QVERIFY2(cli.exitStatus() == QProcess::NormalExit && cli.exitCode() == status, qPrintable(out));

    const bool refused = status == 2;
    QCOMPARE(out.contains("run again with: --trust " + presented + "\n"), refused);
    QCOMPARE(out.contains("CHANGED") && out.contains(storedBefore + ","), refused && !storedBefore.isEmpty());
    // Every fingerprint printed is whole: a cut one looks like one to give to --trust.
    static const QRegularExpression shownFingerprint("SHA256:[0-9A-Fa-f:]*");
    for (const QRegularExpressionMatch& shown : shownFingerprint.globalMatch(out))
        QCOMPARE(shown.capturedLength(), presented.size());
    QCOMPARE(server->commands().contains("USER admin"), !refused);
    QCOMPARE(QFile::exists(backupDir() + "/DTA/system.cfg"), !refused);
    const QString expected = refused ? storedBefore : presented;
    const QString trusted = trust.open(QIODevice::ReadOnly) ? QString::fromUtf8(trust.readAll()) : QString();
    QCOMPARE(trusted.contains(expected + " " + server->address() + "\n"), !expected.isEmpty());
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
