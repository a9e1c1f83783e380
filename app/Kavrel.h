#pragma once

#include "transfer/ConnectionPool.h"
#include "transfer/TransferCommands.h"
#include "transfer/TransferHost.h"

#include <QElapsedTimer>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>

class MessageBoxSeam;
class QCheckBox;
class QCloseEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStyle;
class TrustedConnect;
class TwipScale;

// The main window: the session with the server, its commands and the message log. It is also the host
// the Backup and Restore commands report through.
class Kavrel : public QWidget, public TransferHost {
    Q_OBJECT

public:
    // The session states. FTPState changes only through SetNewState, and once in Form_Load.
    static constexpr int32_t StateDisconnected = 0; // no connection to the server
    static constexpr int32_t StateConnected = 1;    // connected; no command running
    static constexpr int32_t StateTransferring = 2; // the engine is busy: a connect, a backup or a restore

    // The server name of a first run, before the settings file names one.
    static constexpr const char* DefaultServerName = "trelvik";

    // messageBox receives every message box; null gives the real, modal QMessageBox.
    explicit Kavrel(MessageBoxSeam* messageBox = nullptr, QWidget* parent = nullptr);
    ~Kavrel() override;

    // Fills the window from the settings file and attaches the engine; call once, before showing it.
    void Form_Load();
    // Disconnects, writes every setting back and releases the engine; runs once, from the close event.
    void Form_Unload();

    void ShowError(int32_t code);

    // TransferHost
    void Display(const std::string& Buffer) override;
    void ClearLog() override;
    double ProgressValue() const override { return m_progressValue; }
    void SetProgressValue(double value) override;
    void SetProgressMax(double max) override;
    void Yield() override;
    void KeepAlive(int64_t bytesSoFar) override;
    bool AbortRequested() const override { return m_abortRequested; }
    void SetAbortRequested(bool requested) override { m_abortRequested = requested; }
    void SetNewState(int32_t NewState) override;
    void ShowMessage(const std::string& text, const std::string& title, int32_t style) override;

    int32_t FTPState() const { return m_ftpState; }
    double ProgressMax() const { return m_progressMax; }
    // The whole log, every line ended by CR LF.
    QString MessageLogText() const;
    // The Backup and Restore commands and their session (ServerList); null before Form_Load and after unload.
    TransferCommands* Commands() const { return m_commands.get(); }
    // How the last Backup or Restore ended.
    CommandOutcome LastOutcome() const { return m_lastOutcome; }
    bool IsLoaded() const { return m_loaded; }
    bool IsUnloaded() const { return m_unloaded; }
    bool EngineAttached() const { return m_engineAttached; }

    // What Connect handed to the engine: each field's text and one NUL.
    std::string ConnectServer;
    std::string ConnectUser;
    std::string ConnectPassword;

    // Each category's server directory in drive-and-backslash form; loaded and saved, shown nowhere.
    std::string ServerPathData = "C:\\DTA";
    std::string ServerPathPrompt = "C:\\PMT";
    std::string ServerPathMessage = "C:\\MSG";
    std::string ServerPathMailbox = "C:\\MBX";

public slots:
    void bConnect_Click();
    void bQuit_Click();
    void bExit_Click();
    void cmdAbort_Click();
    void bGet_Click();
    void bPut_Click();
    void bLocalDir_Click();

protected:
    void closeEvent(QCloseEvent* event) override;
    // Attaches the engine with a channel per connection; tests stand in a refusing engine here.
    virtual int32_t AttachEngine();

private:
    class CommandScope;

    void buildControls(const TwipScale& scale);
    void buildServerFrame(const TwipScale& scale);
    void buildLocalFrame(const TwipScale& scale);
    void buildSelectionsFrame(const TwipScale& scale);
    void buildMessageLog(const TwipScale& scale);
    void buildProgressFrame(const TwipScale& scale);
    void setTabOrderOfTable();
    void connectHandlers();
    void placeWindow(const TwipScale& scale);

    void loadSettings();
    void attachEngine();
    void saveSettings();

    void connectToServer();
    bool refuseEmptyField(QLineEdit* field, const char* text);
    // Asks whether to trust the certificate the server just presented; Yes stores it for server (where
    // the trust file can be written) and gives its fingerprint, No gives empty text.
    std::string trustPresentedCertificate(const std::string& server, TrustedConnect& connection);
    CategorySelection selection() const;
    ServerPaths serverPaths() const;

    void showProgress();
    void commandReturned();

    MessageBoxSeam* m_messageBox;
    std::unique_ptr<MessageBoxSeam> m_ownMessageBox;
    QStyle* m_style = nullptr;

    int32_t m_ftpState = StateDisconnected;
    bool m_abortRequested = false;
    double m_progressValue = 0.0;
    double m_progressMax = 100.0;
    QElapsedTimer m_lastKeepAlive;

    std::unique_ptr<TransferCommands> m_commands;
    // [Generations], read at start and never written: the file is the administrator's to edit.
    RetentionPolicy m_retention;
    std::vector<std::string> m_retentionProblems;
    CommandOutcome m_lastOutcome = CommandOutcome::Completed;
    bool m_loaded = false;
    bool m_unloaded = false;
    bool m_engineAttached = false;
    // [Connection] Connections: how many connections a folder's files may move over at once.
    int32_t m_connections = ConnectionPool::kDefaultConnections;
    // A command (connect, backup, restore, the folder picker) is running; closing waits for it.
    int m_runningCommands = 0;
    bool m_closeWhenIdle = false;

    QGroupBox* frameServer = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* eServer = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* eUser = nullptr;
    QLabel* nPassword = nullptr;
    QLineEdit* ePassword = nullptr;
    QPushButton* bConnect = nullptr;
    QPushButton* bQuit = nullptr;
    QGroupBox* frameLocal = nullptr;
    QLineEdit* eLocalDir = nullptr;
    QPushButton* bLocalDir = nullptr;
    QGroupBox* frameSelections = nullptr;
    QCheckBox* chkApplication = nullptr;
    QCheckBox* chkPrompts = nullptr;
    QCheckBox* chkMessages = nullptr;
    QCheckBox* chkMailboxes = nullptr;
    QPushButton* bGet = nullptr;
    QPushButton* bPut = nullptr;
    QPlainTextEdit* eMessage = nullptr;
    QGroupBox* frameProgress = nullptr;
    QPushButton* cmdAbort = nullptr;
    QProgressBar* pbarFiles = nullptr;
    QPushButton* bExit = nullptr;
};
