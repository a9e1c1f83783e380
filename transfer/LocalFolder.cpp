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

int LocalFolder::openBelow(const std::string& relative, bool create, LocalFolder& folder) const {
    LocalFolder current;
    const LocalFolder* at = this;
    for (size_t start = 0;;) {
        const size_t slash = relative.find('/', start);
        LocalFolder next;
        if (const int error = at->openChild(relative.substr(start, slash - start), create, next); error != 0)
            return error;
        current = std::move(next);
        at = &current;
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    folder = std::move(current);
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

namespace {

// Reads up to size bytes, fewer only at the end of the file; -1 on an error.
ssize_t readFull(int fd, char* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(fd, buffer + done, size - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += static_cast<size_t>(got);
    }
    return static_cast<ssize_t>(done);
}

} // namespace

int LocalFolder::compareFile(const std::string& name, const LocalFolder& other, bool& same) const {
    // Non-blocking: a FIFO of that name must not hang the backup (and is no regular file anyway).
    constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    const int mine = ::openat(m_fd, name.c_str(), kFlags);
    const int theirs = mine < 0 ? -1 : ::openat(other.m_fd, name.c_str(), kFlags);
    int error = mine < 0 || theirs < 0 ? errno : 0;
    struct stat myInfo {};
    struct stat theirInfo {};
    same = error == 0 && ::fstat(mine, &myInfo) == 0 && ::fstat(theirs, &theirInfo) == 0 &&
           S_ISREG(myInfo.st_mode) && S_ISREG(theirInfo.st_mode) && myInfo.st_size == theirInfo.st_size;
    std::vector<char> a(1 << 16), b(1 << 16);
    while (error == 0 && same) {
        const ssize_t gotA = readFull(mine, a.data(), a.size());
        const ssize_t gotB = readFull(theirs, b.data(), b.size());
        if (gotA < 0 || gotB < 0)
            error = errno;
        else if (gotA != gotB || !std::equal(a.begin(), a.begin() + gotA, b.begin()))
            same = false;
        else if (gotA == 0)
            break;
    }
    for (const int fd : {mine, theirs}) {
        if (fd >= 0)
            ::close(fd);
    }
    return error;
}

int64_t LocalFolder::fileSize(const std::string& name) const {
    struct stat info {};
    if (::fstatat(m_fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode))
        return -1;
    return static_cast<int64_t>(info.st_size);
}
