#include "LocalFileSystem.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::string withoutTrailingSeparators(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

template <typename Keep> std::vector<std::string> namesIn(const std::string& folder, Keep keep) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::error_code ignored;
        if (keep(entry, ignored))
            names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
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

bool LocalFileSystem::FileExists(const std::string& path) const {
    std::error_code ignored;
    return !path.empty() && fs::is_regular_file(path, ignored);
}

std::string LocalFileSystem::GetParentFolderName(const std::string& path) const {
    const std::string trimmed = withoutTrailingSeparators(path);
    if (trimmed.empty() || trimmed == "/")
        return {};
    return fs::path(trimmed).parent_path().string();
}

void LocalFileSystem::CreateFolder(const std::string& path) const {
    if (!fs::create_directory(path))
        throw fs::filesystem_error("cannot create folder", path,
                                   std::make_error_code(std::errc::file_exists));
}

std::string LocalFileSystem::BuildPath(const std::string& path, const std::string& name) const {
    if (path.empty())
        return name;
    return path.back() == '/' ? path + name : path + "/" + name;
}

std::vector<std::string> LocalFileSystem::FileNames(const std::string& folder) const {
    return namesIn(folder, [](const fs::directory_entry& entry, std::error_code& error) {
        return entry.is_regular_file(error);
    });
}

std::vector<std::string> LocalFileSystem::SubFolderNames(const std::string& folder) const {
    return namesIn(folder, [](const fs::directory_entry& entry, std::error_code& error) {
        return entry.is_directory(error);
    });
}

bool LocalFileSystem::IsReadOnly(const std::string& path) const {
    std::error_code error;
    const auto permissions = fs::status(path, error).permissions();
    return !error && (permissions & fs::perms::owner_write) == fs::perms::none;
}

void LocalFileSystem::DeleteFile(const std::string& path, bool force) const {
    if (!force && IsReadOnly(path))
        throw fs::filesystem_error("cannot delete a read-only file", path,
                                   std::make_error_code(std::errc::permission_denied));
    if (!fs::remove(path))
        throw fs::filesystem_error("cannot delete file", path,
                                   std::make_error_code(std::errc::no_such_file_or_directory));
}

void LocalFileSystem::MoveFile(const std::string& from, const std::string& to) const {
    fs::rename(from, to);
}

void LocalFileSystem::DeleteFolderTree(const std::string& path) const {
    fs::remove_all(path);
}
