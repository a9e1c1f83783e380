#pragma once

#include <string>

// The few local file operations the transfers need, on std::filesystem. Failures throw
// std::filesystem::filesystem_error (the transfers' error handlers report them); the queries do not throw.
class LocalFileSystem {
public:
    // The absolute, normalised form of path, resolved against the current directory; no trailing "/"
    // except for the root itself.
    std::string GetAbsolutePathName(const std::string& path) const;
    bool FolderExists(const std::string& path) const;
    // The containing folder; empty text for the root or a path without a parent.
    std::string GetParentFolderName(const std::string& path) const;
    // Creates one owner-only folder whose parent exists; throws when it cannot (also when something is
    // already there).
    void CreateFolder(const std::string& path) const;
    // path + "/" + name, without doubling a "/" that path already ends with.
    std::string BuildPath(const std::string& path, const std::string& name) const;
};
