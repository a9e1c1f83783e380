#include "TcpConnector.h"

#include "FtpEngine.h"
#include "SocketWait.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unistd.h>

namespace TcpConnector {

namespace {

socklen_t lengthOf(const sockaddr* address) {
    return address->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

// 0 or a positive errno; ETIMEDOUT when the peer neither accepted nor refused in time.
int tryConnect(const sockaddr* address, int timeoutMs, int& socketDescriptor) {
    int fd = ::socket(address->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    int result = ::connect(fd, address, lengthOf(address)) == 0 ? 0 : errno;
    if (result == EINPROGRESS || result == EINTR) {
        int ready = SocketWait::forWriting(fd, timeoutMs);
        socklen_t size = sizeof(result);
        if (ready == 0)
            result = ETIMEDOUT;
        else if (ready < 0)
            result = -ready;
        else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &size) != 0)
            result = errno;
    }
    if (result != 0) {
        ::close(fd);
        return result;
    }
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    socketDescriptor = fd;
    return 0;
}

// what: "Connection" or "Data connection", the start of the text; the cause comes before the server's
// name, so that a caller's buffer that cuts the text keeps it.
EngineStatus connectFailure(int32_t code, const char* what, int error, const std::string& shown,
                            int timeoutMs) {
    const std::string text = std::string(what);
    if (error == ECANCELED)
        return EngineStatus::failure(FCE_E_INTERRUPTED, "Interrupted: " + text + " to " + shown);
    if (error == ECONNREFUSED)
        return EngineStatus::failure(code, text + " refused by " + shown);
    if (error == ETIMEDOUT)
        return EngineStatus::failure(code, text + " timed out after " + std::to_string(timeoutMs) +
                                               " ms: " + shown);
    return EngineStatus::failure(code, text + " failed (" + std::strerror(error) + "): " + shown);
}

} // namespace

EngineStatus connectToHost(const std::string& host, uint16_t port, const std::string& shown, int timeoutMs,
                           int& socketDescriptor) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    int resolved = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (resolved != 0)
        return EngineStatus::failure(FCE_E_RESOLVE,
                                     std::string("Unknown host (") + ::gai_strerror(resolved) + "): " + host);
    int lastError = EHOSTUNREACH;
    for (addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        lastError = tryConnect(entry->ai_addr, timeoutMs, socketDescriptor);
        if (lastError == 0)
            break;
    }
    ::freeaddrinfo(found);
    return lastError == 0 ? EngineStatus()
                          : connectFailure(FCE_E_CONNECT, "Connection", lastError, shown, timeoutMs);
}

EngineStatus connectToAddress(const sockaddr_storage& address, uint16_t port, int timeoutMs,
                              int& socketDescriptor) {
    sockaddr_storage target = address;
    if (target.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6*>(&target)->sin6_port = htons(port);
    else
        reinterpret_cast<sockaddr_in*>(&target)->sin_port = htons(port);
    const auto* generic = reinterpret_cast<const sockaddr*>(&target);
    int error = tryConnect(generic, timeoutMs, socketDescriptor);
    if (error == 0)
        return {};
    return connectFailure(FCE_E_DATA_CONNECTION, "Data connection", error, describe(generic), timeoutMs);
}

std::string describe(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = {};
    std::string shown;
    if (address->sa_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
        ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof(text));
        shown.append("[").append(text).append("]:").append(std::to_string(ntohs(v6->sin6_port)));
        return shown;
    }
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof(text));
    shown.append(text).append(":").append(std::to_string(ntohs(v4->sin_port)));
    return shown;
}

} // namespace TcpConnector
