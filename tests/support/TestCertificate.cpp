#include "TestCertificate.h"

#include <QProcess>
#include <QTest>

namespace {

bool runOpenssl(const QStringList& arguments, QByteArray* output = nullptr) {
    QProcess process;
    process.start(QStringLiteral("openssl"), arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        QWARN(qPrintable("openssl " + arguments.join(' ') + ": " + process.readAllStandardError()));
        return false;
    }
    if (output)
        *output = process.readAllStandardOutput();
    return true;
}

} // namespace

bool TestCertificate::make() {
    const QString pem = pemPath();
    // EC keys are made in milliseconds; the key goes first, then the certificate, into the one file.
    if (!runOpenssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                     "-days", "2", "-subj", "/CN=127.0.0.1/O=Kavrel tests", "-keyout", pem + ".key", "-out",
                     pem + ".crt"}))
        return false;
    QByteArray fingerprint;
    if (!runOpenssl({"x509", "-in", pem + ".crt", "-noout", "-fingerprint", "-sha256"}, &fingerprint))
        return false;
    // "sha256 Fingerprint=AB:CD:..."
    m_fingerprint = "SHA256:" + QString::fromLatin1(fingerprint.trimmed()).section('=', 1).toUpper();
    QFile key(pem + ".key"), certificate(pem + ".crt"), both(pem);
    if (!key.open(QIODevice::ReadOnly) || !certificate.open(QIODevice::ReadOnly) ||
        !both.open(QIODevice::WriteOnly))
        return false;
    both.write(key.readAll() + certificate.readAll());
    return true;
}
