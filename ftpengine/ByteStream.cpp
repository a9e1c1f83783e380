#include "ByteStream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <vector>

ssize_t ByteStream::sendFromFile(int fileDescriptor, size_t length, int timeoutMs) {
    std::vector<char> block(std::min<size_t>(length, 256 * 1024));
    ssize_t got;
    do {
        got = ::read(fileDescriptor, block.data(), block.size());
    } while (got < 0 && errno == EINTR);
    if (got <= 0)
        return got < 0 ? -errno : 0;
    ssize_t sent = sendAll(block.data(), static_cast<size_t>(got), timeoutMs);
    return sent < 0 ? sent : got;
}

std::string ByteStream::describe(ssize_t error) const {
    return std::strerror(static_cast<int>(-error));
}
