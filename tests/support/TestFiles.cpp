#include "TestFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTest>

Tree treeOf(const QString& folder) {
    Tree tree;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(folder).relativeFilePath(path);
        QFile file(path);
        if (QFileInfo(path).isDir())
            tree.insert(relative + '/', {});
        else
            tree.insert(relative, file.open(QIODevice::ReadOnly) ? file.readAll() : "<unreadable>");
    }
    return tree;
}

bool writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(content) == content.size();
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray patternBytes(qsizetype size, int seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = 2166136261u ^ quint32(seed);
    for (qsizetype i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = char(state >> 24);
    }
    return bytes;
}

QStringList entriesOf(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

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
