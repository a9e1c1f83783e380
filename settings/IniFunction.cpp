#include "IniFunction.h"

#include "ProgramLocation.h"

// First cut: the default path only; reading and writing follow.
namespace {

void resolvePath(std::string& settingsPath) {
    if (settingsPath.empty())
        settingsPath = DefaultSettingsPath();
}

} // namespace

std::string DefaultSettingsPath() {
    return ProgramLocation::directory() + "/" + ProgramLocation::baseName() + ".INI";
}

std::string ReadIniString(const std::string&, const std::string&, const std::string& defaultValue,
                          std::string& settingsPath) {
    resolvePath(settingsPath);
    return defaultValue;
}

int32_t ReadIniInteger(const std::string&, const std::string&, const int32_t& defaultValue,
                       std::string& settingsPath) {
    resolvePath(settingsPath);
    return defaultValue;
}

void WriteIniString(const std::string&, const std::string&, const std::string&, std::string& settingsPath) {
    resolvePath(settingsPath);
}

void WriteIniInteger(const std::string& section, const std::string& key, const int32_t& value,
                     std::string& settingsPath) {
    WriteIniString(section, key, std::to_string(value), settingsPath);
}
