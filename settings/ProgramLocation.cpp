#include "ProgramLocation.h"

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

} // namespace

namespace ProgramLocation {

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

void overrideDirectory(const std::string& folder) { directoryOverride() = folder; }

void overrideBaseName(const std::string& name) { baseNameOverride() = name; }

} // namespace ProgramLocation
