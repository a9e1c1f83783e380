#include "TransferSession.h"

#include "BackupRecord.h"
#include "CountText.h"
#include "FtpEngine.h"
#include "GenerationStore.h"
#include "ListedFileFetch.h"
#include "RunTimeError.h"
#include "SafeName.h"
#include "TransferCommands.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace {

constexpr int32_t kChannel = 0;
constexpr int32_t kListKindEntries = 1;
const std::string kWindowName = "Kavrel";

// While one file moves, the engine reports its bytes; the host repaints so the window never looks hung.
void forwardProgress(void* context, int64_t bytesSoFar) {
    static_cast<TransferHost*>(context)->KeepAlive(bytesSoFar);
}

class ProgressHookScope {
public:
    explicit ProgressHookScope(TransferHost& host) { fceSetProgressHook(kChannel, forwardProgress, &host); }
    ~ProgressHookScope() { fceSetProgressHook(kChannel, nullptr, nullptr); }
    ProgressHookScope(const ProgressHookScope&) = delete;
    ProgressHookScope& operator=(const ProgressHookScope&) = delete;
};

// 1-based position of the first ch at or after start (1-based), 0 when there is none.
size_t findFrom(const std::string& text, char ch, size_t start) {
    if (start < 1 || start > text.size())
        return 0;
    const size_t found = text.find(ch, start - 1);
    return found == std::string::npos ? 0 : found + 1;
}

// The component that begins at start (1-based) and ends before separator, or runs to the end of the
// text when there is no separator after start.
std::string componentAt(const std::string& text, size_t start, size_t separator) {
    if (start > text.size())
        return {};
    if (separator > start)
        return text.substr(start - 1, separator - start);
    return text.substr(start - 1);
}

} // namespace

TransferSession::TransferSession(TransferHost& host)
    : m_host(host), m_clock([] { return static_cast<int64_t>(std::time(nullptr)); }), m_pool(host) {}

void TransferSession::ReportInternalError(const std::string& procedure) {
    const RunTimeError error = RunTimeError::fromCurrentException();
    m_host.Display("Internal error in " + kWindowName + "." + procedure + "()");
    m_host.Display("     " + std::to_string(error.number) + " - " + error.description);
}

int32_t TransferSession::SetLocalDirectory(const std::string& localDir, bool create) {
    try {
        const std::string absolute = m_fileSystem.GetAbsolutePathName(localDir);
        m_host.Display("Setting local directory to " + SafeName::printable(absolute));
        const int32_t opened = OpenLocalFolder(absolute, create, m_localFolder);
        if (opened < 0)
            return opened;
        const int32_t code = fceSetLocalDirAt(kChannel, m_localFolder.descriptor(), absolute.c_str());
        if (code < 0)
            ShowError(m_host, code);
        return code;
    } catch (...) {
        ReportInternalError("SetLocalDirectory");
        return -1;
    }
}

void TransferSession::CreateLocalDirectory(const std::string& localDir) {
    const std::string parent = m_fileSystem.GetParentFolderName(localDir);
    if (!parent.empty())
        CreateLocalDirectory(parent);
    if (!m_fileSystem.FolderExists(localDir))
        m_fileSystem.CreateFolder(localDir);
}

void TransferSession::SetLocalBase(const std::string& base) {
    m_localBase = base.empty() ? base : m_fileSystem.GetAbsolutePathName(base);
    m_judge.StartRun(m_localBase);
}

// The levels below the top folder of the tree: the local base folder when the path lies under it,
// otherwise the path's own parent (a folder on its own is still never a link).
std::vector<std::string> TransferSession::LevelsBelowTop(const std::string& absolute,
                                                         std::string& top) const {
    std::string rest;
    if (!m_localBase.empty() && absolute.size() > m_localBase.size() &&
        absolute.compare(0, m_localBase.size(), m_localBase) == 0 &&
        (m_localBase.back() == '/' || absolute[m_localBase.size()] == '/')) {
        top = m_localBase;
        rest = absolute.substr(m_localBase.size());
    } else {
        top = m_fileSystem.GetParentFolderName(absolute);
        rest = top.empty() ? std::string() : absolute.substr(top.size());
        if (top.empty())
            top = absolute;
    }
    std::vector<std::string> levels;
    size_t start = 0;
    while (start < rest.size()) {
        const size_t slash = rest.find('/', start);
        const size_t end = slash == std::string::npos ? rest.size() : slash;
        if (end > start)
            levels.push_back(rest.substr(start, end - start));
        start = end + 1;
    }
    return levels;
}

