// Start-up: the settings file fills the window (defaults for what is absent), the session starts
// disconnected, and the engine's version and text open the log.

#include "Kavrel.h"
#include "MessageBoxRecorder.h"
#include "TemporaryProgramFolder.h"
#include "WindowInspection.h"

#include "ftpengine/FtpEngine.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <algorithm>

using WindowInspection::control;
using WindowInspection::logLines;

namespace {

// A window whose engine refuses to attach.
class WindowWithoutEngine : public Kavrel {
public:
    using Kavrel::Kavrel;

protected:
    int32_t AttachEngine() override { return FCE_E_NOT_ATTACHED; }
};

// A window told the engine is attached when it is not: every start-up query then fails.
class WindowWithSilentEngine : public Kavrel {
public:
    using Kavrel::Kavrel;

protected:
    int32_t AttachEngine() override { return 0; }
};

QString engineErrorText(int32_t code) {
    char text[128] = {};
    const int32_t length = fceErrorText(0, code, text, 128);
    return QString::fromUtf8(text, std::clamp(length, 0, 128));
}

QString engineDescription() {
    char text[81] = {};
    const int32_t length = fceGetString(0, FCE_DESCRIPTION, text, 80);
    return length < 0 ? QString() : QString::fromUtf8(text, std::min(length, 80));
}

} // namespace

class StartupTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstRunShowsTheDefaults();
    void fullSettingsFileFillsEveryControlAndField();
    void selectionValues_data();
    void selectionValues();
    void emptyValuesShowEmptyFields();
    void logOpensWithVersionAndEngineText();
    void sessionStartsDisconnectedWithoutStateChange();
    void engineThatCannotBeAttachedLeavesAUsableWindow();
    void failedVersionQueryIsReportedNotShownAsAVersion();

private:
    std::unique_ptr<TemporaryProgramFolder> m_folder;
    MessageBoxRecorder m_boxes;
    std::unique_ptr<Kavrel> m_window;
};

void StartupTest::init() {
    m_folder = std::make_unique<TemporaryProgramFolder>();
    QVERIFY(m_folder->isValid());
    m_window = std::make_unique<Kavrel>(&m_boxes);
}

void StartupTest::cleanup() {
    m_window.reset();
    m_folder.reset();
}

void StartupTest::firstRunShowsTheDefaults() {
    QVERIFY(!m_folder->settingsExist());
    m_window->Form_Load();
    QCOMPARE(control<QLineEdit>(*m_window, "eServer")->text(), QStringLiteral("trelvik"));
    QCOMPARE(control<QLineEdit>(*m_window, "eUser")->text(), QStringLiteral("admin"));
    QCOMPARE(control<QLineEdit>(*m_window, "ePassword")->text(), QStringLiteral("tamsk"));
    QCOMPARE(control<QLineEdit>(*m_window, "eLocalDir")->text(), m_folder->path());
    QCOMPARE(m_window->ServerPathData, std::string("C:\\DTA"));
    QCOMPARE(m_window->ServerPathPrompt, std::string("C:\\PMT"));
    QCOMPARE(m_window->ServerPathMessage, std::string("C:\\MSG"));
    QCOMPARE(m_window->ServerPathMailbox, std::string("C:\\MBX"));
    for (const char* name : {"chkApplication", "chkPrompts", "chkMessages", "chkMailboxes"})
        QCOMPARE(control<QCheckBox>(*m_window, name)->checkState(), Qt::Checked);
    // Reading creates no settings file; only the exit writes one.
    QVERIFY(!m_folder->settingsExist());
}

void StartupTest::fullSettingsFileFillsEveryControlAndField() {
    QVERIFY(m_folder->writeSettings("[Connection]\nServer=pbx.example:2121\nUser=operator\nPassword=s3 cret\n"
                                    "[ServerPath]\nData=D:\\APP\\DTA\nPrompt=D:\\VOICE\nMessage=E:\\MSG\n"
                                    "Mailbox=C:\\SUBS\n"
                                    "[Selection]\nData=0\nPrompt=1\nMessage=0\nMailbox=1\n"
                                    "[LocalHost]\nDataPath=/srv/backups/pbx\n"));
    m_window->Form_Load();
    QCOMPARE(control<QLineEdit>(*m_window, "eServer")->text(), QStringLiteral("pbx.example:2121"));
    QCOMPARE(control<QLineEdit>(*m_window, "eUser")->text(), QStringLiteral("operator"));
    QCOMPARE(control<QLineEdit>(*m_window, "ePassword")->text(), QStringLiteral("s3 cret"));
    QCOMPARE(m_window->ServerPathData, std::string("D:\\APP\\DTA"));
    QCOMPARE(m_window->ServerPathPrompt, std::string("D:\\VOICE"));
    QCOMPARE(m_window->ServerPathMessage, std::string("E:\\MSG"));
    QCOMPARE(m_window->ServerPathMailbox, std::string("C:\\SUBS"));
    QCOMPARE(control<QCheckBox>(*m_window, "chkApplication")->checkState(), Qt::Unchecked);
    QCOMPARE(control<QCheckBox>(*m_window, "chkPrompts")->checkState(), Qt::Checked);
    QCOMPARE(control<QCheckBox>(*m_window, "chkMessages")->checkState(), Qt::Unchecked);
    QCOMPARE(control<QCheckBox>(*m_window, "chkMailboxes")->checkState(), Qt::Checked);
    QCOMPARE(control<QLineEdit>(*m_window, "eLocalDir")->text(), QStringLiteral("/srv/backups/pbx"));
}

