#pragma once

#include "FtpEngine.h"
#include "FtpServerFixture.h"

#include <QByteArray>
#include <QStringList>

// The engine attached for one test and released when the test ends, with the steps every server test
// repeats: connect in binary mode, read a failure's text, read and write local files.
class EngineSession {
public:
    EngineSession() { m_attached = fceAttach(1) == 0; }
    ~EngineSession() {
        if (m_attached)
            fceRelease();
    }
    EngineSession(const EngineSession&) = delete;
    EngineSession& operator=(const EngineSession&) = delete;

    static constexpr int kTimeoutMs = 3000; // the window's silence limit
    // fceConnect, then binary mode. The first negative code, or 0.
    int32_t connect(const FtpServerFixture& server, int timeoutMs = kTimeoutMs);

    static QString errorText(int32_t code);
    static QByteArray readFile(const QString& path);
    static bool writeFile(const QString& path, const QByteArray& bytes);
    // Bytes that differ from file to file, so that a mixed-up file cannot pass for another.
    static QByteArray patternBytes(qsizetype size, int seed);
    // The names in a folder, hidden ones included, sorted.
    static QStringList entriesOf(const QString& folder);

private:
    bool m_attached = false;
};
