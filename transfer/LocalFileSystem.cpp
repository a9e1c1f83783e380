#include "LocalFileSystem.h"

#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::string withoutTrailingSeparators(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

} // namespace

std::string LocalFileSystem::GetAbsolutePathName(const std::string& path) const {
    const fs::path absolute = fs::absolute(path.empty() ? fs::path(".") : fs::path(path));
    return withoutTrailingSeparators(absolute.lexically_normal().string());
}

bool LocalFileSystem::FolderExists(const std::string& path) const {
    std::error_code ignored;
    return !path.empty() && fs::is_directory(path, ignored);
}

std::string LocalFileSystem::GetParentFolderName(const std::string& path) const {
    const std::string trimmed = withoutTrailingSeparators(path);
    if (trimmed.empty() || trimmed == "/")
        return {};
    return fs::path(trimmed).parent_path().string();
}

void LocalFileSystem::CreateFolder(const std::string& path) const {
    // Owner-only: a backup's folders hold prompts, messages and subscriber data.
    if (::mkdir(path.c_str(), 0700) != 0)
        throw fs::filesystem_error("cannot create folder", path,
                                   std::error_code(errno, std::generic_category()));
}

std::string LocalFileSystem::BuildPath(const std::string& path, const std::string& name) const {
    if (path.empty())
        return name;
    return path.back() == '/' ? path + name : path + "/" + name;
}
