#include "TemporaryProgramFolder.h"

#include "settings/ProgramLocation.h"

#include <QFile>

TemporaryProgramFolder::TemporaryProgramFolder() {
    ProgramLocation::overrideDirectory(m_folder.path().toStdString());
    ProgramLocation::overrideBaseName("kavrel");
}

TemporaryProgramFolder::~TemporaryProgramFolder() {
    ProgramLocation::overrideDirectory(std::string());
    ProgramLocation::overrideBaseName(std::string());
}

QString TemporaryProgramFolder::settingsPath() const {
    return m_folder.filePath(QStringLiteral("kavrel.INI"));
}

bool TemporaryProgramFolder::writeSettings(const QString& text) const {
    QFile file(settingsPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(text.toUtf8()) >= 0;
}

QString TemporaryProgramFolder::settingsText() const {
    QFile file(settingsPath());
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

bool TemporaryProgramFolder::settingsExist() const {
    return QFile::exists(settingsPath());
}
