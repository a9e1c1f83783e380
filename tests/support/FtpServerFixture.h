#pragma once

#include "TestFiles.h"

#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A real FTP server (tests/ftpserver/ftpserver.py on Debian's pyftpdlib) on 127.0.0.1 with port 0,
// serving a temporary root folder, user "admin", password "tamsk". It dies with the test process and
// is stopped by its process id.
class FtpServerFixture {
public:
    enum class ListingMode { Mlsd, UnixList, DosList };

    FtpServerFixture();
    ~FtpServerFixture() { stop(); }
    FtpServerFixture(const FtpServerFixture&) = delete;
    FtpServerFixture& operator=(const FtpServerFixture&) = delete;

    // Starts the server and waits until it prints its port; false (with a QWARN) when it cannot.
    bool start(ListingMode mode = ListingMode::Mlsd);
    void stop();

    // Offer explicit FTPS (AUTH TLS) with a self-signed certificate made at each start; before start().
    void setTlsOffered(bool offered) { m_tlsOffered = offered; }
    // The certificate's "SHA256:AB:CD:..." fingerprint, once started with TLS.
    QString tlsFingerprint() const { return m_fingerprint; }
    // More server options (ftpserver.py --help), e.g. {"--tls-max", "1.2"}; call before start().
    void setExtraArguments(const QStringList& arguments) { m_extraArguments = arguments; }

    // "127.0.0.1:<port>", as fceConnect takes it.
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    // The server's root folder; tests build the server-side tree here.
    QString root() const { return workFile(QStringLiteral("root")); }

    // Fault hooks, read by the server before every command, so they can change during a test.
    // Keys are those of tests/ftpserver/README.md; an empty object turns every fault off.
    // Every call starts the "times" counters of the rules afresh.
    void setFaults(const QJsonObject& faults);

    // Every command the server received since the last clearCommands(), PASS's argument as given.
    QStringList commands() const;
    void clearCommands() { m_commandLogOffset = readFile(workFile(QStringLiteral("commands.log"))).size(); }

private:
    QString workFile(const QString& name) const { return m_workDir ? m_workDir->filePath(name) : QString(); }
    bool waitForPort();

    std::unique_ptr<QTemporaryDir> m_workDir;
    QProcess m_process;
    quint16 m_port = 0;
    bool m_tlsOffered = false;
    QString m_fingerprint;
    QStringList m_extraArguments;
    qint64 m_commandLogOffset = 0; // bytes of the command log before the last clearCommands()
    int m_faultGeneration = 0;     // makes every setFaults() a new file content
};
