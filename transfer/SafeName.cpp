#include "SafeName.h"

#include "FtpEngine.h"
#include "NameSafety.h"

#include <algorithm>
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

} // namespace

bool isTransferTemporary(const std::string& name) {
    for (const char* own : kOwnEntryNames) {
        if (name == own)
            return true;
    }
    const std::string_view prefix = kFcePartialPrefix;
    return name.size() == prefix.size() + kFcePartialRandomDigits &&
           name.compare(0, prefix.size(), prefix) == 0 &&
           std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                       [](unsigned char c) { return std::isxdigit(c); });
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
