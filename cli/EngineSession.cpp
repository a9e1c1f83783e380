#include "EngineSession.h"

#include "../ftpengine/FtpEngine.h"
#include "../transfer/EngineStartup.h"
#include "../transfer/PresentedCertificate.h"
#include "../transfer/SafeName.h"
#include "../transfer/TransferCommands.h"
#include "../transfer/TrustedConnect.h"

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

int32_t EngineSession::attach(const std::string& traceFile, int32_t channels) {
    const int32_t rc = EngineStartup::Start(m_host, traceFile, channels);
    m_attached = rc >= 0;
    return rc;
}

int32_t EngineSession::connect(const std::string& server, const std::string& user,
                               const std::string& password, TrustedConnect& trust,
                               const std::string& trusted) {
    int32_t rc = fceSetInteger(kChannel, FCE_CONNECT_TIMEOUT_MS, kConnectTimeoutMs);
    if (rc < 0)
        ShowError(m_host, rc);
    if (m_silenceMs > 0 && (rc = fceSetInteger(kChannel, FCE_SILENCE_MS, m_silenceMs)) < 0)
        ShowError(m_host, rc);
    if (m_lowSpeedBytes >= 0 && (rc = fceSetInteger(kChannel, FCE_LOW_SPEED_BYTES, m_lowSpeedBytes)) < 0)
        ShowError(m_host, rc);
    m_host.Display("Connecting to server...");
    m_host.SetNewState(2);
    rc = trust.connect(server, user, password, trusted);
    if (!trusted.empty())
        keepTrusted(server, trust, trusted);
    if (rc < 0) {
        ShowError(m_host, rc);
        if (rc == FCE_E_UNTRUSTED_CERTIFICATE)
            explainUntrusted(server, trust);
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
    trust.reportEncryption(server);
    return 0;
}

// A scheduled run has no one to ask: it says what was presented and the option that trusts it.
void EngineSession::explainUntrusted(const std::string& server, TrustedConnect& trust) {
    const PresentedCertificate presented = PresentedCertificate::presented();
    const std::string shown = SafeName::printable(server);
    const std::string stored = trust.storedFingerprint(server);
    if (!stored.empty() && stored != presented.fingerprint)
        m_host.Display("WARNING: the certificate of " + shown +
                       " has CHANGED since it was trusted (trusted: " + stored +
                       ", presented now: " + presented.fingerprint + ")");
    m_host.Display("Certificate of " + shown + ": " + presented.fingerprint);
    // The names come from the server and may hold anything: one line each, control characters escaped.
    m_host.Display("Subject: " + SafeName::printable(presented.subject) +
                   "; issuer: " + SafeName::printable(presented.issuer) + "; valid " +
                   SafeName::printable(presented.validity));
    m_host.Display("To trust this certificate, run again with: --trust " + presented.fingerprint);
}

// --trust is stored only for the certificate it names, so that a mistyped fingerprint never replaces the
// one trusted before.
void EngineSession::keepTrusted(const std::string& server, TrustedConnect& trust,
                                const std::string& trusted) {
    const std::string presented = PresentedCertificate::presented().fingerprint;
    const std::string shown = SafeName::printable(server);
    if (presented == trusted)
        trust.trust(server, trusted);
    else if (presented.empty())
        m_host.Display("--trust not stored: " + shown + " presented no certificate");
    else if (trust.storedFingerprint(server) != presented)
        m_host.Display("--trust not stored: " + shown + " presented " + presented);
}
