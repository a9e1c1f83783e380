#include "FtpEngine.h"
#include "TransferSession.h"
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
#include <ctime>
#include <sys/stat.h>
#include <utime.h>

// kavrel-cli run as cron runs it, against the test server: what it backs up and restores, its exit
// status, and what it prints (with --quiet only what went wrong); a stalled server it must still stop on;
// and a certificate it cannot verify, which it never asks about but refuses, naming the --trust that would
// trust it, a trusted server that now refuses TLS, and a trust file someone else could have written.
class TestCli : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void exitStatus_data();
    void exitStatus();
    void stalledRunEnds_data();
    void stalledRunEnds();
    void trust_data();
    void trust();
    void lostMessagesComeBack();
    void refreshWarnsEvenWhenQuiet();

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
    server->setTlsOffered(QTest::currentTestFunction() == QStringLiteral("trust"));
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
                                         .toUtf8()) &&
           QFile::setPermissions(settingsPath(), QFile::ReadOwner | QFile::WriteOwner);
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
    // Generations off: a backup that completes leaves the backup alone in its folder.
    const QStringList alone =
        backup + QStringList{"--keep-daily=0", "--keep-weekly", "0", "--keep-monthly=0"};
    row("completed, quiet", alone, {}, 0, 0, "");
    row("a file fails", backup, {{"transfer_error", QJsonObject{{"name", "m2.msg"}}}}, 0, 1,
        "Backup halted prematurely.");
    row("login refused", {"restore", "-q", "--settings", "SETTINGS"}, {{"refuse_login", true}}, 0, 2,
        "530 Login incorrect.");
    const QJsonObject slow{{"throttle", QJsonObject{{"command", "RETR"}, {"bytes_per_second", 20000}}}};
    row("SIGTERM, 3 connections", backup + QStringList{"--connections", "3"}, slow, SIGTERM, 3,
        "Backup halted by user.");
    row("SIGHUP", backup + QStringList{"--connections", "1"}, slow, SIGHUP,
        3, // a terminal closed under the run
        "Backup halted by user.");
    row("settings file binary", {"backup", "--settings", "BINARY"}, {}, 0, 64, "not a settings file");
    row("--refresh-days without --changed-only", {"backup", "--refresh-days", "3"}, {}, 0, 64,
        "--refresh-days goes with backup --changed-only");
    // Never the window's first-run defaults: a scheduled run must not back up some other server.
    const QString unreachable = "[Connection]\nServer=127.0.0.1:1\n";
    row("no connection section", backup, {}, 0, 64, "no Server key in the [Connection] section", "");
    row("no user", backup, {}, 0, 64, "no User key in the [Connection] section",
        unreachable + "Password=p\n");
    row("no password", backup, {}, 0, 64, "no Password key in the [Connection] section",
        unreachable + "User=u\n");
    // Said on standard error even with --quiet: standard output stays empty for a run that completes.
    row("password readable by others", alone, {}, 0, 0, "holds the password and can be read by other users",
        "<test server>", 0644);
    row("settings others can write", backup, {}, 0, 64,
        "other users can write to it. Mend it with: chmod go-w", "<test server>", 0620);
    row("no category ticked", backup, {}, 0, 64, "no category ticked",
        unreachable + "User=u\nPassword=p\n[Selection]\nData=0\nPrompt=0\nMessage=0\nMailbox=0\n");
    row("--only with a typo", backup + QStringList{"--only", "DTA,MSX"}, {}, 0, 64, "not \"DTA,MSX\"");
    row("blank local folder", backup + QStringList{"--local-dir", " "}, {}, 0, 64, "no local folder");
    row("a crawling file stalls", backup + QStringList{"--timeout", "1", "--low-speed", "100000"},
        {{"throttle", QJsonObject{{"command", "RETR"}, {"bytes_per_second", 20000}}}}, 0, 1, "Stalled: ");
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
    // The files in hand (one per connection) complete, no other starts; the folder takes them only if
    // they were all it had, and nothing else is left behind.
    const qsizetype connections = arguments.contains("--connections") ? arguments.last().toInt() : 4;
    if (signal != 0) {
        const qsizetype started = server->commands().filter("RETR ").size();
        QVERIFY2(started >= 1 && started <= connections, qPrintable(QString::number(started)));
        Tree folder = sampleBackup();
        folder.removeIf([](auto entry) { return !entry.key().startsWith("DTA/"); });
        Tree got = treeOf(backupDir());
        got.removeIf([](auto entry) { return entry.key().startsWith(".kavrel-generations/"); });
        QVERIFY(got == Tree({{"DTA/", {}}}) || got == folder);
    }
}

