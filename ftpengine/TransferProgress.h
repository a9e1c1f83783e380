#pragma once

#include "FtpEngine.h"

#include <chrono>
#include <cstdint>

// Counts the bytes of one transfer and tells the host about them at most every 100 ms, so a window can
// repaint without the copy loop paying for it on every block.
class TransferProgress {
public:
    TransferProgress(FceProgressHook hook, void* context) : m_hook(hook), m_context(context) {}

    void advance(int64_t bytes);
    // No data moved for a while: the host still hears from the transfer, so a window can repaint.
    void heartbeat();
    // The transfer ended: the host hears the final count, so that small files, which end before any
    // report is due, still show in a rate.
    void finish();
    int64_t bytes() const { return m_bytes; }

private:
    void report(std::chrono::steady_clock::time_point now);

    FceProgressHook m_hook;
    void* m_context;
    int64_t m_bytes = 0;
    int64_t m_reportedBytes = 0;
    std::chrono::steady_clock::time_point m_lastReport = std::chrono::steady_clock::now();
};
