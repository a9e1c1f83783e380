#include "TestCertificate.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QTest>

bool makeTestCertificate(const QString& folder, QString& pemPath, QString& fingerprint) {
    pemPath = folder + "/server.pem";
    QProcess openssl;
    // An EC key is made in milliseconds.
    openssl.start("openssl",
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-days",
                   "2", "-subj", "/CN=127.0.0.1", "-keyout", pemPath, "-out", pemPath + ".crt"});
    QFile key(pemPath), certificate(pemPath + ".crt");
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0 ||
        !certificate.open(QIODevice::ReadOnly) || !key.open(QIODevice::Append)) {
        QWARN(openssl.readAllStandardError().constData());
        return false;
    }
    const QByteArray pem = certificate.readAll();
    const QByteArray der = QByteArray::fromBase64(pem.split('-').at(10)); // between BEGIN and END lines
    fingerprint = "SHA256:" + QCryptographicHash::hash(der, QCryptographicHash::Sha256).toHex(':').toUpper();
    return key.write(pem) == pem.size();
}
