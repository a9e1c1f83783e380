#include "ProgramLocation.h"

#include <filesystem>
#include <fstream>
#include <sstream>
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

bool isOctalDigit(char c) {
    return c >= '0' && c <= '7';
}

// /proc/self/mounts escapes blanks and a few other bytes as \ooo octal; anything else stays as it is.
std::string unescapeMountField(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isOctalDigit(field[i + 1]) &&
            isOctalDigit(field[i + 2]) && isOctalDigit(field[i + 3])) {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                     (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
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
    std::ifstream mounts("/proc/self/mounts");
    std::string line;
    std::string best = "/";
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string device, mountPoint;
        if (!(fields >> device >> mountPoint))
            continue;
        mountPoint = unescapeMountField(mountPoint);
        if (isWithin(target, mountPoint) && mountPoint.size() > best.size())
            best = mountPoint;
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
