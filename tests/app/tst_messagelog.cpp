// The message log: Display's text rules and caret, ShowError's engine text, and the text conversions
// and version line the log is written with.

#include "EngineVersion.h"
#include "Kavrel.h"
#include "LogText.h"
#include "MessageBoxRecorder.h"
#include "TemporaryProgramFolder.h"
#include "WindowInspection.h"

#include "ftpengine/FtpEngine.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QtTest>

using WindowInspection::control;
using WindowInspection::logLines;

class MessageLogTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void displayAppendsTextAndCrLf_data();
    void displayAppendsTextAndCrLf();
    void displayLeavesTheCaretAtTheEndAndScrollsToIt();
    void displayKeepsEarlierLinesAsTheyWere();
    void clearLogEmptiesIt();
    void showErrorLogsTheEnginesText_data();
    void showErrorLogsTheEnginesText();
    void showErrorNeverLogsMoreThan128Characters();
    void bytesThatAreNotUtf8StayReadable();
    void engineVersionLine_data();
    void engineVersionLine();

private:
    std::unique_ptr<TemporaryProgramFolder> m_folder;
    MessageBoxRecorder m_boxes;
    std::unique_ptr<Kavrel> m_window;
};

void MessageLogTest::init() {
    m_folder = std::make_unique<TemporaryProgramFolder>();
    m_window = std::make_unique<Kavrel>(&m_boxes);
}

void MessageLogTest::cleanup() {
    m_window.reset();
    m_folder.reset();
}

void MessageLogTest::displayAppendsTextAndCrLf_data() {
    QTest::addColumn<QStringList>("buffers");
    QTest::addColumn<QString>("logText");
    QTest::newRow("one line") << QStringList{"Connecting to server..."} << "Connecting to server...\r\n";
    QTest::newRow("empty buffer gives an empty line") << QStringList{"a", "", "b"} << "a\r\n\r\nb\r\n";
    QTest::newRow("trailing CR LF gives a blank line") << QStringList{"x\r\n", "y"} << "x\r\n\r\ny\r\n";
    QTest::newRow("header between blank lines")
        << QStringList{"start", "\r\nBacking up prompts\r\n", "Retrieving 3 files..."}
        << "start\r\n\r\nBacking up prompts\r\n\r\nRetrieving 3 files...\r\n";
    QTest::newRow("blanks kept") << QStringList{"     7 - Out of memory"} << "     7 - Out of memory\r\n";
}

void MessageLogTest::displayAppendsTextAndCrLf() {
    QFETCH(QStringList, buffers);
    QFETCH(QString, logText);
    for (const QString& buffer : buffers) {
        const std::string bytes = buffer.toStdString();
        const std::string copy = bytes;
        m_window->Display(bytes);
        QCOMPARE(bytes, copy);
    }
    QCOMPARE(m_window->MessageLogText(), logText);
}

void MessageLogTest::displayLeavesTheCaretAtTheEndAndScrollsToIt() {
    auto* log = control<QPlainTextEdit>(*m_window, "eMessage");
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    for (int i = 0; i < 500; ++i)
        m_window->Display("line " + std::to_string(i));
    QCoreApplication::processEvents();
    QVERIFY(log->textCursor().atEnd());
    QCOMPARE(log->textCursor().position(), log->document()->characterCount() - 1);
    QScrollBar* bar = log->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    QCOMPARE(logLines(*m_window).size(), 500);
    QCOMPARE(logLines(*m_window).last(), QStringLiteral("line 499"));
}

void MessageLogTest::displayKeepsEarlierLinesAsTheyWere() {
    for (int i = 0; i < 20000; ++i)
        m_window->Display("file " + std::to_string(i) + ".wav");
    const QStringList lines = logLines(*m_window);
    QCOMPARE(lines.size(), 20000);
    QCOMPARE(lines.first(), QStringLiteral("file 0.wav"));
    QCOMPARE(lines.at(12345), QStringLiteral("file 12345.wav"));
    // No undo history grows with the log.
    QVERIFY(!control<QPlainTextEdit>(*m_window, "eMessage")->document()->isUndoAvailable());
}

