#pragma once

#include "FtpEngine.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

// What the last complete backup of one folder took from the server: the server path, when its listing
// was taken (local clock), and every file's size and time as listed. Kept beside the staging folder, it
// lets a later backup leave a file in place that the server has provably not changed since.
class BackupRecord {
public:
    BackupRecord() = default;
    BackupRecord(std::string serverDir, int64_t listedAt);

    // Reads the record file name in the open folder (never through a link); false, with the record left
    // empty, when there is none, when it is damaged in any way, or when it belongs to another server path.
    // Never throws.
    bool load(int folder, const std::string& name, const std::string& serverDir);
    // Writes the whole record as name in the open folder (the staging folder) and flushes it to disk, so
    // that it can be renamed into place only once it is complete. Throws std::filesystem::filesystem_error
    // naming shownPath, with the cause the system gave (a disk that filled after part of it), when it
    // cannot.
    void writeInto(int folder, const std::string& name, const std::string& shownPath) const;

    void add(const FceListEntry& file);
    int64_t listedAt() const { return m_listedAt; }
    size_t count() const { return m_files.size(); }

    // True only when this record has the file with the same size and the same listed time from the same
    // source, the local copy has that size, and the listed time lies before this record's listing by more
    // than the time's precision plus a day (clock and time-zone differences): a rewrite after that listing
    // would have given another listed time.
    bool provesUnchanged(const FceListEntry& listed, int64_t localSize) const;

private:
    struct File {
        int64_t size = -1;
        int64_t listedTime = 0;
        FceTimeSource source = FceTimeSource::None;
    };

    std::string text() const;
    bool parse(const std::string& content);

    std::string m_serverDir;
    int64_t m_listedAt = 0;
    std::vector<std::string> m_order; // listing order, for a record that reads like the listing
    std::unordered_map<std::string, File> m_files;
};
