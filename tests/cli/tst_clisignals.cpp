#include "TransferWorld.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

// kavrel-cli against a server whose RETR never gets an answer: a stop always stops, so does the time
// limit, and the folder keeps its previous backup. And a run started without standard output.
class TestCliSignals : public QObject {
    Q_OBJECT

private slots:
    void stalledRunEnds_data();
    void stalledRunEnds();
};

void TestCliSignals::stalledRunEnds_data() {
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

void TestCliSignals::stalledRunEnds() {
    QFETCH(QList<int>, stops);
    QFETCH(QStringList, arguments);
    QFETCH(bool, closeStandardOutput);
    QFETCH(int, exitCode);
    QFETCH(QString, lastLines);
    QFETCH(int, mostMs);
    FtpServerFixture server;
    QVERIFY(server.start());
    QTemporaryDir work;
    QVERIFY(QDir(server.root()).mkpath("DTA") && QDir(work.path()).mkpath("job/KAVREL.LOG"));
    QVERIFY(writeFile(server.root() + "/DTA/a.dat", "first backup"));
    const QString settings = work.filePath("job/job.INI");
    QVERIFY(writeFile(settings, QStringLiteral("[Connection]\nServer=%1\nUser=admin\nPassword=tamsk\n"
                                               "[LocalHost]\nDataPath=%2\n")
                                    .arg(server.address(), work.filePath("backup"))
                                    .toUtf8()));
    const QStringList base{"backup", "--only", "DTA", "--settings", settings};
    QCOMPARE(QProcess::execute(KAVREL_CLI_PATH, base + QStringList{"--quiet"}), 0);
    QCOMPARE(treeOf(work.filePath("backup/DTA")).value("a.dat"), QByteArray("first backup"));

    QVERIFY(writeFile(server.root() + "/DTA/a.dat", "second backup"));
    if (!closeStandardOutput)
        server.setFaults({{"silence", QJsonObject{{"command", "RETR"}}}});
    server.clearCommands();
    QProcess process;
    const QString redirect = closeStandardOutput ? " >&-" : "";
    process.start("/bin/sh",
                  QStringList{"-c", "exec \"$0\" \"$@\"" + redirect, KAVREL_CLI_PATH} + base + arguments);
    QVERIFY(process.waitForStarted());
    QElapsedTimer clock;
    clock.start();
    if (!stops.isEmpty()) {
        while (!server.commands().contains("RETR a.dat") && clock.elapsed() < 10000)
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
    QCOMPARE(treeOf(work.filePath("backup/DTA")).value("a.dat"), expected);
    QCOMPARE(
        QDir(work.filePath("backup/DTA")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList{"a.dat"});
    // Log lines never reach the server, whatever descriptor the control connection got: only commands.
    const QStringList commands = server.commands();
    QCOMPARE(commands.filter(QRegularExpression("^[A-Z]{3,4}( |$)")), commands);
}

QTEST_GUILESS_MAIN(TestCliSignals)
#include "tst_clisignals.moc"
