#include "ChangedOnlyJudge.h"

#include "LocalFolder.h"
#include "SafeName.h"
#include "TransferCommands.h"

#include <algorithm>
#include <exception>
#include <random>

namespace {

constexpr int64_t kDay = 86400;

uint64_t newRunNumber() {
    std::random_device device;
    return (static_cast<uint64_t>(device()) << 32) ^ device();
}

// The connected server as the settings named it ("host:port").
std::string connectedServer() {
    char text[1024] = "";
    return fceGetString(0, FCE_SERVER_ADDRESS, text, sizeof text) >= 0 ? std::string(text) : std::string();
}

// True when the listed time lies more than its precision plus a day before limit: time zones and the
// rounding of the listing cannot then hide a later write.
bool listedBefore(const FceListEntry& entry, int64_t limit) {
    return entry.timeSource != FceTimeSource::None &&
           entry.listedTime + fceTimePrecision(entry.timeSource) + kDay < limit;
}

bool sameAsRecorded(const BackupRecord::File* kept, const FceListEntry& entry) {
    return kept != nullptr && kept->size == entry.size && kept->listedTime == entry.listedTime &&
           kept->source == entry.timeSource;
}

} // namespace

ChangedOnlyJudge::ChangedOnlyJudge() : m_run(newRunNumber()) {}

void ChangedOnlyJudge::StartRun(const std::string& base) {
    m_run = newRunNumber();
    m_base = base;
    m_runNewest = -1;
    m_runNewestSeenAt = 0;
    m_saidCannotShowChange = false;
    m_haveLastRunClock = false;
    LocalFolder folder;
    if (!base.empty() && LocalFolder::openPath(base, folder) == 0)
        m_haveLastRunClock = m_lastRunClock.load(folder.descriptor(), SafeName::kServerClockFileName);
}

void ChangedOnlyJudge::JudgeFolder(const std::string& serverDir, const LocalFolder& folder,
                                   const std::vector<FceListEntry>& listed, int64_t listedAt,
                                   TransferHost& host) {
    m_server = connectedServer();
    m_serverDir = serverDir;
    m_verdicts.clear();
    m_refreshCount = 0;
    m_suspect = false;
    // A time more than a day (a time zone) ahead of our clock, a file dated ahead or a year guessed
    // wrong, may be one the server's clock never reached: counting it would let rewrites stay, leaving it
    // out only fetches more (from a server clock days ahead of ours, the files of the day below ours).
    for (const auto& entry : listed) {
        if (entry.timeSource != FceTimeSource::None && entry.listedTime > m_runNewest &&
            entry.listedTime <= listedAt + fceTimePrecision(entry.timeSource) + kDay) {
            m_runNewest = entry.listedTime;
            m_runNewestSeenAt = listedAt;
        }
    }
    // A record of another server or directory proves nothing.
    if (!m_previous.load(folder.descriptor(), SafeName::kRecordFileName) ||
        m_previous.header().server != m_server || m_previous.header().serverDir != serverDir)
        return;
    // Files that look unchanged, and whose time lay a day before our clock's listing, stay when it also
    // lay a day before the server's; a folder where none does cannot prove a file unchanged by its times.
    const int64_t serverClock = ServerClockAtRecord();
    std::vector<const FceListEntry*> mayStay;
    size_t heldBack = 0;
    for (const auto& entry : listed) {
        if (entry.isDirectory || !sameAsRecorded(m_previous.find(entry.name), entry) ||
            !listedBefore(entry, m_previous.header().listedAt) || folder.fileSize(entry.name) != entry.size)
            continue;
        if (listedBefore(entry, serverClock))
            mayStay.push_back(&entry);
        else
            ++heldBack;
    }
    SayWhyWhole(mayStay.empty(), heldBack, host);
    ChooseRefresh(mayStay, listed.size(), listedAt);
}

void ChangedOnlyJudge::SayWhyWhole(bool noneMayStay, size_t heldBack, TransferHost& host) {
    if (noneMayStay && heldBack > 0 && !m_saidCannotShowChange) {
        m_saidCannotShowChange = true;
        host.Display("The files of " + SafeName::printable(m_serverDir) +
                     " that look unchanged are listed less than a day before the newest time the server "
                     "lists, so their times cannot prove them unchanged (a server that lists one date for "
                     "every file, or a clock far behind ours): folders like this are fetched whole.");
    }
    if (m_previous.header().suspect && !noneMayStay)
        host.Display("Fetching every file of " + SafeName::printable(m_serverDir) +
                     " again: the last backup found a file changed under an unchanged size and time.");
}

