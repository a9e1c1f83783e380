#include "ControlConnection.h"

#include "CallWatch.h"
#include "FtpEngine.h"
#include "PlainSocketStream.h"
#include "ProtocolTrace.h"
#include "TcpConnector.h"

#include <cctype>
#include <cerrno>
#include <cstring>

namespace {

// A reply code's first digit is 1 to 5 (6 for the protected replies of FTPS): "022" is no reply, and a
// code below 100 would read as no kind of answer at all.
bool startsWithCode(const std::string& line) {
    return line.size() >= 3 && line[0] >= '1' && line[0] <= '6' &&
           std::isdigit(static_cast<unsigned char>(line[1])) &&
           std::isdigit(static_cast<unsigned char>(line[2])) &&
           (line.size() == 3 || line[3] == ' ' || line[3] == '-');
}

} // namespace

EngineStatus ControlConnection::open(const std::string& host, uint16_t port, const std::string& shown,
                                     int connectTimeoutMs) {
    close();
    int fd = -1;
    EngineStatus status = TcpConnector::connectToHost(host, port, shown, connectTimeoutMs, fd);
    if (!status.ok())
        return status;
    socklen_t size = sizeof(m_peer);
    ::getpeername(fd, reinterpret_cast<sockaddr*>(&m_peer), &size);
    m_stream = std::make_unique<PlainSocketStream>(fd);
    m_trace.note("Connected to " + TcpConnector::describe(reinterpret_cast<sockaddr*>(&m_peer)));
    return {};
}

void ControlConnection::close() {
    m_stream.reset();
    m_pending.clear();
    m_ahead.clear();
    m_dropAhead = false;
}

void ControlConnection::adoptStream(std::unique_ptr<ByteStream> stream) {
    m_stream = std::move(stream);
    m_pending.clear();
}

std::unique_ptr<ByteStream> ControlConnection::releaseStream() {
    m_pending.clear();
    return std::move(m_stream);
}

std::string ControlConnection::verbOf(const std::string& command) {
    return command.substr(0, command.find(' '));
}

EngineStatus ControlConnection::fail(int32_t code, const std::string& text) {
    m_trace.note(text);
    close();
    return EngineStatus::failure(code, text);
}

EngineStatus ControlConnection::send(const std::string& command) {
    if (!m_stream)
        return EngineStatus::failure(FCE_E_NOT_CONNECTED, "Not connected");
    m_trace.sent(command);
    std::string line = command + "\r\n";
    ssize_t sent = m_stream->sendAll(line.data(), line.size(), m_timeoutMs);
    if (sent == -ECANCELED)
        return fail(FCE_E_INTERRUPTED, "Interrupted while sending " + verbOf(command));
    if (sent == -ETIMEDOUT)
        return fail(FCE_E_TIMEOUT,
                    "Could not send " + verbOf(command) + " within " + std::to_string(m_timeoutMs) + " ms");
    if (sent < 0)
        return fail(FCE_E_CONNECTION_LOST,
                    "Connection lost (" + m_stream->describe(sent) + ") while sending " + verbOf(command));
    // Another command after one sent ahead: the reply to that one comes first and is dropped, without
    // waiting for it before this command goes out.
    m_dropAhead = hasAhead();
    return {};
}

EngineStatus ControlConnection::readLine(std::string& line, const std::string& what, Deadline deadline,
                                         int limitMs) {
    for (;;) {
        auto end = m_pending.find('\n');
        if (end != std::string::npos) {
            line.assign(m_pending, 0, end);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            m_pending.erase(0, end + 1);
            return {};
        }
        if (m_pending.size() > kLongestReplyBytes)
            return fail(FCE_E_PROTOCOL, "Reply line longer than " + std::to_string(kLongestReplyBytes) +
                                            " bytes in answer to " + what);
        if (CallWatch::interrupted())
            return fail(FCE_E_INTERRUPTED, "Interrupted waiting for the reply to " + what);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        char block[4096];
        ssize_t got = left.count() <= 0
                          ? -ETIMEDOUT
                          : m_stream->receive(block, sizeof(block), static_cast<int>(left.count()));
        if (got == -ECANCELED)
            return fail(FCE_E_INTERRUPTED, "Interrupted waiting for the reply to " + what);
        if (got == -ETIMEDOUT)
            return fail(FCE_E_TIMEOUT, "No reply to " + what + " within " + std::to_string(limitMs) + " ms");
        if (got == 0)
            return fail(FCE_E_CONNECTION_LOST, "Connection closed by the server (no reply to " + what + ")");
        if (got < 0)
            return fail(FCE_E_CONNECTION_LOST,
                        "Connection lost (" + m_stream->describe(got) + ") waiting for the reply to " + what);
        m_pending.append(block, static_cast<size_t>(got));
    }
}

EngineStatus ControlConnection::readReply(FtpReply& reply, const std::string& what) {
    return readReply(reply, what, std::chrono::steady_clock::now() + std::chrono::milliseconds(m_timeoutMs),
                     m_timeoutMs);
}

EngineStatus ControlConnection::readReply(FtpReply& reply, const std::string& what, Deadline deadline,
                                          int limitMs) {
    if (!m_stream)
        return EngineStatus::failure(FCE_E_NOT_CONNECTED, "Not connected");
    if (FtpReply dropped; m_dropAhead) {
        if (EngineStatus status = readAhead(dropped); !status.ok())
            return status;
    }
    reply = FtpReply();
    std::string line;
    if (EngineStatus status = readLine(line, what, deadline, limitMs); !status.ok())
        return status;
    m_trace.received(line);
    if (!startsWithCode(line))
        return fail(FCE_E_PROTOCOL, "Unreadable reply to " + what + ": " + line);
    reply.code = std::stoi(line.substr(0, 3));
    reply.lines.push_back(line);
    const std::string last = line.substr(0, 3) + " ";
    bool multiLine = line.size() > 3 && line[3] == '-';
    size_t replyBytes = line.size();
    while (multiLine) {
        if (EngineStatus status = readLine(line, what, deadline, limitMs); !status.ok())
            return status;
        m_trace.received(line);
        replyBytes += line.size();
        if (reply.lines.size() >= kMostReplyLines || replyBytes > kLongestReplyBytes)
            return fail(FCE_E_PROTOCOL, "Reply longer than " + std::to_string(kMostReplyLines) +
                                            " lines or " + std::to_string(kLongestReplyBytes) +
                                            " bytes in answer to " + what);
        reply.lines.push_back(line);
        multiLine = !(line.compare(0, 4, last) == 0 || line == last.substr(0, 3));
    }
    // 421: the server is closing the connection; it will not answer anything more.
    if (reply.code == 421)
        return fail(FCE_E_CONNECTION_LOST, reply.lastLine());
    return {};
}

EngineStatus ControlConnection::sendAhead(const std::string& command) {
    if (hasAhead())
        return {}; // one is on its way already
    EngineStatus status = send(command);
    if (status.ok())
        m_ahead = verbOf(command);
    return status;
}

EngineStatus ControlConnection::readAhead(FtpReply& reply) {
    const std::string verb = std::move(m_ahead);
    m_ahead.clear();
    m_dropAhead = false;
    return readReply(reply, verb);
}

EngineStatus ControlConnection::command(const std::string& command, FtpReply& reply) {
    if (EngineStatus status = send(command); !status.ok())
        return status;
    return readReply(reply, verbOf(command));
}
