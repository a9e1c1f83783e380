#include "ListingParser.h"

#include "FtpEngine.h"
#include "ListedTime.h"
#include "NameSafety.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace {

bool isDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

bool allDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), isDigit);
}

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

bool readSize(std::string_view digits, int64_t& size) {
    if (!allDigits(digits) || digits.size() > 18)
        return false;
    size = 0;
    for (char c : digits)
        size = size * 10 + (c - '0');
    return true;
}

bool isMonth(std::string_view token) {
    static constexpr std::array<std::string_view, 12> months = {"jan", "feb", "mar", "apr", "may", "jun",
                                                                "jul", "aug", "sep", "oct", "nov", "dec"};
    return token.size() == 3 && std::find(months.begin(), months.end(), lowered(token)) != months.end();
}

// "20:19" or "2024".
bool isTimeOrYear(std::string_view token) {
    if (token.size() == 4)
        return allDigits(token);
    auto colon = token.find(':');
    return colon != std::string_view::npos && allDigits(token.substr(0, colon)) &&
           allDigits(token.substr(colon + 1));
}

// Blank-separated fields with the position where each begins, up to count of them.
struct Field {
    std::string_view text;
    size_t end;
};

std::vector<Field> leadingFields(std::string_view line, size_t count) {
    std::vector<Field> fields;
    size_t at = 0;
    while (fields.size() < count) {
        while (at < line.size() && line[at] == ' ')
            ++at;
        if (at >= line.size())
            break;
        size_t start = at;
        while (at < line.size() && line[at] != ' ')
            ++at;
        fields.push_back({line.substr(start, at - start), at});
    }
    return fields;
}

// "12-06-26" or "12-06-2026".
bool isDosDate(std::string_view token) {
    return (token.size() == 8 || token.size() == 10) && isDigit(token[0]) && isDigit(token[1]) &&
           token[2] == '-' && isDigit(token[3]) && isDigit(token[4]) && token[5] == '-' &&
           allDigits(token.substr(6));
}

// "08:19PM" or "20:19".
bool isDosTime(std::string_view token) {
    std::string_view clock = token;
    if (token.size() == 7 && (lowered(token.substr(5)) == "am" || lowered(token.substr(5)) == "pm"))
        clock = token.substr(0, 5);
    return clock.size() == 5 && isDigit(clock[0]) && isDigit(clock[1]) && clock[2] == ':' &&
           isDigit(clock[3]) && isDigit(clock[4]);
}

} // namespace

ListingParser::LineKind ListingParser::parseMlsdLine(std::string_view line, ListingEntry& entry) {
    auto blank = line.find(' ');
    if (blank == std::string_view::npos || blank + 1 >= line.size())
        return line.empty() ? LineKind::Skip : LineKind::Unreadable;
    entry = ListingEntry();
    entry.name = std::string(line.substr(blank + 1));
    std::string facts = lowered(line.substr(0, blank));
    std::string type;
    size_t at = 0;
    while (at < facts.size()) {
        size_t end = std::min(facts.find(';', at), facts.size());
        std::string_view fact = std::string_view(facts).substr(at, end - at);
        auto equals = fact.find('=');
        if (equals != std::string_view::npos) {
            std::string_view key = fact.substr(0, equals);
            std::string_view value = fact.substr(equals + 1);
            if (key == "type")
                type = std::string(value);
            else if (key == "size" && !readSize(value, entry.size))
                return LineKind::Unreadable;
            else if (key == "modify")
                ListedTime::fromMlsd(value, entry);
        }
        at = end + 1;
    }
    if (type == "cdir" || type == "pdir")
        return LineKind::Skip;
    // A link (os.unix=slink...) or any other type whose target is unknown is taken as a file.
    // Only a plain file's size is the size of what RETR sends: a link's is that of the link itself.
    entry.isDirectory = type == "dir";
    if (type != "file")
        entry.size = -1;
    return type.empty() ? LineKind::Unreadable : LineKind::Entry;
}

ListingParser::LineKind ListingParser::parseListLine(std::string_view line, ListingEntry& entry,
                                                     int64_t reference) {
    if (line.empty() || line.find_first_not_of(' ') == std::string_view::npos)
        return LineKind::Skip;
    auto fields = leadingFields(line, 2);
    if (fields.size() == 2 && lowered(fields[0].text) == "total" && allDigits(fields[1].text) &&
        line.find_first_not_of(' ', fields[1].end) == std::string_view::npos)
        return LineKind::Skip;
    entry = ListingEntry();
    if (isDosDate(fields[0].text))
        return parseDosLine(line, entry);
    return parseUnixLine(line, entry, reference);
}

