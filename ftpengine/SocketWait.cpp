#include "SocketWait.h"

#include <cerrno>
#include <chrono>
#include <poll.h>

namespace SocketWait {

namespace {

int waitFor(int descriptor, short events, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd entry{descriptor, events, 0};
        int ready = ::poll(&entry, 1, left < 0 ? 0 : static_cast<int>(left));
        if (ready >= 0)
            return ready > 0 ? 1 : 0;
        if (errno != EINTR)
            return -errno;
    }
}

} // namespace

int forReading(int descriptor, int timeoutMs) {
    return waitFor(descriptor, POLLIN, timeoutMs);
}

int forWriting(int descriptor, int timeoutMs) {
    return waitFor(descriptor, POLLOUT, timeoutMs);
}

} // namespace SocketWait
