#pragma once

#include "FtpEngine.h"
#include "LocalFileSystem.h"
#include "ServerList.h"
#include "TransferHost.h"

#include <cstdint>
#include <string>
#include <vector>

// The directory work of Backup and Restore on the engine's channel 0: selecting (and creating) the
// working directories on both sides, listing the server directory into ServerList, and moving one
// directory's files in either direction. Results follow the engine's convention: negative is a failure
// that has already been written to the log, zero or positive is success or a count.
class TransferSession {
public:
    explicit TransferSession(TransferHost& host);

    ServerList& serverList() { return m_serverList; }

    // A backup that leaves in place every file the folder's record proves unchanged on the server,
    // fetches the rest, and removes what the server no longer has; off by default.
    void SetChangedOnly(bool changedOnly) { m_changedOnly = changedOnly; }
    const LocalFileSystem& fileSystem() const { return m_fileSystem; }

    // Makes localDir (created with its missing parents) the engine's local directory.
    int32_t SetLocalDirectory(const std::string& localDir);
    // Creates localDir (absolute) and its missing parents, outermost first; throws when it cannot.
    void CreateLocalDirectory(const std::string& localDir);
    // Selects a drive-and-backslash server path ("C:\PMT\A") from the root, creating missing levels.
    int32_t SetServerDirectory(const std::string& serverDir);

    // The current server directory's subdirectory names (or file names) into ServerList; their count.
    int32_t GetServerDirList();
    int32_t GetServerFileList();

    // Copies the files of one server directory into one local folder. The folder's previous files are
    // replaced only once every file of the directory has arrived; otherwise the folder keeps them.
    int32_t RetrieveDirectory(const std::string& serverDir, const std::string& localDir);
    int32_t RetrieveFile(const std::string& fileName);

    // Sends the files lying directly in one local folder into one server directory.
    int32_t UploadDirectory(const std::string& serverDir, const std::string& localDir);
    int32_t UploadFile(const std::string& fileName);

    // The error handlers' two log lines for the exception being handled (only inside a catch block).
    void ReportInternalError(const std::string& procedure);

private:
    enum class ListKind { Directories, Files };
    int32_t ListServerDirectory(ListKind kind);
    // GetServerFileList with each file's listed size and time kept in m_listedFiles.
    int32_t ListServerFileEntries();
    void ParseListing(const std::string& listing, int32_t length, ListKind kind);
    int32_t SelectServerComponent(const std::string& component);

    // The parts of a directory download around its file loop.
    int32_t RefuseUnsafeListedName();
    // unchanged: the files left in place by a changed-only backup, or -1 for a full one.
    int32_t FetchListedFiles(std::vector<std::string>& fetched, int64_t unchanged = -1);
    void CheckFolderReplaceable(const std::string& folder) const;
    std::string PrepareStaging(const std::string& folder) const;
    void ReplaceFolderFiles(const std::string& folder, const std::string& folderText,
                            const std::string& staging, const std::vector<std::string>& fetched);
    void DiscardStaging(const std::string& folder, const std::string& staging) noexcept;

    // The changed-only download after the listing; listedAt is the local clock before the listing.
    int32_t RetrieveChangedFiles(const std::string& serverDir, const std::string& folder,
                                 const std::string& staging, int64_t listedAt);
    std::vector<std::string> KeepUnchangedFiles(const std::string& serverDir, const std::string& folder,
                                                int64_t listedAt);
    void CommitChangedFiles(const std::string& folder, const std::string& staging,
                            const std::vector<std::string>& fetched, const std::vector<std::string>& kept,
                            int64_t listedAt, const std::string& serverDir);

    void AdvanceProgress();

    TransferHost& m_host;
    ServerList m_serverList;
    LocalFileSystem m_fileSystem;
    bool m_changedOnly = false;
    std::vector<FceListEntry> m_listedFiles; // the files of the last entry listing, in listing order
};
