#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One open folder of the backup tree. Everything below the local base folder is reached from an open
// folder, one name at a time, never following a symbolic link: a link planted in the tree can neither
// lead a backup's writes and deletions elsewhere nor make a restore send files from elsewhere. Failures
// are errno values (0 is success).
class LocalFolder {
public:
    enum class Kind { Missing, File, Folder, Link, Other };
    struct Entry {
        std::string name;
        Kind kind;
    };

    LocalFolder() = default;
    ~LocalFolder();
    LocalFolder(LocalFolder&& other) noexcept;
    LocalFolder& operator=(LocalFolder&& other) noexcept;
    LocalFolder(const LocalFolder&) = delete;
    LocalFolder& operator=(const LocalFolder&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    int descriptor() const { return m_fd; }

    // Opens an absolute path as the user gave it (the base folder may itself be a link the user chose).
    static int openPath(const std::string& path, LocalFolder& folder);
    // Opens the folder name in this one without following a link (ENOTDIR for a link); when create is
    // set and nothing has that name, creates it first, owner-only.
    int openChild(const std::string& name, bool create, LocalFolder& child) const;
    // Opens relative ("PMT/A") below this folder the same way, one component at a time.
    int openBelow(const std::string& relative, bool create, LocalFolder& folder) const;

    // What name is in this folder, a link being a link whatever it points at.
    Kind kindOf(const std::string& name) const;
    // Every entry but "." and "..", sorted by their bytes so that every run walks them in the same order.
    std::vector<Entry> entries() const;
    // True when name's owner may not write it (a read-only file the owner asked to keep).
    bool isReadOnly(const std::string& name) const;
    // The size of the regular file name (a link is not one), or -1 when there is none.
    int64_t fileSize(const std::string& name) const;
    // Whether the file name here holds the same bytes as the file of that name in other, neither read
    // through a link: 0 with same set, or the errno value of the one that cannot be read.
    int compareFile(const std::string& name, const LocalFolder& other, bool& same) const;

    // Moves name into folder as newName, replacing a file (or a link itself) of that name in one step.
    int moveTo(const std::string& name, const LocalFolder& folder, const std::string& newName) const;
    // Removes a file or a link (never what a link points at).
    int removeFile(const std::string& name) const;
    // Removes name and, for a folder, everything in it; links are removed, never followed.
    int removeTree(const std::string& name) const;

private:
    explicit LocalFolder(int fd) : m_fd(fd) {}

    int m_fd = -1;
};
