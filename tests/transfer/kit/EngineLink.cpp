#include "EngineLink.h"

#include "FtpEngine.h"

namespace EngineLink {

bool attach() {
    return fceAttach(1) >= 0;
}

void release() {
    fceRelease();
}

int32_t connect(const QString& address) {
    fceSetInteger(0, FCE_PASSIVE, 1);
    fceSetInteger(0, FCE_TIMEOUT_MS, 3000);
    const QByteArray server = address.toUtf8();
    const int32_t code = fceConnect(0, server.constData(), "admin", "tamsk");
    if (code < 0)
        return code;
    return fceSetMode(0, 'B');
}

void close() {
    fceClose(0);
}

QString errorText(int32_t code) {
    char text[256] = {};
    const int32_t length = fceErrorText(0, code, text, sizeof text);
    return QString::fromUtf8(text, length > 0 ? length : 0);
}

} // namespace EngineLink
