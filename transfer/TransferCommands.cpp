#include "TransferCommands.h"

#include "FtpEngine.h"
#include "ProgramLocation.h"
#include "RunTimeError.h"
#include "SafeName.h"
#include "TransferSession.h"

#include <array>
#include <optional>
#include <vector>

namespace {

constexpr int32_t kStateConnected = 1;
constexpr int32_t kStateTransferring = 2;
constexpr int32_t kTicked = 1;
constexpr int32_t kStyleExclamation = 48;
constexpr int32_t kStyleInformation = 64;
const std::string kPromptFolder = "PMT";

struct Category {
    int32_t checkBox;
    const std::string& serverPath;
    const char* folder;
    const char* backupHeader;
    const char* restoreHeader;
    bool isPrompts;
};

// The four categories in the order both commands take them.
std::array<Category, 4> categoryTable(const CategorySelection& selection, const ServerPaths& paths) {
    return {{
        {selection.application, paths.data, "DTA", "Backing up application data",
         "Restoring application data", false},
        {selection.prompts, paths.prompt, "PMT", "Backing up prompts", "Restoring prompts", true},
        {selection.messages, paths.message, "MSG", "Backing up messages", "Restoring messages", false},
        {selection.mailboxes, paths.mailbox, "MBX", "Backing up subscriber data", "Restoring subscriber data",
         false},
    }};
}

// The first category runs on its check box alone (the flag was just cleared); the others also stop on Abort.
bool categoryRuns(const Category& category, size_t index, const TransferHost& host) {
    return category.checkBox == kTicked && (index == 0 || !host.AbortRequested());
}

std::string header(const char* text) {
    return std::string("\r\n") + text + "\r\n";
}

// The one summary box; word is "Backup" or "Restore".
CommandOutcome showSummary(TransferHost& host, const std::string& word, int32_t outcome,
                           const std::optional<RunTimeError>& pending) {
    const std::string errorTitle = "Error During " + word;
    const std::string completeTitle = word + " Complete";
    if (pending) {
        host.ShowMessage("Error: (" + std::to_string(pending->number) + ") - " + pending->description,
                         errorTitle, kStyleExclamation);
        return CommandOutcome::RunTimeError;
    }
    if (outcome < 0) {
        host.ShowMessage(word + " halted prematurely.", errorTitle, kStyleExclamation);
        return CommandOutcome::HaltedPrematurely;
    }
    if (host.AbortRequested()) {
        host.ShowMessage(word + " halted by user.", completeTitle, kStyleInformation);
        return CommandOutcome::HaltedByUser;
    }
    host.ShowMessage(word + " completed.", completeTitle, kStyleInformation);
    return CommandOutcome::Completed;
}

} // namespace

TransferCommands::TransferCommands(TransferHost& host)
    : m_host(host), m_session(std::make_unique<TransferSession>(host)) {}

TransferCommands::~TransferCommands() = default;

TransferSession& TransferCommands::session() {
    return *m_session;
}

std::string TransferCommands::LocalBaseDirectory(const std::string& localDirText) {
    // Only blanks are trimmed: a tab is a character a folder name may hold.
    const size_t first = localDirText.find_first_not_of(' ');
    if (first == std::string::npos)
        return ProgramLocation::driveRoot();
    const size_t last = localDirText.find_last_not_of(' ');
    return localDirText.substr(first, last - first + 1);
}

std::string TransferCommands::BuildServerPath(const std::string& serverDir, const std::string& name) {
    if (serverDir.empty())
        return name;
    return serverDir.back() == '\\' ? serverDir + name : serverDir + "\\" + name;
}

CommandOutcome TransferCommands::Backup(const std::string& localDirText, const CategorySelection& selection,
                                        const ServerPaths& paths) {
    return RunCommand(Direction::Backup, localDirText, selection, paths);
}

