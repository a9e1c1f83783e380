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

// The same in two halves, so that the transfer command travels while the connection is being made (a
// round trip less per file across a WAN): start sends the SYN and hands back the descriptor, finish
// waits for the outcome. A descriptor that finish refused is closed.
// shown: how error texts name the address.
EngineStatus startConnectToAddress(const sockaddr_storage& address, uint16_t port, int& socketDescriptor,
                                   std::string& shown);
EngineStatus finishConnectToAddress(int socketDescriptor, int timeoutMs, const std::string& shown);

// "127.0.0.1:40000" or "[::1]:40000".
std::string describe(const sockaddr* address);

} // namespace TcpConnector
