// Shut-down: the twelve settings written back in order, an owner-only file on a first run, the
// connection closed before anything is written, and a close that arrives while a command runs.

#include "FtpServerFixture.h"
#include "Kavrel.h"
#include "MessageBoxRecorder.h"
#include "TemporaryProgramFolder.h"
#include "WindowInspection.h"

#include "ftpengine/FtpEngine.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QTimer>
#include <QtTest>

using WindowInspection::control;
using WindowInspection::logLines;

namespace {

// The settings file as "Section/Key=value" entries, in file order.
QStringList settingsEntries(const QString& text) {
    QStringList entries;
    QString section;
    for (QString line : text.split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']')))
            section = line.mid(1, line.size() - 2);
        else if (line.contains(QLatin1Char('=')))
            entries << section + QLatin1Char('/') + line;
    }
    return entries;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class ShutdownTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void writesTheTwelveKeysInOrderFromControlsAndFields();
    void firstRunCreatesAnOwnerOnlyFileWithEveryDefault();
    void selectionIsSavedAsOneOrZero_data();
    void selectionIsSavedAsOneOrZero();
    void emptyValuesAreSavedEmpty();
    void unloadRunsOnce();
    void closingWhileConnectedDisconnectsBeforeWriting();
    void closingDuringConnectWaitsForIt();
    void closingDuringBackupAbortsAndClosesAfterTheSummary();
    void closingWhileTheSummaryIsOpenClosesAfterIt();

private:
    void connectToFixture();
    void prepareServerTree();

    FtpServerFixture m_server;
    std::unique_ptr<TemporaryProgramFolder> m_folder;
    MessageBoxRecorder m_boxes;
    std::unique_ptr<Kavrel> m_window;
};

void ShutdownTest::initTestCase() {
    QVERIFY(m_server.start());
}

void ShutdownTest::init() {
    m_folder = std::make_unique<TemporaryProgramFolder>();
    m_boxes.clear();
    m_boxes.setWhileOpen(nullptr);
    m_window = std::make_unique<Kavrel>(&m_boxes);
    m_server.clearCommands();
}

void ShutdownTest::cleanup() {
    m_window.reset();
    m_folder.reset();
}

void ShutdownTest::connectToFixture() {
    control<QLineEdit>(*m_window, "eServer")->setText(m_server.address());
    control<QLineEdit>(*m_window, "eUser")->setText("admin");
    control<QLineEdit>(*m_window, "ePassword")->setText("tamsk");
    m_window->bConnect_Click();
    QCOMPARE(m_window->FTPState(), Kavrel::StateConnected);
}

void ShutdownTest::prepareServerTree() {
    const QString root = m_server.root();
    for (const char* folder : {"DTA", "PMT", "MSG", "MBX"}) {
        for (int i = 1; i <= 3; ++i)
            QVERIFY(
                writeFile(root + "/" + folder + "/F" + QString::number(i) + ".DAT", QByteArray(2048, 'x')));
    }
}

void ShutdownTest::writesTheTwelveKeysInOrderFromControlsAndFields() {
    m_window->Form_Load();
    control<QLineEdit>(*m_window, "eServer")->setText("pbx.example:2121");
    control<QLineEdit>(*m_window, "eUser")->setText("operator");
    control<QLineEdit>(*m_window, "ePassword")->setText("pa ss;word");
    m_window->ServerPathData = "D:\\APP";
    m_window->ServerPathMailbox = "E:\\SUBS";
    control<QCheckBox>(*m_window, "chkApplication")->setChecked(false);
    control<QCheckBox>(*m_window, "chkMessages")->setCheckState(Qt::PartiallyChecked);
    control<QLineEdit>(*m_window, "eLocalDir")->setText("/srv/backup");
    QVERIFY(m_window->close());
    QCOMPARE(settingsEntries(m_folder->settingsText()),
             (QStringList{"Connection/Server=pbx.example:2121", "Connection/User=operator",
                          "Connection/Password=pa ss;word", "ServerPath/Data=D:\\APP",
                          "ServerPath/Prompt=C:\\PMT", "ServerPath/Message=C:\\MSG",
                          "ServerPath/Mailbox=E:\\SUBS", "Selection/Data=0", "Selection/Prompt=1",
                          "Selection/Message=0", "Selection/Mailbox=1", "LocalHost/DataPath=/srv/backup"}));
}

