#pragma once

#include "ChangedOnlyJudge.h"
#include "ConnectionPool.h"
#include "FileDispatch.h"
#include "FtpEngine.h"
#include "LocalFileSystem.h"
#include "LocalFolder.h"
#include "ServerList.h"
#include "TransferHost.h"

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

class BackupRecord;
class GenerationStore;

// The directory work of Backup and Restore on the engine's channel 0: selecting (and creating) the
// working directories on both sides, listing the server directory into ServerList, and moving one
// directory's files in either direction. Results follow the engine's convention: negative is a failure
// that has already been written to the log, zero or positive is success or a count.
class TransferSession {
public:
    explicit TransferSession(TransferHost& host);

    ServerList& serverList() { return m_serverList; }

    // How many connections a folder's files may move over at once (1: one at a time, on channel 0).
    void SetConnections(int32_t connections) { m_pool.SetWanted(connections); }
    int32_t Connections() const { return m_pool.Wanted(); }
    // The command has ended: its further connections close.
    void EndConnections() { m_pool.Close(); }

    // A backup that leaves in place every file the folder's record proves unchanged on the server,
    // fetches the rest, and removes what the server no longer has; off by default.
    void SetChangedOnly(bool changedOnly) { m_changedOnly = changedOnly; }
    // Of the files a changed-only backup may leave in place, each is fetched again at least every days
    // days (30 by default; 0: never for that reason).
    void SetRefreshDays(int days) { m_judge.SetRefreshDays(days); }
    // Our clock, seconds since 1970 (UTC): when a listing was taken, and the year of a Unix LIST's dates.
    void SetClock(std::function<int64_t()> clock) { m_clock = std::move(clock); }
    const LocalFileSystem& fileSystem() const { return m_fileSystem; }
    // Where a backup keeps each folder's previous state before it changes; null: nowhere (a folder
    // outside the local base folder is never kept either).
    void SetGenerations(GenerationStore* generations) { m_generations = generations; }

    // Makes localDir the engine's local directory, opened level by level below the local base folder
    // without following a link. With create (Backup) missing levels are made owner-only; without it
    // (Restore) a missing folder fails with a line naming it.
    int32_t SetLocalDirectory(const std::string& localDir, bool create = true);
    // Creates localDir (absolute) and its missing parents, outermost first; throws when it cannot.
    void CreateLocalDirectory(const std::string& localDir);
    // Selects a drive-and-backslash server path ("C:\PMT\A") from the root; with create, a level that
    // cannot be selected is made (Restore), without it the level's failure code is returned (Backup).
    int32_t SetServerDirectory(const std::string& serverDir, bool create = true);

    // The local base folder of the running command (empty: none). Folders under it are reached from it
    // one level at a time; the base itself may be a link the user chose.
    void SetLocalBase(const std::string& base);
    // Opens an absolute local folder that way; negative (a line already written) for a missing folder
    // or a link; throws for other failures.
    int32_t OpenLocalFolder(const std::string& absolute, bool create, LocalFolder& folder);
    static std::string SymbolicLinkLine(const std::string& path);
    static std::string MissingFolderLine(const std::string& path);

    // The current server directory's subdirectory names (or file names, with each file's listed size and
    // time kept in m_listedFiles) into ServerList; their count.
    int32_t GetServerDirList();
    int32_t GetServerFileList();

    // Copies the files of one server directory into one local folder. The folder's previous files are
    // replaced only once every file of the directory has arrived; otherwise the folder keeps them.
    // A file deleted on the server after the listing is left out of the backup, and one that keeps
    // changing while it is fetched keeps its previous copy; a line names each, and the folder goes on.
    int32_t RetrieveDirectory(const std::string& serverDir, const std::string& localDir);

    // Sends the files lying directly in one local folder into one server directory, then checks in one
    // listing that the server holds each at the size sent.
    int32_t UploadDirectory(const std::string& serverDir, const std::string& localDir);
    int32_t UploadFile(const std::string& fileName);

    // The error handlers' two log lines for the exception being handled (only inside a catch block).
    void ReportInternalError(const std::string& procedure);

private:
    void ParseDirectoryNames(const std::string& listing, int32_t length);
    // The names of a drive-and-backslash server path, from the root down.
    static std::vector<std::string> ServerComponents(const std::string& serverDir);
    int32_t SelectServerComponent(const std::string& component, bool create);
    std::vector<std::string> LevelsBelowTop(const std::string& absolute, std::string& top) const;
    // absolute's path below the local base folder ("PMT/A"); empty when it does not lie below it.
    std::string RelativeToBase(const std::string& absolute) const;

