#include "RecordingHost.h"

void RecordingHost::Display(const std::string& line) {
    displayed.push_back(line);
    if (onDisplay)
        onDisplay(*this, line);
}

void RecordingHost::ClearLog() {
    displayed.clear();
}

void RecordingHost::SetProgressValue(double value) {
    progressValue = value;
    progressValues.push_back(value);
}

void RecordingHost::Yield() {
    ++yields;
    if (onYield)
        onYield(*this);
}

void RecordingHost::KeepAlive(int64_t bytesSoFar) {
    ++keepAlives;
    lastKeepAliveBytes = bytesSoFar;
}

void RecordingHost::SetNewState(int32_t newState) {
    // As the window does: every state change puts the bar back to 0, and the change is followed by a yield.
    state = newState;
    states.push_back(newState);
    progressValue = 0.0;
    Yield();
}

void RecordingHost::ShowMessage(const std::string& text, const std::string& title, int32_t style) {
    progressAtMessage = progressValue;
    stateAtMessage = state;
    messages.push_back({text, title, style});
}

QStringList RecordingHost::lines() const {
    QStringList result;
    for (const auto& line : displayed)
        result << QString::fromStdString(line);
    return result;
}
