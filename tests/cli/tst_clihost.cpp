#include "AbortSignals.h"
#include "CliHost.h"
#include "EngineSession.h"
#include "ProgressLine.h"

#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <cstdio>

namespace {

// Everything a host writes, read back as text.
class CapturedOutput {
public:
    CapturedOutput() : m_file(std::tmpfile()) {}
    ~CapturedOutput() { std::fclose(m_file); }
    std::FILE* file() const { return m_file; }
    QString text() const {
        std::fflush(m_file);
        std::rewind(m_file);
        QByteArray bytes;
        char chunk[4096];
        size_t n = 0;
        while ((n = std::fread(chunk, 1, sizeof chunk, m_file)) > 0)
            bytes.append(chunk, static_cast<qsizetype>(n));
        std::fseek(m_file, 0, SEEK_END);
        return QString::fromUtf8(bytes);
    }

private:
    std::FILE* m_file;
};

} // namespace

class TestCliHost : public QObject {
    Q_OBJECT

private slots:
    void printableText_data();
    void printableText();
    void logLinesAsTheWindowShowsThem();
    void quietHoldsTheLogUntilAFailure();
    void summaryIsTheLastLine();
    void progressLineStepsAsideForLogLines();
    void abortFlagOfTheCommand();
    void versionLine_data();
    void versionLine();
    // Last: the signal flag stays set for the rest of the process.
    void signalRequestsAbortAndStays();
};

void TestCliHost::printableText_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("plain") << QByteArray("Retrieving 12 files...") << QByteArray("Retrieving 12 files...");
    QTest::newRow("header with CR LF around")
        << QByteArray("\r\nBacking up prompts\r\n") << QByteArray("\nBacking up prompts\n");
    QTest::newRow("escape sequence from a server")
        << QByteArray("550 \x1b[2Jgone") << QByteArray("550 ?[2Jgone");
    QTest::newRow("lone CR cannot redraw the line") << QByteArray("a\rb") << QByteArray("a?b");
    QTest::newRow("DEL") << QByteArray("x\x7fy") << QByteArray("x?y");
    QTest::newRow("UTF-8 stays") << QByteArray("Ansage \xc3\xa4.wav") << QByteArray("Ansage \xc3\xa4.wav");
    QTest::newRow("tab stays") << QByteArray("     1\t- x") << QByteArray("     1\t- x");
    QTest::newRow("empty") << QByteArray("") << QByteArray("");
}

void TestCliHost::printableText() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, expected);
    QCOMPARE(QByteArray::fromStdString(CliHost::printable(text.toStdString())), expected);
}

void TestCliHost::logLinesAsTheWindowShowsThem() {
    CapturedOutput out;
    ProgressLine progress(stderr, false);
    CliHost host(out.file(), progress, false);
    host.Display("Connecting to server...");
    host.Display("\r\nBacking up application data\r\n");
    host.Display("");
    host.ClearLog();
    host.Display("...Done.");
    QCOMPARE(out.text(), QString("Connecting to server...\n\nBacking up application data\n\n\n...Done.\n"));
}

void TestCliHost::quietHoldsTheLogUntilAFailure() {
    CapturedOutput out;
    ProgressLine progress(stderr, false);
    CliHost host(out.file(), progress, true);
    host.Display("Connected to 127.0.0.1:21");
    host.ShowMessage("Backup halted prematurely.", "Error During Backup", 48);
    QCOMPARE(out.text(), QString());
    host.flushHeldLines();
    QCOMPARE(out.text(), QString("Connected to 127.0.0.1:21\nBackup halted prematurely.\n"));
    host.flushHeldLines();
    QCOMPARE(out.text(), QString("Connected to 127.0.0.1:21\nBackup halted prematurely.\n"));
}

void TestCliHost::summaryIsTheLastLine() {
    CapturedOutput out;
    ProgressLine progress(stderr, false);
    CliHost host(out.file(), progress, false);
    QVERIFY(host.summary().empty());
    host.Display("...Done.");
    host.ShowMessage("Restore completed.", "Restore Complete", 64);
    QCOMPARE(QString::fromStdString(host.summary()), QString("Restore completed."));
    QVERIFY(out.text().endsWith("...Done.\nRestore completed.\n"));
}

void TestCliHost::progressLineStepsAsideForLogLines() {
    CapturedOutput out;
    CapturedOutput terminal;
    ProgressLine progress(terminal.file(), true);
    CliHost host(out.file(), progress, false);
    host.Display("Setting server directory to C:\\PMT\\A");
    host.SetProgressValue(0);
    host.SetProgressMax(2);
    // The bar's reset to 0 before the count is known draws nothing; the rate waits for a measurable time.
    QCOMPARE(terminal.text(), QString("\r\033[KC:\\PMT\\A  0 of 2 files"));
    QTest::qWait(300);
    host.KeepAlive(3000000); // 3 MB of the first file in about 0.3 s
    QVERIFY2(QRegularExpression("A  0 of 2 files  \\d+\\.\\d MB/s$").match(terminal.text()).hasMatch(),
             qPrintable(terminal.text()));
    host.SetProgressValue(1);
    host.SetProgressValue(2);
    QVERIFY2(terminal.text().contains("C:\\PMT\\A  2 of 2 files  "), qPrintable(terminal.text()));
    host.Display("...Done.");
    // The line was wiped before the log line went out, and nothing of it reached the log.
    QVERIFY2(terminal.text().endsWith("\r\033[K"), qPrintable(terminal.text()));
    QCOMPARE(out.text(), QString("Setting server directory to C:\\PMT\\A\n...Done.\n"));
}

void TestCliHost::abortFlagOfTheCommand() {
    ProgressLine progress(stderr, false);
    CliHost host(stdout, progress, true);
    QVERIFY(!host.AbortRequested());
    host.SetAbortRequested(true);
    QVERIFY(host.AbortRequested());
    host.SetAbortRequested(false);
    QVERIFY(!host.AbortRequested());
    host.SetNewState(2);
    QCOMPARE(host.state(), 2);
}

void TestCliHost::versionLine_data() {
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("line");
    QTest::newRow("three digits") << 0x230 << "FTP Client Engine Version 2.3.0";
    QTest::newRow("two digits leave the third empty") << 35 << "FTP Client Engine Version 2.3.";
    QTest::newRow("one digit") << 0xA << "FTP Client Engine Version A..";
    QTest::newRow("four digits show three") << 0x1234 << "FTP Client Engine Version 1.2.3";
    QTest::newRow("upper case") << 0xABC << "FTP Client Engine Version A.B.C";
}

void TestCliHost::versionLine() {
    QFETCH(int, version);
    QFETCH(QString, line);
    QCOMPARE(QString::fromStdString(EngineSession::versionLine(version)), line);
}

void TestCliHost::signalRequestsAbortAndStays() {
    AbortSignals::install();
    ProgressLine progress(stderr, false);
    CliHost host(stdout, progress, true);
    QVERIFY(!AbortSignals::received());
    QCOMPARE(std::raise(SIGTERM), 0); // the process lives on: the handler only takes note
    QVERIFY(AbortSignals::received());
    QVERIFY(host.AbortRequested());
    // Backup clears its own flag when it starts; the signal must survive that.
    host.SetAbortRequested(false);
    QVERIFY(host.AbortRequested());
    QCOMPARE(std::raise(SIGPIPE), 0); // ignored, not fatal
}

QTEST_GUILESS_MAIN(TestCliHost)
#include "tst_clihost.moc"
