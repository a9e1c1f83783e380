#pragma once

#include "PresentedCertificate.h"
#include "TransferHost.h"
#include "TrustStore.h"

#include <cstdint>
#include <string>

// The connect both hosts make: the engine learns the fingerprint trusted for the server before
// fceConnect, and once connected the log says whether the session is encrypted. What to do with an
// untrusted certificate (ask, or refuse and say how to trust it) is each host's own business.
class TrustedConnect {
public:
    // trustFile: the trust list beside the host's settings file (TrustStore::pathBeside).
    TrustedConnect(TransferHost& host, const std::string& trustFile) : m_host(host), m_store(trustFile) {}

    // fceConnect with the fingerprint trusted for server; trusted, when not empty, stands in for the
    // stored one for this connect only. Returns fceConnect's code; a failure is not reported here.
    // A trust file that someone else could have written is refused with a line that says how to mend
    // it, and FCE_E_NOT_CONNECTED without any engine call.
    int32_t connect(const std::string& server, const std::string& user, const std::string& password,
                    const std::string& trusted = {});

    // After a successful connect: "Connected with " + the TLS version and cipher, or why the session
    // runs in clear text.
    void reportEncryption(const std::string& server);

    // The fingerprint stored for server; empty when none is.
    std::string storedFingerprint(const std::string& server) const { return m_store.fingerprintFor(server); }

    // Stores fingerprint for server (replacing an older one) and logs where, or that it could not be and
    // so holds only for the connect that hands it to connect() as trusted.
    bool trust(const std::string& server, const std::string& fingerprint);

    const std::string& trustFile() const { return m_store.path(); }

private:
    TransferHost& m_host;
    TrustStore m_store;
};
