#include "ProgramLocation.h"

#include "MountTable.h"

#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#ifndef KAVREL_INSTALLED_LAYOUT
#define KAVREL_INSTALLED_LAYOUT 0
#endif

namespace {

ProgramLocation::Layout& chosenLayout() {
    static ProgramLocation::Layout value =
        KAVREL_INSTALLED_LAYOUT ? ProgramLocation::Layout::Installed : ProgramLocation::Layout::Portable;
    return value;
}

// Only an absolute value counts: a relative XDG or HOME variable would depend on the working directory.
std::string absoluteVariable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] == '/' ? std::string(value) : std::string();
}

std::string homeDirectory() {
    std::string home = absoluteVariable("HOME");
    if (home.empty()) {
        if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr)
            home = entry->pw_dir;
    }
    while (home.size() > 1 && home.back() == '/')
        home.pop_back();
    return home == "/" ? std::string() : home;
}

// Creates each missing folder of path owner-only, as the base-directory convention asks.
void createOwnerOnly(const std::string& path) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        ::mkdir(path.substr(0, slash).c_str(), 0700);
        if (slash == std::string::npos)
            return;
    }
}

std::string installedSettingsDirectory() {
    std::string base = absoluteVariable("XDG_CONFIG_HOME");
    if (base.empty())
        base = homeDirectory() + "/.config";
    const std::string folder = base + "/kavrel";
    createOwnerOnly(folder);
    return folder;
}

std::string& directoryOverride() {
    static std::string value;
    return value;
}

std::string& baseNameOverride() {
    static std::string value;
    return value;
}

std::filesystem::path executablePath() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : path;
}

bool isWithin(const std::string& path, const std::string& folder) {
    if (folder == "/")
        return true;
    return path.compare(0, folder.size(), folder) == 0 &&
           (path.size() == folder.size() || path[folder.size()] == '/');
}

} // namespace

namespace ProgramLocation {

std::string mountPointOf(const std::string& path) {
    std::error_code error;
    auto canonical = std::filesystem::weakly_canonical(path, error);
    const std::string target = error ? path : canonical.string();
    std::string best = "/";
    for (const auto& entry : MountTable().entries()) {
        if (isWithin(target, entry.mountPoint) && entry.mountPoint.size() > best.size())
            best = entry.mountPoint;
    }
    return best;
}

std::string driveRoot() {
    return mountPointOf(directory());
}

std::string directory() {
    if (!directoryOverride().empty())
        return directoryOverride();
    auto folder = executablePath().parent_path();
    return folder.empty() ? std::string("/") : folder.string();
}

std::string baseName() {
    if (!baseNameOverride().empty())
        return baseNameOverride();
    return executablePath().stem().string();
}

Layout layout() {
    return chosenLayout();
}

void setLayout(Layout chosen) {
    chosenLayout() = chosen;
}

std::string settingsDirectory() {
    return layout() == Layout::Installed ? installedSettingsDirectory() : directory();
}

std::string defaultLocalFolder() {
    return layout() == Layout::Installed ? homeDirectory() + "/Kavrel" : directory();
}

std::string emptyLocalFolderBase() {
    return layout() == Layout::Installed ? defaultLocalFolder() : driveRoot();
}

void overrideDirectory(const std::string& folder) {
    directoryOverride() = folder;
}

void overrideBaseName(const std::string& name) {
    baseNameOverride() = name;
}

} // namespace ProgramLocation
