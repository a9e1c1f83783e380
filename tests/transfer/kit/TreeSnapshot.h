#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

// Every file under a folder (hidden ones included) by its path relative to the folder, with its bytes;
// folders appear as "path/" with empty content, so that empty folders count too.
namespace TreeSnapshot {

using Tree = QMap<QString, QByteArray>;

Tree take(const QString& folder);
// Only the files lying directly in folder.
Tree filesIn(const QString& folder);

// Writes a file (creating its folders); false when it cannot.
bool write(const QString& path, const QByteArray& content);
bool makeFolder(const QString& path);

// The differences between two trees, one line each, empty when equal; for a readable failure.
QString differences(const Tree& expected, const Tree& actual);

} // namespace TreeSnapshot
