#pragma once

#include <cstdint>
#include <string>

// One listed file fetched from a server that is in use: between the listing and its RETR a message can be
// deleted, or grow while it is still being recorded. Works only on the channel it is given, in that
// channel's current directories, and writes no log line, so that several connections can each run it for
// files of their own; the caller reports the outcome.
class ListedFileFetch {
public:
    enum class Outcome {
        Arrived,       // complete in the local directory
        Gone,          // no longer listed after its RETR failed: not part of this backup
        StillChanging, // fetched once more at its newer size, and its size moved again: not fetched
        Failed,        // code is the engine's failure, not yet reported
    };
    struct Result {
        Outcome outcome = Outcome::Failed;
        int32_t code = 0;
        // Arrived at the first try, so at the size and time the listing gave: only then may a backup's
        // record claim it.
        bool asListed = false;
    };

    // listedSize: the size the folder's listing gave (-1: the channel's own last listing, or SIZE).
    static Result fetch(int32_t channel, const std::string& name, int64_t listedSize = -1);

private:
    // Whether name is still listed in the channel's server directory, and its size there now (from the
    // listing, else SIZE; -1 when neither says). Negative: the listing failed.
    static int32_t currentSize(int32_t channel, const std::string& name, bool& listed, int64_t& size);
};
