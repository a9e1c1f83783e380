#pragma once

#include <string>

// Rules for names that come from outside (a server listing, a local folder walked by Restore) before
// they become part of a path, and the names the transfers keep for their own temporary files.
namespace SafeName {

// Where a directory's files are gathered before they replace the folder's previous backup.
inline constexpr const char* kStagingFolderName = ".kavrel-staging";
// Beside the staging folder: what the last complete backup of the folder took from the server.
inline constexpr const char* kRecordFileName = ".kavrel-record";

// True when name is exactly one plain path component: not empty, not "." or "..", no "/" or "\",
// no control character, no drive prefix ("C:"), and not one of the transfers' own temporary names.
bool isSafeComponent(const std::string& name);

// True for the transfers' own entries: the staging folder, the backup record and the engine's partial
// files ("." + name + kFcePartialSuffix). Restore never sends them; a backup never takes them from a server.
bool isTransferTemporary(const std::string& name);

// The name in double quotes with control characters and bytes above 126 shown as \xNN, fit for a log line.
std::string quoted(const std::string& name);

} // namespace SafeName
