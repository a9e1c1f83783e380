#include "EngineSession.h"

#include "../ftpengine/FtpEngine.h"
#include "../transfer/TransferCommands.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int32_t kChannel = 0;
constexpr int32_t kSilenceTimeoutMs = 3000;
constexpr int32_t kDescriptionSize = 80;
constexpr int32_t kBinaryMode = 'B';

} // namespace

EngineSession::EngineSession(TransferHost& host) : m_host(host) {}

EngineSession::~EngineSession() {
    if (m_connected)
        fceClose(kChannel);
    if (m_attached)
        fceRelease();
}

std::string EngineSession::versionLine(int32_t version) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(version));
    const std::string digits = hex;
    auto part = [&](size_t i) { return i < digits.size() ? digits.substr(i, 1) : std::string(); };
    return "FTP Client Engine Version " + part(0) + "." + part(1) + "." + part(2);
}

int32_t EngineSession::attach(const std::string& traceFile) {
    const int32_t rc = fceAttach(1);
    if (rc < 0) {
        m_host.Display("The FTP engine could not be attached.");
        return rc;
    }
    m_attached = true;
    const int32_t version = fceGetInteger(kChannel, FCE_VERSION);
    if (version >= 0)
        m_host.Display(versionLine(version));
    char description[kDescriptionSize + 1] = {};
    const int32_t length = fceGetString(kChannel, FCE_DESCRIPTION, description, kDescriptionSize);
    if (length >= 0)
        m_host.Display(std::string(description, static_cast<size_t>(std::min(length, kDescriptionSize))));
    fceSetString(kChannel, FCE_TRACE_FILE, traceFile.c_str());
    fceSetInteger(kChannel, FCE_PASSIVE, 1);
    return 0;
}

int32_t EngineSession::connect(const std::string& server, const std::string& user,
                               const std::string& password) {
    int32_t rc = fceSetInteger(kChannel, FCE_TIMEOUT_MS, kSilenceTimeoutMs);
    if (rc < 0)
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
    m_host.Display("Connected to " + server);
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
