#include "FolderLock.h"

#include "SafeName.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The lock counts only while the locked file is still the one the name leads to: a run that ended
// removes its lock file, and a file opened just before that removal locks nothing.
bool stillNamed(int baseFd, int fd) {
    struct stat opened {};
    struct stat named {};
    return ::fstat(fd, &opened) == 0 &&
           ::fstatat(baseFd, SafeName::kLockFileName, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

} // namespace

FolderLock::~FolderLock() {
    release();
}

int FolderLock::acquire(const std::string& folder) {
    release();
    LocalFolder base;
    if (const int error = LocalFolder::openPath(folder, base); error != 0)
        return error;
    for (;;) {
        const int fd = ::openat(base.descriptor(), SafeName::kLockFileName,
                                O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
            return errno;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(fd);
            return error;
        }
        if (stillNamed(base.descriptor(), fd)) {
            m_fd = fd;
            m_base = std::move(base);
            return 0;
        }
        ::close(fd);
    }
}

void FolderLock::release() {
    if (m_fd < 0)
        return;
    // Removed while still held, so that no other run can lock the file on its way out.
    ::unlinkat(m_base.descriptor(), SafeName::kLockFileName, 0);
    ::close(m_fd);
    m_fd = -1;
    m_base = LocalFolder();
}
