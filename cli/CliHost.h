#pragma once

#include "ProgressLine.h"

#include "../transfer/TransferHost.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

// The headless host of the transfers: the message log goes to standard output line by line, the progress
// bar to a line on the terminal, Abort comes from SIGINT/SIGTERM/SIGHUP, and the summary box becomes the last
// line.
class CliHost : public TransferHost {
public:
    // quiet: hold the log back and print it only if the run does not complete (a cron job then mails
    // nothing for a good night, and the whole story for a bad one).
    CliHost(std::FILE* logOutput, std::FILE* warningOutput, ProgressLine& progress, bool quiet);

    void Display(const std::string& line) override;
    // Also on the warning output at once, quiet or not, unless that is where the log goes anyway.
    void Warn(const std::string& line) override;
    // Standard output cannot be unwritten: the record of the run keeps the connect lines before the
    // command's own lines.
    void ClearLog() override {}

    double ProgressValue() const override { return m_progressValue; }
    void SetProgressValue(double value) override;
    void SetProgressMax(double max) override;

    void Yield() override {}
    void KeepAlive(int64_t bytesSoFar) override;

    bool AbortRequested() const override;
    void SetAbortRequested(bool requested) override { m_abortRequested = requested; }

    void SetNewState(int32_t state) override { m_state = state; }
    int32_t state() const { return m_state; }

    void ShowMessage(const std::string& text, const std::string& title, int32_t style) override;

    // With --quiet, prints what was held back; call once the run is known not to have completed.
    void flushHeldLines();
    // --max-time: past deadline, the summary is preceded by a line that names the limit.
    void setTimeLimit(int seconds, std::chrono::steady_clock::time_point deadline);
    bool timeLimitPassed() const;
    // The summary text of the last ShowMessage, empty when none was shown.
    const std::string& summary() const { return m_summary; }

    // How a log text is written: CR LF becomes a line break, and other control characters (which a
    // server could put into a name or a reply to drive the terminal) become "?".
    static std::string printable(const std::string& text);

private:
    void writeLine(const std::string& text);
    void takeFileBytes();

    std::FILE* m_out;
    std::FILE* m_warnings;
    ProgressLine& m_progress;
    bool m_quiet;
    std::vector<std::string> m_heldLines;
    std::string m_summary;
    std::string m_currentDirectory;
    double m_progressValue = 0;
    bool m_abortRequested = false;
    int32_t m_state = 0;
    // Bytes of the directory's finished files, and the last count the engine gave for the file in transfer.
    int64_t m_directoryBytes = 0;
    int64_t m_fileBytes = 0;
    int m_timeLimitSeconds = 0; // 0: no --max-time
    std::chrono::steady_clock::time_point m_deadline;
};
