#include "FtpEngine.h"
#include "TransferCommands.h"

#include <algorithm>

void ShowError(TransferHost& host, int32_t code) {
    constexpr int32_t kTextSize = 128;
    char text[kTextSize] = {};
    const int32_t placed = fceErrorText(0, code, text, kTextSize);
    // Never trust the count beyond the buffer: the log gets at most 128 characters.
    const int32_t length = std::clamp(placed, 0, kTextSize);
    host.Display(std::string(text, static_cast<size_t>(length)));
}
