#pragma once

#include "EngineStatus.h"

#include <chrono>
#include <cstdint>
#include <string>

// A transfer that never falls silent can still be too slow ever to end: a server that sends a byte
// every two seconds keeps every silence limit happy and a nightly run busy for days. A transfer or
// listing that moves fewer than a minimum number of bytes over a whole silence period fails as stalled.
class LowSpeedLimit {
public:
    // Starts counting from now; minBytes <= 0 means no limit.
    void start(int64_t minBytes, int periodMs);
    // Counts bytes that just moved; a failure once a whole period has passed with fewer than the minimum.
    EngineStatus moved(int64_t bytes, const std::string& what);

private:
    using Clock = std::chrono::steady_clock;

    int64_t m_minBytes = 0;
    int m_periodMs = 0;
    Clock::time_point m_periodStart;
    int64_t m_periodBytes = 0;
};
