#pragma once

#include <string>

// Where the running program lives. The settings file, the engine's protocol trace and the default
// local directory are all placed beside the program; tests point this at a temporary folder.
namespace ProgramLocation {

// The folder that holds the running executable, without a trailing separator (but "/" for the root).
std::string directory();

// The executable's file name without its extension ("kavrel" for /opt/kavrel/kavrel).
std::string baseName();

// The "drive root" of the program: the mount point of the file system that holds the program's folder
// (what the first three characters of the program's path were on a system with drive letters).
std::string driveRoot();

// The mount point of the file system that holds path (an absolute path); "/" when nothing closer is mounted.
std::string mountPointOf(const std::string& path);

// Tests and the headless command may stand in another folder or name; empty text restores the real one.
void overrideDirectory(const std::string& folder);
void overrideBaseName(const std::string& name);

} // namespace ProgramLocation
