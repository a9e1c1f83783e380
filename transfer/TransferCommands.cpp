#include "TransferCommands.h"

#include "FolderLock.h"
#include "FtpEngine.h"
#include "GenerationStore.h"
#include "ProgramLocation.h"
#include "RunTimeError.h"
#include "SafeName.h"
#include "TransferSession.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <set>
#include <unordered_set>
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
    : m_host(host), m_session(std::make_unique<TransferSession>(host)),
      m_clock([] { return static_cast<int64_t>(std::time(nullptr)); }) {}

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
    m_session->EndConnections();
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
    const bool backup = direction == Direction::Backup;
    if (!backup && (ChooseRestorePoint(absolute) < 0 || CheckRestoreFolders(selection, paths) < 0))
        return -1;
    if (backup && !fileSystem.FolderExists(absolute))
        m_session->CreateLocalDirectory(absolute);
    // A Restore only reads the folder (it may be read-only): its lock is shared, a Backup's exclusive.
    FolderLock lock;
    if (const int error = lock.acquire(absolute, backup); error != 0) {
        if (error == EWOULDBLOCK)
            m_host.Display("The local folder " + SafeName::printable(absolute) +
                           " is busy: another backup or restore is running in it.");
        else
            m_host.Display("The local folder " + SafeName::printable(absolute) +
                           " cannot be locked: " + std::strerror(error));
        return -1;
    }
    m_session->SetLocalBase(absolute);
    if (!backup)
        return RunCategories(direction, base, selection, paths);
    return BackupKeepingGenerations(absolute, base, selection, paths);
}

int32_t TransferCommands::BackupKeepingGenerations(const std::string& absolute, const std::string& base,
                                                   const CategorySelection& selection,
                                                   const ServerPaths& paths) {
    GenerationStore generations(m_host, m_retention);
    generations.StartBackup(absolute, m_clock());
    struct InUse {
        TransferCommands& commands;
        ~InUse() {
            commands.m_session->SetGenerations(nullptr);
            commands.m_generations = nullptr;
        }
    } inUse{*this};
    m_generations = &generations;
    m_session->SetGenerations(&generations);
    const int32_t result = RunCategories(Direction::Backup, base, selection, paths);
    // Only a backup that completed lets an older state go: a failed or aborted one may have left the
    // server's loss unseen in a folder it did not reach.
    if (result >= 0 && !m_host.AbortRequested())
        generations.Prune();
    return result;
}

int32_t TransferCommands::ChooseRestorePoint(const std::string& base) {
    if (m_restoreFrom.empty()) {
        m_restorePoint.Latest(base);
        return 0;
    }
    if (!m_restorePoint.Select(base, m_restoreFrom)) {
        m_host.Display("No generation in " + SafeName::printable(base) + " matches " +
                       SafeName::quoted(m_restoreFrom) + ".");
        return -1;
    }
    const GenerationStore::Generation& chosen = m_restorePoint.chosen();
    m_host.Display("Restoring as of the backup of " + GenerationStore::ShownMoment(chosen.moment) +
                   " (generation " + chosen.name + "): every folder as it stood after that backup.");
    return 0;
}

int32_t TransferCommands::CheckRestoreFolders(const CategorySelection& selection, const ServerPaths& paths) {
    const LocalFileSystem& fileSystem = m_session->fileSystem();
    int32_t result = 0;
    for (const Category& category : categoryTable(selection, paths)) {
        if (category.checkBox != kTicked)
            continue;
        const std::string folder = m_restorePoint.SourceOf(category.folder).path;
        LocalFolder parent;
        const auto kind = LocalFolder::openPath(fileSystem.GetParentFolderName(folder), parent) == 0
                              ? parent.kindOf(category.folder)
                              : LocalFolder::Kind::Missing;
        if (kind == LocalFolder::Kind::Folder)
            continue;
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
        const std::string local = backup ? fileSystem.BuildPath(base, category.folder)
                                         : m_restorePoint.SourceOf(category.folder).path;
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
    if (count < 0)
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
            return 0;
        const int32_t code = m_session->RetrieveDirectory(BuildServerPath(paths.prompt, name),
                                                          fileSystem.BuildPath(promptFolder, name));
        if (code < 0)
            return code;
    }
    return RemoveVanishedPromptFolders(base, paths, names);
}

