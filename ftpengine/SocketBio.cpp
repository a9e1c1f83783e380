#include "SocketBio.h"

#include <cerrno>
#include <cstdint>
#include <mutex>
#include <sys/socket.h>

namespace SocketBio {

namespace {

int descriptorOf(BIO* bio) {
    return static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio)));
}

bool isTransient(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

int write(BIO* bio, const char* data, int length) {
    BIO_clear_retry_flags(bio);
    ssize_t sent = ::send(descriptorOf(bio), data, static_cast<size_t>(length), MSG_NOSIGNAL);
    if (sent < 0 && isTransient(errno))
        BIO_set_retry_write(bio);
    return static_cast<int>(sent);
}

int read(BIO* bio, char* buffer, int length) {
    BIO_clear_retry_flags(bio);
    ssize_t got = ::recv(descriptorOf(bio), buffer, static_cast<size_t>(length), 0);
    if (got < 0 && isTransient(errno))
        BIO_set_retry_read(bio);
    if (got == 0)
        BIO_set_flags(bio, BIO_FLAGS_IN_EOF); // lets OpenSSL tell a cut connection from a closed one
    return static_cast<int>(got);
}

long control(BIO* bio, int command, long, void*) {
    switch (command) {
    case BIO_CTRL_FLUSH:
        return 1;
    case BIO_CTRL_EOF:
        return BIO_test_flags(bio, BIO_FLAGS_IN_EOF) != 0 ? 1 : 0;
    default:
        return 0;
    }
}

BIO_METHOD* method() {
    static BIO_METHOD* shared = nullptr;
    static std::once_flag made;
    std::call_once(made, [] {
        shared = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "socket without SIGPIPE");
        BIO_meth_set_write(shared, &write);
        BIO_meth_set_read(shared, &read);
        BIO_meth_set_ctrl(shared, &control);
    });
    return shared;
}

} // namespace

BIO* create(int socketDescriptor) {
    BIO* bio = BIO_new(method());
    if (bio == nullptr)
        return nullptr;
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(socketDescriptor)));
    BIO_set_init(bio, 1);
    return bio;
}

} // namespace SocketBio
