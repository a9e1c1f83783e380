#include "Kavrel.h"

#include "CertificateQuestion.h"
#include "ClassicLook.h"
#include "FingerprintLines.h"
#include "InternalError.h"
#include "LogText.h"
#include "QtMessageBox.h"
#include "TwipScale.h"

#include "ftpengine/FtpEngine.h"
#include "picker/DoSelectDir.h"
#include "settings/IniFunction.h"
#include "settings/OwnershipCheck.h"
#include "settings/ProgramLocation.h"
#include "settings/TrustStore.h"
#include "transfer/ConnectionPool.h"
#include "transfer/EngineStartup.h"
#include "transfer/Retention.h"
#include "transfer/SafeName.h"
#include "transfer/TransferSession.h"
#include "transfer/TrustedConnect.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>
#include <QTextCursor>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr int32_t Channel = 0;
constexpr int32_t ConnectTimeoutMs = 3000;
constexpr int32_t CloseGraceMs = 10000;
constexpr int32_t BinaryMode = 66;         // "B"
constexpr qint64 KeepAliveIntervalMs = 90; // the engine reports at most every 100 ms

constexpr int ProgressBarMaximum = 100;

template <class Control> Control* makeControl(QWidget* container, const char* name, const QRect& geometry) {
    auto* control = new Control(container);
    control->setObjectName(QLatin1String(name));
    control->setGeometry(geometry);
    // Controls inside a frame take the window's font, not the frame's larger caption font.
    control->setFont(ClassicLook::windowFont());
    return control;
}

QPushButton* makeButton(QWidget* container, const char* name, const char* caption, const QRect& geometry) {
    auto* button = makeControl<QPushButton>(container, name, geometry);
    button->setText(QString::fromLatin1(caption));
    button->setAutoDefault(false);
    return button;
}

QLabel* makeLabel(QWidget* container, const char* name, const char* caption, const QRect& geometry,
                  QWidget* buddy) {
    auto* label = makeControl<QLabel>(container, name, geometry);
    label->setText(QString::fromLatin1(caption));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setBuddy(buddy);
    return label;
}

QCheckBox* makeCheckBox(QWidget* container, const char* name, const char* caption, const QRect& geometry) {
    auto* box = makeControl<QCheckBox>(container, name, geometry);
    box->setText(QString::fromLatin1(caption));
    box->setChecked(true);
    return box;
}

QGroupBox* makeFrame(QWidget* window, const char* name, const char* caption, const QRect& geometry) {
    auto* frame = new QGroupBox(QString::fromLatin1(caption), window);
    frame->setObjectName(QLatin1String(name));
    frame->setGeometry(geometry);
    frame->setFont(ClassicLook::frameFont());
    return frame;
}

// A check box's value: 1 ticked, 0 not, 2 greyed.
int32_t checkValue(const QCheckBox* box) {
    switch (box->checkState()) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    default:
        return 0;
    }
}

std::string readSetting(const char* section, const char* key, const std::string& defaultValue) {
    std::string settingsPath;
    return ReadIniString(section, key, defaultValue, settingsPath);
}

bool readTicked(const char* key) {
    std::string settingsPath;
    return ReadIniInteger("Selection", key, 1, settingsPath) != 0;
}

void writeSetting(const char* section, const char* key, const std::string& value) {
    std::string settingsPath;
    WriteIniString(section, key, value, settingsPath);
}

void writeTicked(const char* key, const QCheckBox* box) {
    std::string settingsPath;
    // Only a ticked box is saved as ticked: a greyed box does not take part in a backup either.
    WriteIniInteger("Selection", key, checkValue(box) == 1 ? 1 : 0, settingsPath);
}

