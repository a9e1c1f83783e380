#pragma once

#include "ByteStream.h"
#include "EngineStatus.h"
#include "FtpReply.h"

#include <chrono>
#include <memory>
#include <string>
#include <sys/socket.h>

class ProtocolTrace;

// The control connection: sends one command at a time and reads its (possibly multi-line) reply.
// Any failure that leaves the dialogue out of step (silence, end of stream, a 421, garbage) closes the
// connection, because a late reply would otherwise be taken as the answer to the next command.
class ControlConnection {
public:
    explicit ControlConnection(ProtocolTrace& trace) : m_trace(trace) {}

    using Deadline = std::chrono::steady_clock::time_point;

    // A reply longer than this is no FTP reply: reading on would only grow the process.
    static constexpr size_t kLongestReplyBytes = 64 * 1024;
    static constexpr size_t kMostReplyLines = 1000;

    // connectTimeoutMs bounds the TCP connection attempt only.
    EngineStatus open(const std::string& host, uint16_t port, const std::string& shown, int connectTimeoutMs);
    void close();
    // Puts stream in place of the current one: the TLS stream after AUTH TLS, or one end of a socket
    // pair in a test. The peer address stays that of the connection opened before.
    void adoptStream(std::unique_ptr<ByteStream> stream);
    // Hands the current stream over (to be wrapped in TLS); the connection is closed until adoptStream.
    std::unique_ptr<ByteStream> releaseStream();
    bool isOpen() const { return m_stream != nullptr; }
    // Bytes received beyond the last reply: none may come between AUTH TLS's 234 and the handshake.
    bool hasPendingBytes() const { return !m_pending.empty(); }
    int descriptor() const { return m_stream ? m_stream->descriptor() : -1; }

    // The silence limit of replies (and of the data connections that go with them).
    void setTimeout(int timeoutMs) { m_timeoutMs = timeoutMs; }
    int timeout() const { return m_timeoutMs; }
    // The fewest bytes its data connections must move per silence period (0: no such limit).
    void setLowSpeedBytes(int64_t bytes) { m_lowSpeedBytes = bytes; }
    int64_t lowSpeedBytes() const { return m_lowSpeedBytes; }

    EngineStatus send(const std::string& command);
    // Reads the next complete reply, all its lines within the silence limit; what names the command it
    // answers in error texts.
    EngineStatus readReply(FtpReply& reply, const std::string& what);
    // The same, all its lines before deadline; limitMs is the limit as the error text names it.
    EngineStatus readReply(FtpReply& reply, const std::string& what, Deadline deadline, int limitMs);
    EngineStatus command(const std::string& command, FtpReply& reply);

    // A command sent before the reply to the one before it has been read (the next EPSV once a download's
    // data has ended, while its final reply is still on its way: a round trip less per file). Its reply,
    // which follows that one, is read by readAhead, or, once another command has gone out, read and
    // dropped before that command's reply. While one is ahead, sendAhead sends no other.
    EngineStatus sendAhead(const std::string& command);
    bool hasAhead() const { return !m_ahead.empty(); }
    EngineStatus readAhead(FtpReply& reply);

    // The server's address: data connections go there, whatever a PASV reply announces.
    const sockaddr_storage& peer() const { return m_peer; }

    // The verb of a command ("RETR" for "RETR x.wav"), for error texts that must not echo arguments.
    static std::string verbOf(const std::string& command);

private:
    EngineStatus readLine(std::string& line, const std::string& what, Deadline deadline, int limitMs);
    EngineStatus fail(int32_t code, const std::string& text);

    ProtocolTrace& m_trace;
    std::unique_ptr<ByteStream> m_stream;
    sockaddr_storage m_peer{};
    int m_timeoutMs = 60000;
    // Below a slow WAN link's worst (4 KiB a minute is 68 bytes/s), far above a server that trickles.
    int64_t m_lowSpeedBytes = 4096;
    std::string m_pending;    // bytes received after the last complete line
    std::string m_ahead;      // the verb of the command sent ahead whose reply is still unread
    bool m_dropAhead = false; // a command went out after it: its reply is dropped first
};
