#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

// One line on a terminal that shows how far the current directory has got (files done of total and the
// rate), redrawn in place with CR. The log lines go elsewhere; the line steps aside before each of them.
class ProgressLine {
public:
    using Clock = std::chrono::steady_clock;

    // Draws nothing at all unless enabled (standard error is a terminal and --quiet was not given).
    ProgressLine(std::FILE* terminal, bool enabled);

    void startDirectory(const std::string& label, double totalFiles);
    void setFilesDone(double filesDone);
    // Bytes this directory has moved so far (a running total, never going back).
    void setBytes(int64_t bytes);
    // Removes the line so that a log line can take its place on the terminal.
    void clear();

    // The text of the line, also for tests: "C:\MSG  12 of 2000 files  3.4 MB/s"; no rate when negative.
    static std::string format(const std::string& label, double filesDone, double totalFiles,
                              double bytesPerSecond);

    // What this process has passed through read() and write() so far; -1 each when the system does not
    // say. A download writes its files and an upload reads them, so the larger change of the two follows
    // the data; the engine's own progress reports come only for files that take a while, and small
    // files would count as nothing without this.
    struct IoCounters {
        int64_t read = -1;
        int64_t written = -1;
    };
    static IoCounters processIo();

private:
    void redraw(bool force);
    int64_t bytesMoved() const;

    std::FILE* m_terminal;
    bool m_enabled;
    bool m_shown = false;
    bool m_started = false; // nothing to show before the first directory has a file count
    std::string m_label;
    double m_total = 0;
    double m_done = 0;
    int64_t m_bytes = 0;
    IoCounters m_ioAtStart;
    Clock::time_point m_start;
    Clock::time_point m_lastDraw;
};
