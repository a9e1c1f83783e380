#include "CliHost.h"

#include "AbortSignals.h"

#include <sys/stat.h>

namespace {

// The directory download and upload announce the server directory before they move the bar; the
// progress line names the directory after it.
constexpr const char* kServerDirectoryLine = "Setting server directory to ";

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool sameFile(std::FILE* a, std::FILE* b) {
    struct stat first {};
    struct stat second {};
    return ::fstat(fileno(a), &first) == 0 && ::fstat(fileno(b), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

} // namespace

CliHost::CliHost(std::FILE* logOutput, std::FILE* warningOutput, ProgressLine& progress, bool quiet)
    : m_out(logOutput), m_warnings(warningOutput), m_progress(progress), m_quiet(quiet) {}

std::string CliHost::printable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue; // the LF that follows makes the break
        if (c == '\n' || c == '\t' || (c >= 0x20 && c != 0x7f))
            out += static_cast<char>(c);
        else
            out += '?';
    }
    return out;
}

void CliHost::Display(const std::string& line) {
    if (startsWith(line, kServerDirectoryLine))
        m_currentDirectory = line.substr(std::string(kServerDirectoryLine).size());
    writeLine(printable(line));
}

void CliHost::Warn(const std::string& line) {
    if (m_quiet || !sameFile(m_out, m_warnings)) {
        m_progress.clear();
        std::fputs((printable(line) + "\n").c_str(), m_warnings);
        std::fflush(m_warnings);
    }
    Display(line);
}

void CliHost::writeLine(const std::string& text) {
    if (m_quiet) {
        m_heldLines.push_back(text);
        return;
    }
    m_progress.clear();
    // A failed write (a closed pipe, a full disk) must not stop the backup: the run goes on and its exit
    // status still tells how it ended.
    std::fputs(text.c_str(), m_out);
    std::fputc('\n', m_out);
    std::fflush(m_out);
}

void CliHost::flushHeldLines() {
    const bool wasQuiet = m_quiet;
    m_quiet = false;
    for (const auto& text : m_heldLines)
        writeLine(text);
    m_heldLines.clear();
    m_quiet = wasQuiet;
}

void CliHost::SetProgressValue(double value) {
    if (value > m_progressValue)
        takeFileBytes();
    m_progressValue = value;
    m_progress.setFilesDone(value);
}

void CliHost::SetProgressMax(double max) {
    m_directoryBytes = 0;
    m_fileBytes = 0;
    m_progress.startDirectory(m_currentDirectory, max);
}

void CliHost::KeepAlive(int64_t bytesSoFar) {
    m_fileBytes = bytesSoFar;
    m_progress.setBytes(m_directoryBytes + m_fileBytes);
}

void CliHost::takeFileBytes() {
    m_directoryBytes += m_fileBytes;
    m_fileBytes = 0;
}

bool CliHost::AbortRequested() const {
    return m_abortRequested || AbortSignals::received();
}

void CliHost::setTimeLimit(int seconds, std::chrono::steady_clock::time_point deadline) {
    m_timeLimitSeconds = seconds;
    m_deadline = deadline;
}

bool CliHost::timeLimitPassed() const {
    return m_timeLimitSeconds > 0 && std::chrono::steady_clock::now() >= m_deadline;
}

void CliHost::ShowMessage(const std::string& text, const std::string& /*title*/, int32_t /*style*/) {
    if (timeLimitPassed())
        writeLine("Time limit of " + std::to_string(m_timeLimitSeconds) +
                  " s (--max-time) reached: the run was stopped.");
    m_summary = text;
    writeLine(printable(text));
}
