#pragma once

#include "BackupRecord.h"
#include "FtpEngine.h"
#include "TransferHost.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class LocalFolder;

// Which listed files a changed-only backup may leave in place, and what the folder's next record says.
//
// A file may stay only when the folder's record, from the same server and directory, lists it with the
// same size and time, the local copy has that size, and that time lay more than its precision plus a day
// before both clocks of the previous listing: ours, and the server's, which read at least the newest time
// listed in that run. A rewrite after that listing gets a later time from the server's clock, so no
// offset between the two clocks, either way, lets a rewrite within the listed time stay. A server that
// lists one time for every file has nothing older than its newest time: its folders are fetched whole.
//
// Of the files that may stay, the rolling refresh fetches again those fetched longest ago, spread evenly
// over the runs, so that each is fetched at least every so many days. A refreshed file whose bytes differ
// from the kept copy was changed under an unchanged size and time: that is warned of, and the folder is
// fetched whole, every file compared, until a run finds no such file.
class ChangedOnlyJudge {
public:
    enum class Verdict {
        Fetch,   // new, changed, or not provably unchanged
        Refresh, // may stay, but is fetched again and compared with the kept copy
        Keep,    // stays as the last backup left it
    };

    ChangedOnlyJudge();

    // Every file is fetched again at least every days days; 0 turns the refresh off.
    void SetRefreshDays(int days) { m_refreshDays = days; }
    // A new command into base (empty: none): the run's view of the server's clock starts afresh, and what
    // the last run into base saw of it is read from there.
    void StartRun(const std::string& base);

    // Judges the listing of serverDir, taken with our clock at listedAt, against folder's record.
    void JudgeFolder(const std::string& serverDir, const LocalFolder& folder,
                     const std::vector<FceListEntry>& listed, int64_t listedAt, TransferHost& host);
    Verdict verdict(const std::string& name) const;
    int64_t refreshCount() const { return m_refreshCount; }

    // Once the files are in staging: a fetched file with the same bytes as its copy in folder moves from
    // fetched to kept (the copy stays, and nothing need reach the disk again); a refreshed one that
    // differs is warned of.
    void SettleFetched(const LocalFolder& folder, const LocalFolder& staging,
                       std::vector<std::string>& fetched, std::unordered_set<std::string>& kept,
                       TransferHost& host);

    // The folder's new record, before its files are added, and when each of them was last fetched.
    BackupRecord NextRecord(int64_t listedAt) const;
    int64_t FetchedAt(const std::string& name, int64_t listedAt) const;
    // After a folder's commit: what this run saw of the server's clock, for the next run into the base.
    void SaveServerClock() const;

private:
    // The server's clock at the previous listing of the folder read at least this.
    int64_t ServerClockAtRecord() const;
    void ChooseRefresh(std::vector<const FceListEntry*>& mayStay, size_t files, int64_t listedAt);
    // The lines that say why a folder is fetched whole: its times cannot prove a file unchanged (once a run),
    // or the last backup found a file changed under an unchanged listing.
    void SayWhyWhole(bool noneMayStay, size_t heldBack, TransferHost& host);

    int m_refreshDays = 30;
    // The run: its number, the base folder, the newest time listed so far and our clock when it was
    // listed, what the last run into the base saw, and whether the one-time line was said.
    uint64_t m_run = 0;
    std::string m_base;
    int64_t m_runNewest = -1;
    int64_t m_runNewestSeenAt = 0;
    BackupRecord m_lastRunClock;
    bool m_haveLastRunClock = false;
    bool m_saidCannotShowChange = false;
    // The folder being judged.
    std::string m_server;
    std::string m_serverDir;
    BackupRecord m_previous;
    std::unordered_map<std::string, Verdict> m_verdicts;
    int64_t m_refreshCount = 0;
    bool m_suspect = false; // a refreshed file differed: the next record says so
};
