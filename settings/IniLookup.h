#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// Finds values in INI text the way the program has always relied on: section and key names match
// without regard to letter case, blanks around "=" and around the value do not count, one pair of
// quotes around a value is removed, and of duplicate keys the first one wins.
class IniLookup {
public:
    explicit IniLookup(const std::string& text);
    ~IniLookup();
    IniLookup(const IniLookup&) = delete;
    IniLookup& operator=(const IniLookup&) = delete;

    // The value, or nothing when the section or key is absent (or the text could not be parsed).
    std::optional<std::string> value(const std::string& section, const std::string& key) const;

    // One pair of matching double or single quotes around the whole value is not part of it.
    static std::string withoutQuotes(const std::string& value);
    // An optional sign and the leading digits, as the platform's integer read: "5abc" is 5, "abc" is 0.
    // A number beyond 32 bits stops at the nearest limit instead of wrapping around.
    static int32_t integerOf(const std::string& text);

private:
    class Parsed;
    std::unique_ptr<Parsed> m_parsed;
};
