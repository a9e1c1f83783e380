// Backup and Restore as the window hands them over: its local directory, its check boxes and its four
// server paths, each to its own category; and a window that keeps painting while one long file moves.

#include "FtpServerFixture.h"
#include "Kavrel.h"
#include "MessageBoxRecorder.h"
#include "TemporaryProgramFolder.h"
#include "WindowInspection.h"

#include <QCheckBox>
#include <QDir>
#include <QJsonObject>
#include <QLineEdit>
#include <QTimer>
#include <QtTest>

using WindowInspection::control;
using WindowInspection::logLines;

namespace {

bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Knows when the one long file of a test is being fetched, and counts the engine's reports meanwhile.
class TickingWindow : public Kavrel {
public:
    using Kavrel::Kavrel;
    bool inFile = false;

    void Display(const std::string& Buffer) override {
        Kavrel::Display(Buffer);
        // "Retrieving 1 files..." comes just before the one long file; the next line comes after it.
        inFile = Buffer.rfind("Retrieving 1 files", 0) == 0;
    }
    // The engine's progress reports that arrived while the file moved.
    int keepAlivesInFile = 0;

    void KeepAlive(int64_t bytesSoFar) override {
        if (inFile)
            ++keepAlivesInFile;
        Kavrel::KeepAlive(bytesSoFar);
    }
};

} // namespace

class CommandWiringTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void eachServerPathGoesToItsOwnCategory();
    void greyedAndClearedBoxesAreLeftOut();
    void restoreUsesTheSameFoldersAndPaths();
    void commandsNeedAConnectedIdleSession();
    void windowKeepsProcessingEventsDuringOneLongFile();

private:
    void connect();
    void setServerPaths();
    QString backupFolder() const { return m_folder->path() + "/backup"; }

    FtpServerFixture m_server;
    std::unique_ptr<TemporaryProgramFolder> m_folder;
    MessageBoxRecorder m_boxes;
    std::unique_ptr<TickingWindow> m_window;
};

void CommandWiringTest::initTestCase() {
    QVERIFY(m_server.start());
}

void CommandWiringTest::init() {
    QVERIFY(QDir(m_server.root()).removeRecursively() && QDir().mkpath(m_server.root()));
    m_server.setFaults(QJsonObject());
    // Each category's files live in a directory named unlike its local folder, so a swap shows.
    for (const char* folder : {"APPDATA", "VOICE", "INBOX", "SUBSCR"})
        QVERIFY(writeFile(m_server.root() + "/" + folder + "/" + folder + ".DAT", QByteArray(folder)));
    QVERIFY(writeFile(m_server.root() + "/VOICE/MENU/MAIN.WAV", "menu"));
    m_folder = std::make_unique<TemporaryProgramFolder>();
    m_boxes.clear();
    m_window = std::make_unique<TickingWindow>(&m_boxes);
    m_window->Form_Load();
}

void CommandWiringTest::cleanup() {
    m_window.reset();
    m_folder.reset();
}

void CommandWiringTest::connect() {
    control<QLineEdit>(*m_window, "eServer")->setText(m_server.address());
    control<QLineEdit>(*m_window, "eUser")->setText("admin");
    control<QLineEdit>(*m_window, "ePassword")->setText("tamsk");
    control<QLineEdit>(*m_window, "eLocalDir")->setText("  " + backupFolder() + " ");
    m_window->bConnect_Click();
    QCOMPARE(m_window->FTPState(), Kavrel::StateConnected);
}

void CommandWiringTest::setServerPaths() {
    m_window->ServerPathData = "C:\\APPDATA";
    m_window->ServerPathPrompt = "C:\\VOICE";
    m_window->ServerPathMessage = "C:\\INBOX";
    m_window->ServerPathMailbox = "C:\\SUBSCR";
}

void CommandWiringTest::eachServerPathGoesToItsOwnCategory() {
    setServerPaths();
    connect();
    m_window->bGet_Click();
    QCOMPARE(m_boxes.last().text, QStringLiteral("Backup completed."));
    QVERIFY(m_window->LastOutcome() == CommandOutcome::Completed);
    QCOMPARE(readFile(backupFolder() + "/DTA/APPDATA.DAT"), QByteArray("APPDATA"));
    QCOMPARE(readFile(backupFolder() + "/PMT/VOICE.DAT"), QByteArray("VOICE"));
    QCOMPARE(readFile(backupFolder() + "/PMT/MENU/MAIN.WAV"), QByteArray("menu"));
    QCOMPARE(readFile(backupFolder() + "/MSG/INBOX.DAT"), QByteArray("INBOX"));
    QCOMPARE(readFile(backupFolder() + "/MBX/SUBSCR.DAT"), QByteArray("SUBSCR"));
    QCOMPARE(m_window->FTPState(), Kavrel::StateConnected);
}

