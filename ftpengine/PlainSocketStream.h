#pragma once

#include "ByteStream.h"

// A non-blocking TCP socket as a ByteStream; owns and closes the descriptor.
class PlainSocketStream : public ByteStream {
public:
    explicit PlainSocketStream(int socketDescriptor);
    ~PlainSocketStream() override;
    PlainSocketStream(const PlainSocketStream&) = delete;
    PlainSocketStream& operator=(const PlainSocketStream&) = delete;

    ssize_t receive(char* buffer, size_t length, int timeoutMs) override;
    ssize_t sendAll(const char* data, size_t length, int timeoutMs) override;
    ssize_t sendFromFile(int fileDescriptor, size_t length, int timeoutMs) override;
    void finishSending() override;
    int descriptor() const override { return m_socket; }

private:
    int m_socket;
};
