#pragma once

#include "../transfer/TransferHost.h"

#include <cstdint>
#include <string>

class TrustedConnect;

// The engine calls the window makes at start-up, on Connect and at exit, made in the same order with
// the same log lines. Whatever was opened is closed and released when the session goes.
class EngineSession {
public:
    explicit EngineSession(TransferHost& host);
    ~EngineSession();
    EngineSession(const EngineSession&) = delete;
    EngineSession& operator=(const EngineSession&) = delete;

    // The engine's start-up, as the window makes it (EngineStartup). Negative when the engine cannot
    // be attached (a line says so).
    int32_t attach(const std::string& traceFile, int32_t channels = 1);
    // The Connect command: silence timeout, connect and log in, binary mode. Negative when the connection
    // or the login failed, or when binary mode could not be set (each reported through ShowError).
    // A certificate that is not trusted is refused, never asked about: the log names it and the --trust
    // that would trust it. trusted (--trust) stands in for the stored fingerprint and is stored once the
    // server has presented that very certificate.
    int32_t connect(const std::string& server, const std::string& user, const std::string& password,
                    TrustedConnect& trust, const std::string& trusted = {});
    // The engine's silence limit for replies and data, set by connect(); 0 keeps the engine's default.
    void setSilenceLimit(int32_t milliseconds) { m_silenceMs = milliseconds; }
    // The engine's low-speed minimum (bytes per silence period), set by connect(); -1 keeps its default.
    void setLowSpeedBytes(int32_t bytes) { m_lowSpeedBytes = bytes; }

    // True from a successful fceConnect until the session goes.
    bool connected() const { return m_connected; }

private:
    void explainUntrusted(const std::string& server, TrustedConnect& trust);
    void keepTrusted(const std::string& server, TrustedConnect& trust, const std::string& trusted);

    TransferHost& m_host;
    bool m_attached = false;
    bool m_connected = false;
    int32_t m_silenceMs = 0;
    int32_t m_lowSpeedBytes = -1;
};
