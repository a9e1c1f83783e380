#include "TrustedConnect.h"

#include "FtpEngine.h"
#include "SafeName.h"
#include "TransferCommands.h"

#include <algorithm>
#include <cctype>

namespace {

// ftp:// asks for clear text; anything else would have used TLS had the server offered it.
bool asksForPlainFtp(const std::string& server) {
    const std::string scheme = "ftp://";
    return server.size() >= scheme.size() &&
           std::equal(scheme.begin(), scheme.end(), server.begin(),
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

std::string tlsStatus() {
    constexpr int32_t kSize = 128;
    char text[kSize + 1] = {};
    const int32_t length = fceGetString(0, FCE_TLS_STATUS, text, kSize);
    return std::string(text, static_cast<size_t>(std::clamp(length, 0, kSize)));
}

} // namespace

int32_t TrustedConnect::connect(const std::string& server, const std::string& user,
                                const std::string& password, const std::string& trusted) {
    // A list someone else could have written may trust their server, or by its silence let a bare
    // host fall back to clear text: no connect until it is mended.
    if (const std::string refusal = m_store.refusal(); !refusal.empty()) {
        m_host.Display(refusal);
        return FCE_E_NOT_CONNECTED;
    }
    // Set every time, also to "", so that the trust given for one server never carries over to the next.
    const std::string fingerprint = trusted.empty() ? m_store.fingerprintFor(server) : trusted;
    const int32_t rc = fceSetString(0, FCE_TRUSTED_FINGERPRINT, fingerprint.c_str());
    if (rc < 0)
        ShowError(m_host, rc);
    return fceConnect(0, server.c_str(), user.c_str(), password.c_str());
}

void TrustedConnect::reportEncryption(const std::string& server) {
    const std::string status = tlsStatus();
    if (!status.empty())
        m_host.Display("Connected with " + status);
    else if (asksForPlainFtp(server))
        m_host.Display("Connected without encryption: ftp:// asks for plain FTP");
    else
        m_host.Display("Connected without encryption: the server does not offer TLS");
}

bool TrustedConnect::trust(const std::string& server, const std::string& fingerprint) {
    if (!m_store.trust(server, fingerprint)) {
        m_host.Display("The trusted certificate could not be stored in " + m_store.path() +
                       ": it is trusted for this connection only");
        return false;
    }
    m_host.Display("Trusted certificate " + fingerprint + " for " + SafeName::printable(server) +
                   ", stored in " + m_store.path());
    return true;
}
