#include "FtpEngine.h"
#include "NameSafety.h"
#include "TransferCommands.h"

#include <algorithm>

void ShowError(TransferHost& host, int32_t code) {
    host.Display(ErrorLine(0, code));
}

std::string ErrorLine(int32_t channel, int32_t code) {
    constexpr int32_t kTextSize = 128;
    char text[kTextSize] = {};
    const int32_t placed = fceErrorText(channel, code, text, kTextSize);
    // Never trust the count beyond the buffer: the log gets at most 128 characters.
    const int32_t length = std::clamp(placed, 0, kTextSize);
    // The text may hold a name or a server's words: their control characters are shown escaped.
    const std::string shown = NameSafety::escaped(std::string_view(text, static_cast<size_t>(length)));
    return shown.substr(0, kTextSize);
}
