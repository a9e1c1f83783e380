#pragma once

#include <string>

// Where the running program lives, and where it keeps its files. A build run from its own folder keeps
// the settings file, the engine's protocol trace and the default local directory beside the program
// (portable layout); an installed program may not write beside itself (/usr/bin belongs to the package),
// so it keeps them in the user's own folders instead (installed layout). Tests point this at a
// temporary folder.
namespace ProgramLocation {

enum class Layout {
    Portable,  // everything beside the program
    Installed, // settings in $XDG_CONFIG_HOME/kavrel, local folder ~/Kavrel
};

// The layout in force: the build's choice (CMake option KAVREL_INSTALLED) unless a test chose another.
Layout layout();
void setLayout(Layout chosen);

// The folder of the settings file, the protocol trace and the trusted-certificate file: the program's
// folder, or $XDG_CONFIG_HOME/kavrel (default ~/.config/kavrel), created owner-only when missing since
// the settings hold a password.
std::string settingsDirectory();

// The default local folder (the settings' DataPath default): the program's folder, or ~/Kavrel.
std::string defaultLocalFolder();

// The local base directory when the local folder is left empty: the drive root, or ~/Kavrel (an
// installed program never backs up into the root of a file system).
std::string emptyLocalFolderBase();

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
