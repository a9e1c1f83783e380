#include "PassiveReply.h"

#include <cctype>
#include <vector>

namespace PassiveReply {

namespace {

bool isDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// Reads up to six comma-separated numbers starting at from; true when all six are there, each <= 255.
bool readSixNumbers(const std::string& line, size_t from, std::vector<unsigned>& numbers) {
    numbers.clear();
    size_t at = from;
    while (numbers.size() < 6) {
        if (at >= line.size() || !isDigit(line[at]))
            return false;
        unsigned value = 0;
        size_t digits = 0;
        while (at < line.size() && isDigit(line[at]) && digits < 4) {
            value = value * 10 + static_cast<unsigned>(line[at++] - '0');
            ++digits;
        }
        if (value > 255 || (at < line.size() && isDigit(line[at])))
            return false;
        numbers.push_back(value);
        if (numbers.size() < 6 && (at >= line.size() || line[at++] != ','))
            return false;
    }
    return true;
}

} // namespace

bool parseEpsvPort(const std::string& line, uint16_t& port) {
    auto open = line.find('(');
    if (open == std::string::npos || open + 4 >= line.size())
        return false;
    char delimiter = line[open + 1];
    if (line[open + 2] != delimiter || line[open + 3] != delimiter)
        return false;
    unsigned value = 0;
    size_t at = open + 4;
    size_t digits = 0;
    for (; at < line.size() && isDigit(line[at]) && digits < 6; ++at, ++digits)
        value = value * 10 + static_cast<unsigned>(line[at] - '0');
    if (digits == 0 || at >= line.size() || line[at] != delimiter || value == 0 || value > 65535)
        return false;
    port = static_cast<uint16_t>(value);
    return true;
}

bool parsePasvPort(const std::string& line, uint16_t& port) {
    std::vector<unsigned> numbers;
    for (size_t at = 4; at < line.size(); ++at) {
        if (isDigit(line[at]) && !isDigit(line[at - 1]) && readSixNumbers(line, at, numbers)) {
            unsigned value = numbers[4] * 256 + numbers[5];
            if (value == 0)
                return false;
            port = static_cast<uint16_t>(value);
            return true;
        }
    }
    return false;
}

} // namespace PassiveReply