// A time the server listed later in the same run, less the time that had passed by our clock between
// the two listings, is also a time the server's clock had reached.
int64_t ChangedOnlyJudge::ServerClockAtRecord() const {
    const BackupRecord::Header& folder = m_previous.header();
    const BackupRecord::Header& run = m_lastRunClock.header();
    int64_t clock = folder.serverNewest;
    if (m_haveLastRunClock && run.run == folder.run && run.server == folder.server && run.serverDir.empty())
        clock = std::max(clock, run.serverNewest - std::max<int64_t>(0, run.listedAt - folder.listedAt));
    return clock;
}

// Those fetched longest ago go first (names settle ties, so that every run takes the same ones). The
// folder's files are due at evenly spaced moments, one every period / files seconds of our clock: each
// run takes as many as fell since the last one, so that a night takes a period's share however often
// the runs come. Whatever would pass the period before the next run, should that come after as long a
// wait, goes too.
void ChangedOnlyJudge::ChooseRefresh(std::vector<const FceListEntry*>& mayStay, size_t files,
                                     int64_t listedAt) {
    const auto fetchedAt = [this](const FceListEntry* entry) {
        return m_previous.find(entry->name)->fetchedAt;
    };
    std::sort(mayStay.begin(), mayStay.end(), [&](const FceListEntry* a, const FceListEntry* b) {
        return fetchedAt(a) != fetchedAt(b) ? fetchedAt(a) < fetchedAt(b) : a->name < b->name;
    });
    size_t refresh = 0;
    if (m_previous.header().suspect) {
        refresh = mayStay.size();
    } else if (m_refreshDays > 0) {
        const int64_t period = m_refreshDays * kDay;
        const int64_t last = m_previous.header().listedAt;
        const int64_t interval = std::clamp<int64_t>(listedAt - last, 0, period);
        const auto dueBy = [&](int64_t clock) {
            return static_cast<int64_t>(files) * (clock / period) +
                   static_cast<int64_t>(files) * (clock % period) / period;
        };
        refresh = std::min(static_cast<size_t>(std::max<int64_t>(dueBy(last + interval) - dueBy(last), 0)),
                           mayStay.size());
        while (refresh < mayStay.size() && listedAt - fetchedAt(mayStay[refresh]) > period - interval / 2)
            ++refresh;
    }
    for (size_t i = 0; i < mayStay.size(); ++i)
        m_verdicts[mayStay[i]->name] = i < refresh ? Verdict::Refresh : Verdict::Keep;
    m_refreshCount = static_cast<int64_t>(refresh);
}

ChangedOnlyJudge::Verdict ChangedOnlyJudge::verdict(const std::string& name) const {
    const auto found = m_verdicts.find(name);
    return found == m_verdicts.end() ? Verdict::Fetch : found->second;
}

void ChangedOnlyJudge::SettleFetched(const LocalFolder& folder, const LocalFolder& staging,
                                     std::vector<std::string>& fetched, std::unordered_set<std::string>& kept,
                                     TransferHost& host) {
    std::vector<std::string> changed;
    for (auto& name : fetched) {
        bool same = false;
        const bool compared = staging.compareFile(name, folder, same) == 0;
        if (compared && !same && verdict(name) == Verdict::Refresh) {
            m_suspect = true;
            host.Warn(
                "Warning: " + SafeName::printable(TransferCommands::BuildServerPath(m_serverDir, name)) +
                " changed on the server although its size and listed time did not: the server's times "
                "cannot be trusted, so " +
                SafeName::printable(m_serverDir) + " is fetched whole until a backup finds no such file.");
        }
        if (same)
            kept.insert(std::move(name));
        else
            changed.push_back(std::move(name));
    }
    fetched = std::move(changed);
}

BackupRecord ChangedOnlyJudge::NextRecord(int64_t listedAt) const {
    return BackupRecord({m_server, m_serverDir, listedAt, m_run, m_runNewest, m_suspect});
}

int64_t ChangedOnlyJudge::FetchedAt(const std::string& name, int64_t listedAt) const {
    return verdict(name) == Verdict::Keep ? m_previous.find(name)->fetchedAt : listedAt;
}

// Written in place, and only as a help: a torn or missing file (its checksum fails) costs the next run no
// more than the newest times of the folders listed after each folder.
void ChangedOnlyJudge::SaveServerClock() const {
    LocalFolder base;
    if (m_base.empty() || m_runNewest < 0 || LocalFolder::openPath(m_base, base) != 0)
        return;
    try {
        BackupRecord({m_server, "", m_runNewestSeenAt, m_run, m_runNewest, false})
            .writeInto(base.descriptor(), SafeName::kServerClockFileName, m_base);
    } catch (const std::exception&) {
    }
}
