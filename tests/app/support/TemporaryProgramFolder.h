#pragma once

#include "TestFiles.h"

#include <QString>
#include <QTemporaryDir>

// Makes the running test look like a program installed in a fresh temporary folder under the name
// "kavrel", so that its settings file (kavrel.INI) and engine trace are temporary files. The real
// location comes back when this object goes.
class TemporaryProgramFolder {
public:
    TemporaryProgramFolder();
    ~TemporaryProgramFolder();
    TemporaryProgramFolder(const TemporaryProgramFolder&) = delete;
    TemporaryProgramFolder& operator=(const TemporaryProgramFolder&) = delete;

    QString path() const { return m_folder.path(); }
    QString settingsPath() const { return m_folder.filePath(QStringLiteral("kavrel.INI")); }
    // Writes the settings file with exactly this text (lines ended by LF).
    bool writeSettings(const QString& text) const { return writeFile(settingsPath(), text.toUtf8()); }
    // The settings file's text; empty when it does not exist.
    QString settingsText() const { return QString::fromUtf8(readFile(settingsPath())); }

private:
    QTemporaryDir m_folder;
};
