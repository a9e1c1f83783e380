#include "WholeFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace WholeFile {

int writeAll(int fd, const char* data, size_t size) {
    for (size_t done = 0; done < size;) {
        const ssize_t wrote = ::write(fd, data + done, size - done);
        if (wrote > 0)
            done += static_cast<size_t>(wrote);
        else if (wrote == 0)
            return EIO;
        else if (errno != EINTR)
            return errno;
    }
    return 0;
}

int replace(int folder, const std::string& temporaryName, const std::string& name,
            const std::string& content) {
    const int fd =
        ::openat(folder, temporaryName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    int error = writeAll(fd, content.data(), content.size());
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::renameat(folder, temporaryName.c_str(), folder, name.c_str()) != 0)
        error = errno;
    if (error != 0)
        ::unlinkat(folder, temporaryName.c_str(), 0);
    return error;
}

bool read(int folder, const std::string& name, size_t largest, std::string& content) {
    content.clear();
    const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    bool whole =
        ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && static_cast<size_t>(info.st_size) <= largest;
    if (whole) {
        content.resize(static_cast<size_t>(info.st_size));
        whole = ::read(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    }
    ::close(fd);
    if (!whole)
        content.clear();
    return whole;
}

} // namespace WholeFile
