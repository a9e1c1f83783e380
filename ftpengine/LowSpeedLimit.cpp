#include "LowSpeedLimit.h"

#include "FtpEngine.h"

void LowSpeedLimit::start(int64_t minBytes, int periodMs) {
    m_minBytes = minBytes;
    m_periodMs = periodMs;
    m_periodStart = Clock::now();
    m_periodBytes = 0;
}

EngineStatus LowSpeedLimit::moved(int64_t bytes, const std::string& what) {
    m_periodBytes += bytes;
    const auto now = Clock::now();
    if (m_minBytes <= 0 || now - m_periodStart < std::chrono::milliseconds(m_periodMs))
        return {};
    if (m_periodBytes < m_minBytes)
        return EngineStatus::failure(
            FCE_E_TIMEOUT, "Stalled: " + std::to_string(m_periodBytes) + " bytes for " + what + " in " +
                               std::to_string(m_periodMs) + " ms, fewer than the low-speed limit of " +
                               std::to_string(m_minBytes));
    m_periodStart = now;
    m_periodBytes = 0;
    return {};
}