std::string TransferSession::RelativeToBase(const std::string& absolute) const {
    std::string top;
    const std::vector<std::string> levels = LevelsBelowTop(absolute, top);
    if (top != m_localBase || levels.empty())
        return {};
    std::string relative;
    for (const auto& level : levels)
        relative += (relative.empty() ? "" : "/") + level;
    return relative;
}

int32_t TransferSession::OpenLocalFolder(const std::string& absolute, bool create, LocalFolder& folder) {
    std::string top;
    const std::vector<std::string> levels = LevelsBelowTop(absolute, top);
    if (create && !m_fileSystem.FolderExists(top))
        CreateLocalDirectory(top);
    LocalFolder current;
    int error = LocalFolder::openPath(top, current);
    std::string reached = top;
    for (size_t i = 0; error == 0 && i < levels.size(); ++i) {
        LocalFolder next;
        error = current.openChild(levels[i], create, next);
        if (error != 0 && current.kindOf(levels[i]) == LocalFolder::Kind::Link) {
            m_host.Display(SymbolicLinkLine(m_fileSystem.BuildPath(reached, levels[i])));
            return -1;
        }
        reached = m_fileSystem.BuildPath(reached, levels[i]);
        current = std::move(next);
    }
    if (error == ENOENT) {
        m_host.Display(MissingFolderLine(absolute));
        return -1;
    }
    if (error != 0)
        throw std::filesystem::filesystem_error("cannot open folder", reached,
                                                std::error_code(error, std::generic_category()));
    folder = std::move(current);
    return 0;
}

std::string TransferSession::SymbolicLinkLine(const std::string& path) {
    return "Not following the symbolic link " + SafeName::printable(path);
}

std::string TransferSession::MissingFolderLine(const std::string& path) {
    return "The local folder " + SafeName::printable(path) + " does not exist.";
}

int32_t TransferSession::SelectServerComponent(const std::string& component, bool create) {
    const int32_t code = fceSetServerDir(kChannel, component.c_str());
    if (code >= 0)
        return 0;
    if (!create)
        return code;
    const int32_t made = fceMakeServerDir(kChannel, component.c_str());
    if (made < 0)
        return made;
    const int32_t selected = fceSetServerDir(kChannel, component.c_str());
    return selected < 0 ? selected : 0;
}

// Positions are 1-based; the optional drive prefix ends at the first ":", and one separator after it is
// skipped. A doubled separator makes the rest of the path one final component.
std::vector<std::string> TransferSession::ServerComponents(const std::string& serverDir) {
    std::vector<std::string> components;
    const size_t colon = findFrom(serverDir, ':', 1);
    size_t start = colon > 0 ? colon + 1 : 1;
    if (start <= serverDir.size() && serverDir[start - 1] == '\\')
        ++start;
    size_t separator = findFrom(serverDir, '\\', start);
    std::string component = componentAt(serverDir, start, separator);
    while (!component.empty()) {
        components.push_back(component);
        if (separator > start) {
            start = separator + 1;
            separator = findFrom(serverDir, '\\', start);
            component = componentAt(serverDir, start, separator);
        } else {
            component.clear();
        }
    }
    return components;
}

int32_t TransferSession::SetServerDirectory(const std::string& serverDir, bool create) {
    try {
        m_host.Display("Setting server directory to " + SafeName::printable(serverDir));
        m_host.Yield();
        m_listingCurrent = false;
        m_workServerPath.clear();
        const std::vector<std::string> components = ServerComponents(serverDir);
        // One CWD of the whole path where every name is a plain one and the server takes it; otherwise
        // (a server without whole paths, a level to create) the root and a level at a time.
        std::string path;
        for (const auto& component : components)
            path += (path.empty() ? "" : "\\") + component;
        const bool plain = !components.empty() &&
                           std::all_of(components.begin(), components.end(),
                                       [](const auto& name) { return SafeName::isSafeComponent(name); });
        if (plain && fceSetServerPath(kChannel, path.c_str()) >= 0) {
            m_workServerPath = path;
            return 0;
        }
        const int32_t root = fceSetServerDir(kChannel, "\\");
        if (root < 0) {
            ShowError(m_host, root);
            return root;
        }
        for (const auto& component : components) {
            const int32_t code = SelectServerComponent(component, create);
            if (code < 0)
                return code;
        }
        if (plain)
            m_workServerPath = path;
        return 0;
    } catch (...) {
        ReportInternalError("SetServerDirectory");
        return -1;
    }
}

