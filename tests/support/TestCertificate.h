#pragma once

#include <QString>
#include <QTemporaryDir>

// A self-signed certificate for 127.0.0.1 with its key, made by the openssl command at test time (no key
// material lives in the repository), and its SHA-256 fingerprint worked out by openssl as well.
class TestCertificate {
public:
    // Makes a new key and certificate; false (with a QWARN) when openssl fails.
    bool make();
    // Key and certificate in one PEM file, as the test server's --tls-cert takes them.
    QString pemPath() const { return m_folder.filePath(QStringLiteral("server.pem")); }
    // "SHA256:AB:CD:...", upper case.
    QString fingerprint() const { return m_fingerprint; }

private:
    QTemporaryDir m_folder;
    QString m_fingerprint;
};
