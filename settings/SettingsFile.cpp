#include "SettingsFile.h"

#include "OwnershipCheck.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t anyWriteBit = S_IWUSR | S_IWGRP | S_IWOTH;
constexpr mode_t ownerOnly = S_IRUSR | S_IWUSR;

// Closes a descriptor on every way out.
class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

bool readAll(int fd, std::string& content, std::size_t limit) {
    content.clear();
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0)
            return true;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        content.append(buffer, static_cast<std::size_t>(got));
        if (content.size() > limit)
            return false;
    }
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t put = ::write(fd, data.data(), data.size());
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(put));
    }
    return true;
}

// The file a write lands in: a symbolic link is written through, so the link stays a link.
std::string resolvedTarget(const std::string& path) {
    struct stat linkInfo {};
    if (::lstat(path.c_str(), &linkInfo) != 0 || !S_ISLNK(linkInfo.st_mode))
        return path;
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Read-only means what the permission bits say, also for root, who could write anyway: a folder or
// file the administrator made read-only must stay as it is.
bool writableByBits(const std::string& path, int accessMode) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return false;
    return (info.st_mode & anyWriteBit) != 0 && ::access(path.c_str(), accessMode) == 0;
}

bool syncFolder(const std::string& folder) {
    Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.valid() && ::fsync(fd.get()) == 0;
}

} // namespace

SettingsFile::State SettingsFile::read(const std::string& path, std::string& content, Links links) {
    content.clear();
    // Non-blocking, so that a FIFO in the file's place cannot hang the program.
    const int noFollow = links == Links::Refuse ? O_NOFOLLOW : 0;
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | noFollow));
    if (!fd.valid())
        return errno == ENOENT ? State::Absent : State::Unusable;
    struct stat info {};
    // The file as opened is the one judged: no swap between the check and the read.
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        OwnershipCheck::of(info) != OwnershipCheck::Verdict::Own ||
        static_cast<unsigned long long>(info.st_size) > maxBytes)
        return State::Unusable;
    if (!readAll(fd.get(), content, maxBytes) || content.find('\0') != std::string::npos) {
        content.clear();
        return State::Unusable;
    }
    return State::Readable;
}

bool SettingsFile::replace(const std::string& path, const std::string& content, bool existed) {
    const std::string target = existed ? resolvedTarget(path) : path;
    if (target.empty() || content.size() > maxBytes)
        return false;
    struct stat old {};
    if (existed && (::stat(target.c_str(), &old) != 0 || !writableByBits(target, W_OK)))
        return false;
    const std::string folder = folderOf(target);
    if (!writableByBits(folder, W_OK | X_OK))
        return false;

    std::string temporary = target + ".XXXXXX";
    Descriptor fd(::mkstemp(temporary.data()));
    if (!fd.valid())
        return false;
    bool ok = writeAll(fd.get(), content);
    if (ok && existed && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) {
        // Only root may hand the file back to its owner; for anyone else the rewrite is theirs anyway.
        [[maybe_unused]] const int ignored = ::fchown(fd.get(), old.st_uid, old.st_gid);
    }
    // After the owner change, which may clear set-id bits.
    ok = ok && ::fchmod(fd.get(), ownerOnly) == 0 && ::fsync(fd.get()) == 0;
    ok = ::close(fd.release()) == 0 && ok;
    if (!ok || ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    syncFolder(folder);
    return true;
}
