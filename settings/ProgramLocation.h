#pragma once

#include <string>

// Where the running program lives. The settings file, the engine's protocol trace and the default
// local directory are all placed beside the program; tests point this at a temporary folder.
namespace ProgramLocation {

// The folder that holds the running executable, without a trailing separator (but "/" for the root).
std::string directory();

// The executable's file name without its extension ("kavrel" for /opt/kavrel/kavrel).
std::string baseName();

// Tests and the headless command may stand in another folder or name; empty text restores the real one.
void overrideDirectory(const std::string& folder);
void overrideBaseName(const std::string& name);

} // namespace ProgramLocation
