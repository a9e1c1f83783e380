#pragma once

#include <string>

// Rules for names that come from outside (a server listing, a local folder walked by Restore) before
// they become part of a path, and the names the transfers keep for their own temporary files.
namespace SafeName {

// The program's own hidden entries in the backup tree. Restore never sends them and a backup never
// takes them from a server; a new one is added to kOwnEntryNames (isTransferTemporary reads it).
// Where a directory's files are gathered before they replace the folder's previous backup.
inline constexpr const char* kStagingFolderName = ".kavrel-staging";
// Beside the staging folder: what the last complete backup of the folder took from the server.
inline constexpr const char* kRecordFileName = ".kavrel-record";
// In the local base folder: the lock file of earlier versions, which a crashed run could leave behind.
inline constexpr const char* kLockFileName = ".kavrel-lock";
// In the local base folder: the generations, the folders as earlier backups left them.
inline constexpr const char* kGenerationsFolderName = ".kavrel-generations";
// In the local base folder: the newest time the server listed in the last changed-only run there.
inline constexpr const char* kServerClockFileName = ".kavrel-server-clock";
inline constexpr const char* kOwnEntryNames[] = {kStagingFolderName, kRecordFileName, kLockFileName,
                                                 kGenerationsFolderName, kServerClockFileName};

// True when name is exactly one plain path component: not empty, not "." or "..", no "/" or "\",
// no control character, no drive prefix ("C:"), and not one of the transfers' own temporary names.
bool isSafeComponent(const std::string& name);

// True for the program's own entries: kOwnEntryNames and the engine's partial files
// (kFcePartialPrefix + kFcePartialRandomDigits hex digits). Restore never sends them; a backup never
// takes them from a server.
bool isTransferTemporary(const std::string& name);

// The name in double quotes with control characters and bytes above 126 shown as \xNN, fit for a log line.
std::string quoted(const std::string& name);

// A name or path for a log line: control characters escaped ("\n", "\x1b"), nothing else changed.
std::string printable(const std::string& text);

} // namespace SafeName
