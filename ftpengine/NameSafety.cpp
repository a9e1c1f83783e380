#include "NameSafety.h"

#include <cctype>
#include <cstdio>

namespace NameSafety {

namespace {

bool hasDrivePrefix(std::string_view name) {
    return name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0]));
}

std::string hexEscape(const char* format, unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace

bool isPlainComponent(std::string_view name) {
    if (name.empty() || name == "." || name == "..")
        return false;
    if (name.find_first_of(std::string_view("/\\\r\n\0", 5)) != std::string_view::npos)
        return false;
    return !hasDrivePrefix(name);
}

} // namespace NameSafety

std::string NameSafety::escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0u;
        if (byte == '\n')
            out += "\\n";
        else if (byte == '\r')
            out += "\\r";
        else if (byte == '\t')
            out += "\\t";
        else if (byte < 0x20 || byte == 0x7f)
            out += hexEscape("\\x%02x", byte);
        else if (byte == 0xc2 && next >= 0x80 && next <= 0x9f) {
            out += hexEscape("\\u%04x", next);
            ++i; // the C1 character's second byte is in the escape
        } else
            out += static_cast<char>(byte);
    }
    return out;
}
