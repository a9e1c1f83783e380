#include "EngineVersion.h"

#include <cstdio>

namespace {

std::string upperHex(uint32_t value) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%X", value);
    return digits;
}

std::string digitAt(const std::string& digits, size_t position) {
    return position < digits.size() ? digits.substr(position, 1) : std::string();
}

} // namespace

std::string EngineVersionLine(int32_t version) {
    // A negative number is shown in two's complement, as a 32-bit hexadecimal conversion shows it.
    const std::string digits = upperHex(static_cast<uint32_t>(version));
    return "FTP Client Engine Version " + digitAt(digits, 0) + "." + digitAt(digits, 1) + "." +
           digitAt(digits, 2);
}
