#include "EngineSession.h"

#include <QDir>
#include <QFile>

int32_t EngineSession::connect(const FtpServerFixture& server, int timeoutMs) {
    int32_t rc = fceSetInteger(0, FCE_CONNECT_TIMEOUT_MS, timeoutMs);
    if (rc >= 0)
        rc = fceConnect(0, server.address().toUtf8().constData(), "admin", "tamsk");
    return rc < 0 ? rc : fceSetMode(0, 'B');
}

QString EngineSession::errorText(int32_t code) {
    char text[129] = {};
    const int32_t length = fceErrorText(0, code, text, 128);
    return length < 0 ? QString() : QString::fromUtf8(text, length);
}

QByteArray EngineSession::readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool EngineSession::writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray EngineSession::patternBytes(qsizetype size, int seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = 2166136261u ^ quint32(seed);
    for (qsizetype i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = char(state >> 24);
    }
    return bytes;
}

QStringList EngineSession::entriesOf(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}
