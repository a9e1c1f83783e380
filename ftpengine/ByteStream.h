#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

// A connected byte stream with silence-bounded waits. The control and data connections speak only
// through this, so that a TLS stream can take the place of the plain socket.
// Results follow the system's convention: a count, 0 for end of stream, or -errno (-ETIMEDOUT when
// nothing moved for timeoutMs).
class ByteStream {
public:
    virtual ~ByteStream() = default;

    // Reads what is available, waiting at most timeoutMs for the first byte.
    virtual ssize_t receive(char* buffer, size_t length, int timeoutMs) = 0;
    // Sends all of data; the timeout bounds each wait for the peer to take more.
    virtual ssize_t sendAll(const char* data, size_t length, int timeoutMs) = 0;
    // Sends up to length bytes read from the file's current position; 0 when the file has ended.
    virtual ssize_t sendFromFile(int fileDescriptor, size_t length, int timeoutMs);
    // Tells the peer nothing more will be sent (the end of an upload).
    virtual void finishSending() = 0;
    virtual int descriptor() const = 0;
    // Words for a negative result of this stream (a TLS stream knows more than errno says).
    virtual std::string describe(ssize_t error) const;
};
