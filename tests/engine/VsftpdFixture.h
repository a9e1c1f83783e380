#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// vsftpd with the strictest TLS settings (TLS required on login and data, session reuse required, close
// on both directions checked) on a loopback high port, anonymous login into a writable folder "data".
// It needs root (its chroot), so a test without it skips.
class VsftpdFixture {
public:
    VsftpdFixture() = default;
    ~VsftpdFixture();
    VsftpdFixture(const VsftpdFixture&) = delete;
    VsftpdFixture& operator=(const VsftpdFixture&) = delete;

    // Empty when the server listens, else why it cannot (the test skips with it).
    QString start(bool implicitTls, bool tls12Only);
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    // The folder served as "/data".
    QString dataFolder() const { return m_dir.path() + QStringLiteral("/root/data"); }

private:
    QString writeConfig(bool implicitTls);
    bool waitForPort();

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};
