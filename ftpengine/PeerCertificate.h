#pragma once

#include <openssl/x509.h>
#include <string>

// What the host shows of a server's certificate when it asks the administrator to trust it.
struct PeerCertificate {
    std::string fingerprint; // "SHA256:AB:CD:...": SHA-256 of the DER form, uppercase, colon-separated
    std::string subject;     // one-line distinguished name
    std::string issuer;
    std::string validity; // "2026-12-07 03:00:00 UTC to 2027-12-07 03:00:00 UTC"

    static PeerCertificate of(X509* certificate);
    // Compares fingerprints as an administrator may type them: any case, with or without "SHA256:".
    static bool sameFingerprint(const std::string& a, const std::string& b);
};
