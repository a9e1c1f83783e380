#include "ProgramLocation.h"

#include "MountTable.h"

#include <filesystem>
#include <system_error>

namespace {

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

void overrideDirectory(const std::string& folder) {
    directoryOverride() = folder;
}

void overrideBaseName(const std::string& name) {
    baseNameOverride() = name;
}

} // namespace ProgramLocation
