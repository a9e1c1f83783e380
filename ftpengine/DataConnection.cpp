#include "DataConnection.h"

#include "CallWatch.h"
#include "ControlConnection.h"
#include "FtpEngine.h"
#include "LocalPartialFile.h"
#include "PassiveReply.h"
#include "PlainSocketStream.h"
#include "SocketWait.h"
#include "TcpConnector.h"
#include "TlsSocketStream.h"
#include "TransferProgress.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

std::vector<char>& copyBlock() {
    // One block for the life of the thread: a fresh 256 KiB allocation per file costs a page-mapping
    // round trip each time.
    thread_local std::vector<char> block(DataConnection::kBlockSize);
    return block;
}

EngineStatus refused(const FtpReply& reply) {
    return EngineStatus::failure(FCE_E_SERVER_REPLY, reply.lastLine());
}

} // namespace

EngineStatus DataConnection::requestPort(ControlConnection& control, bool& usePasv, uint16_t& port) {
    FtpReply reply;
    if (!usePasv) {
        if (EngineStatus status =
                control.hasAhead() ? control.readAhead(reply) : control.command("EPSV", reply);
            !status.ok())
            return status;
        if (reply.code == 229) {
            return PassiveReply::parseEpsvPort(reply.lastLine(), port)
                       ? EngineStatus()
                       : EngineStatus::failure(FCE_E_PROTOCOL, "Unreadable EPSV reply: " + reply.lastLine());
        }
        if (reply.code < 500)
            return refused(reply);
        usePasv = true;
    }
    if (EngineStatus status = control.command("PASV", reply); !status.ok())
        return status;
    if (reply.code != 227)
        return refused(reply);
    return PassiveReply::parsePasvPort(reply.lastLine(), port)
               ? EngineStatus()
               : EngineStatus::failure(FCE_E_PROTOCOL, "Unreadable PASV reply: " + reply.lastLine());
}

EngineStatus DataConnection::open(ControlConnection& control, bool& usePasv) {
    close();
    m_timeoutMs = control.timeout();
    m_lowSpeedBytes = control.lowSpeedBytes();
    uint16_t port = 0;
    if (EngineStatus status = requestPort(control, usePasv, port); !status.ok())
        return status;
    int fd = -1;
    if (EngineStatus status = TcpConnector::connectToAddress(control.peer(), port, m_timeoutMs, fd);
        !status.ok())
        return status;
    m_stream = std::make_unique<PlainSocketStream>(fd);
    return {};
}

EngineStatus DataConnection::startTls(SSL_CTX* context, const std::string& serverName,
                                      const std::string& numericHost, SSL_SESSION* session,
                                      int controlDescriptor) {
    auto tls = std::make_unique<TlsSocketStream>(std::move(m_stream), context);
    EngineStatus status = tls->handshake(serverName, numericHost, session, m_timeoutMs);
    if (!status.ok())
        return EngineStatus::failure(status.code() == FCE_E_TIMEOUT ? FCE_E_TIMEOUT : FCE_E_DATA_CONNECTION,
                                     "Data connection: " + status.text());
    tls->setCompanion(controlDescriptor);
    m_tls = tls.get();
    m_stream = std::move(tls);
    return {};
}

void DataConnection::close() {
    m_tls = nullptr;
    m_stream.reset();
}

EngineStatus DataConnection::transferFailure(ssize_t result, const std::string& what) const {
    if (result == -ECANCELED)
        return EngineStatus::failure(FCE_E_INTERRUPTED, "Interrupted during " + what);
    if (result == -ETIMEDOUT)
        return EngineStatus::failure(FCE_E_TIMEOUT, "No data for " + what + " within " +
                                                        std::to_string(m_timeoutMs) + " ms");
    if (result == TlsSocketStream::kTruncated && m_tls != nullptr)
        return EngineStatus::failure(FCE_E_INCOMPLETE, "Data connection for " + what +
                                                           " ended without the server's TLS close_notify: "
                                                           "the data may be cut short");
    return EngineStatus::failure(FCE_E_DATA_CONNECTION, "Data connection failed (" +
                                                            m_stream->describe(result) + ") during " + what);
}

EngineStatus DataConnection::receiveText(std::string& text, size_t limit, const std::string& what) {
    std::vector<char>& block = copyBlock();
    m_speed.start(m_lowSpeedBytes, m_timeoutMs);
    for (;;) {
        // Data that is always there never waits: the interrupt is looked at per block too.
        if (CallWatch::interrupted())
            return transferFailure(-ECANCELED, what);
        ssize_t got = m_stream->receive(block.data(), block.size(), m_timeoutMs);
        if (got == 0)
            return {};
        if (got < 0)
            return transferFailure(got, what);
        if (text.size() + static_cast<size_t>(got) > limit)
            return EngineStatus::failure(FCE_E_INCOMPLETE,
                                         "Listing larger than " + std::to_string(limit) + " bytes");
        text.append(block.data(), static_cast<size_t>(got));
        if (EngineStatus status = m_speed.moved(got, what); !status.ok())
            return status;
    }
}

EngineStatus DataConnection::receiveFile(LocalPartialFile& file, TransferProgress& progress, int64_t limit,
                                         const std::string& what) {
    std::vector<char>& block = copyBlock();
    m_speed.start(m_lowSpeedBytes, m_timeoutMs);
    for (;;) {
        if (CallWatch::interrupted())
            return transferFailure(-ECANCELED, what);
        ssize_t got = m_stream->receive(block.data(), block.size(), m_timeoutMs);
        if (got == 0)
            return {};
        if (got < 0)
            return transferFailure(got, what);
        // A server that sends more than it listed would fill the disk: stop at the first byte too many.
        if (limit >= 0 && progress.bytes() + got > limit)
            return EngineStatus::failure(FCE_E_INCOMPLETE, "More than the expected " + std::to_string(limit) +
                                                               " bytes arrived for " + what);
        if (EngineStatus status = file.write(block.data(), static_cast<size_t>(got)); !status.ok())
            return status;
        progress.advance(got);
        if (EngineStatus status = m_speed.moved(got, what); !status.ok())
            return status;
    }
}

EngineStatus DataConnection::sendFile(int fileDescriptor, int64_t size, TransferProgress& progress,
                                      const std::string& what,
                                      const std::function<EngineStatus()>& beforeWaiting) {
    int64_t left = size;
    bool waited = !beforeWaiting;
    m_speed.start(m_lowSpeedBytes, m_timeoutMs);
    while (left > 0) {
        if (CallWatch::interrupted())
            return transferFailure(-ECANCELED, what);
        if (!waited && SocketWait::forWriting(m_stream->descriptor(), 0) == 0) {
            waited = true;
            if (EngineStatus status = beforeWaiting(); !status.ok())
                return status;
        }
        size_t chunk = static_cast<size_t>(std::min<int64_t>(left, 16 * static_cast<int64_t>(kBlockSize)));
        ssize_t sent = m_stream->sendFromFile(fileDescriptor, chunk, m_timeoutMs);
        if (sent == 0)
            break; // the file shrank while it was sent; the caller sees the short count
        if (sent < 0)
            return transferFailure(sent, what);
        left -= sent;
        progress.advance(sent);
        if (EngineStatus status = m_speed.moved(sent, what); !status.ok())
            return status;
    }
    m_stream->finishSending();
    return {};
}
