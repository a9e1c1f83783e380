#include "ProgressLine.h"

#include <algorithm>
#include <fstream>

namespace {

// Redrawing a terminal line per small file would cost more than the file; ten times a second is plenty.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
// A rate over the first instants of a directory says nothing (a listing's bytes over microseconds).
constexpr double kShortestRateSeconds = 0.25;

std::string rateText(double bytesPerSecond) {
    char text[32];
    if (bytesPerSecond >= 1e6)
        std::snprintf(text, sizeof text, "%.1f MB/s", bytesPerSecond / 1e6);
    else
        std::snprintf(text, sizeof text, "%.0f kB/s", bytesPerSecond / 1e3);
    return text;
}

} // namespace

ProgressLine::ProgressLine(std::FILE* terminal, bool enabled) : m_terminal(terminal), m_enabled(enabled) {}

void ProgressLine::startDirectory(const std::string& label, double totalFiles) {
    m_label = label;
    m_total = totalFiles;
    m_done = 0;
    m_bytes = 0;
    m_ioAtStart = m_enabled ? processIo() : IoCounters{};
    m_start = Clock::now();
    m_started = true;
    redraw(true);
}

void ProgressLine::setFilesDone(double filesDone) {
    m_done = filesDone;
    redraw(filesDone >= m_total);
}

void ProgressLine::setBytes(int64_t bytes) {
    m_bytes = bytes;
    redraw(false);
}

void ProgressLine::clear() {
    if (!m_shown)
        return;
    // CR, then erase to the end of the line.
    std::fputs("\r\033[K", m_terminal);
    std::fflush(m_terminal);
    m_shown = false;
}

std::string ProgressLine::format(const std::string& label, double filesDone, double totalFiles,
                                 double bytesPerSecond) {
    char counts[64];
    std::snprintf(counts, sizeof counts, "%.0f of %.0f files", filesDone, totalFiles);
    std::string line = label.empty() ? std::string() : label + "  ";
    line += counts;
    if (bytesPerSecond >= 0)
        line += "  " + rateText(bytesPerSecond);
    return line;
}

void ProgressLine::redraw(bool force) {
    if (!m_enabled || !m_started)
        return;
    const auto now = Clock::now();
    if (!force && m_shown && now - m_lastDraw < kRedrawInterval)
        return;
    m_lastDraw = now;
    const double seconds = std::chrono::duration<double>(now - m_start).count();
    const double rate = seconds >= kShortestRateSeconds ? static_cast<double>(bytesMoved()) / seconds : -1;
    std::fprintf(m_terminal, "\r\033[K%s", format(m_label, m_done, m_total, rate).c_str());
    std::fflush(m_terminal);
    m_shown = true;
}

int64_t ProgressLine::bytesMoved() const {
    if (m_ioAtStart.read < 0 || m_ioAtStart.written < 0)
        return m_bytes;
    const IoCounters now = processIo();
    if (now.read < 0 || now.written < 0)
        return m_bytes;
    return std::max({m_bytes, now.read - m_ioAtStart.read, now.written - m_ioAtStart.written});
}

ProgressLine::IoCounters ProgressLine::processIo() {
    std::ifstream io("/proc/self/io");
    std::string key;
    int64_t value = 0;
    IoCounters counters;
    while (io >> key >> value) {
        if (key == "rchar:")
            counters.read = value;
        else if (key == "wchar:")
            counters.written = value;
    }
    return counters;
}
