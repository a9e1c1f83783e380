#include "TransferWorld.h"

#include "EngineLink.h"

#include <QDir>
#include <QTest>

bool TransferWorld::start(FtpServerFixture::ListingMode mode) {
    if (!server.start(mode))
        return false;
    m_attached = EngineLink::attach();
    if (!m_attached)
        QWARN("TransferWorld: the engine cannot be attached");
    return m_attached;
}

void TransferWorld::stop() {
    if (m_attached)
        EngineLink::release();
    m_attached = false;
    server.stop();
}

bool TransferWorld::begin() {
    QDir root(server.root());
    if (!root.removeRecursively() || !QDir().mkpath(server.root())) {
        QWARN("TransferWorld: cannot empty the server's root");
        return false;
    }
    server.setFaults(QJsonObject());
    local = std::make_unique<QTemporaryDir>();
    host = RecordingHost();
    const int32_t code = EngineLink::connect(server.address());
    if (code < 0) {
        QWARN(qPrintable(QStringLiteral("TransferWorld: connect failed: ") + EngineLink::errorText(code)));
        return false;
    }
    server.clearCommands();
    return local->isValid();
}

void TransferWorld::end() {
    server.setFaults(QJsonObject());
    EngineLink::close();
}

QString TransferWorld::serverPath(const QString& relative) const {
    return server.root() + QLatin1Char('/') + relative;
}

QString TransferWorld::localPath(const QString& relative) const {
    return relative.isEmpty() ? local->path() : local->filePath(relative);
}