void ShutdownTest::firstRunCreatesAnOwnerOnlyFileWithEveryDefault() {
    QVERIFY(!m_folder->settingsExist());
    m_window->Form_Load();
    QVERIFY(m_window->close());
    QVERIFY(m_folder->settingsExist());
    const QFile::Permissions permissions = QFileInfo(m_folder->settingsPath()).permissions();
    QVERIFY(permissions & QFile::ReadOwner);
    QVERIFY(permissions & QFile::WriteOwner);
    QCOMPARE(permissions & (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther |
                            QFile::WriteOther | QFile::ExeOther),
             QFile::Permissions());
    QCOMPARE(settingsEntries(m_folder->settingsText()),
             (QStringList{"Connection/Server=trelvik", "Connection/User=admin", "Connection/Password=tamsk",
                          "ServerPath/Data=C:\\DTA", "ServerPath/Prompt=C:\\PMT",
                          "ServerPath/Message=C:\\MSG", "ServerPath/Mailbox=C:\\MBX", "Selection/Data=1",
                          "Selection/Prompt=1", "Selection/Message=1", "Selection/Mailbox=1",
                          "LocalHost/DataPath=" + m_folder->path()}));
}

void ShutdownTest::selectionIsSavedAsOneOrZero_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("saved");
    QTest::newRow("5") << "5"
                       << "1";
    QTest::newRow("-1") << "-1"
                        << "1";
    QTest::newRow("0") << "0"
                       << "0";
    QTest::newRow("abc") << "abc"
                         << "0";
}

void ShutdownTest::selectionIsSavedAsOneOrZero() {
    QFETCH(QString, stored);
    QFETCH(QString, saved);
    QVERIFY(m_folder->writeSettings(
        QStringLiteral("[Selection]\nData=%1\nPrompt=%1\nMessage=%1\nMailbox=%1\n").arg(stored)));
    m_window->Form_Load();
    QVERIFY(m_window->close());
    const QStringList entries = settingsEntries(m_folder->settingsText());
    for (const char* key : {"Data", "Prompt", "Message", "Mailbox"})
        QVERIFY2(entries.contains(QStringLiteral("Selection/%1=%2").arg(key, saved)),
                 qPrintable(entries.join('|')));
}

void ShutdownTest::emptyValuesAreSavedEmpty() {
    QVERIFY(m_folder->writeSettings("[Connection]\nServer=\nUser=\nPassword=\n[LocalHost]\nDataPath=\n"));
    m_window->Form_Load();
    QVERIFY(m_window->close());
    const QStringList entries = settingsEntries(m_folder->settingsText());
    for (const char* entry :
         {"Connection/Server=", "Connection/User=", "Connection/Password=", "LocalHost/DataPath="})
        QVERIFY2(entries.contains(QString::fromLatin1(entry)), entry);
}

void ShutdownTest::unloadRunsOnce() {
    m_window->Form_Load();
    QVERIFY(m_window->close());
    QVERIFY(QFile::remove(m_folder->settingsPath()));
    m_window->Form_Unload();
    QVERIFY(m_window->close());
    QVERIFY(!m_folder->settingsExist());
    QVERIFY(m_window->Commands() == nullptr);
}

void ShutdownTest::closingWhileConnectedDisconnectsBeforeWriting() {
    m_window->Form_Load();
    connectToFixture();
    m_server.clearCommands();
    // Disconnect's state change yields once: look at the settings file from inside it.
    bool fileExistedAtDisconnect = true;
    int32_t stateAtDisconnect = -1;
    QTimer::singleShot(0, m_window.get(), [&] {
        fileExistedAtDisconnect = m_folder->settingsExist();
        stateAtDisconnect = m_window->FTPState();
    });
    QVERIFY(m_window->close());
    QCOMPARE(stateAtDisconnect, Kavrel::StateDisconnected);
    QVERIFY(!fileExistedAtDisconnect);
    QVERIFY(m_folder->settingsExist());
    QCOMPARE(m_window->FTPState(), Kavrel::StateDisconnected);
    QTRY_VERIFY(m_server.commands().contains(QStringLiteral("QUIT")));
    QCOMPARE(fceGetInteger(0, FCE_VERSION), int32_t(FCE_E_NOT_ATTACHED));
}

