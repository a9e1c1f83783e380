#pragma once

#include <openssl/bio.h>

// OpenSSL's own socket BIO writes with write(2), which raises SIGPIPE when the peer has gone; the host
// (a test harness among them) may treat that signal as a crash. This BIO sends with MSG_NOSIGNAL
// instead, so a vanished server is an error value like any other.
namespace SocketBio {

// A BIO over the connected socket; the descriptor stays the caller's to close.
BIO* create(int socketDescriptor);

} // namespace SocketBio
