#pragma once

#include "EngineStatus.h"

#include <cstdint>
#include <string>
#include <sys/socket.h>

// Opens non-blocking TCP connections (IPv4 or IPv6) whose connect waits at most the silence limit.
// The descriptor comes back with TCP_NODELAY set: commands and small files must not wait for acks.
namespace TcpConnector {

// Resolves host and tries each of its addresses in turn; shown is how error texts name the server.
EngineStatus connectToHost(const std::string& host, uint16_t port, const std::string& shown, int timeoutMs,
                           int& socketDescriptor);

// Connects to address (its port replaced by port): the data connection goes to the control peer.
EngineStatus connectToAddress(const sockaddr_storage& address, uint16_t port, int timeoutMs,
                              int& socketDescriptor);

// "127.0.0.1:40000" or "[::1]:40000".
std::string describe(const sockaddr* address);

} // namespace TcpConnector