void TestCli::stalledRunEnds_data() {
    QTest::addColumn<QList<int>>("stops");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("closeStandardOutput");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("lastLines");
    QTest::addColumn<int>("mostMs"); // from the first signal, or from the start when there is none

    QTest::newRow("SIGTERM: the stalled file is interrupted after 10 s")
        << QList<int>{SIGTERM} << QStringList() << false << 3 << "Backup halted prematurely.\n"
        << 12000;
    QTest::newRow("a second signal interrupts at once")
        << QList<int>{SIGTERM, SIGINT} << QStringList() << false << 3 << "Backup halted prematurely.\n"
        << 2500;
    QTest::newRow("--max-time") << QList<int>() << QStringList{"--max-time", "2"} << false << 1
                                << "Time limit of 2 s (--max-time) reached: the run was stopped.\n"
                                   "Backup halted prematurely.\n"
                                << 5000;
    QTest::newRow("--timeout") << QList<int>() << QStringList{"--timeout", "1"} << false << 1
                               << "Backup halted prematurely.\n"
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

void TestCli::trust_data() {
    QTest::addColumn<QString>("stored"); // PRESENTED stands for the server's own fingerprint
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("trustMode"); // the trust file's mode; 0: a symbolic link to it
    QTest::addColumn<QJsonObject>("faults");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said"); // each of its parts between "|"
    const QString other = "SHA256:" + QByteArray(32, '\x5a').toHex(':').toUpper();
    const auto row = [](const char* tag, const QString& stored, const QStringList& options, int status,
                        const QString& said, int trustMode = 0600, const QJsonObject& faults = {}) {
        QTest::newRow(tag) << stored << options << trustMode << faults << status << said;
    };
    const QString untrusted = "run again with: --trust PRESENTED\n";
    row("untrusted, even --quiet prints", "", {"--quiet"}, 2, untrusted);
    row("--trust stores and connects", "", {"--trust", "PRESENTED"}, 0, "Trusted certificate PRESENTED for");
    row("trusted before", "PRESENTED", {}, 0, "Connected with TLS 1.3");
    row("changed is refused", other, {}, 2,
        "CHANGED since it was trusted (trusted: " + other + ", |" + untrusted);
    row("--trust the new one replaces", other, {"--trust", "PRESENTED"}, 0, "Connected with TLS 1.3");
    row("mistyped --trust stores nothing", "", {"--trust", other}, 2, untrusted);
    // Someone in between who refuses TLS gets no password in clear text from a server that spoke TLS.
    row("AUTH TLS refused after trust", "PRESENTED", {}, 2,
        "TLS required (a certificate is trusted for this server), but it refused AUTH TLS: 500 No.", 0600,
        {{"fail", QJsonObject{{"command", "AUTH"}, {"code", 500}, {"text", "No."}}}});
    row("trust file others can write", "PRESENTED", {}, 2, "other users can write to it", 0660);
    row("trust file is a link", "PRESENTED", {}, 2, "is a symbolic link, which is not followed", 0);
}

void TestCli::trust() {
    QFETCH(QString, stored);
    QFETCH(QStringList, options);
    QFETCH(int, trustMode);
    QFETCH(QJsonObject, faults);
    QFETCH(int, status);
    QFETCH(QString, said);
    const QString presented = server->tlsFingerprint();
    options.replaceInStrings("PRESENTED", presented.toLower());
    const QString storedBefore = stored.replace("PRESENTED", presented);
    const QString trustPath = work->filePath("job/kavrel-job.TRUST");
    const QString written = trustMode == 0 ? work->filePath("job/elsewhere.TRUST") : trustPath;
    QVERIFY(stored.isEmpty() || writeFile(written, (storedBefore + " " + server->address() + "\n").toUtf8()));
    QVERIFY(stored.isEmpty() ||
            (trustMode == 0 ? QFile::link(written, trustPath)
                            : ::chmod(QFile::encodeName(written).constData(), mode_t(trustMode)) == 0));
    server->setFaults(faults);
    server->clearCommands();
    QProcess cli;
    cli.start(KAVREL_CLI_PATH,
              QStringList{"backup", "--settings", settingsPath(), "--only", "DTA"} + options);
    QVERIFY(cli.waitForFinished(60000));
    const QString out = QString::fromUtf8(cli.readAllStandardOutput());
    QVERIFY2(cli.exitStatus() == QProcess::NormalExit && cli.exitCode() == status, qPrintable(out));
    for (const QString& part : said.replace("PRESENTED", presented).split('|'))
        QVERIFY2(out.contains(part), qPrintable(out));

    const bool refused = status == 2;
    QCOMPARE(out.contains("run again with: --trust"), said.contains("run again"));
    QCOMPARE(out.contains("\nMode set to Binary\nConnected with TLS 1."),
             !refused); // the connect lines' order
    // Every fingerprint printed is whole: a cut one looks like one to give to --trust.
    static const QRegularExpression shownFingerprint("SHA256:[0-9A-Fa-f:]*");
    for (const QRegularExpressionMatch& shown : shownFingerprint.globalMatch(out))
        QCOMPARE(shown.capturedLength(), presented.size());
    QCOMPARE(server->commands().contains("USER admin"), !refused);
    QCOMPARE(QFile::exists(backupDir() + "/DTA/system.cfg"), !refused);
    const QString expected = refused ? storedBefore : presented;
    QCOMPARE(readFile(trustPath).contains((expected + " " + server->address() + "\n").toUtf8()),
             !expected.isEmpty());
}

// The night the server lost its messages: the backup completes, kavrel-cli says what the generation keeps
// on standard error even with --quiet (cron mails it), lists the generation, and restores from it.
void TestCli::lostMessagesComeBack() {
    const QString messages = server->root() + "/MSG";
    for (int i = 4; i <= 14; ++i)
        QVERIFY(writeFile(QString("%1/m%2.msg").arg(messages).arg(i), "message"));
    const Tree before = treeOf(messages);
    const auto cli = [this](const QStringList& arguments, QString& out, QString& err) {
        QProcess process;
        process.start(KAVREL_CLI_PATH, arguments + QStringList{"--settings", settingsPath()});
        process.waitForFinished(60000);
        out = QString::fromUtf8(process.readAllStandardOutput());
        err = QString::fromUtf8(process.readAllStandardError());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    };
    QString out, err;
    QCOMPARE(cli({"backup", "-q"}, out, err), 0);
    QVERIFY(QDir(messages).removeRecursively() && QDir().mkpath(messages));
    QCOMPARE(cli({"backup", "-q"}, out, err), 0);
    const QRegularExpressionMatch warning =
        QRegularExpression("^Warning: the server no longer has 14 of the 14 files of " + backupDir() +
                           "/MSG; generation (\\S+) keeps them.\n$")
            .match(err);
    QVERIFY2(out.isEmpty() && warning.hasMatch(), qPrintable(out + err));
    const QString generation = warning.captured(1);
    QCOMPARE(cli({"generations"}, out, err), 0);
    QVERIFY2(QRegularExpression("\n" + generation + " +14 +2,137  MSG\n").match(out).hasMatch(),
             qPrintable(out));
    QCOMPARE(cli({"restore", "-q", "--from", generation.left(10)}, out, err), 0);
    QCOMPARE(treeOf(messages), before);
    // The listing checks every generation holds what its manifest claims.
    QVERIFY(QFile::remove(backupDir() + "/.kavrel-generations/" + generation + "/MSG/m9.msg"));
    QCOMPARE(cli({"generations"}, out, err), 1);
    QVERIFY2(out.contains("1 files it claims are missing or of another size, such as MSG/m9.msg"),
             qPrintable(out));
    QVERIFY(writeFile(backupDir() + "/.kavrel-generations/" + generation + "/.kavrel-manifest", "damaged"));
    QCOMPARE(cli({"generations"}, out, err), 1);
    QVERIFY2(out.contains(generation + ": its manifest is missing or damaged, so it is not used."),
             qPrintable(out));
}

// Last night's backup (by a clock a day back) kept lines.dat; since then it was rewritten under its old
// time. Tonight's refresh fetches it, and the warning reaches cron even with --quiet.
void TestCli::refreshWarnsEvenWhenQuiet() {
    const qint64 now = std::time(nullptr);
    for (const auto& [name, age] : {std::pair{"lines.dat", 20}, std::pair{"system.cfg", 10}}) {
        const utimbuf times{time_t(now - age * 86400), time_t(now - age * 86400)};
        QVERIFY(::utime(QFile::encodeName(server->root() + "/DTA/" + name).constData(), &times) == 0);
    }
    QVERIFY(fceAttach(1) >= 0 &&
            fceConnect(0, server->address().toUtf8().constData(), "admin", "tamsk") >= 0);
    RecordingHost host;
    TransferSession lastNight(host);
    lastNight.SetChangedOnly(true);
    lastNight.SetClock([now] { return now - 86400; });
    QVERIFY(lastNight.RetrieveDirectory("C:\\DTA", (backupDir() + "/DTA").toStdString()) >= 0);
    fceRelease();
    const QString lines = server->root() + "/DTA/lines.dat";
    const qint64 listed = QFileInfo(lines).lastModified().toSecsSinceEpoch();
    const utimbuf times{time_t(listed), time_t(listed)};
    QVERIFY(writeFile(lines, QByteArray(40000, 'N')) &&
            ::utime(QFile::encodeName(lines).constData(), &times) == 0);

    QProcess cli; // every file is due within a day
    cli.start(KAVREL_CLI_PATH, {"backup", "--changed-only", "--quiet", "--refresh-days", "1", "--only", "DTA",
                                "--settings", settingsPath()});
    QVERIFY(cli.waitForFinished(60000) && cli.exitCode() == 0);
    QCOMPARE(cli.readAllStandardOutput(), QByteArray());
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    QVERIFY2(err.startsWith("Warning: C:\\DTA\\lines.dat changed on the server although its size"),
             qPrintable(err));
    QCOMPARE(readFile(backupDir() + "/DTA/lines.dat"), readFile(lines));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
