#pragma once

#include "TransferHost.h"

#include <QStringList>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A TransferHost that records everything the transfers tell it. Hooks let a test act at the very
// points where the window would take in queued events (a click on Abort at a yield).
class RecordingHost : public TransferHost {
public:
    struct Message {
        std::string text;
        std::string title;
        int32_t style = 0;
    };

    void Display(const std::string& line) override;
    void ClearLog() override;
    double ProgressValue() const override { return progressValue; }
    void SetProgressValue(double value) override;
    void SetProgressMax(double max) override { progressMax = max; }
    void Yield() override;
    void KeepAlive(int64_t bytesSoFar) override;
    bool AbortRequested() const override { return abortRequested; }
    void SetAbortRequested(bool requested) override { abortRequested = requested; }
    void SetNewState(int32_t state) override;
    void ShowMessage(const std::string& text, const std::string& title, int32_t style) override;

    // Every Display call's text, in order.
    QStringList lines() const;

    std::vector<std::string> displayed;
    double progressValue = 0.0;
    double progressMax = 100.0;
    std::vector<double> progressValues; // every value set, in order
    int yields = 0;
    int keepAlives = 0;
    int64_t lastKeepAliveBytes = 0;
    bool abortRequested = false;
    std::vector<int32_t> states;
    int32_t state = 1;
    std::vector<Message> messages;
    double progressAtMessage = -1.0; // the bar when the last message box opened
    int32_t stateAtMessage = -1;

    // Run after the yield's count went up, as a queued click would be.
    std::function<void(RecordingHost&)> onYield;
    // Run after a line was recorded.
    std::function<void(RecordingHost&, const std::string&)> onDisplay;
};
