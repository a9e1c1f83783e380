#include "FileDispatch.h"

#include "FtpEngine.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace {

// How often the host hears that files are moving while none completes (a window repaints, a terminal
// redraws its progress line).
constexpr auto kKeepAliveEvery = std::chrono::milliseconds(90);

// A channel's progress hook: the bytes of its file in transfer, added to the folder's count.
struct ByteCount {
    std::atomic<int64_t>* moved = nullptr;
    int64_t ofFile = 0;
};

void countBytes(void* context, int64_t bytesSoFar) {
    auto* count = static_cast<ByteCount*>(context);
    count->moved->fetch_add(bytesSoFar - count->ofFile);
    count->ofFile = bytesSoFar;
}

// The hand-over between the channels' threads and the host's.
struct Board {
    std::mutex lock;
    std::condition_variable changed;
    std::deque<std::pair<size_t, FileDispatch::Result>> done;
    size_t next = 0;
    size_t running = 0;
    bool stop = false;
};

FileDispatch::Result failed(int32_t code, std::string line) {
    FileDispatch::Result result;
    result.fetched = {ListedFileFetch::Outcome::Failed, code, false};
    result.errorLine = std::move(line);
    return result;
}

void drive(Board& board, int32_t channel, size_t count, const FileDispatch::Work& work, ByteCount& bytes) {
    fceSetProgressHook(channel, countBytes, &bytes);
    for (;;) {
        size_t job = 0;
        {
            const std::lock_guard<std::mutex> hold(board.lock);
            if (board.stop || board.next >= count)
                break;
            job = board.next++;
        }
        bytes.ofFile = 0;
        FileDispatch::Result result;
        try {
            result = work(channel, job);
        } catch (...) {
            result = failed(-1, "Internal error in a transfer on channel " + std::to_string(channel));
        }
        {
            const std::lock_guard<std::mutex> hold(board.lock);
            board.done.emplace_back(job, std::move(result));
        }
        board.changed.notify_one();
    }
    fceSetProgressHook(channel, nullptr, nullptr);
    {
        const std::lock_guard<std::mutex> hold(board.lock);
        --board.running;
    }
    board.changed.notify_one();
}

} // namespace

int32_t FileDispatch::Run(TransferHost& host, const std::vector<int32_t>& channels, size_t count,
                          const Work& work, const Settle& settle) {
    Board board;
    std::atomic<int64_t> moved{0};
    std::vector<ByteCount> bytes(channels.size());
    std::vector<std::jthread> threads;
    board.running = channels.size();
    for (size_t index = 0; index < channels.size(); ++index) {
        bytes[index].moved = &moved;
        threads.emplace_back(drive, std::ref(board), channels[index], count, std::cref(work),
                             std::ref(bytes[index]));
    }
    int32_t result = 0;
    int64_t reported = 0; // bytes the host has been told of as part of files it settled
    for (;;) {
        std::unique_lock<std::mutex> hold(board.lock);
        board.changed.wait_for(hold, kKeepAliveEvery,
                               [&] { return !board.done.empty() || board.running == 0; });
        if (board.done.empty()) {
            if (board.running == 0)
                break;
            hold.unlock();
            host.KeepAlive(moved - reported);
            continue;
        }
        auto [job, outcome] = std::move(board.done.front());
        board.done.pop_front();
        hold.unlock();
        const int64_t now = moved;
        host.KeepAlive(now - reported);
        reported = now;
        if (const int32_t code = settle(job, outcome); code < 0 && result >= 0)
            result = code;
        host.Yield();
        if (result < 0 || host.AbortRequested()) {
            const std::lock_guard<std::mutex> stopping(board.lock);
            board.stop = true;
        }
    }
    return result;
}