void StartupTest::selectionValues_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("ticked");
    QTest::newRow("5") << "5" << true;
    QTest::newRow("-1") << "-1" << true;
    QTest::newRow("1") << "1" << true;
    QTest::newRow("0") << "0" << false;
    QTest::newRow("abc") << "abc" << false;
}

void StartupTest::selectionValues() {
    QFETCH(QString, stored);
    QFETCH(bool, ticked);
    QVERIFY(m_folder->writeSettings(
        QStringLiteral("[Selection]\nData=%1\nPrompt=%1\nMessage=%1\nMailbox=%1\n").arg(stored)));
    m_window->Form_Load();
    const Qt::CheckState expected = ticked ? Qt::Checked : Qt::Unchecked;
    for (const char* name : {"chkApplication", "chkPrompts", "chkMessages", "chkMailboxes"})
        QCOMPARE(control<QCheckBox>(*m_window, name)->checkState(), expected);
}

void StartupTest::emptyValuesShowEmptyFields() {
    QVERIFY(m_folder->writeSettings("[Connection]\nServer=\nUser=\nPassword=\n"
                                    "[ServerPath]\nData=\nPrompt=\nMessage=\nMailbox=\n"
                                    "[LocalHost]\nDataPath=\n"));
    m_window->Form_Load();
    for (const char* name : {"eServer", "eUser", "ePassword", "eLocalDir"})
        QVERIFY2(control<QLineEdit>(*m_window, name)->text().isEmpty(), name);
    QCOMPARE(m_window->ServerPathData, std::string());
    QCOMPARE(m_window->ServerPathPrompt, std::string());
    QCOMPARE(m_window->ServerPathMessage, std::string());
    QCOMPARE(m_window->ServerPathMailbox, std::string());
}

void StartupTest::logOpensWithVersionAndEngineText() {
    m_window->Form_Load();
    QVERIFY(m_window->EngineAttached());
    const int32_t version = fceGetInteger(0, FCE_VERSION);
    QVERIFY(version > 0);
    const QString hex = QString::number(version, 16).toUpper();
    const QString versionLine =
        QStringLiteral("FTP Client Engine Version %1.%2.%3").arg(hex.mid(0, 1), hex.mid(1, 1), hex.mid(2, 1));
    const QString description = engineDescription();
    QVERIFY(!description.isEmpty());
    QCOMPARE(logLines(*m_window), (QStringList{versionLine, description}));
    QVERIFY(m_window->Commands() != nullptr);
}

void StartupTest::sessionStartsDisconnectedWithoutStateChange() {
    m_window->SetAbortRequested(true);
    m_window->Form_Load();
    QCOMPARE(m_window->FTPState(), Kavrel::StateDisconnected);
    QVERIFY(!m_window->AbortRequested());
    // The layout's flags stand: Form_Load does not run SetNewState.
    QVERIFY(control<QPushButton>(*m_window, "bConnect")->isEnabled());
    QVERIFY(!control<QPushButton>(*m_window, "bQuit")->isEnabled());
    QVERIFY(!control<QPushButton>(*m_window, "cmdAbort")->isEnabled());
    QVERIFY(control<QWidget>(*m_window, "pbarFiles")->isEnabled());
    QCOMPARE(m_window->cursor().shape(), Qt::ArrowCursor);
}

void StartupTest::engineThatCannotBeAttachedLeavesAUsableWindow() {
    m_window.reset();
    fceRelease();
    WindowWithoutEngine window(&m_boxes);
    window.Form_Load();
    const QStringList lines = logLines(window);
    QCOMPARE(lines.size(), 1);
    QVERIFY(lines.first().contains(QStringLiteral("FTP engine could not be attached")));
    QVERIFY(lines.first().contains(QStringLiteral("FTP commands will fail")));
    QVERIFY(!window.EngineAttached());
    QVERIFY(window.Commands() != nullptr);
    // No engine call was made: the engine is still not attached.
    QCOMPARE(fceGetInteger(0, FCE_VERSION), int32_t(FCE_E_NOT_ATTACHED));
    // The window stays usable: Connect reports the engine's failures and stays disconnected.
    window.bConnect_Click();
    QCOMPARE(window.FTPState(), Kavrel::StateDisconnected);
    QVERIFY(logLines(window).contains(QStringLiteral("Connecting to server...")));
    QVERIFY(window.close());
    QVERIFY(m_folder->settingsExist());
}

// The version query and the text query fail: each failure is reported with the engine's text, and no
// made-up version line ("F.F.F") is written.
void StartupTest::failedVersionQueryIsReportedNotShownAsAVersion() {
    m_window.reset();
    fceRelease();
    WindowWithSilentEngine window(&m_boxes);
    window.Form_Load();
    const QString failure = engineErrorText(FCE_E_NOT_ATTACHED);
    QVERIFY(!failure.isEmpty());
    QCOMPARE(logLines(window), (QStringList{failure, failure}));
    QVERIFY(window.Commands() != nullptr);
}

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
