#include "IniFunction.h"

#include "IniEditor.h"
#include "IniLookup.h"
#include "ProgramLocation.h"
#include "SettingsFile.h"

#include <cstddef>
#include <optional>

// Every procedure is one complete access to the file and absorbs every failure: nothing here throws
// to the caller, shows anything or keeps state between calls.

namespace {

// The platform's read buffer held 1023 characters, one of them the terminator.
constexpr std::size_t longestStringRead = 1022;

void resolvePath(std::string& settingsPath) {
    if (settingsPath.empty())
        settingsPath = DefaultSettingsPath();
}

std::optional<std::string> storedValue(const std::string& section, const std::string& key,
                                       const std::string& settingsPath) {
    std::string content;
    if (SettingsFile::read(settingsPath, content) != SettingsFile::State::Readable)
        return std::nullopt;
    return IniLookup(content).value(section, key);
}

} // namespace

std::string DefaultSettingsPath() {
    return ProgramLocation::settingsDirectory() + "/" + ProgramLocation::baseName() + ".INI";
}

std::string ReadIniString(const std::string& section, const std::string& key, const std::string& defaultValue,
                          std::string& settingsPath) {
    try {
        resolvePath(settingsPath);
        const std::string value = storedValue(section, key, settingsPath).value_or(defaultValue);
        return value.substr(0, longestStringRead);
    } catch (...) {
        return defaultValue;
    }
}

int32_t ReadIniInteger(const std::string& section, const std::string& key, const int32_t& defaultValue,
                       std::string& settingsPath) {
    try {
        resolvePath(settingsPath);
        const std::optional<std::string> value = storedValue(section, key, settingsPath);
        if (!value || value->empty())
            return defaultValue;
        return IniLookup::integerOf(*value);
    } catch (...) {
        return defaultValue;
    }
}

void WriteIniString(const std::string& section, const std::string& key, const std::string& value,
                    std::string& settingsPath) {
    try {
        resolvePath(settingsPath);
        std::string content;
        const SettingsFile::State state = SettingsFile::read(settingsPath, content);
        // A file that cannot be read, is not a settings file or that someone else could have written
        // is left alone rather than replaced.
        if (state == SettingsFile::State::Unusable)
            return;
        if (!IniEditor::setValue(content, section, key, value))
            return;
        SettingsFile::replace(settingsPath, content, state == SettingsFile::State::Readable);
    } catch (...) {
        // A setting that cannot be saved is lost, silently, as every caller expects.
    }
}

void WriteIniInteger(const std::string& section, const std::string& key, const int32_t& value,
                     std::string& settingsPath) {
    WriteIniString(section, key, std::to_string(value), settingsPath);
}
