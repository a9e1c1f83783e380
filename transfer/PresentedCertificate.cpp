#include "PresentedCertificate.h"

#include "FtpEngine.h"

#include <algorithm>

namespace {

// A distinguished name can be long; what does not fit is cut, never overrun.
std::string engineString(int32_t parameter) {
    constexpr int32_t kSize = 1024;
    char text[kSize + 1] = {};
    const int32_t length = fceGetString(0, parameter, text, kSize);
    return std::string(text, static_cast<size_t>(std::clamp(length, 0, kSize)));
}

} // namespace

PresentedCertificate PresentedCertificate::presented() {
    return {engineString(FCE_PEER_FINGERPRINT), engineString(FCE_PEER_SUBJECT), engineString(FCE_PEER_ISSUER),
            engineString(FCE_PEER_VALIDITY)};
}
