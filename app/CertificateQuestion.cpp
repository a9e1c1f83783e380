#include "CertificateQuestion.h"

#include "FingerprintLines.h"
#include "MessageBoxSeam.h"

#include "transfer/SafeName.h"

namespace {

// The names come from the server: a line break in them must not pass for a line of the question.
std::string details(const PresentedCertificate& presented) {
    return "Subject: " + SafeName::printable(presented.subject) +
           "\nIssuer: " + SafeName::printable(presented.issuer) +
           "\nValid: " + SafeName::printable(presented.validity);
}

} // namespace

CertificateQuestion CertificateQuestion::about(const std::string& server,
                                               const PresentedCertificate& presented,
                                               const std::string& stored) {
    if (stored.empty() || stored == presented.fingerprint) {
        return {"Untrusted Certificate",
                "The certificate of " + server + " cannot be verified.\n\nFingerprint:\n" +
                    FingerprintLines::halves(presented.fingerprint) + "\n" + details(presented) +
                    "\n\nCompare the fingerprint with the server's own. Trust this certificate for " +
                    server + " and connect?",
                MessageBoxSeam::StyleQuestion};
    }
    // Someone between us and the server shows a certificate of his own; a new certificate on the server
    // looks the same, so only the administrator can tell, and the safe answer is the default.
    return {
        "Certificate Changed",
        "WARNING: the certificate of " + server + " has CHANGED since it was trusted. Someone may be " +
            "intercepting the connection to read the password.\n\nTrusted until now:\n" +
            FingerprintLines::halves(stored) + "\nPresented now:\n" +
            FingerprintLines::halves(presented.fingerprint) + "\n" + details(presented) +
            "\n\nAnswer No unless the server's administrator confirms the new fingerprint. Trust the new " +
            "certificate and connect?",
        MessageBoxSeam::StyleExclamation | MessageBoxSeam::StyleDefaultNo};
}
