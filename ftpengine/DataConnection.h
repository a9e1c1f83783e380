#pragma once

#include "ByteStream.h"
#include "EngineStatus.h"
#include "LowSpeedLimit.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <openssl/ssl.h>
#include <string>

class ControlConnection;
class LocalPartialFile;
class TlsSocketStream;
class TransferProgress;

// One passive data connection: opened before the transfer command, read or written to its end, then
// closed. Silence on it is bounded by the control connection's limit, and so is a crawl (fewer bytes
// per silence period than the control connection's low-speed minimum); its length is not.
class DataConnection {
public:
    static constexpr size_t kBlockSize = 256 * 1024;

    // Asks for a port with EPSV (or PASV, once the server refused EPSV: usePasv is then set for the rest
    // of the session) and connects to it at the control connection's peer address.
    EngineStatus open(ControlConnection& control, bool& usePasv);
    // Wraps the connected socket in TLS, with the control connection's server name, resuming session
    // (taken over; nullptr for a full handshake). Called after the server's preliminary reply: some
    // servers begin their side of the handshake only once they have the command.
    EngineStatus startTls(SSL_CTX* context, const std::string& serverName, const std::string& numericHost,
                          SSL_SESSION* session, int controlDescriptor);
    // The TLS stream after startTls, else nullptr.
    const TlsSocketStream* tls() const { return m_tls; }
    void close();

    // Reads to end of stream into text; more than limit bytes is a failure, never a cut.
    EngineStatus receiveText(std::string& text, size_t limit, const std::string& what);
    // Reads to end of stream into the file; past limit bytes (when not negative) it stops and fails.
    EngineStatus receiveFile(LocalPartialFile& file, TransferProgress& progress, int64_t limit,
                             const std::string& what);
    // Sends size bytes of the file from its current position, then ends the stream. beforeWaiting, when
    // given, runs once, the first time the socket takes no more at once; a failure it returns ends the
    // sending.
    EngineStatus sendFile(int fileDescriptor, int64_t size, TransferProgress& progress,
                          const std::string& what, const std::function<EngineStatus()>& beforeWaiting = {});

private:
    EngineStatus requestPort(ControlConnection& control, bool& usePasv, uint16_t& port);
    // -ECANCELED (the host's interrupt), -ETIMEDOUT or another -errno as a failure.
    EngineStatus transferFailure(ssize_t result, const std::string& what) const;

    std::unique_ptr<ByteStream> m_stream;
    TlsSocketStream* m_tls = nullptr; // m_stream when it is a TLS stream
    int m_timeoutMs = 60000;
    int64_t m_lowSpeedBytes = 0;
    LowSpeedLimit m_speed;
};
