#include "PlainSocketStream.h"

#include "SocketWait.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <pthread.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// sendfile cannot take MSG_NOSIGNAL, and the host may have its own SIGPIPE handler (a test harness
// treats it as a crash): the signal is blocked in this thread for the call, and one that the call itself
// raised is taken back before the old mask returns.
class BrokenPipeSuppressor {
public:
    BrokenPipeSuppressor() {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        sigset_t pending;
        sigemptyset(&pending);
        m_alreadyPending = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &m_pipe, &m_previous);
    }
    ~BrokenPipeSuppressor() {
        if (!m_alreadyPending) {
            timespec noWait{0, 0};
            while (sigtimedwait(&m_pipe, nullptr, &noWait) == SIGPIPE) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
    }
    BrokenPipeSuppressor(const BrokenPipeSuppressor&) = delete;
    BrokenPipeSuppressor& operator=(const BrokenPipeSuppressor&) = delete;

private:
    sigset_t m_pipe;
    sigset_t m_previous;
    bool m_alreadyPending = false;
};

} // namespace

PlainSocketStream::PlainSocketStream(int socketDescriptor) : m_socket(socketDescriptor) {}

PlainSocketStream::~PlainSocketStream() {
    if (m_socket >= 0)
        ::close(m_socket);
}

ssize_t PlainSocketStream::receive(char* buffer, size_t length, int timeoutMs) {
    for (;;) {
        ssize_t got = ::recv(m_socket, buffer, length, 0);
        if (got >= 0)
            return got;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return -errno;
        int ready = SocketWait::forReading(m_socket, timeoutMs);
        if (ready <= 0)
            return ready == 0 ? -ETIMEDOUT : ready;
    }
}

ssize_t PlainSocketStream::sendAll(const char* data, size_t length, int timeoutMs) {
    size_t done = 0;
    while (done < length) {
        // MSG_NOSIGNAL: a peer that went away must give EPIPE, not kill the program.
        ssize_t sent = ::send(m_socket, data + done, length - done, MSG_NOSIGNAL);
        if (sent > 0) {
            done += static_cast<size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return -errno;
        int ready = SocketWait::forWriting(m_socket, timeoutMs);
        if (ready <= 0)
            return ready == 0 ? -ETIMEDOUT : ready;
    }
    return static_cast<ssize_t>(done);
}

ssize_t PlainSocketStream::sendFromFile(int fileDescriptor, size_t length, int timeoutMs) {
    for (;;) {
        ssize_t sent;
        int error = 0;
        {
            BrokenPipeSuppressor suppressor;
            sent = ::sendfile(m_socket, fileDescriptor, nullptr, length);
            error = errno; // the suppressor's own calls change errno
        }
        if (sent >= 0)
            return sent;
        if (error == EINTR)
            continue;
        if (error == EINVAL || error == ENOSYS)
            return ByteStream::sendFromFile(fileDescriptor, length, timeoutMs);
        if (error != EAGAIN && error != EWOULDBLOCK)
            return -error;
        int ready = SocketWait::forWriting(m_socket, timeoutMs);
        if (ready <= 0)
            return ready == 0 ? -ETIMEDOUT : ready;
    }
}

void PlainSocketStream::finishSending() {
    ::shutdown(m_socket, SHUT_WR);
}
