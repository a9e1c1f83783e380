#pragma once

#include "FtpEngine.h"
#include "FtpServerFixture.h"

// The engine attached for one test and released when the test ends, with the steps every server test
// repeats: connect in binary mode, read a failure's text.
class EngineSession {
public:
    explicit EngineSession(int32_t channels = 1) { m_attached = fceAttach(channels) == 0; }
    ~EngineSession() {
        if (m_attached)
            fceRelease();
    }
    EngineSession(const EngineSession&) = delete;
    EngineSession& operator=(const EngineSession&) = delete;

    static constexpr int kTimeoutMs = 3000; // the window's silence limit
    // fceConnect, then binary mode. The first negative code, or 0.
    static int32_t connect(const FtpServerFixture& server, int timeoutMs = kTimeoutMs) {
        int32_t rc = fceSetInteger(0, FCE_CONNECT_TIMEOUT_MS, timeoutMs);
        if (rc >= 0)
            rc = fceConnect(0, server.address().toUtf8().constData(), "admin", "tamsk");
        return rc < 0 ? rc : fceSetMode(0, 'B');
    }
    static QString errorText(int32_t code) {
        char text[129] = {};
        const int32_t length = fceErrorText(0, code, text, 128);
        return length < 0 ? QString() : QString::fromUtf8(text, length);
    }

private:
    bool m_attached = false;
};
