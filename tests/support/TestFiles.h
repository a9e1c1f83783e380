#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

// Local files as the tests make and read them.

// Every file under a folder (hidden ones included) by relative path with its bytes; folders as "path/".
using Tree = QMap<QString, QByteArray>;
Tree treeOf(const QString& folder);
bool writeFile(const QString& path, const QByteArray& content); // creates the folders too
QByteArray readFile(const QString& path);                       // empty when it cannot be read
// Bytes that differ from file to file, so that a mixed-up file cannot pass for another.
QByteArray patternBytes(qsizetype size, int seed);
// The names in a folder, hidden ones included, sorted.
QStringList entriesOf(const QString& folder);
// A self-signed certificate for 127.0.0.1 and its key, made in folder with the openssl command (no key
// material lives in the repository): one PEM file with both, and the "SHA256:AB:CD:..." fingerprint.
bool makeTestCertificate(const QString& folder, QString& pemPath, QString& fingerprint);