void ShutdownTest::closingDuringConnectWaitsForIt() {
    m_window->Form_Load();
    control<QLineEdit>(*m_window, "eServer")->setText(m_server.address());
    bool closeAccepted = true;
    bool unloadedDuringConnect = true;
    // Delivered at the yield just before the engine connects.
    QTimer::singleShot(0, m_window.get(), [&] {
        closeAccepted = m_window->close();
        unloadedDuringConnect = m_window->IsUnloaded();
    });
    m_window->bConnect_Click();
    QVERIFY(!closeAccepted);
    QVERIFY(!unloadedDuringConnect);
    QVERIFY(logLines(*m_window).contains("Connected to " + m_server.address()));
    // Once Connect has returned, the window unloads: it disconnects, saves and releases the engine.
    QVERIFY(m_window->IsUnloaded());
    QCOMPARE(m_window->FTPState(), Kavrel::StateDisconnected);
    QVERIFY(m_folder->settingsExist());
    QTRY_VERIFY(m_server.commands().contains(QStringLiteral("QUIT")));
    QCOMPARE(fceGetInteger(0, FCE_VERSION), int32_t(FCE_E_NOT_ATTACHED));
}

void ShutdownTest::closingDuringBackupAbortsAndClosesAfterTheSummary() {
    prepareServerTree();
    m_window->Form_Load();
    const QString backupFolder = m_folder->path() + "/backup";
    control<QLineEdit>(*m_window, "eLocalDir")->setText(backupFolder);
    connectToFixture();
    bool engineAttachedAtSummary = false;
    bool unloadedAtSummary = true;
    m_boxes.setWhileOpen([&](const MessageBoxRecorder::Box&) {
        unloadedAtSummary = m_window->IsUnloaded();
        engineAttachedAtSummary = fceGetInteger(0, FCE_VERSION) > 0;
    });
    bool closeAccepted = true;
    QTimer::singleShot(0, m_window.get(), [&] { closeAccepted = m_window->close(); });
    m_window->bGet_Click();
    QVERIFY(!closeAccepted);
    QCOMPARE(m_boxes.count(), 1);
    QCOMPARE(m_boxes.last().text, QStringLiteral("Backup halted by user."));
    QCOMPARE(m_boxes.last().style, 64);
    QVERIFY(!unloadedAtSummary);
    QVERIFY(engineAttachedAtSummary);
    QVERIFY(m_window->LastOutcome() == CommandOutcome::HaltedByUser);
    // No category after the first was started.
    QVERIFY(!m_window->MessageLogText().contains(QStringLiteral("Backing up prompts")));
    QVERIFY(m_window->IsUnloaded());
    QCOMPARE(m_window->FTPState(), Kavrel::StateDisconnected);
    QVERIFY(settingsEntries(m_folder->settingsText()).contains("LocalHost/DataPath=" + backupFolder));
}

void ShutdownTest::closingWhileTheSummaryIsOpenClosesAfterIt() {
    prepareServerTree();
    m_window->Form_Load();
    const QString backupFolder = m_folder->path() + "/backup";
    control<QLineEdit>(*m_window, "eLocalDir")->setText(backupFolder);
    connectToFixture();
    bool closeAccepted = true;
    int32_t stateAtSummary = -1;
    m_boxes.setWhileOpen([&](const MessageBoxRecorder::Box&) {
        stateAtSummary = m_window->FTPState();
        closeAccepted = m_window->close();
    });
    m_window->bGet_Click();
    QCOMPARE(m_boxes.count(), 1);
    QCOMPARE(m_boxes.last().text, QStringLiteral("Backup completed."));
    QCOMPARE(stateAtSummary, Kavrel::StateTransferring);
    QVERIFY(!closeAccepted);
    QVERIFY(m_window->IsUnloaded());
    QVERIFY(QFile::exists(backupFolder + "/MBX/F3.DAT"));
    QCOMPARE(QFileInfo(backupFolder + "/PMT/F1.DAT").size(), 2048);
    QVERIFY(m_folder->settingsExist());
}

QTEST_MAIN(ShutdownTest)
#include "tst_shutdown.moc"
