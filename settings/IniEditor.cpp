#include "IniEditor.h"

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace {

// One line of the file: [begin, contentEnd) is its text, [contentEnd, end) its line ending.
struct Line {
    std::size_t begin;
    std::size_t contentEnd;
    std::size_t end;
};

// A "[" line without "]" leaves the reader in a section that no name reaches, so it is one here too.
enum class LineKind { Other, Section, BrokenSection, Key };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name; // section or key name, trimmed
};

constexpr std::string_view utf8Mark = "\xEF\xBB\xBF";

// The same blanks the reader skips.
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Names compare like the reader's: ASCII letters without regard to case, every other byte as is.
bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    }
    return true;
}

// Lines end in LF, CR LF or a lone CR (the reader takes each as a line break).
std::vector<Line> splitLines(const std::string& text) {
    std::vector<Line> lines;
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t contentEnd = text.find_first_of("\r\n", begin);
        if (contentEnd == std::string::npos) {
            lines.push_back({begin, text.size(), text.size()});
            break;
        }
        std::size_t end = contentEnd + 1;
        if (text[contentEnd] == '\r' && end < text.size() && text[end] == '\n')
            ++end;
        lines.push_back({begin, contentEnd, end});
        begin = end;
    }
    return lines;
}

ParsedLine parseLine(std::string_view content) {
    content = trimmed(content);
    if (content.empty() || content.front() == ';' || content.front() == '#')
        return {};
    if (content.front() == '[') {
        const auto close = content.find(']');
        if (close == std::string_view::npos)
            return {LineKind::BrokenSection, {}};
        return {LineKind::Section, trimmed(content.substr(1, close - 1))};
    }
    const auto equals = content.find('=');
    if (equals == std::string_view::npos)
        return {};
    const std::string_view key = trimmed(content.substr(0, equals));
    if (key.empty())
        return {};
    return {LineKind::Key, key};
}

struct Placement {
    std::optional<std::size_t> keyLine;         // the line holding the key's first occurrence
    std::optional<std::size_t> sectionLastLine; // last header, key or other line of the section's first block
    bool headerOpen = false;                    // the text ends in a "[" whose name is still to come
};

// The reader takes a "[" alone on its line (blanks aside) as a header whose name is on the next line
// that is not blank, whatever that line holds: up to its "]", or a broken header without one.
ParsedLine continuedHeader(std::string_view content) {
    const std::string_view rest = trimmed(content);
    const auto close = rest.find(']');
    if (close == std::string_view::npos)
        return {LineKind::BrokenSection, {}};
    return {LineKind::Section, trimmed(rest.substr(0, close))};
}

Placement findPlacement(const std::string& text, const std::vector<Line>& lines, std::string_view section,
                        std::string_view key) {
    Placement placement;
    bool inSection = false;
    bool inFirstBlock = false;
    bool firstBlockSeen = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view content(text.data() + lines[i].begin, lines[i].contentEnd - lines[i].begin);
        if (i == 0 && content.substr(0, utf8Mark.size()) == utf8Mark) // the reader skips it there only
            content.remove_prefix(utf8Mark.size());
        const bool continuing = placement.headerOpen && !trimmed(content).empty();
        const ParsedLine parsed = continuing ? continuedHeader(content) : parseLine(content);
        if (continuing || trimmed(content) == "[")
            placement.headerOpen = !continuing;
        if (parsed.kind == LineKind::Section || parsed.kind == LineKind::BrokenSection) {
            inSection = parsed.kind == LineKind::Section && sameName(parsed.name, section);
            inFirstBlock = inSection && !firstBlockSeen;
            firstBlockSeen = firstBlockSeen || inSection;
            if (inFirstBlock)
                placement.sectionLastLine = i;
            continue;
        }
        if (inSection && parsed.kind == LineKind::Key && sameName(parsed.name, key)) {
            placement.keyLine = i;
            return placement;
        }
        // Blank and comment lines at a block's end belong to what follows, so new keys go above them.
        const std::string_view rest = trimmed(content);
        const bool commentOrBlank = rest.empty() || rest.front() == ';' || rest.front() == '#';
        if (inFirstBlock && !commentOrBlank)
            placement.sectionLastLine = i;
    }
    return placement;
}

bool hasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

} // namespace

bool IniEditor::isValidSection(const std::string& section) {
    const std::string_view name = trimmed(section);
    return !name.empty() && name.size() == section.size() && !hasLineBreak(section) &&
           section.find(']') == std::string::npos && section.find('\0') == std::string::npos;
}

bool IniEditor::isValidKey(const std::string& key) {
    const std::string_view name = trimmed(key);
    return !name.empty() && name.size() == key.size() && !hasLineBreak(key) &&
           key.find('=') == std::string::npos && key.find('\0') == std::string::npos && key.front() != '[' &&
           key.front() != ';' && key.front() != '#';
}

std::string IniEditor::encodeValue(const std::string& value) {
    std::string flat = value;
    for (char& c : flat) {
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    }
    const bool blankAtEnds = !flat.empty() && (isBlank(flat.front()) || isBlank(flat.back()));
    const bool looksQuoted =
        flat.size() >= 2 && (flat.front() == '"' || flat.front() == '\'') && flat.back() == flat.front();
    return (blankAtEnds || looksQuoted) ? '"' + flat + '"' : flat;
}

bool IniEditor::setValue(std::string& text, const std::string& section, const std::string& key,
                         const std::string& value) {
    if (!isValidSection(section) || !isValidKey(key))
        return false;
    const std::string keyLine = key + "=" + encodeValue(value);
    const std::vector<Line> lines = splitLines(text);
    const Placement placement = findPlacement(text, lines, section, key);
    if (placement.keyLine) {
        const Line& line = lines[*placement.keyLine];
        text.replace(line.begin, line.contentEnd - line.begin, keyLine);
        return true;
    }
    if (placement.sectionLastLine) {
        const Line& line = lines[*placement.sectionLastLine];
        if (line.end == line.contentEnd) { // the file's last line has no line ending yet
            text.insert(line.end, "\n" + keyLine + "\n");
        } else {
            text.insert(line.end, keyLine + "\n");
        }
        return true;
    }
    if (!text.empty() && text.back() != '\n' && text.back() != '\r')
        text += '\n';
    if (placement.headerOpen) // a line without "]" ends the open header, or it would take the new one's name
        text += ";\n";
    text += "[" + section + "]\n" + keyLine + "\n";
    return true;
}
