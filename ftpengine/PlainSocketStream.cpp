#include "PlainSocketStream.h"

#include "SocketWait.h"

#include <cerrno>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

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
    // sendfile cannot take MSG_NOSIGNAL; the engine ignores SIGPIPE when it is attached.
    for (;;) {
        ssize_t sent = ::sendfile(m_socket, fileDescriptor, nullptr, length);
        if (sent >= 0)
            return sent;
        if (errno == EINTR)
            continue;
        if (errno == EINVAL || errno == ENOSYS)
            return ByteStream::sendFromFile(fileDescriptor, length, timeoutMs);
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return -errno;
        int ready = SocketWait::forWriting(m_socket, timeoutMs);
        if (ready <= 0)
            return ready == 0 ? -ETIMEDOUT : ready;
    }
}

void PlainSocketStream::finishSending() {
    ::shutdown(m_socket, SHUT_WR);
}
