#pragma once

#include <cstdint>
#include <string>

// What the transfers need of whoever runs them: the window, or the headless command. Both hosts run
// the very same transfer code; this is all it may see of them.
class TransferHost {
public:
    virtual ~TransferHost() = default;

    // One line of the message log (the text may itself hold CR LF for blank lines around it).
    virtual void Display(const std::string& line) = 0;
    // A line of the log that must be seen even where the log is not read (kavrel-cli --quiet).
    virtual void Warn(const std::string& line) { Display(line); }
    // Backup and Restore empty the log when they start.
    virtual void ClearLog() = 0;

    // The progress bar.
    virtual double ProgressValue() const = 0;
    virtual void SetProgressValue(double value) = 0;
    virtual void SetProgressMax(double max) = 0;

    // Between files and directories: queued events (a click on Abort, a close, a signal) are taken in.
    virtual void Yield() = 0;
    // Called while one file moves (also while it stalls): repaint or redraw progress, and take in Abort
    // or a close too, so that a host can interrupt a stalled file; whatever it takes in must not call
    // the engine, which refuses a call from inside a transfer.
    virtual void KeepAlive(int64_t bytesSoFar) = 0;

    virtual bool AbortRequested() const = 0;
    virtual void SetAbortRequested(bool requested) = 0;

    // The session state (0 disconnected, 1 connected, 2 transferring).
    virtual void SetNewState(int32_t state) = 0;

    // A modal message box; style 48 warns (exclamation), 64 informs.
    virtual void ShowMessage(const std::string& text, const std::string& title, int32_t style) = 0;
};
