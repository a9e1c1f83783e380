#pragma once

#include "FtpServerFixture.h"
#include "RecordingHost.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>

// What every transfer test stands on: the test server (with its own root), the engine attached and
// connected to it, an empty local folder, and a fresh recording host for each test.
class TransferWorld {
public:
    // Once per test case: starts the server and attaches the engine.
    bool start(FtpServerFixture::ListingMode mode = FtpServerFixture::ListingMode::Mlsd);
    void stop();

    // Once per test: empties the server's root, makes a new local folder and host, connects.
    bool begin();
    void end();

    // Paths under the server's root and under the local folder.
    QString serverPath(const QString& relative) const;
    QString localPath(const QString& relative) const;
    std::string localStd(const QString& relative) const { return localPath(relative).toStdString(); }

    FtpServerFixture server;
    std::unique_ptr<QTemporaryDir> local;
    RecordingHost host;

private:
    bool m_attached = false;
};
