#pragma once

#include <cstdint>
#include <string>

// The settings file: INI text in the settings folder (ProgramLocation::settingsDirectory(): beside the
// program, or ~/.config/kavrel once installed), joined with the base name and ".INI".
// Every call is one complete access to the file and absorbs every failure: reads fall back to the
// caller's default, writes that cannot be made are silently lost. An empty settingsPath is replaced
// by the default path, and the caller's variable holds that path afterwards.

std::string ReadIniString(const std::string& section, const std::string& key, const std::string& defaultValue,
                          std::string& settingsPath);

int32_t ReadIniInteger(const std::string& section, const std::string& key, const int32_t& defaultValue,
                       std::string& settingsPath);

void WriteIniString(const std::string& section, const std::string& key, const std::string& value,
                    std::string& settingsPath);

void WriteIniInteger(const std::string& section, const std::string& key, const int32_t& value,
                     std::string& settingsPath);

// The default settings file path (what an empty settingsPath becomes).
std::string DefaultSettingsPath();
