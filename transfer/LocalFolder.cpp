#include "LocalFolder.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
constexpr mode_t kOwnerOnlyFolder = 0700;

LocalFolder::Kind kindOfMode(mode_t mode) {
    if (S_ISREG(mode))
        return LocalFolder::Kind::File;
    if (S_ISDIR(mode))
        return LocalFolder::Kind::Folder;
    if (S_ISLNK(mode))
        return LocalFolder::Kind::Link;
    return LocalFolder::Kind::Other;
}

} // namespace

LocalFolder::~LocalFolder() {
    if (m_fd >= 0)
        ::close(m_fd);
}

LocalFolder::LocalFolder(LocalFolder&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

LocalFolder& LocalFolder::operator=(LocalFolder&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

int LocalFolder::openPath(const std::string& path, LocalFolder& folder) {
    const int fd = ::open(path.c_str(), kFolderFlags);
    if (fd < 0)
        return errno;
    folder = LocalFolder(fd);
    return 0;
}

int LocalFolder::openChild(const std::string& name, bool create, LocalFolder& child) const {
    if (create && ::mkdirat(m_fd, name.c_str(), kOwnerOnlyFolder) != 0 && errno != EEXIST)
        return errno;
    const int fd = ::openat(m_fd, name.c_str(), kFolderFlags | O_NOFOLLOW);
    if (fd < 0)
        return errno;
    child = LocalFolder(fd);
    return 0;
}

LocalFolder::Kind LocalFolder::kindOf(const std::string& name) const {
    struct stat info {};
    if (::fstatat(m_fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return Kind::Missing;
    return kindOfMode(info.st_mode);
}

std::vector<LocalFolder::Entry> LocalFolder::entries() const {
    std::vector<Entry> found;
    const int fd = ::openat(m_fd, ".", kFolderFlags);
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (dir == nullptr) {
        if (fd >= 0)
            ::close(fd);
        return found;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            found.push_back({name, kindOf(name)});
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return found;
}

bool LocalFolder::isReadOnly(const std::string& name) const {
    struct stat info {};
    return ::fstatat(m_fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode) &&
           (info.st_mode & S_IWUSR) == 0;
}

int LocalFolder::moveTo(const std::string& name, const LocalFolder& folder,
                        const std::string& newName) const {
    return ::renameat(m_fd, name.c_str(), folder.m_fd, newName.c_str()) == 0 ? 0 : errno;
}

int LocalFolder::removeFile(const std::string& name) const {
    return ::unlinkat(m_fd, name.c_str(), 0) == 0 ? 0 : errno;
}

int LocalFolder::removeTree(const std::string& name) const {
    const Kind kind = kindOf(name);
    if (kind == Kind::Missing)
        return 0;
    if (kind != Kind::Folder)
        return removeFile(name);
    LocalFolder inner;
    if (const int error = openChild(name, false, inner); error != 0)
        return error;
    for (const Entry& entry : inner.entries()) {
        if (const int error = inner.removeTree(entry.name); error != 0)
            return error;
    }
    return ::unlinkat(m_fd, name.c_str(), AT_REMOVEDIR) == 0 ? 0 : errno;
}
