#include "ListedFileFetch.h"

#include "FtpEngine.h"

#include <algorithm>
#include <vector>

namespace {

constexpr int32_t kListKindEntries = 1;
constexpr int kTries = 2;

// A refusal (550 for a file deleted since the listing) or a size other than expected (a message still
// being recorded) may come from the file having changed; anything else is a failure of its own.
bool mayHaveChanged(int32_t code) {
    return code == FCE_E_SERVER_REPLY || code == FCE_E_INCOMPLETE;
}

} // namespace

int32_t ListedFileFetch::currentSize(int32_t channel, const std::string& name, bool& listed, int64_t& size) {
    std::vector<FceListEntry> entries;
    const int32_t count = fceGetList(channel, kListKindEntries, entries);
    if (count < 0)
        return count;
    const auto found = std::find_if(entries.begin(), entries.end(), [&](const FceListEntry& entry) {
        return !entry.isDirectory && entry.name == name;
    });
    listed = found != entries.end();
    size = listed ? found->size : -1;
    return listed && size < 0 ? fceGetFileSize(channel, name.c_str(), size) : 0;
}

// The first try is held to the listed size. When it fails in a way a change could explain, the folder is
// listed again: a file no longer there is gone; a file still there and still refused is a real failure; a
// file of another size is fetched once more, held to its size now. If that fails on the size too and the
// server's size has moved again, the file is still changing; otherwise the failure is the transfer's own.
ListedFileFetch::Result ListedFileFetch::fetch(int32_t channel, const std::string& name, int64_t listedSize) {
    int64_t heldTo = listedSize; // -1: the engine's own, the listed size or SIZE's
    for (int attempt = 1;; ++attempt) {
        const int32_t code = fceGetFileExpecting(channel, name.c_str(), heldTo);
        if (code >= 0)
            return {Outcome::Arrived, code, attempt == 1};
        bool listed = false;
        int64_t size = -1;
        if (!mayHaveChanged(code) || currentSize(channel, name, listed, size) < 0)
            return {Outcome::Failed, code, false};
        if (!listed)
            return {Outcome::Gone, 0, false};
        if (code != FCE_E_INCOMPLETE || (attempt == kTries && size == heldTo))
            return {Outcome::Failed, code, false};
        if (attempt == kTries)
            return {Outcome::StillChanging, 0, false};
        heldTo = size;
    }
}
