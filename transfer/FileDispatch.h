#pragma once

#include "ListedFileFetch.h"
#include "TransferHost.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The files of one folder moved over several channels at once, a thread per channel, while the host's
// thread keeps everything the host sees: it settles each file as it completes (log lines, progress bar),
// yields between files and takes Abort there, as a single connection does. After Abort or a failure no
// further file starts; the files under way complete (or fail at fceInterrupt, as on one connection). The
// threads call only the engine, each on its own channel, never the host.
class FileDispatch {
public:
    // What one file's work gave, made on its channel's thread.
    struct Result {
        ListedFileFetch::Result fetched; // a download's outcome; an upload's code is fetched.code
        std::string errorLine;           // for a failure: the line ShowError would write
    };
    // The work for job on channel (on that channel's thread).
    using Work = std::function<Result(int32_t channel, size_t job)>;
    // Settles a job on the host's thread; negative ends the folder (the failure is already in the log).
    using Settle = std::function<int32_t(size_t job, const Result& result)>;

    // Runs jobs 0..count-1 in order of their start; returns the first negative Settle, else 0.
    static int32_t Run(TransferHost& host, const std::vector<int32_t>& channels, size_t count,
                       const Work& work, const Settle& settle);
};
