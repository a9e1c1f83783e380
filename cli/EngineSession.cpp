#include "EngineSession.h"

#include "../ftpengine/FtpEngine.h"
#include "../transfer/EngineStartup.h"
#include "../transfer/SafeName.h"
#include "../transfer/TransferCommands.h"

namespace {

constexpr int32_t kChannel = 0;
constexpr int32_t kConnectTimeoutMs = 3000;
constexpr int32_t kBinaryMode = 'B';

} // namespace

EngineSession::EngineSession(TransferHost& host) : m_host(host) {}

EngineSession::~EngineSession() {
    if (m_connected)
        fceClose(kChannel);
    if (m_attached)
        fceRelease();
}

int32_t EngineSession::attach(const std::string& traceFile) {
    const int32_t rc = EngineStartup::Start(m_host, traceFile);
    m_attached = rc >= 0;
    return rc;
}

int32_t EngineSession::connect(const std::string& server, const std::string& user,
                               const std::string& password) {
    int32_t rc = fceSetInteger(kChannel, FCE_CONNECT_TIMEOUT_MS, kConnectTimeoutMs);
    if (rc < 0)
        ShowError(m_host, rc);
    if (m_silenceMs > 0 && (rc = fceSetInteger(kChannel, FCE_SILENCE_MS, m_silenceMs)) < 0)
        ShowError(m_host, rc);
    m_host.Display("Connecting to server...");
    m_host.SetNewState(2);
    rc = fceConnect(kChannel, server.c_str(), user.c_str(), password.c_str());
    if (rc < 0) {
        ShowError(m_host, rc);
        m_host.SetNewState(0);
        return rc;
    }
    m_connected = true;
    m_host.Display("Connected to " + SafeName::printable(server));
    rc = fceSetMode(kChannel, kBinaryMode);
    m_host.SetNewState(1);
    if (rc < 0) {
        // Going on in another mode could alter every file that is not text; the run stops here.
        ShowError(m_host, rc);
        return rc;
    }
    m_host.Display("Mode set to Binary");
    return 0;
}