int32_t TransferSession::GetServerDirList() {
    m_host.Display("Retrieving server subdirectory names...");
    if (m_listingCurrent) {
        // The directory's file listing named its subdirectories too: no second listing.
        m_serverList.Clear();
        for (const auto& name : m_listedDirectories)
            m_serverList.Add(ClsVariant(name));
        m_host.Display("..." + std::to_string(m_serverList.Count()) + " names retrieved.");
        return m_serverList.Count();
    }
    // The growing listing: a directory of any size is listed completely or not at all.
    std::string listing;
    const int32_t length = fceGetList(kChannel, kListKindEntries, listing);
    if (length < 0) {
        ShowError(m_host, length);
        return -1;
    }
    m_serverList.Clear();
    ParseDirectoryNames(listing, length);
    const int32_t count = m_serverList.Count();
    m_host.Display("..." + std::to_string(count) + " names retrieved.");
    return count;
}

int32_t TransferSession::GetServerFileList() {
    m_host.Display("Retrieving server file names...");
    m_host.Yield();
    std::vector<FceListEntry> entries;
    const int32_t result = fceGetList(kChannel, kListKindEntries, entries, m_clock());
    if (result < 0) {
        ShowError(m_host, result);
        return -1;
    }
    m_serverList.Clear();
    m_listedFiles.clear();
    m_listedDirectories.clear();
    m_listingCurrent = true;
    for (auto& entry : entries) {
        if (entry.isDirectory) {
            m_listedDirectories.push_back(entry.name);
            continue;
        }
        m_serverList.Add(ClsVariant(entry.name));
        m_listedFiles.push_back(std::move(entry));
    }
    const int32_t count = m_serverList.Count();
    m_host.Display("..." + std::to_string(count) + " names retrieved.");
    return count;
}

// Lines end in CR LF; a directory's name ends in "/". Names are kept exactly as listed (blanks
// included); a last line without its CR is not taken.
void TransferSession::ParseDirectoryNames(const std::string& listing, int32_t length) {
    const size_t end = std::min(listing.size(), static_cast<size_t>(length));
    size_t start = 0;
    size_t cr = listing.find('\r');
    while (start + 1 < end && cr != std::string::npos && cr < end) {
        if (cr > start) {
            std::string entry = listing.substr(start, cr - start);
            if (entry.back() == '/') {
                entry.pop_back();
                m_serverList.Add(ClsVariant(std::move(entry)));
            }
        }
        start = cr + 2;
        cr = start < listing.size() ? listing.find('\r', start) : std::string::npos;
    }
}

int32_t TransferSession::RetrieveFile(const std::string& fileName, const LocalFolder& folder,
                                      FolderChanges& changes) {
    fceSetInteger(kChannel, FCE_REPLACE_LOCAL, 1);
    ListedFileFetch::Result fetched;
    {
        ProgressHookScope hook(m_host);
        fetched = ListedFileFetch::fetch(kChannel, fileName);
    }
    const bool failed = fetched.outcome == ListedFileFetch::Outcome::Failed;
    return SettleFetched(fileName, folder, changes, fetched, failed ? ErrorLine(kChannel, fetched.code) : "");
}

int32_t TransferSession::SettleFetched(const std::string& fileName, const LocalFolder& folder,
                                       FolderChanges& changes, const ListedFileFetch::Result& fetched,
                                       const std::string& errorLine) {
    const std::string shown = SafeName::quoted(fileName);
    switch (fetched.outcome) {
    case ListedFileFetch::Outcome::Arrived:
        changes.fetched.push_back(fileName);
        if (!fetched.asListed)
            changes.unrecorded.insert(fileName);
        return fetched.code;
    case ListedFileFetch::Outcome::Gone:
        m_host.Display(shown + " was removed from the server after it was listed: not part of this backup.");
        return 0;
    case ListedFileFetch::Outcome::StillChanging:
        changes.kept.insert(fileName);
        changes.unrecorded.insert(fileName);
        m_host.Display(shown + " kept changing on the server while it was fetched: " +
                       (folder.fileSize(fileName) >= 0 ? "the previous copy is kept."
                                                       : "there is no copy of it in this backup."));
        return 0;
    case ListedFileFetch::Outcome::Failed:
        break;
    }
    m_host.Display(errorLine);
    return fetched.code;
}

