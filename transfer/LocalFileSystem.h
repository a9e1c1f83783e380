#pragma once

#include <string>
#include <vector>

// The few local file operations the transfers need, on std::filesystem. Failures throw
// std::filesystem::filesystem_error (the transfers' error handlers report them); the queries do not throw.
class LocalFileSystem {
public:
    // The absolute, normalised form of path, resolved against the current directory; no trailing "/"
    // except for the root itself.
    std::string GetAbsolutePathName(const std::string& path) const;
    bool FolderExists(const std::string& path) const;
    bool FileExists(const std::string& path) const;
    // The containing folder; empty text for the root or a path without a parent.
    std::string GetParentFolderName(const std::string& path) const;
    // Creates one folder whose parent exists; throws when it cannot (also when something is already there).
    void CreateFolder(const std::string& path) const;
    // path + "/" + name, without doubling a "/" that path already ends with.
    std::string BuildPath(const std::string& path, const std::string& name) const;

    // The names of the regular files (symbolic links to them included) lying directly in folder, sorted
    // by their bytes so that every run walks them in the same order.
    std::vector<std::string> FileNames(const std::string& folder) const;
    // The names of the folders lying directly in folder, sorted the same way.
    std::vector<std::string> SubFolderNames(const std::string& folder) const;

    // Deletes one file. Without force a read-only file is refused with "Permission denied", as the
    // owner asked by making it read-only, even where the system itself would allow the deletion.
    void DeleteFile(const std::string& path, bool force = false) const;
    bool IsReadOnly(const std::string& path) const;
    // Renames within one file system; an existing file at to is replaced in one step.
    void MoveFile(const std::string& from, const std::string& to) const;
    // Removes a folder and everything in it; throws when something stays behind.
    void DeleteFolderTree(const std::string& path) const;
};
