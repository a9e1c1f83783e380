#pragma once

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

    bool isValid() const { return m_folder.isValid(); }
    QString path() const { return m_folder.path(); }
    QString settingsPath() const;

    // Writes the settings file with exactly this text (lines ended by LF).
    bool writeSettings(const QString& text) const;
    // The settings file's text; empty when it does not exist.
    QString settingsText() const;
    bool settingsExist() const;

private:
    QTemporaryDir m_folder;
};
