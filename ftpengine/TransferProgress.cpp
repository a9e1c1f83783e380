#include "TransferProgress.h"

void TransferProgress::advance(int64_t bytes) {
    m_bytes += bytes;
    heartbeat();
}

void TransferProgress::heartbeat() {
    if (m_hook == nullptr)
        return;
    auto now = std::chrono::steady_clock::now();
    if (now - m_lastReport < std::chrono::milliseconds(100))
        return;
    report(now);
}

void TransferProgress::finish() {
    if (m_hook != nullptr && m_bytes != m_reportedBytes)
        report(std::chrono::steady_clock::now());
}

void TransferProgress::report(std::chrono::steady_clock::time_point now) {
    m_lastReport = now;
    m_reportedBytes = m_bytes;
    m_hook(m_context, m_bytes);
}