std::vector<int32_t> TransferSession::ChannelsFor(size_t count) {
    if (count < 2 || m_pool.Wanted() < 2 || m_workFolder < 0 || m_workServerPath.empty())
        return {kChannel};
    return m_pool.Channels();
}

int32_t TransferSession::EnterWorkFolder(int32_t channel) const {
    int32_t code = fceSetServerPath(channel, m_workServerPath.c_str());
    if (code >= 0)
        code = fceSetLocalDirAt(channel, m_workFolder, m_workFolderShown.c_str());
    return code;
}

int32_t TransferSession::FetchOverChannels(const std::vector<int32_t>& channels, const LocalFolder& folder,
                                           FolderChanges& changes) {
    std::unordered_map<std::string, int64_t> listedSizes;
    for (const auto& entry : m_listedFiles)
        listedSizes.emplace(entry.name, entry.size);
    std::vector<std::pair<std::string, int64_t>> jobs;
    for (int32_t position = 1; position <= m_serverList.Count(); ++position) {
        const std::string& name = m_serverList.Item(position).Text();
        const auto listed = listedSizes.find(name);
        jobs.emplace_back(name, listed == listedSizes.end() ? -1 : listed->second);
    }
    std::vector<char> entered(static_cast<size_t>(*std::max_element(channels.begin(), channels.end())) + 1,
                              0);
    const auto work = [&](int32_t channel, size_t job) {
        FileDispatch::Result result;
        auto& inFolder = entered[static_cast<size_t>(channel)];
        if (channel != kChannel && !inFolder) {
            if (const int32_t code = EnterWorkFolder(channel); code < 0)
                return FileDispatch::Result{{ListedFileFetch::Outcome::Failed, code, false},
                                            ErrorLine(channel, code)};
            inFolder = 1;
        }
        fceSetInteger(channel, FCE_REPLACE_LOCAL, 1);
        result.fetched = ListedFileFetch::fetch(channel, jobs[job].first, jobs[job].second);
        if (result.fetched.outcome == ListedFileFetch::Outcome::Failed)
            result.errorLine = ErrorLine(channel, result.fetched.code);
        return result;
    };
    std::unordered_set<std::string> settled;
    const auto settle = [&](size_t job, const FileDispatch::Result& result) {
        settled.insert(jobs[job].first);
        const int32_t code =
            SettleFetched(jobs[job].first, folder, changes, result.fetched, result.errorLine);
        AdvanceProgress();
        return code;
    };
    const int32_t result = FileDispatch::Run(m_host, channels, jobs.size(), work, settle);
    ServerList left;
    for (const auto& job : jobs) {
        if (!settled.contains(job.first))
            left.Add(ClsVariant(job.first));
    }
    m_serverList = std::move(left);
    return result;
}

void TransferSession::AdvanceProgress() {
    m_host.SetProgressValue(m_host.ProgressValue() + 1.0);
}

// A name from the server becomes a path only when it is one plain component: anything else could
// write outside the folder, so the whole directory fails before a single file is fetched.
int32_t TransferSession::RefuseUnsafeListedName() {
    for (int32_t position = 1; position <= m_serverList.Count(); ++position) {
        const std::string& name = m_serverList.Item(position).Text();
        if (!SafeName::isSafeComponent(name)) {
            m_host.Display("Refused unsafe name from the server: " + SafeName::quoted(name));
            return FCE_E_UNSAFE_NAME;
        }
    }
    return 0;
}