void MessageLogTest::clearLogEmptiesIt() {
    m_window->Display("before");
    m_window->ClearLog();
    QCOMPARE(m_window->MessageLogText(), QString());
    m_window->Display("after");
    QCOMPARE(m_window->MessageLogText(), QStringLiteral("after\r\n"));
}

void MessageLogTest::showErrorLogsTheEnginesText_data() {
    QTest::addColumn<int>("code");
    QTest::newRow("not attached") << int(FCE_E_NOT_ATTACHED);
    QTest::newRow("not connected") << int(FCE_E_NOT_CONNECTED);
    QTest::newRow("connect refused") << int(FCE_E_CONNECT);
    QTest::newRow("login") << int(FCE_E_LOGIN);
}

void MessageLogTest::showErrorLogsTheEnginesText() {
    QFETCH(int, code);
    char text[129] = {};
    const int32_t length = fceErrorText(0, code, text, 128);
    QVERIFY(length >= 0);
    m_window->ShowError(code);
    QCOMPARE(logLines(*m_window), QStringList{QString::fromUtf8(text, length)});
}

void MessageLogTest::showErrorNeverLogsMoreThan128Characters() {
    // An engine failure records its own words; a long host name makes them longer than 128.
    QVERIFY(fceAttach(1) >= 0);
    const std::string longHost(300, 'h');
    const int32_t rc = fceConnect(0, (longHost + ".invalid").c_str(), "admin", "tamsk");
    QVERIFY(rc < 0);
    char fullText[1024] = {};
    const int32_t fullLength = fceErrorText(0, rc, fullText, sizeof fullText - 1);
    QVERIFY2(fullLength > 128, fullText);
    m_window->ShowError(rc);
    const QStringList lines = logLines(*m_window);
    QCOMPARE(lines.size(), 1);
    // The start of the engine's text, cut to what a 128-character buffer holds.
    QVERIFY(lines.first().size() <= 128);
    QVERIFY(lines.first().size() >= 120);
    QVERIFY(QString::fromUtf8(fullText, fullLength).startsWith(lines.first()));
    fceRelease();
}

void MessageLogTest::bytesThatAreNotUtf8StayReadable() {
    QCOMPARE(LogText::fromBytes("Grüße"), QStringLiteral("Grüße"));
    QCOMPARE(LogText::fromBytes(std::string("Gr\xFC\xDF"
                                            "e")),
             QString::fromLatin1("Gr\xFC\xDF"
                                 "e"));
    m_window->Display(std::string("550 \xE9t\xE9"));
    QCOMPARE(logLines(*m_window), QStringList{QString::fromLatin1("550 \xE9t\xE9")});
}

void MessageLogTest::engineVersionLine_data() {
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("line");
    QTest::newRow("0x230") << 560 << "FTP Client Engine Version 2.3.0";
    QTest::newRow("0x100") << 0x100 << "FTP Client Engine Version 1.0.0";
    QTest::newRow("two digits") << 35 << "FTP Client Engine Version 2.3.";
    QTest::newRow("one digit") << 7 << "FTP Client Engine Version 7..";
    QTest::newRow("zero") << 0 << "FTP Client Engine Version 0..";
    QTest::newRow("upper-case letters") << 0xABC << "FTP Client Engine Version A.B.C";
    QTest::newRow("four digits: first three") << 0x1234 << "FTP Client Engine Version 1.2.3";
}

void MessageLogTest::engineVersionLine() {
    QFETCH(int, version);
    QFETCH(QString, line);
    QCOMPARE(QString::fromStdString(EngineVersionLine(version)), line);
}

QTEST_MAIN(MessageLogTest)
#include "tst_messagelog.moc"
