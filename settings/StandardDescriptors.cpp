#include "StandardDescriptors.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace StandardDescriptors {

void ensureOpen() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // open() takes the lowest free number, which is fd: the lower ones are open by now.
        const int opened = ::open("/dev/null", O_RDWR);
        if (opened > 2)
            ::close(opened);
    }
}

} // namespace StandardDescriptors
