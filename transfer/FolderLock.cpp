#include "FolderLock.h"

#include <cerrno>
#include <sys/file.h>

int FolderLock::acquire(const std::string& folder, bool exclusive) {
    release();
    LocalFolder opened;
    if (const int error = LocalFolder::openPath(folder, opened); error != 0)
        return error;
    if (::flock(opened.descriptor(), (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0)
        return errno;
    m_folder = std::move(opened);
    return 0;
}
