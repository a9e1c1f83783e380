#include "SafeName.h"

#include "FtpEngine.h"
#include "NameSafety.h"

#include <cctype>
#include <cstdio>
#include <string_view>

namespace SafeName {

namespace {

bool isControl(unsigned char c) {
    return c < 0x20 || c == 0x7f;
}

bool hasDrivePrefix(const std::string& name) {
    return name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0]));
}

bool endsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

} // namespace

bool isTransferTemporary(const std::string& name) {
    for (const char* own : kOwnEntryNames) {
        if (name == own)
            return true;
    }
    const std::string_view suffix = kFcePartialSuffix;
    return name.size() > suffix.size() + 1 && name.front() == '.' && endsWith(name, suffix);
}

bool isSafeComponent(const std::string& name) {
    if (name.empty() || name == "." || name == "..")
        return false;
    for (const char c : name) {
        if (c == '/' || c == '\\' || isControl(static_cast<unsigned char>(c)))
            return false;
    }
    return !hasDrivePrefix(name) && !isTransferTemporary(name);
}

std::string quoted(const std::string& name) {
    std::string out = "\"";
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (isControl(byte) || byte > 126) {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string printable(const std::string& text) {
    return NameSafety::escaped(text);
}

} // namespace SafeName
