#pragma once

#include "../transfer/Retention.h"
#include "../transfer/TransferCommands.h"

#include <string>
#include <vector>

// What one run needs from the settings file: the same keys and defaults the window loads at start-up.
struct JobSettings {
    std::string server;
    std::string user;
    std::string password;
    ServerPaths paths;
    CategorySelection selection;
    std::string localDir;
    RetentionPolicy retention;
    std::vector<std::string> retentionProblems; // [Generations] values that are not counts
    int32_t connections = 4;                    // [Connection] Connections
};

// The host name the window offers on a first run.
inline constexpr const char* kDefaultServer = "trelvik";

// Reads every key through the settings functions, never writing. The caller has made sure the file exists.
// defaultLocalFolder is the DataPath default, the window's own.
JobSettings ReadJobSettings(const std::string& settingsFile, const std::string& defaultLocalFolder);

// The first of Server, User and Password that the [Connection] section of the file lacks, empty when
// it has all three. A scheduled run takes no connection value from the window's first-run defaults.
std::string MissingConnectionKey(const std::string& settingsFile);

// The window's settings file: kavrel.INI in the window's settings folder.
std::string DefaultCliSettingsPath(const std::string& settingsDirectory);