    // What a directory download has settled for its folder once every listed file is dealt with.
    struct FolderChanges {
        std::vector<std::string> fetched;           // complete in the staging folder: they move in
        std::unordered_set<std::string> kept;       // stay as they are: proved unchanged, or still changing
        std::unordered_set<std::string> unrecorded; // not as first listed: a record must not claim them
    };

    // The parts of a directory download around its file loop.
    int32_t RefuseUnsafeListedName();
    // unchanged: the files left in place by a changed-only backup, or -1 for a full one.
    int32_t FetchListedFiles(const LocalFolder& folder, FolderChanges& changes, int64_t unchanged = -1);
    // One listed file into the staging folder, a server that changed it on the way allowed for; the
    // outcome goes into changes and the log. Negative only for a failure (already reported).
    int32_t RetrieveFile(const std::string& fileName, const LocalFolder& folder, FolderChanges& changes);
    // What RetrieveFile does with a file's outcome, on the host's thread; errorLine reports a failure.
    int32_t SettleFetched(const std::string& fileName, const LocalFolder& folder, FolderChanges& changes,
                          const ListedFileFetch::Result& fetched, const std::string& errorLine);
    // The files left in ServerList over several channels; ServerList keeps those not settled.
    int32_t FetchOverChannels(const std::vector<int32_t>& channels, const LocalFolder& folder,
                              FolderChanges& changes);
    // names over several channels; sent gets each file that arrived, with its size.
    int32_t UploadOverChannels(const std::vector<int32_t>& channels, const LocalFolder& folder,
                               const std::vector<std::string>& names,
                               std::vector<std::pair<std::string, int64_t>>& sent);
    // A further channel enters the directory and local folder channel 0 works in (on its own thread).
    int32_t EnterWorkFolder(int32_t channel) const;
    // The channels for a folder of count files: channel 0 alone for one file, or with one connection.
    std::vector<int32_t> ChannelsFor(size_t count);
    void CheckFolderReplaceable(const LocalFolder& folder, const std::string& folderPath) const;
    LocalFolder PrepareStaging(const LocalFolder& folder, const std::string& stagingPath) const;
    // The one place where a folder's previous backup gives way to the new one (record: the changed-only
    // backup's new record; null for a full backup).
    void CommitFolder(const LocalFolder& folder, const std::string& folderPath, const std::string& folderText,
                      const LocalFolder& staging, const FolderChanges& changes, const BackupRecord* record);
    void DiscardStaging(const LocalFolder& folder, const std::string& folderPath) noexcept;
    std::vector<std::string> FilesToUpload(const LocalFolder& folder, const std::string& folderPath);
    // After a folder's uploads: what the server kept of each file sent (name, bytes sent).
    int32_t CheckServerKept(const std::vector<std::pair<std::string, int64_t>>& sent);

    // The changed-only download after the listing; listedAt is the local clock before the listing.
    int32_t RetrieveChangedFiles(const std::string& serverDir, const LocalFolder& folder,
                                 const std::string& folderPath, const LocalFolder& staging, int64_t listedAt);
    std::vector<std::string> KeepUnchangedFiles(const std::string& serverDir, const LocalFolder& folder,
                                                int64_t listedAt);

    void AdvanceProgress();

    TransferHost& m_host;
    ServerList m_serverList;
    LocalFileSystem m_fileSystem;
    bool m_changedOnly = false;
    GenerationStore* m_generations = nullptr;
    std::vector<FceListEntry> m_listedFiles; // the files of the last entry listing, in listing order
    std::function<int64_t()> m_clock;
    ChangedOnlyJudge m_judge;
    // The subdirectories of that listing, while the server directory it listed is still current: the
    // Prompts folder is listed once for its files and its subdirectories.
    std::vector<std::string> m_listedDirectories;
    bool m_listingCurrent = false;
    ConnectionPool m_pool;
    // Where channel 0 moves files, for further channels to join: the server directory's names from the
    // root ("PMT\A"; empty when it has none fit for one CWD) and the open local folder.
    std::string m_workServerPath;
    int m_workFolder = -1;
    std::string m_workFolderShown;
    std::string m_localBase;
    // The folder the last SetLocalDirectory opened; the directory operations take it over.
    LocalFolder m_localFolder;
};