CommandOutcome TransferCommands::RunCommand(Direction direction, const std::string& localDirText,
                                            const CategorySelection& selection, const ServerPaths& paths) {
    int32_t outcome = -1;
    std::optional<RunTimeError> pending;
    try {
        m_host.ClearLog();
        const std::string base = LocalBaseDirectory(localDirText);
        m_host.SetAbortRequested(false);
        m_host.SetNewState(kStateTransferring);
        outcome = RunCategories(direction, base, selection, paths);
    } catch (...) {
        pending = RunTimeError::fromCurrentException();
    }
    const CommandOutcome result =
        showSummary(m_host, direction == Direction::Backup ? "Backup" : "Restore", outcome, pending);
    m_host.SetNewState(kStateConnected);
    return result;
}

int32_t TransferCommands::RunCategories(Direction direction, const std::string& base,
                                        const CategorySelection& selection, const ServerPaths& paths) {
    const bool backup = direction == Direction::Backup;
    const auto categories = categoryTable(selection, paths);
    const LocalFileSystem& fileSystem = m_session->fileSystem();
    for (size_t index = 0; index < categories.size(); ++index) {
        const Category& category = categories[index];
        if (!categoryRuns(category, index, m_host))
            continue;
        m_host.Display(header(backup ? category.backupHeader : category.restoreHeader));
        const std::string local = fileSystem.BuildPath(base, category.folder);
        const int32_t code = backup ? m_session->RetrieveDirectory(category.serverPath, local)
                                    : m_session->UploadDirectory(category.serverPath, local);
        if (code < 0)
            return -1;
        if (category.isPrompts &&
            (backup ? BackupPromptSubdirectories(base, paths) : RestorePromptSubFolders(base, paths)) < 0)
            return -1;
    }
    return 0;
}

// One level below Prompts. A listing that fails ends the backup like any other failure: those
// subdirectories were not backed up, so the backup cannot say it completed.
int32_t TransferCommands::BackupPromptSubdirectories(const std::string& base, const ServerPaths& paths) {
    const int32_t count = m_session->GetServerDirList();
    if (count <= 0)
        return count;
    // Every download refills ServerList with file names, so the subdirectory names are copied first.
    std::vector<std::string> names;
    const ServerList& list = m_session->serverList();
    for (int32_t position = 1; position <= list.Count(); ++position)
        names.push_back(list.Item(position).Text());
    for (const auto& name : names) {
        if (!SafeName::isSafeComponent(name)) {
            m_host.Display("Refused unsafe name from the server: " + SafeName::quoted(name));
            return FCE_E_UNSAFE_NAME;
        }
    }
    const LocalFileSystem& fileSystem = m_session->fileSystem();
    const std::string promptFolder = fileSystem.BuildPath(base, kPromptFolder);
    for (const auto& name : names) {
        if (m_host.AbortRequested())
            break;
        const int32_t code = m_session->RetrieveDirectory(BuildServerPath(paths.prompt, name),
                                                          fileSystem.BuildPath(promptFolder, name));
        if (code < 0)
            return code;
    }
    return 0;
}

CommandOutcome TransferCommands::Restore(const std::string& localDirText, const CategorySelection& selection,
                                         const ServerPaths& paths) {
    return RunCommand(Direction::Restore, localDirText, selection, paths);
}

// One level below the local Prompts folder. The transfers' own staging folders are never sent, and a
// folder name that is not one plain component would address some other server directory.
int32_t TransferCommands::RestorePromptSubFolders(const std::string& base, const ServerPaths& paths) {
    const LocalFileSystem& fileSystem = m_session->fileSystem();
    const std::string promptFolder = fileSystem.BuildPath(base, kPromptFolder);
    for (const auto& name : fileSystem.SubFolderNames(promptFolder)) {
        if (SafeName::isTransferTemporary(name))
            continue;
        if (m_host.AbortRequested())
            break;
        if (!SafeName::isSafeComponent(name)) {
            m_host.Display("Refused unsafe folder name: " + SafeName::quoted(name));
            return FCE_E_UNSAFE_NAME;
        }
        const int32_t code = m_session->UploadDirectory(BuildServerPath(paths.prompt, name),
                                                        fileSystem.BuildPath(promptFolder, name));
        if (code < 0)
            return code;
    }
    return 0;
}
