#pragma once

#include <string>

// Changes one value in INI text and leaves every other byte as it was: comments, blank lines, other
// sections, unknown lines and the line endings of the file all survive a write.
class IniEditor {
public:
    // The text with section/key set to value: the first occurrence of the key in the section is
    // replaced; a missing key is added to the section's first block; a missing section is appended.
    // New lines end in LF. Returns false (text unchanged) when a name cannot be written as INI.
    static bool setValue(std::string& text, const std::string& section, const std::string& key,
                         const std::string& value);

    // The value as it must stand in the file to read back unchanged: line breaks become blanks (a
    // line break would start a new line, i.e. inject another key), and a value with blanks at its
    // ends or that is itself wrapped in quotes is wrapped in double quotes.
    static std::string encodeValue(const std::string& value);

    static bool isValidSection(const std::string& section);
    static bool isValidKey(const std::string& key);
};
