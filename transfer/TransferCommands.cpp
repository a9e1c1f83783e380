#include "TransferCommands.h"

#include "FolderLock.h"
#include "FtpEngine.h"
#include "ProgramLocation.h"
#include "RunTimeError.h"
#include "SafeName.h"
#include "TransferSession.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
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
    const char* key; // in the settings' [ServerPath] section
    const char* folder;
    const char* backupHeader;
    const char* restoreHeader;
    bool isPrompts;
};

// The four categories in the order both commands take them.
std::array<Category, 4> categoryTable(const CategorySelection& selection, const ServerPaths& paths) {
    return {{
        {selection.application, paths.data, "Data", "DTA", "Backing up application data",
         "Restoring application data", false},
        {selection.prompts, paths.prompt, "Prompt", "PMT", "Backing up prompts", "Restoring prompts", true},
        {selection.messages, paths.message, "Message", "MSG", "Backing up messages", "Restoring messages",
         false},
        {selection.mailboxes, paths.mailbox, "Mailbox", "MBX", "Backing up subscriber data",
         "Restoring subscriber data", false},
    }};
}

// The first category runs on its check box alone (the flag was just cleared); the others also stop on Abort.
bool categoryRuns(const Category& category, size_t index, const TransferHost& host) {
    return category.checkBox == kTicked && (index == 0 || !host.AbortRequested());
}

// A server path that is empty, blank, a drive alone or only separators selects the server's root: a
// backup would replace the category's folder with the root's files, a restore would fill the root.
bool namesServerRoot(const std::string& serverPath) {
    const size_t colon = serverPath.find(':');
    const size_t start = colon == std::string::npos ? 0 : colon + 1;
    return serverPath.find_first_not_of(" \\/", start) == std::string::npos;
}

std::string rootPathLine(const Category& category) {
    const std::string setting = std::string("[ServerPath] ") + category.key + "=";
    return "The server path " + setting + SafeName::quoted(category.serverPath) +
           " names the server's root: it must name a directory below it, such as \"C:\\" + category.folder +
           "\".";
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
    // A failure comes before the Abort flag, also when the host's interrupt caused it after an Abort
    // (a close or a stop that took too long, a second close or signal): a file was cut short.
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
        return ProgramLocation::emptyLocalFolderBase();
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
        outcome = RunInBase(direction, base, selection, paths);
    } catch (...) {
        pending = RunTimeError::fromCurrentException();
    }
    m_session->SetLocalBase({});
    const CommandOutcome result =
        showSummary(m_host, direction == Direction::Backup ? "Backup" : "Restore", outcome, pending);
    m_host.SetNewState(kStateConnected);
    return result;
}

// The base folder is this command's alone while it runs; a Restore first makes sure every folder it
// is to send exists, so that nothing is half restored from a mistyped folder.
int32_t TransferCommands::RunInBase(Direction direction, const std::string& base,
                                    const CategorySelection& selection, const ServerPaths& paths) {
    const auto categories = categoryTable(selection, paths);
    if (std::none_of(categories.begin(), categories.end(),
                     [](const Category& category) { return category.checkBox == kTicked; }))
        return 0;
    const LocalFileSystem& fileSystem = m_session->fileSystem();
    const std::string absolute = fileSystem.GetAbsolutePathName(base);
    if (direction == Direction::Restore && CheckRestoreFolders(absolute, selection, paths) < 0)
        return -1;
    if (direction == Direction::Backup && !fileSystem.FolderExists(absolute))
        m_session->CreateLocalDirectory(absolute);
    FolderLock lock;
    if (const int error = lock.acquire(absolute); error != 0) {
        if (error == EWOULDBLOCK)
            m_host.Display("The local folder " + SafeName::printable(absolute) +
                           " is busy: another backup or restore is running in it.");
        else
            m_host.Display("The local folder " + SafeName::printable(absolute) +
                           " cannot be locked: " + std::strerror(error));
        return -1;
    }
    m_session->SetLocalBase(absolute);
    return RunCategories(direction, base, selection, paths);
}

int32_t TransferCommands::CheckRestoreFolders(const std::string& base, const CategorySelection& selection,
                                              const ServerPaths& paths) {
    LocalFolder baseFolder;
    const bool baseOpen = LocalFolder::openPath(base, baseFolder) == 0;
    const LocalFileSystem& fileSystem = m_session->fileSystem();
    int32_t result = 0;
    for (const Category& category : categoryTable(selection, paths)) {
        if (category.checkBox != kTicked)
            continue;
        const auto kind = baseOpen ? baseFolder.kindOf(category.folder) : LocalFolder::Kind::Missing;
        if (kind == LocalFolder::Kind::Folder)
            continue;
        const std::string folder = fileSystem.BuildPath(base, category.folder);
        m_host.Display(kind == LocalFolder::Kind::Link ? TransferSession::SymbolicLinkLine(folder)
                                                       : TransferSession::MissingFolderLine(folder));
        result = -1;
    }
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
        if (namesServerRoot(category.serverPath)) {
            m_host.Display(rootPathLine(category));
            return -1;
        }
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
    const LocalFileSystem& fileSystem = m_session->fileSystem();
    const std::string promptFolder = fileSystem.BuildPath(base, kPromptFolder);
    // Abort is looked at before any name, so that an Abort always ends as the user's own stop; the
    // names are all checked before any subdirectory is copied.
    if (m_host.AbortRequested())
        return 0;
    for (const auto& name : names) {
        if (!SafeName::isSafeComponent(name)) {
            m_host.Display("Refused unsafe name from the server: " + SafeName::quoted(name));
            return FCE_E_UNSAFE_NAME;
        }
    }
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
    const std::string promptFolder =
        fileSystem.GetAbsolutePathName(fileSystem.BuildPath(base, kPromptFolder));
    // Its own files have just gone up: a folder that cannot be listed now is a run-time error.
    LocalFolder baseFolder;
    LocalFolder folder;
    int error = LocalFolder::openPath(fileSystem.GetAbsolutePathName(base), baseFolder);
    if (error == 0)
        error = baseFolder.openChild(kPromptFolder, false, folder);
    if (error != 0)
        throw std::filesystem::filesystem_error("cannot open folder", promptFolder,
                                                std::error_code(error, std::generic_category()));
    for (const auto& entry : folder.entries()) {
        // Abort is looked at before the name, so that an Abort always ends as the user's own stop.
        if (m_host.AbortRequested())
            break;
        const std::string& name = entry.name;
        if (SafeName::isTransferTemporary(name) ||
            (entry.kind != LocalFolder::Kind::Folder && entry.kind != LocalFolder::Kind::Link))
            continue;
        if (entry.kind == LocalFolder::Kind::Link) {
            m_host.Display(TransferSession::SymbolicLinkLine(fileSystem.BuildPath(promptFolder, name)));
            continue;
        }
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
