#pragma once

#include <string>
#include <vector>

// One reply of the server: its three-digit code and every line of it (a multi-line reply keeps all).
struct FtpReply {
    int code = 0;
    std::vector<std::string> lines;

    // The line that carries the final code; the one quoted when the reply causes a failure.
    const std::string& lastLine() const {
        static const std::string empty;
        return lines.empty() ? empty : lines.back();
    }
    bool isPreliminary() const { return code >= 100 && code < 200; }
    bool isCompletion() const { return code >= 200 && code < 300; }
};
