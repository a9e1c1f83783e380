#include "TransferWorld.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <csignal>

// kavrel-cli run as cron runs it, against the test server: what it backs up and restores, its exit
// status, and what it prints (with --quiet only what went wrong).
class TestCli : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void backupThenRestore();
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

// Both commands end to end; the settings file is read, never written.
void TestCli::backupThenRestore() {
    const QByteArray settings = treeOf(work->filePath("job")).value("kavrel-job.INI");
    QCOMPARE(QProcess::execute(KAVREL_CLI_PATH, {"backup", "--settings", settingsPath()}), 0);
    QCOMPARE(treeOf(backupDir()), sampleBackup());
    QVERIFY(QDir(server->root()).removeRecursively() && QDir().mkpath(server->root()));
    QCOMPARE(QProcess::execute(KAVREL_CLI_PATH,
                               {"restore", "-q", "--settings", settingsPath(), "--only", "pmt,MSG"}),
             0);
    Tree restored = sampleBackup();
    for (const QString& key : restored.keys()) {
        if (key.startsWith("DTA") || key.startsWith("MBX"))
            restored.remove(key);
    }
    QCOMPARE(treeOf(server->root()), restored);
    QCOMPARE(treeOf(work->filePath("job")).value("kavrel-job.INI"), settings);
}

void TestCli::exitStatus_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QJsonObject>("faults");
    QTest::addColumn<int>("signal"); // sent while the first file moves; 0 for none
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("printed"); // the last line on stdout
    const QString settings = "--settings=SETTINGS";
    QTest::newRow("completed, quiet")
        << QStringList{"backup", "--quiet", settings} << QJsonObject{} << 0 << 0 << "";
    QTest::newRow("a file fails") << QStringList{"backup", "-q", settings}
                                  << QJsonObject{{"transfer_error", QJsonObject{{"name", "m2.msg"}}}} << 0
                                  << 1 << "Backup halted prematurely.";
    QTest::newRow("login refused") << QStringList{"restore", "-q", settings}
                                   << QJsonObject{{"refuse_login", true}} << 0 << 2 << "530 Login incorrect.";
    for (int signal : {SIGINT, SIGTERM}) {
        QTest::newRow(qPrintable(QString("signal %1").arg(signal)))
            << QStringList{"backup", "-q", settings}
            << QJsonObject{{"throttle", QJsonObject{{"command", "RETR"}, {"bytes_per_second", 20000}}}}
            << signal << 3 << "Backup halted by user.";
    }
    QTest::newRow("no settings file")
        << QStringList{"backup", "--settings", "/nonexistent/k.INI"} << QJsonObject{} << 0 << 64 << "";
    QTest::newRow("settings file binary")
        << QStringList{"backup", "--settings", "BINARY"} << QJsonObject{} << 0 << 64 << "";
    QTest::newRow("unknown category")
        << QStringList{"backup", settings, "--only", "DTA,XYZ"} << QJsonObject{} << 0 << 64 << "";
    QTest::newRow("two commands") << QStringList{"backup", "restore", settings} << QJsonObject{} << 0 << 64
                                  << "";
}

// A run that does not complete always says why, even with --quiet: cron mails what it prints.
void TestCli::exitStatus() {
    QFETCH(QStringList, arguments);
    QFETCH(QJsonObject, faults);
    QFETCH(int, signal);
    QFETCH(int, status);
    QFETCH(QString, printed);
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
    const QStringList out =
        QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(out.value(out.size() - 1), printed);
    QCOMPARE(process.readAllStandardError().isEmpty(), status != 64);
    if (signal != 0)
        QCOMPARE(server->commands().filter("RETR ").size(), 1); // the file in hand completes, no other starts
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
