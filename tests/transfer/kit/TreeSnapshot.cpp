#include "TreeSnapshot.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace TreeSnapshot {

namespace {

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

Tree take(const QString& folder) {
    Tree tree;
    const QDir base(folder);
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        const QString relative = base.relativeFilePath(path);
        if (info.isDir() && !info.isSymLink())
            tree.insert(relative + QLatin1Char('/'), QByteArray());
        else
            tree.insert(relative, contentOf(path));
    }
    return tree;
}

Tree filesIn(const QString& folder) {
    Tree tree;
    const QDir dir(folder);
    for (const QFileInfo& info : dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System))
        tree.insert(info.fileName(), contentOf(info.filePath()));
    return tree;
}

bool write(const QString& path, const QByteArray& content) {
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

bool makeFolder(const QString& path) {
    return QDir().mkpath(path);
}

QString differences(const Tree& expected, const Tree& actual) {
    QStringList lines;
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (!actual.contains(it.key()))
            lines << QStringLiteral("missing: ") + it.key();
        else if (actual.value(it.key()) != it.value())
            lines << QStringLiteral("differs: ") + it.key();
    }
    for (auto it = actual.cbegin(); it != actual.cend(); ++it) {
        if (!expected.contains(it.key()))
            lines << QStringLiteral("unexpected: ") + it.key();
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace TreeSnapshot
