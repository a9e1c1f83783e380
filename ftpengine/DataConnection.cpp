#include "DataConnection.h"

#include "ControlConnection.h"
#include "FtpEngine.h"
#include "LocalPartialFile.h"
#include "PassiveReply.h"
#include "PlainSocketStream.h"
#include "TcpConnector.h"
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
        if (EngineStatus status = control.command("EPSV", reply); !status.ok())
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

void DataConnection::close() {
    m_stream.reset();
}

EngineStatus DataConnection::transferFailure(ssize_t result, const std::string& what) const {
    if (result == -ETIMEDOUT)
        return EngineStatus::failure(FCE_E_TIMEOUT, "No data for " + what + " within " +
                                                        std::to_string(m_timeoutMs) + " ms");
    return EngineStatus::failure(FCE_E_DATA_CONNECTION, "Data connection for " + what + " failed: " +
                                                            std::strerror(static_cast<int>(-result)));
}

EngineStatus DataConnection::receiveText(std::string& text, size_t limit, const std::string& what) {
    std::vector<char>& block = copyBlock();
    for (;;) {
        ssize_t got = m_stream->receive(block.data(), block.size(), m_timeoutMs);
        if (got == 0)
            return {};
        if (got < 0)
            return transferFailure(got, what);
        if (text.size() + static_cast<size_t>(got) > limit)
            return EngineStatus::failure(FCE_E_INCOMPLETE,
                                         "Listing larger than " + std::to_string(limit) + " bytes");
        text.append(block.data(), static_cast<size_t>(got));
    }
}

EngineStatus DataConnection::receiveFile(LocalPartialFile& file, TransferProgress& progress,
                                         const std::string& what) {
    std::vector<char>& block = copyBlock();
    for (;;) {
        ssize_t got = receiveWithHeartbeat(block.data(), block.size(), progress);
        if (got == 0)
            return {};
        if (got < 0)
            return transferFailure(got, what);
        if (EngineStatus status = file.write(block.data(), static_cast<size_t>(got)); !status.ok())
            return status;
        progress.advance(got);
    }
}

ssize_t DataConnection::receiveWithHeartbeat(char* buffer, size_t length, TransferProgress& progress) {
    int silentMs = 0;
    for (;;) {
        const int slice = std::min(kHeartbeatMs, m_timeoutMs - silentMs);
        ssize_t got = m_stream->receive(buffer, length, slice);
        if (got != -ETIMEDOUT || silentMs + slice >= m_timeoutMs)
            return got;
        silentMs += slice;
        progress.heartbeat();
    }
}

EngineStatus DataConnection::sendFile(int fileDescriptor, int64_t size, TransferProgress& progress,
                                      const std::string& what) {
    int64_t left = size;
    while (left > 0) {
        size_t chunk = static_cast<size_t>(std::min<int64_t>(left, 16 * static_cast<int64_t>(kBlockSize)));
        ssize_t sent = m_stream->sendFromFile(fileDescriptor, chunk, m_timeoutMs);
        if (sent == 0)
            break; // the file shrank while it was sent; the caller sees the short count
        if (sent < 0)
            return transferFailure(sent, what);
        left -= sent;
        progress.advance(sent);
    }
    m_stream->finishSending();
    return {};
}
