#pragma once

#include "transfer/PresentedCertificate.h"

#include <cstdint>
#include <string>

// The question the window asks when a server's certificate is not trusted: the certificate's details,
// and, when it is not the one trusted before for that server, a warning in stronger words whose
// default answer is No.
struct CertificateQuestion {
    std::string title;
    std::string text;
    int32_t style = 0; // MessageBoxSeam styles

    // stored: the fingerprint trusted for server until now; empty when none was.
    static CertificateQuestion about(const std::string& server, const PresentedCertificate& presented,
                                     const std::string& stored);
};