// Every sub-folder the server listed is backed up: a local one it did not list once stayed for ever,
// and Restore put it back on the server. It leaves into the generation, like any removed file.
int32_t TransferCommands::RemoveVanishedPromptFolders(const std::string& base, const ServerPaths& paths,
                                                      const std::vector<std::string>& listed) {
    const LocalFileSystem& fileSystem = m_session->fileSystem();
    const std::string promptFolder =
        fileSystem.GetAbsolutePathName(fileSystem.BuildPath(base, kPromptFolder));
    LocalFolder baseFolder;
    LocalFolder folder;
    int error = LocalFolder::openPath(fileSystem.GetAbsolutePathName(base), baseFolder);
    if (error == 0)
        error = baseFolder.openChild(kPromptFolder, false, folder);
    if (error != 0)
        throw std::filesystem::filesystem_error("cannot open folder", promptFolder,
                                                std::error_code(error, std::generic_category()));
    const std::unordered_set<std::string> onServer(listed.begin(), listed.end());
    for (const auto& entry : folder.entries()) {
        const std::string& name = entry.name;
        if (entry.kind != LocalFolder::Kind::Folder || onServer.contains(name) ||
            !SafeName::isSafeComponent(name))
            continue;
        const std::string path = fileSystem.BuildPath(promptFolder, name);
        m_host.Display("Removing " + SafeName::printable(path) + ": the server no longer has " +
                       SafeName::quoted(BuildServerPath(paths.prompt, name)));
        m_generations->RemoveFolder(folder, name, kPromptFolder + "/" + name, path);
    }
    return 0;
}

CommandOutcome TransferCommands::Restore(const std::string& localDirText, const CategorySelection& selection,
                                         const ServerPaths& paths) {
    return RunCommand(Direction::Restore, localDirText, selection, paths);
}

// One level below the local Prompts folder. The transfers' own staging folders are never sent, and a
// folder name that is not one plain component would address some other server directory.
bool TransferCommands::PromptSubFolders(const std::string& promptFolder, std::vector<std::string>& names) {
    const LocalFileSystem& fileSystem = m_session->fileSystem();
    LocalFolder folder;
    // Its own files have just gone up: a folder that cannot be listed now is a run-time error. As of a
    // generation the latest backup may lack it.
    if (const int error = LocalFolder::openPath(promptFolder, folder); error != 0) {
        if (error == ENOENT && m_restorePoint.fromGeneration())
            return true;
        throw std::filesystem::filesystem_error("cannot open folder", promptFolder,
                                                std::error_code(error, std::generic_category()));
    }
    for (const auto& entry : folder.entries()) {
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
            return false;
        }
        names.push_back(name);
    }
    return true;
}

int32_t TransferCommands::RestorePromptSubFolders(const std::string& base, const ServerPaths& paths) {
    // Abort is looked at before any name, so that an Abort always ends as the user's own stop.
    if (m_host.AbortRequested())
        return 0;
    const LocalFileSystem& fileSystem = m_session->fileSystem();
    const std::string promptFolder =
        fileSystem.GetAbsolutePathName(fileSystem.BuildPath(base, kPromptFolder));
    std::vector<std::string> latest;
    if (!PromptSubFolders(promptFolder, latest))
        return FCE_E_UNSAFE_NAME;
    // As of a generation: the sub-folders that backup had, each as it stood then. One it did not have
    // was empty or missing then (the backup that made it keeps it so).
    std::set<std::string> names(latest.begin(), latest.end());
    const std::vector<std::string> held = m_restorePoint.HeldPromptSubFolders();
    names.insert(held.begin(), held.end());
    for (const auto& name : names) {
        if (m_host.AbortRequested())
            break;
        const RestorePoint::Source source = m_restorePoint.SourceOf(kPromptFolder + "/" + name);
        if (source.held && source.files == 0)
            continue;
        const int32_t code = m_session->UploadDirectory(BuildServerPath(paths.prompt, name), source.path);
        if (code < 0)
            return code;
    }
    return 0;
}
