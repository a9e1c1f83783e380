#include "SocketWait.h"

#include "CallWatch.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <poll.h>

namespace SocketWait {

namespace {

int waitFor(int descriptor, short events, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (CallWatch::interrupted())
            return -ECANCELED;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd entry{descriptor, events, 0};
        int ready = ::poll(&entry, 1, static_cast<int>(std::clamp<long long>(left, 0, CallWatch::kSliceMs)));
        if (ready > 0)
            return 1;
        if (ready < 0 && errno != EINTR)
            return -errno;
        if (ready == 0 && left <= CallWatch::kSliceMs)
            return 0;
        CallWatch::beat();
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
