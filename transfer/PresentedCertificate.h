#pragma once

#include <string>

// The certificate the server presented on the last connect, as the engine reports it; every field is
// empty when there was none (a plain connection, or no handshake reached).
struct PresentedCertificate {
    std::string fingerprint; // "SHA256:AB:CD:..."
    std::string subject;
    std::string issuer;
    std::string validity; // "... UTC to ... UTC"

    static PresentedCertificate presented();
};
