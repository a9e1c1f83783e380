#pragma once

#include "FtpEngine.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

// What the last complete backup of one folder took from the server: which server and directory, what
// both clocks read when it was listed, and every file's size and time as listed and when it was last
// fetched. Kept beside the staging folder, it lets a later backup leave a file in place that the server
// has provably not changed since (ChangedOnlyJudge decides). The same format with no directory and no
// files keeps what a whole run saw of the server's clock (SafeName::kServerClockFileName).
class BackupRecord {
public:
    struct Header {
        std::string server;    // "host:port" as the settings named it: another server's record proves nothing
        std::string serverDir; // as the settings give it ("C:\DTA")
        int64_t listedAt = 0;  // our clock just before the listing
        uint64_t run = 0;      // the run (one command) that listed it, a random number
        // The newest time listed in that run up to this listing: the server's clock read at least this.
        int64_t serverNewest = -1;
        // A file fetched again differed from its kept copy under an unchanged size and time: the server's
        // times cannot be trusted, and the next backup fetches the folder whole.
        bool suspect = false;
    };
    struct File {
        int64_t size = -1;
        int64_t listedTime = 0;
        FceTimeSource source = FceTimeSource::None;
        int64_t fetchedAt = 0; // our clock before the listing of the backup that last fetched it
    };

    BackupRecord() = default;
    explicit BackupRecord(Header header) : m_header(std::move(header)) {}

    // Reads the record file name in the open folder (never through a link); false, with the record left
    // empty, when there is none or when it is damaged in any way. Never throws.
    bool load(int folder, const std::string& name);
    // Writes the whole record as name in the open folder (the staging folder) and flushes it to disk, so
    // that it can be renamed into place only once it is complete. Throws std::filesystem::filesystem_error
    // naming shownPath, with the cause the system gave (a disk that filled after part of it), when it
    // cannot.
    void writeInto(int folder, const std::string& name, const std::string& shownPath) const;

    // A file without size or time can never be proved unchanged, and is not kept.
    void add(const FceListEntry& file, int64_t fetchedAt);
    const Header& header() const { return m_header; }
    const File* find(const std::string& name) const;
    size_t count() const { return m_files.size(); }

private:
    std::string text() const;
    bool parse(const std::string& content);
    bool parseHeader(std::istream& lines);

    Header m_header;
    std::vector<std::string> m_order; // listing order, for a record that reads like the listing
    std::unordered_map<std::string, File> m_files;
};
