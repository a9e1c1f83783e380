#include "IniLookup.h"

#include <SimpleIni.h>
#include <climits>

// Multi-key mode keeps every duplicate in file order, and SimpleIni hands back the first of them:
// the platform's "first one wins".
class IniLookup::Parsed {
public:
    Parsed() : ini(/*isUtf8=*/false, /*multiKey=*/true, /*multiLine=*/false) {}
    CSimpleIniA ini; // SimpleIni's case-insensitive flavour (the "Case" one is case-sensitive)
    bool loaded = false;
};

IniLookup::IniLookup(const std::string& text) : m_parsed(std::make_unique<Parsed>()) {
    m_parsed->ini.SetQuotes(false); // quotes are removed below, both kinds, as the platform did
    m_parsed->loaded = m_parsed->ini.LoadData(text.data(), text.size()) >= 0;
}

IniLookup::~IniLookup() = default;

std::optional<std::string> IniLookup::value(const std::string& section, const std::string& key) const {
    if (!m_parsed->loaded)
        return std::nullopt;
    const char* found = m_parsed->ini.GetValue(section.c_str(), key.c_str(), nullptr);
    if (!found)
        return std::nullopt;
    return withoutQuotes(found);
}

std::string IniLookup::withoutQuotes(const std::string& value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

int32_t IniLookup::integerOf(const std::string& text) {
    std::size_t at = 0;
    bool negative = false;
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) {
        negative = text[at] == '-';
        ++at;
    }
    long long magnitude = 0;
    const long long limit = negative ? -static_cast<long long>(INT32_MIN) : INT32_MAX;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        magnitude = magnitude * 10 + (text[at] - '0');
        if (magnitude >= limit) {
            magnitude = limit;
            break;
        }
    }
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}