void CommandWiringTest::greyedAndClearedBoxesAreLeftOut() {
    setServerPaths();
    connect();
    control<QCheckBox>(*m_window, "chkApplication")->setCheckState(Qt::PartiallyChecked);
    control<QCheckBox>(*m_window, "chkMessages")->setChecked(false);
    m_window->bGet_Click();
    QCOMPARE(m_boxes.last().text, QStringLiteral("Backup completed."));
    QVERIFY(!QFileInfo::exists(backupFolder() + "/DTA"));
    QVERIFY(!QFileInfo::exists(backupFolder() + "/MSG"));
    QVERIFY(QFileInfo::exists(backupFolder() + "/PMT/VOICE.DAT"));
    QVERIFY(QFileInfo::exists(backupFolder() + "/MBX/SUBSCR.DAT"));
    const QString log = m_window->MessageLogText();
    QVERIFY(!log.contains(QStringLiteral("Backing up application data")));
    QVERIFY(!log.contains(QStringLiteral("Backing up messages")));
    QVERIFY(log.contains(QStringLiteral("Backing up prompts")));
}

void CommandWiringTest::restoreUsesTheSameFoldersAndPaths() {
    setServerPaths();
    connect();
    QVERIFY(writeFile(backupFolder() + "/DTA/APPDATA.DAT", "restored data"));
    QVERIFY(writeFile(backupFolder() + "/MSG/NEW.DAT", "new message"));
    QVERIFY(writeFile(backupFolder() + "/PMT/MENU/MAIN.WAV", "new menu"));
    control<QCheckBox>(*m_window, "chkMailboxes")->setChecked(false);
    m_window->bPut_Click();
    QCOMPARE(m_boxes.last().text, QStringLiteral("Restore completed."));
    QVERIFY(m_window->LastOutcome() == CommandOutcome::Completed);
    QCOMPARE(readFile(m_server.root() + "/APPDATA/APPDATA.DAT"), QByteArray("restored data"));
    QCOMPARE(readFile(m_server.root() + "/INBOX/NEW.DAT"), QByteArray("new message"));
    QCOMPARE(readFile(m_server.root() + "/VOICE/MENU/MAIN.WAV"), QByteArray("new menu"));
    QVERIFY(!QFileInfo::exists(m_server.root() + "/MBX"));
    QCOMPARE(m_window->FTPState(), Kavrel::StateConnected);
}

void CommandWiringTest::commandsNeedAConnectedIdleSession() {
    m_window->ClearLog();
    m_window->bGet_Click();
    m_window->bPut_Click();
    QCOMPARE(m_boxes.count(), 0);
    QVERIFY(m_window->MessageLogText().isEmpty());
    connect();
    m_window->SetNewState(Kavrel::StateTransferring);
    m_window->ClearLog();
    m_window->bGet_Click();
    QCOMPARE(m_boxes.count(), 0);
    QVERIFY(m_window->MessageLogText().isEmpty());
}

void CommandWiringTest::windowKeepsProcessingEventsDuringOneLongFile() {
    const int size = 300 * 1024;
    QVERIFY(writeFile(m_server.root() + "/LONG/ONE.DAT", QByteArray(size, 'v')));
    m_window->ServerPathData = "C:\\LONG";
    for (const char* box : {"chkPrompts", "chkMessages", "chkMailboxes"})
        control<QCheckBox>(*m_window, box)->setChecked(false);
    connect();
    m_server.setFaults(
        QJsonObject{{"throttle", QJsonObject{{"command", "RETR"}, {"bytes_per_second", 200000}}}});
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    int ticksInFile = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (m_window->inFile)
            ++ticksInFile;
    });
    ticker.start();
    m_window->bGet_Click();
    ticker.stop();
    QCOMPARE(m_boxes.last().text, QStringLiteral("Backup completed."));
    QCOMPARE(QFileInfo(backupFolder() + "/DTA/ONE.DAT").size(), qint64(size));
    // About 1.5 s in one engine call, reported by the engine in several bursts more than 100 ms apart:
    // each report let the event loop run (a tick).
    QVERIFY2(m_window->keepAlivesInFile >= 2, qPrintable(QString::number(m_window->keepAlivesInFile)));
    QVERIFY2(
        ticksInFile >= m_window->keepAlivesInFile,
        qPrintable(QStringLiteral("%1 ticks, %2 reports").arg(ticksInFile).arg(m_window->keepAlivesInFile)));
}

QTEST_MAIN(CommandWiringTest)
#include "tst_commandwiring.moc"
