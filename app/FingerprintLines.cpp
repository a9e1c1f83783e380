#include "FingerprintLines.h"

#include <cctype>
#include <vector>

namespace {

const std::string kPrefix = "SHA256:";
constexpr size_t kPairs = 32;
constexpr size_t kLength = 7 + kPairs * 3 - 1; // "SHA256:" and "AB:" 31 times and "EF"
constexpr size_t kFirstHalf = 7 + kPairs / 2 * 3 - 1;
const std::string kIndent = "    ";

bool isFingerprintAt(const std::string& text, size_t at) {
    if (text.compare(at, kPrefix.size(), kPrefix) != 0 || text.size() - at < kLength)
        return false;
    for (size_t i = kPrefix.size(); i < kLength; ++i) {
        const bool colon = (i - kPrefix.size()) % 3 == 2;
        const auto c = static_cast<unsigned char>(text[at + i]);
        if (colon ? c != ':' : std::isxdigit(c) == 0)
            return false;
    }
    // One pair more would make it some other, longer text.
    return at + kLength == text.size() || text[at + kLength] != ':';
}

// The text beside a fingerprint, without the blank that parted them.
std::string withoutBlankAt(std::string text, bool end) {
    if (!text.empty() && (end ? text.back() : text.front()) == ' ')
        text.erase(end ? text.size() - 1 : 0, 1);
    return text;
}

} // namespace

namespace FingerprintLines {

std::string halves(const std::string& fingerprint) {
    if (!isFingerprintAt(fingerprint, 0) || fingerprint.size() != kLength)
        return kIndent + fingerprint;
    return kIndent + fingerprint.substr(0, kFirstHalf) + "\n" + kIndent + fingerprint.substr(kFirstHalf + 1);
}

std::string apart(const std::string& line) {
    std::vector<std::string> lines;
    size_t from = 0;
    for (size_t at = line.find(kPrefix); at != std::string::npos; at = line.find(kPrefix, at + 1)) {
        if (!isFingerprintAt(line, at))
            continue;
        if (std::string before = withoutBlankAt(line.substr(from, at - from), true); !before.empty())
            lines.push_back(before);
        lines.push_back(halves(line.substr(at, kLength)));
        from = at + kLength;
    }
    if (lines.empty())
        return line;
    std::string joined;
    for (const std::string& part : lines)
        joined += part + "\n";
    if (std::string after = withoutBlankAt(line.substr(from), false); !after.empty())
        return joined + after;
    joined.pop_back();
    return joined;
}

} // namespace FingerprintLines