namespace {

[[noreturn]] void throwLocal(const char* what, const std::string& path, int error) {
    throw std::filesystem::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

// The received files reach the disk before the previous backup gives way, so that after a power cut the
// folder holds its old files or its new ones, never new names with nothing in them. One flush of the
// file system costs less than a flush per file; a write error it reports fails the folder here. With
// nothing received there is nothing to flush, and a nightly run need not wait for others' writes.
void writeReceivedToDisk(const LocalFolder& staging, const std::string& stagingPath, bool received) {
    if (received && ::syncfs(staging.descriptor()) != 0)
        throwLocal("cannot write the received files to disk", stagingPath, errno);
}

std::vector<std::string> filesIn(const LocalFolder& folder) {
    std::vector<std::string> names;
    for (const auto& entry : folder.entries()) {
        if (entry.kind == LocalFolder::Kind::File)
            names.push_back(entry.name);
    }
    return names;
}

} // namespace

// A read-only file would make the replacement fail half-way; find it before anything moves.
void TransferSession::CheckFolderReplaceable(const LocalFolder& folder, const std::string& folderPath) const {
    for (const auto& name : filesIn(folder)) {
        if (folder.isReadOnly(name))
            throwLocal("cannot delete a read-only file", m_fileSystem.BuildPath(folderPath, name), EACCES);
    }
}

// A fresh, empty, owner-only staging folder inside folder; what a crashed run left there is cleared
// first (a link of that name is removed, never followed).
LocalFolder TransferSession::PrepareStaging(const LocalFolder& folder, const std::string& stagingPath) const {
    if (const int error = folder.removeTree(SafeName::kStagingFolderName); error != 0)
        throwLocal("cannot remove the old staging folder", stagingPath, error);
    LocalFolder staging;
    if (::mkdirat(folder.descriptor(), SafeName::kStagingFolderName, 0700) != 0)
        throwLocal("cannot create folder", stagingPath, errno);
    if (const int error = folder.openChild(SafeName::kStagingFolderName, false, staging); error != 0)
        throwLocal("cannot open folder", stagingPath, error);
    return staging;
}

int32_t TransferSession::FetchListedFiles(const LocalFolder& folder, FolderChanges& changes,
                                          int64_t unchanged) {
    m_host.SetProgressValue(0.0);
    m_host.SetProgressMax(static_cast<double>(m_serverList.Count()));
    if (unchanged < 0)
        m_host.Display("Retrieving " + std::to_string(m_serverList.Count()) + " files...");
    else
        m_host.Display("Retrieving " + CountText::grouped(m_serverList.Count()) + " files (" +
                       CountText::grouped(unchanged) + " unchanged" +
                       (m_judge.refreshCount() > 0
                            ? ", " + CountText::grouped(m_judge.refreshCount()) + " refreshed"
                            : "") +
                       ")...");
    m_host.Yield();
    if (!m_host.AbortRequested()) {
        if (const auto channels = ChannelsFor(static_cast<size_t>(m_serverList.Count())); channels.size() > 1)
            return FetchOverChannels(channels, folder, changes);
    }
    int32_t result = 0;
    while (m_serverList.Count() > 0 && !m_host.AbortRequested() && result >= 0) {
        result = RetrieveFile(m_serverList.Item(1).Text(), folder, changes);
        m_serverList.Remove(1);
        AdvanceProgress();
        m_host.Yield();
    }
    return result;
}

// Every listed file is settled: only now the previous backup gives way. Files received replace those of
// the same name in one step each, files kept stay, and every other file goes (the server no longer has
// it). Everything happens inside the open folders: a link in the folder is replaced or left, never
// followed.
void TransferSession::CommitFolder(const LocalFolder& folder, const std::string& folderPath,
                                   const std::string& folderText, const LocalFolder& staging,
                                   const FolderChanges& changes, const BackupRecord* record) {
    const std::vector<std::string> present = filesIn(folder);
    std::unordered_set<std::string> incoming(changes.fetched.begin(), changes.fetched.end());
    std::vector<std::string> removed;
    for (const auto& name : present) {
        if (!incoming.contains(name) && !changes.kept.contains(name) && !SafeName::isTransferTemporary(name))
            removed.push_back(name);
    }
    const std::string stagingPath = m_fileSystem.BuildPath(folderPath, SafeName::kStagingFolderName);
    const std::string recordPath = m_fileSystem.BuildPath(folderPath, SafeName::kRecordFileName);
    CheckFolderReplaceable(folder, folderPath);
    for (const auto& name : incoming) {
        if (folder.kindOf(name) == LocalFolder::Kind::Folder)
            throwLocal("a folder stands where a file must go", m_fileSystem.BuildPath(folderPath, name),
                       EISDIR);
        if (staging.kindOf(name) != LocalFolder::Kind::File)
            throwLocal("a received file is missing", m_fileSystem.BuildPath(stagingPath, name), ENOENT);
    }
    writeReceivedToDisk(staging, stagingPath, !incoming.empty());
    if (record != nullptr)
        record->writeInto(staging.descriptor(), SafeName::kRecordFileName, recordPath);

    // The folder is about to change: up to here every failure has left it exactly as it was. Its
    // previous state is kept as a generation first (a file that arrived with the bytes it had stays as
    // it is). From here on the old record goes first, so that a run cut short fetches everything next
    // time.
    if (const std::string relative = RelativeToBase(folderPath);
        m_generations != nullptr && !relative.empty())
        m_generations->BeforeFolderChange(folder, staging, relative, folderPath, present, incoming, removed);
    if (record == nullptr && !present.empty())
        m_host.Display("Emptying contents of " + SafeName::printable(folderText));
    if (record != nullptr && !removed.empty())
        m_host.Display("Removing " + CountText::grouped(static_cast<int64_t>(removed.size())) +
                       " files no longer on the server");
    if (const int error = folder.removeFile(SafeName::kRecordFileName); error != 0 && error != ENOENT)
        throwLocal("cannot delete file", recordPath, error);
    for (const auto& name : incoming) {
        if (const int error = staging.moveTo(name, folder, name); error != 0)
            throwLocal("cannot move a received file into place", m_fileSystem.BuildPath(folderPath, name),
                       error);
    }
    for (const auto& name : removed) {
        if (const int error = folder.removeFile(name); error != 0)
            throwLocal("cannot delete file", m_fileSystem.BuildPath(folderPath, name), error);
    }
    if (record != nullptr) {
        if (const int error = staging.moveTo(SafeName::kRecordFileName, folder, SafeName::kRecordFileName);
            error != 0)
            throwLocal("cannot write the backup record", recordPath, error);
    }
    fceSetLocalDirAt(kChannel, folder.descriptor(), folderPath.c_str());
    if (const int error = folder.removeTree(SafeName::kStagingFolderName); error != 0)
        throwLocal("cannot remove the staging folder", stagingPath, error);
}

// On a failure or an abort the folder keeps exactly its previous files: the staging folder goes.
void TransferSession::DiscardStaging(const LocalFolder& folder, const std::string& folderPath) noexcept {
    if (!folder.isOpen())
        return;
    fceSetLocalDirAt(kChannel, folder.descriptor(), folderPath.c_str());
    folder.removeTree(SafeName::kStagingFolderName);
}

// The files of the listing that the judge lets stay where they are; ServerList keeps only the others.
std::vector<std::string> TransferSession::KeepUnchangedFiles(const std::string& serverDir,
                                                             const LocalFolder& folder, int64_t listedAt) {
    m_judge.JudgeFolder(serverDir, folder, m_listedFiles, listedAt, m_host);
    std::vector<std::string> kept;
    m_serverList.Clear();
    for (const auto& entry : m_listedFiles) {
        if (m_judge.verdict(entry.name) == ChangedOnlyJudge::Verdict::Keep)
            kept.push_back(entry.name);
        else
            m_serverList.Add(ClsVariant(entry.name));
    }
    return kept;
}

int32_t TransferSession::RetrieveChangedFiles(const std::string& serverDir, const LocalFolder& folder,
                                              const std::string& folderPath, const LocalFolder& staging,
                                              int64_t listedAt) {
    const std::vector<std::string> unchanged = KeepUnchangedFiles(serverDir, folder, listedAt);
    FolderChanges changes;
    changes.kept.insert(unchanged.begin(), unchanged.end());
    int32_t result = 0;
    if (!m_listedFiles.empty())
        result = FetchListedFiles(folder, changes, static_cast<int64_t>(unchanged.size()));
    if (result >= 0 && m_serverList.Count() == 0) {
        m_judge.SettleFetched(folder, staging, changes.fetched, changes.kept, m_host);
        // The record claims only what the folder now holds as the listing gave it.
        const std::unordered_set<std::string> fetched(changes.fetched.begin(), changes.fetched.end());
        BackupRecord record = m_judge.NextRecord(listedAt);
        for (const auto& entry : m_listedFiles) {
            if ((fetched.contains(entry.name) || changes.kept.contains(entry.name)) &&
                !changes.unrecorded.contains(entry.name))
                record.add(entry, m_judge.FetchedAt(entry.name, listedAt));
        }
        CommitFolder(folder, folderPath, folderPath, staging, changes, &record);
        m_judge.SaveServerClock();
    } else {
        DiscardStaging(folder, folderPath);
    }
    if (!m_listedFiles.empty())
        m_host.Display("...Done.");
    return result < 0 ? result : 0;
}

namespace {

// The folder further channels may join lives only as long as the directory's transfer.
class WorkFolderScope {
public:
    explicit WorkFolderScope(int& folder) : m_folder(folder) {}
    ~WorkFolderScope() { m_folder = -1; }
    WorkFolderScope(const WorkFolderScope&) = delete;
    WorkFolderScope& operator=(const WorkFolderScope&) = delete;

private:
    int& m_folder;
};

} // namespace

int32_t TransferSession::RetrieveDirectory(const std::string& serverDir, const std::string& localDir) {
    LocalFolder folder;
    std::string folderPath;
    const WorkFolderScope scope(m_workFolder);
    try {
        int32_t result = SetLocalDirectory(localDir, true);
        if (result < 0)
            return result;
        folder = std::move(m_localFolder);
        folderPath = m_fileSystem.GetAbsolutePathName(localDir);
        CheckFolderReplaceable(folder, folderPath);
        const std::string stagingPath = m_fileSystem.BuildPath(folderPath, SafeName::kStagingFolderName);
        const LocalFolder staging = PrepareStaging(folder, stagingPath);
        result = fceSetLocalDirAt(kChannel, staging.descriptor(), stagingPath.c_str());
        m_workFolder = staging.descriptor();
        m_workFolderShown = stagingPath;
        // A backup only reads the server: a directory that cannot be entered (a typo in its path) is a
        // failure, never created and listed empty, which would replace the backup with nothing.
        if (result >= 0)
            result = SetServerDirectory(serverDir, false);
        if (result < 0) {
            ShowError(m_host, result);
            DiscardStaging(folder, folderPath);
            return result;
        }
        // Taken before the listing: a file listed with a time safely before it cannot have changed since.
        const int64_t listedAt = m_clock();
        result = GetServerFileList();
        if (result >= 0)
            result = RefuseUnsafeListedName();
        if (result < 0) {
            DiscardStaging(folder, folderPath);
            return result;
        }
        if (m_changedOnly)
            return RetrieveChangedFiles(serverDir, folder, folderPath, staging, listedAt);
        FolderChanges changes;
        if (m_serverList.Count() == 0) {
            CommitFolder(folder, folderPath, localDir, staging, changes, nullptr);
            return 0;
        }
        result = FetchListedFiles(folder, changes);
        if (result >= 0 && m_serverList.Count() == 0)
            CommitFolder(folder, folderPath, localDir, staging, changes, nullptr);
        else
            DiscardStaging(folder, folderPath);
        m_host.Display("...Done.");
        return result < 0 ? result : 0;
    } catch (...) {
        DiscardStaging(folder, folderPath);
        ReportInternalError("RetrieveDirectory");
        m_host.SetProgressValue(0.0);
        return -1;
    }
}

int32_t TransferSession::UploadFile(const std::string& fileName) {
    fceSetInteger(kChannel, FCE_REPLACE_LOCAL, 1);
    int32_t code = 0;
    {
        ProgressHookScope hook(m_host);
        code = fcePutFile(kChannel, fileName.c_str());
    }
    if (code < 0)
        ShowError(m_host, code);
    return code;
}

// The files to send: the program's own entries stay home, and a link is not sent (one line for it),
// nor is a name that a backup would refuse (every later backup of the folder would fail on it).
std::vector<std::string> TransferSession::FilesToUpload(const LocalFolder& folder,
                                                        const std::string& folderPath) {
    std::vector<std::string> names;
    for (const auto& entry : folder.entries()) {
        if (SafeName::isTransferTemporary(entry.name))
            continue;
        if (entry.kind == LocalFolder::Kind::Link)
            m_host.Display(SymbolicLinkLine(m_fileSystem.BuildPath(folderPath, entry.name)));
        else if (entry.kind == LocalFolder::Kind::File && !SafeName::isSafeComponent(entry.name))
            m_host.Display("Not sending " + SafeName::quoted(entry.name) + " of " +
                           SafeName::printable(folderPath) + ": a backup refuses such a name");
        else if (entry.kind == LocalFolder::Kind::File)
            names.push_back(entry.name);
    }
    return names;
}

// A server may answer 226 to an upload it did not keep whole (a full disk, a quota). One listing of the
// directory shows what it holds; SIZE is asked only for a file listed without a size.
int32_t TransferSession::CheckServerKept(const std::vector<std::pair<std::string, int64_t>>& sent) {
    std::vector<FceListEntry> entries;
    if (const int32_t count = fceGetList(kChannel, kListKindEntries, entries); count < 0) {
        ShowError(m_host, count);
        return count;
    }
    std::unordered_map<std::string, int64_t> held;
    for (const auto& entry : entries) {
        if (!entry.isDirectory)
            held.emplace(entry.name, entry.size);
    }
    int32_t result = 0;
    int64_t unchecked = 0;
    for (const auto& [name, size] : sent) {
        const auto found = held.find(name);
        int64_t kept = found == held.end() ? -1 : found->second;
        if (found != held.end() && kept < 0) {
            if (const int32_t code = fceGetFileSize(kChannel, name.c_str(), kept); code < 0) {
                ShowError(m_host, code);
                return code;
            }
            unchecked += kept < 0 ? 1 : 0;
        }
        if (found == held.end())
            m_host.Display("The server does not list " + SafeName::quoted(name) + " after its upload.");
        else if (kept >= 0 && kept != size)
            m_host.Display("The server holds " + SafeName::quoted(name) + " with " +
                           CountText::grouped(kept) + " bytes; " + CountText::grouped(size) +
                           " bytes were sent.");
        else
            continue;
        result = FCE_E_INCOMPLETE;
    }
    if (unchecked > 0)
        m_host.Display("The server gives no sizes: " + CountText::grouped(unchecked) +
                       " files could not be checked after their upload.");
    return result;
}

int32_t TransferSession::UploadOverChannels(const std::vector<int32_t>& channels, const LocalFolder& folder,
                                            const std::vector<std::string>& names,
                                            std::vector<std::pair<std::string, int64_t>>& sent) {
    std::vector<char> entered(static_cast<size_t>(*std::max_element(channels.begin(), channels.end())) + 1,
                              0);
    const auto work = [&](int32_t channel, size_t job) {
        FileDispatch::Result result;
        auto& inFolder = entered[static_cast<size_t>(channel)];
        int32_t code = 0;
        if (channel != kChannel && !inFolder)
            code = EnterWorkFolder(channel);
        inFolder = code >= 0;
        if (code >= 0) {
            fceSetInteger(channel, FCE_REPLACE_LOCAL, 1);
            code = fcePutFile(channel, names[job].c_str());
        }
        result.fetched.code = code;
        if (code < 0)
            result.errorLine = ErrorLine(channel, code);
        return result;
    };
    const auto settle = [&](size_t job, const FileDispatch::Result& result) {
        if (result.fetched.code < 0) {
            m_host.Display(result.errorLine);
            return result.fetched.code;
        }
        sent.emplace_back(names[job], folder.fileSize(names[job]));
        AdvanceProgress();
        return 0;
    };
    return FileDispatch::Run(m_host, channels, names.size(), work, settle);
}

// Restore creates nothing on the local side: a folder that is missing fails the directory.
int32_t TransferSession::UploadDirectory(const std::string& serverDir, const std::string& localDir) {
    const WorkFolderScope scope(m_workFolder);
    try {
        int32_t result = SetLocalDirectory(localDir, false);
        if (result < 0)
            return result;
        const LocalFolder folder = std::move(m_localFolder);
        result = SetServerDirectory(serverDir, true);
        if (result < 0) {
            ShowError(m_host, result);
            return result;
        }
        const std::vector<std::string> names =
            FilesToUpload(folder, m_fileSystem.GetAbsolutePathName(localDir));
        result = 0;
        if (names.empty())
            return result;
        m_host.SetProgressValue(0.0);
        m_host.SetProgressMax(static_cast<double>(names.size()));
        m_host.Display("Uploading " + std::to_string(names.size()) + " files...");
        std::vector<std::pair<std::string, int64_t>> sent;
        m_workFolder = folder.descriptor();
        m_workFolderShown = m_fileSystem.GetAbsolutePathName(localDir);
        const auto channels =
            m_host.AbortRequested() ? std::vector<int32_t>{kChannel} : ChannelsFor(names.size());
        if (channels.size() > 1)
            result = UploadOverChannels(channels, folder, names, sent);
        for (const auto& name : channels.size() > 1 ? std::vector<std::string>() : names) {
            if (m_host.AbortRequested())
                break;
            const int64_t size = folder.fileSize(name);
            result = UploadFile(name);
            if (result < 0)
                break;
            sent.emplace_back(name, size);
            AdvanceProgress();
            m_host.Yield();
        }
        if (result >= 0 && !sent.empty()) {
            if (const int32_t kept = CheckServerKept(sent); kept < 0)
                result = kept;
        }
        m_host.Display("...Done.");
        return result;
    } catch (...) {
        ReportInternalError("UploadDirectory");
        m_host.SetProgressValue(0.0);
        return -1;
    }
}
