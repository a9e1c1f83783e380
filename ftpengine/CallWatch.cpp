#include "CallWatch.h"

#include "TransferProgress.h"

#include <atomic>
#include <ctime>
#include <limits>

namespace {

constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

// The moment (CLOCK_MONOTONIC, ns) from which waits fail; kNever when no interrupt is asked for.
std::atomic<int64_t> g_interruptAt{kNever};
static_assert(std::atomic<int64_t>::is_always_lock_free, "the interrupt is set from signal handlers");

// clock_gettime is async-signal-safe, std::chrono makes no such promise.
int64_t nowNs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

} // namespace

thread_local TransferProgress* CallWatch::s_progress = nullptr;

void CallWatch::interruptAfter(int32_t afterMs) {
    const int64_t at = nowNs() + static_cast<int64_t>(afterMs < 0 ? 0 : afterMs) * 1000000;
    int64_t current = g_interruptAt.load();
    while (at < current && !g_interruptAt.compare_exchange_weak(current, at)) {
    }
}

void CallWatch::withdrawInterrupt() {
    g_interruptAt.store(kNever);
}

bool CallWatch::interrupted() {
    const int64_t at = g_interruptAt.load(std::memory_order_relaxed);
    return at != kNever && nowNs() >= at;
}

void CallWatch::beat() {
    if (s_progress != nullptr)
        s_progress->heartbeat();
}

CallWatch::Heartbeat::Heartbeat(TransferProgress& progress) : m_previous(s_progress) {
    s_progress = &progress;
}

CallWatch::Heartbeat::~Heartbeat() {
    s_progress = m_previous;
}