// The package's own icon, at every size drawn for it.
QIcon programIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 128})
        icon.addFile(QStringLiteral(":/icons/kavrel-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace

// Marks a command as running, so that a close of the window waits until the command has returned.
class Kavrel::CommandScope {
public:
    explicit CommandScope(Kavrel& window) : m_window(window) { ++m_window.m_runningCommands; }
    ~CommandScope() { m_window.commandReturned(); }
    CommandScope(const CommandScope&) = delete;
    CommandScope& operator=(const CommandScope&) = delete;

private:
    Kavrel& m_window;
};

Kavrel::Kavrel(MessageBoxSeam* messageBox, QWidget* parent) : QWidget(parent), m_messageBox(messageBox) {
    if (m_messageBox == nullptr) {
        m_ownMessageBox = std::make_unique<QtMessageBox>();
        m_messageBox = m_ownMessageBox.get();
    }
    setObjectName(QStringLiteral("Kavrel"));
    setWindowTitle(QStringLiteral("Trelvik Backup and Restore Utility"));
    setWindowIcon(programIcon());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFont(ClassicLook::windowFont());

    const TwipScale scale(logicalDpiX(), logicalDpiY());
    buildControls(scale);
    m_style = QStyleFactory::create(QStringLiteral("Windows"));
    if (m_style != nullptr)
        m_style->setParent(this);
    ClassicLook::applyWindowsStyle(this, m_style);
    placeWindow(scale);
}

Kavrel::~Kavrel() {
    // A window destroyed without being closed writes no settings, but frees what Form_Load took.
    if (m_loaded && !m_unloaded) {
        m_commands.reset();
        DestroyDirPicker();
        if (m_engineAttached)
            fceRelease();
    }
}

void Kavrel::buildControls(const TwipScale& scale) {
    buildServerFrame(scale);
    buildLocalFrame(scale);
    buildSelectionsFrame(scale);
    buildMessageLog(scale);
    buildProgressFrame(scale);
    bExit = makeButton(frameServer, "bExit", "E&xit", scale.rect(3215, 1080, 1215, 300));
    setTabOrderOfTable();
    connectHandlers();
}

void Kavrel::buildServerFrame(const TwipScale& scale) {
    frameServer = makeFrame(this, "frameServer", "Trelvik Server", scale.rect(120, 0, 4575, 1575));
    eServer = makeControl<QLineEdit>(frameServer, "eServer", scale.rect(1080, 360, 2000, 300));
    eUser = makeControl<QLineEdit>(frameServer, "eUser", scale.rect(1080, 720, 2000, 300));
    ePassword = makeControl<QLineEdit>(frameServer, "ePassword", scale.rect(1080, 1080, 2000, 300));
    ePassword->setEchoMode(QLineEdit::Password);
    // "*" for every character, whatever the style (the styles' default is a dot).
    ePassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    ePassword->setAttribute(Qt::WA_InputMethodEnabled, false);
    ePassword->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
    Label1 = makeLabel(frameServer, "Label1", "Name", scale.rect(360, 375, 615, 255), eServer);
    Label2 = makeLabel(frameServer, "Label2", "User", scale.rect(360, 735, 615, 255), eUser);
    nPassword = makeLabel(frameServer, "nPassword", "Password", scale.rect(120, 1095, 855, 255), ePassword);
    bConnect = makeButton(frameServer, "bConnect", "&Connect", scale.rect(3215, 360, 1215, 300));
    bQuit = makeButton(frameServer, "bQuit", "&Disconnect", scale.rect(3215, 720, 1215, 300));
    bQuit->setEnabled(false);
}

void Kavrel::buildLocalFrame(const TwipScale& scale) {
    frameLocal = makeFrame(this, "frameLocal", "Local Directory", scale.rect(120, 1760, 4575, 855));
    // Never typed into: filled from the settings and by the Set button.
    eLocalDir = makeControl<QLineEdit>(frameLocal, "eLocalDir", scale.rect(120, 360, 3480, 300));
    eLocalDir->setEnabled(false);
    bLocalDir = makeButton(frameLocal, "bLocalDir", "&Set", scale.rect(3675, 360, 735, 300));
}

void Kavrel::buildSelectionsFrame(const TwipScale& scale) {
    frameSelections = makeFrame(this, "frameSelections", "Selected Files", scale.rect(120, 2800, 4575, 1575));
    chkApplication =
        makeCheckBox(frameSelections, "chkApplication", "Application Data", scale.rect(240, 360, 1815, 255));
    chkPrompts = makeCheckBox(frameSelections, "chkPrompts", "Prompts", scale.rect(240, 635, 1815, 255));
    chkMessages = makeCheckBox(frameSelections, "chkMessages", "Messages", scale.rect(240, 910, 1815, 255));
    chkMailboxes =
        makeCheckBox(frameSelections, "chkMailboxes", "Subscriber Data", scale.rect(240, 1185, 1815, 255));
    bGet = makeButton(frameSelections, "bGet", "&Backup", scale.rect(3215, 600, 1215, 300));
    bGet->setEnabled(false);
    bPut = makeButton(frameSelections, "bPut", "&Restore", scale.rect(3215, 960, 1215, 300));
    bPut->setEnabled(false);
}

void Kavrel::buildMessageLog(const TwipScale& scale) {
    eMessage = makeControl<QPlainTextEdit>(this, "eMessage", scale.rect(4800, 120, 6495, 5295));
    eMessage->setReadOnly(true);
    // The log can grow to tens of thousands of lines: no undo history to keep for it.
    eMessage->setUndoRedoEnabled(false);
    eMessage->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    eMessage->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    eMessage->setLineWrapMode(QPlainTextEdit::WidgetWidth);
}

void Kavrel::buildProgressFrame(const TwipScale& scale) {
    frameProgress = makeFrame(this, "frameProgress", "Progress", scale.rect(120, 4560, 4575, 855));
    cmdAbort = makeButton(frameProgress, "cmdAbort", "&Abort", scale.rect(3215, 360, 1215, 300));
    cmdAbort->setEnabled(false);
    pbarFiles = makeControl<QProgressBar>(frameProgress, "pbarFiles", scale.rect(120, 360, 3010, 300));
    pbarFiles->setRange(0, ProgressBarMaximum);
    pbarFiles->setValue(0);
    pbarFiles->setTextVisible(false);
}

void Kavrel::setTabOrderOfTable() {
    const std::array<QWidget*, 16> order = {
        eServer,    eUser,       ePassword,    bConnect, bQuit, eLocalDir, bLocalDir, chkApplication,
        chkPrompts, chkMessages, chkMailboxes, bGet,     bPut,  eMessage,  cmdAbort,  bExit};
    for (size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void Kavrel::connectHandlers() {
    connect(bConnect, &QPushButton::clicked, this, &Kavrel::bConnect_Click);
    connect(bQuit, &QPushButton::clicked, this, &Kavrel::bQuit_Click);
    connect(bExit, &QPushButton::clicked, this, &Kavrel::bExit_Click);
    connect(cmdAbort, &QPushButton::clicked, this, &Kavrel::cmdAbort_Click);
    connect(bGet, &QPushButton::clicked, this, &Kavrel::bGet_Click);
    connect(bPut, &QPushButton::clicked, this, &Kavrel::bPut_Click);
    connect(bLocalDir, &QPushButton::clicked, this, &Kavrel::bLocalDir_Click);
}

void Kavrel::placeWindow(const TwipScale& scale) {
    resize(scale.size(11385, 5595));
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect centred(QPoint(), size());
        centred.moveCenter(screen->availableGeometry().center());
        move(centred.topLeft());
    }
}

void Kavrel::Form_Load() {
    if (m_loaded)
        return;
    m_loaded = true;
    loadSettings();
    m_ftpState = StateDisconnected;
    m_abortRequested = false;
    attachEngine();
    // The settings were not taken from a file someone else could have written: say why.
    if (const std::string refusal = OwnershipCheck::refusalOf("settings file", DefaultSettingsPath(), true);
        !refusal.empty())
        Display(refusal);
    for (const auto& problem : m_retentionProblems)
        Display(problem + ": its default is used.");
    m_commands = std::make_unique<TransferCommands>(*this);
    m_commands->SetRetention(m_retention);
    m_commands->session().SetConnections(m_connections);
}

void Kavrel::loadSettings() {
    eServer->setText(LogText::fromBytes(readSetting("Connection", "Server", DefaultServerName)));
    eUser->setText(LogText::fromBytes(readSetting("Connection", "User", "admin")));
    ePassword->setText(LogText::fromBytes(readSetting("Connection", "Password", "tamsk")));
    ServerPathData = readSetting("ServerPath", "Data", "C:\\DTA");
    ServerPathPrompt = readSetting("ServerPath", "Prompt", "C:\\PMT");
    ServerPathMessage = readSetting("ServerPath", "Message", "C:\\MSG");
    ServerPathMailbox = readSetting("ServerPath", "Mailbox", "C:\\MBX");
    chkApplication->setChecked(readTicked("Data"));
    chkPrompts->setChecked(readTicked("Prompt"));
    chkMessages->setChecked(readTicked("Message"));
    chkMailboxes->setChecked(readTicked("Mailbox"));
    eLocalDir->setText(
        LogText::fromBytes(readSetting("LocalHost", "DataPath", ProgramLocation::defaultLocalFolder())));
    m_retentionProblems.clear();
    m_retention = Retention::FromSettings([](const char* key) { return readSetting("Generations", key, ""); },
                                          m_retentionProblems);
    std::string settingsPath;
    m_connections = std::clamp(
        ReadIniInteger("Connection", "Connections", ConnectionPool::kDefaultConnections, settingsPath), 1,
        ConnectionPool::kMostConnections);
}

int32_t Kavrel::AttachEngine() {
    return fceAttach(m_connections);
}

void Kavrel::attachEngine() {
    m_engineAttached =
        EngineStartup::Start(*this, "KAVREL.LOG", m_connections, [this] { return AttachEngine(); }) >= 0;
}

void Kavrel::Form_Unload() {
    if (!m_loaded || m_unloaded)
        return;
    m_unloaded = true;
    bQuit_Click();
    saveSettings();
    m_commands.reset();
    DestroyDirPicker();
    fceRelease();
    m_engineAttached = false;
}

void Kavrel::saveSettings() {
    writeSetting("Connection", "Server", LogText::toBytes(eServer->text()));
    writeSetting("Connection", "User", LogText::toBytes(eUser->text()));
    writeSetting("Connection", "Password", LogText::toBytes(ePassword->text()));
    std::string settingsPath;
    WriteIniInteger("Connection", "Connections", m_connections, settingsPath);
    writeSetting("ServerPath", "Data", ServerPathData);
    writeSetting("ServerPath", "Prompt", ServerPathPrompt);
    writeSetting("ServerPath", "Message", ServerPathMessage);
    writeSetting("ServerPath", "Mailbox", ServerPathMailbox);
    writeTicked("Data", chkApplication);
    writeTicked("Prompt", chkPrompts);
    writeTicked("Message", chkMessages);
    writeTicked("Mailbox", chkMailboxes);
    writeSetting("LocalHost", "DataPath", LogText::toBytes(eLocalDir->text()));
}

void Kavrel::closeEvent(QCloseEvent* event) {
    if (m_runningCommands > 0) {
        // Never unload under a running command: the close counts as an Abort, and the window closes
        // once the command has returned (its summary box included). A file or call that has not ended
        // CloseGraceMs later, or a second close, is interrupted, so that the window always goes.
        fceInterrupt(Channel, m_closeWhenIdle ? 0 : CloseGraceMs);
        m_abortRequested = true;
        m_closeWhenIdle = true;
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

void Kavrel::commandReturned() {
    --m_runningCommands;
    if (m_runningCommands == 0 && m_closeWhenIdle) {
        m_closeWhenIdle = false;
        close();
    }
}

void Kavrel::ShowError(int32_t code) {
    ::ShowError(*this, code);
}

void Kavrel::Display(const std::string& Buffer) {
    // Appends at the end instead of rebuilding the text, so the log stays fast however long it grows.
    QTextCursor end(eMessage->document());
    end.movePosition(QTextCursor::End);
    end.insertText(LogText::toDocumentText(LogText::fromBytes(FingerprintLines::apart(Buffer))) +
                   QLatin1Char('\n'));
    eMessage->moveCursor(QTextCursor::End);
}

void Kavrel::ClearLog() {
    eMessage->clear();
}

QString Kavrel::MessageLogText() const {
    return LogText::fromDocumentText(eMessage->toPlainText());
}

void Kavrel::SetProgressValue(double value) {
    m_progressValue = value;
    showProgress();
}

void Kavrel::SetProgressMax(double max) {
    m_progressMax = max;
    showProgress();
}

void Kavrel::showProgress() {
    int percent = 0;
    if (m_progressMax > 0.0 && std::isfinite(m_progressValue))
        percent =
            static_cast<int>(std::lround(100.0 * std::clamp(m_progressValue / m_progressMax, 0.0, 1.0)));
    pbarFiles->setValue(percent);
}

void Kavrel::Yield() {
    QCoreApplication::processEvents();
}

void Kavrel::KeepAlive(int64_t) {
    if (m_lastKeepAlive.isValid() && m_lastKeepAlive.elapsed() < KeepAliveIntervalMs)
        return;
    m_lastKeepAlive.start();
    // Input too: a click on Abort is taken in while the file moves, and a close starts its interrupt at
    // once instead of after a file that may have stalled. No input may be set aside here: the X11
    // platform keeps set-aside input in a queue of its own, which the glib event loop's next yield does
    // not look at until some other X event arrives, so the click would wait for the pointer to move.
    // Only Abort is enabled while transferring, and the engine refuses a call from inside a transfer.
    Yield();
}

void Kavrel::ShowMessage(const std::string& text, const std::string& title, int32_t style) {
    m_messageBox->ShowMessage(this, text, title, style);
}

void Kavrel::SetNewState(int32_t NewState) {
    // One row per state; the columns are the controls below, in the order they are set: the three
    // connection fields, Connect, Disconnect, Exit, Set, the four category boxes, Backup, Restore, Abort.
    static constexpr std::array<std::array<bool, 14>, 3> enabledIn = {{
        {true, true, true, true, false, true, true, true, true, true, true, false, false, false},
        {false, false, false, false, true, true, true, true, true, true, true, true, true, false},
        {false, false, false, false, false, false, false, false, false, false, false, false, false, true},
    }};
    if (NewState < StateDisconnected || NewState > StateTransferring) {
        Display("Invalid FTPState requested: " + std::to_string(NewState));
        Yield();
        return;
    }
    // A focused Abort that is disabled hands the focus on to the next control, Exit, where a Space press
    // would end the program; the log is where a command leaves the focus when Abort was not pressed.
    if (NewState != StateTransferring && focusWidget() == cmdAbort)
        eMessage->setFocus();
    if (NewState == StateTransferring)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
    const std::array<QWidget*, 14> controls = {
        eServer,        eUser,      ePassword,   bConnect,     bQuit, bExit, bLocalDir,
        chkApplication, chkPrompts, chkMessages, chkMailboxes, bGet,  bPut,  cmdAbort};
    for (size_t i = 0; i < controls.size(); ++i)
        controls[i]->setEnabled(enabledIn[static_cast<size_t>(NewState)][i]);
    SetProgressValue(0.0);
    pbarFiles->setEnabled(NewState == StateTransferring);
    m_ftpState = NewState;
    Yield();
}

void Kavrel::bConnect_Click() {
    if (m_ftpState != StateDisconnected)
        return;
    CommandScope command(*this);
    try {
        connectToServer();
    } catch (const std::exception& error) {
        Display(InternalError::headline("bConnect_Click"));
        Display(InternalError::detail(InternalError::numberOf(error), error.what()));
        SetNewState(StateDisconnected);
    }
}

bool Kavrel::refuseEmptyField(QLineEdit* field, const char* text) {
    if (!field->text().isEmpty())
        return false;
    ShowMessage(text, "Connection Error", MessageBoxSeam::StyleExclamation);
    field->setFocus();
    return true;
}

void Kavrel::connectToServer() {
    if (refuseEmptyField(eServer, "No server name or address specified.") ||
        refuseEmptyField(eUser, "No user name specifed.") ||
        refuseEmptyField(ePassword, "No password specified."))
        return;
    int32_t rc = fceSetInteger(Channel, FCE_CONNECT_TIMEOUT_MS, ConnectTimeoutMs);
    if (rc < 0)
        ShowError(rc);
    ConnectServer = LogText::toBytes(eServer->text()) + '\0';
    ConnectUser = LogText::toBytes(eUser->text()) + '\0';
    ConnectPassword = LogText::toBytes(ePassword->text()) + '\0';
    Display("Connecting to server...");
    SetNewState(StateTransferring);
    const std::string server = LogText::toBytes(eServer->text());
    const std::string user = LogText::toBytes(eUser->text());
    const std::string password = LogText::toBytes(ePassword->text());
    TrustedConnect connection(*this, TrustStore::pathBeside(DefaultSettingsPath()));
    rc = connection.connect(server, user, password);
    if (rc == FCE_E_UNTRUSTED_CERTIFICATE) {
        ShowError(rc);
        const std::string accepted = trustPresentedCertificate(server, connection);
        if (accepted.empty()) {
            SetNewState(StateDisconnected);
            return;
        }
        // Once, with the certificate just accepted, also when it could not be stored: a server that
        // shows yet another certificate now is refused, not asked about again.
        Display("Connecting to server...");
        rc = connection.connect(server, user, password, accepted);
    }
    if (rc < 0) {
        ShowError(rc);
        SetNewState(StateDisconnected);
        return;
    }
    Display("Connected to " + SafeName::printable(server));
    rc = fceSetMode(Channel, BinaryMode);
    if (rc < 0)
        ShowError(rc);
    else
        Display("Mode set to Binary");
    connection.reportEncryption(server);
    SetNewState(StateConnected);
}

std::string Kavrel::trustPresentedCertificate(const std::string& server, TrustedConnect& connection) {
    const PresentedCertificate presented = PresentedCertificate::presented();
    if (presented.fingerprint.empty())
        return {};
    const CertificateQuestion question =
        CertificateQuestion::about(server, presented, connection.storedFingerprint(server));
    if (!m_messageBox->AskYesNo(this, question.text, question.title, question.style)) {
        Display("Certificate " + presented.fingerprint + " not trusted: not connected to " +
                SafeName::printable(server));
        return {};
    }
    connection.trust(server, presented.fingerprint);
    return presented.fingerprint;
}

void Kavrel::bQuit_Click() {
    if (m_ftpState == StateDisconnected)
        return;
    const int32_t rc = fceClose(Channel);
    if (rc < 0)
        ShowError(rc);
    else
        SetNewState(StateDisconnected);
}

void Kavrel::bExit_Click() {
    close();
}

void Kavrel::cmdAbort_Click() {
    m_abortRequested = true;
}

CategorySelection Kavrel::selection() const {
    CategorySelection boxes;
    boxes.application = checkValue(chkApplication);
    boxes.prompts = checkValue(chkPrompts);
    boxes.messages = checkValue(chkMessages);
    boxes.mailboxes = checkValue(chkMailboxes);
    return boxes;
}

ServerPaths Kavrel::serverPaths() const {
    ServerPaths paths;
    paths.data = ServerPathData;
    paths.prompt = ServerPathPrompt;
    paths.message = ServerPathMessage;
    paths.mailbox = ServerPathMailbox;
    return paths;
}

void Kavrel::bGet_Click() {
    // The button is enabled only while connected and idle; a direct call obeys the same rule.
    if (m_ftpState != StateConnected || !m_commands)
        return;
    CommandScope command(*this);
    m_lastOutcome = m_commands->Backup(LogText::toBytes(eLocalDir->text()), selection(), serverPaths());
}

void Kavrel::bPut_Click() {
    if (m_ftpState != StateConnected || !m_commands)
        return;
    CommandScope command(*this);
    m_lastOutcome = m_commands->Restore(LogText::toBytes(eLocalDir->text()), selection(), serverPaths());
}

void Kavrel::bLocalDir_Click() {
    CommandScope command(*this);
    QString ResultString = eLocalDir->text();
    if (DoSelectDir(this, ResultString) == DirPickerChosen)
        eLocalDir->setText(ResultString);
}