ListingParser::LineKind ListingParser::parseUnixLine(std::string_view line, ListingEntry& entry,
                                                     int64_t reference) {
    // perms links owner [group] size month day time-or-year name: the date is found rather than
    // counted, because some servers leave out the group.
    auto fields = leadingFields(line, 9);
    if (fields.size() < 8 || fields[0].text.size() < 10)
        return LineKind::Unreadable;
    for (size_t month = 3; month + 2 < fields.size() && month <= 5; ++month) {
        if (!isMonth(fields[month].text) || !allDigits(fields[month + 1].text) ||
            !isTimeOrYear(fields[month + 2].text) || !readSize(fields[month - 1].text, entry.size))
            continue;
        size_t nameStart = fields[month + 2].end + 1; // exactly one blank: the rest is the name
        if (nameStart >= line.size())
            return LineKind::Unreadable;
        char type = fields[0].text[0];
        std::string_view name = line.substr(nameStart);
        if (type == 'l') {
            auto arrow = name.find(" -> ");
            if (arrow != std::string_view::npos)
                name = name.substr(0, arrow);
        }
        entry.name = std::string(name);
        entry.isDirectory = type == 'd';
        ListedTime::fromUnix(fields[month].text, fields[month + 1].text, fields[month + 2].text, reference,
                             entry);
        if (entry.isDirectory || type == 'l')
            entry.size = -1; // a link's listed size is that of the link, not of what it points to
        return LineKind::Entry;
    }
    return LineKind::Unreadable;
}

ListingParser::LineKind ListingParser::parseDosLine(std::string_view line, ListingEntry& entry) {
    // MM-DD-YY  HH:MMPM, then "       <DIR>          " or " " + size right-aligned in 20 + " "; the name
    // starts 22 columns after the time, and may itself begin with blanks.
    auto fields = leadingFields(line, 3);
    if (fields.size() < 3 || !isDosTime(fields[1].text))
        return LineKind::Unreadable;
    std::string_view sizeField = fields[2].text;
    bool isDirectory = lowered(sizeField) == "<dir>";
    int64_t size = -1;
    if (!isDirectory && !readSize(sizeField, size))
        return LineKind::Unreadable;
    size_t fixedStart = fields[1].end + 22;
    size_t nameStart = fields[2].end + 1;
    if (isDirectory && fixedStart > fields[2].end && fixedStart <= line.size() &&
        line.substr(fields[2].end, fixedStart - fields[2].end).find_first_not_of(' ') ==
            std::string_view::npos)
        nameStart = fixedStart;
    else if (isDirectory)
        nameStart = line.find_first_not_of(' ', fields[2].end);
    if (nameStart == std::string_view::npos || nameStart >= line.size())
        return LineKind::Unreadable;
    entry.name = std::string(line.substr(nameStart));
    entry.isDirectory = isDirectory;
    entry.size = size;
    ListedTime::fromDos(fields[0].text, fields[1].text, entry);
    return LineKind::Entry;
}

EngineStatus ListingParser::parse(std::string_view text, Format format, std::vector<ListingEntry>& entries,
                                  int64_t reference) {
    entries.clear();
    size_t at = 0;
    while (at < text.size()) {
        size_t end = std::min(text.find('\n', at), text.size());
        std::string_view line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        at = end + 1;
        ListingEntry entry;
        LineKind kind =
            format == Format::Mlsd ? parseMlsdLine(line, entry) : parseListLine(line, entry, reference);
        if (kind == LineKind::Skip || (kind == LineKind::Entry && (entry.name == "." || entry.name == "..")))
            continue;
        if (kind == LineKind::Unreadable)
            return EngineStatus::failure(FCE_E_PROTOCOL, "Unreadable listing line: " + std::string(line));
        if (!NameSafety::isPlainComponent(entry.name))
            return EngineStatus::failure(FCE_E_UNSAFE_NAME, "Unsafe file name from server: " + entry.name);
        entries.push_back(std::move(entry));
    }
    return {};
}

std::string ListingParser::listText(const std::vector<ListingEntry>& entries) {
    std::string text;
    for (const ListingEntry& entry : entries) {
        text += entry.name;
        if (entry.isDirectory)
            text += '/';
        text += "\r\n";
    }
    return text;
}
