#include "DoSelectDir.h"

#include "PickerMessages.h"
#include "ProgramLocation.h"
#include "frmDirPicker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <exception>

namespace {

// The one dialog of the run. A QPointer, because the owner window deletes its children when it goes.
QPointer<frmDirPicker>& thePicker() {
    static QPointer<frmDirPicker> picker;
    return picker;
}

QString programFolder() {
    return QFile::decodeName(ProgramLocation::directory().c_str());
}

// Only blanks: a tab is a character a folder name may hold, as the transfers take it.
QString withoutBlanks(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first] == QLatin1Char(' '))
        ++first;
    while (last > first && text[last - 1] == QLatin1Char(' '))
        --last;
    return text.mid(first, last - first);
}

// The folder named by text in absolute form, or the program's folder when text names no folder.
// Surrounding blanks are ignored, as the transfers ignore them when they use the same text.
QString startFolderFor(const QString& text) {
    const QString trimmed = withoutBlanks(text);
    if (!trimmed.isEmpty() && QFileInfo(trimmed).isDir())
        return QDir::cleanPath(QFileInfo(trimmed).absoluteFilePath());
    return programFolder();
}

void reportFailure(QWidget* owner, const QString& reason) {
    PickerMessages::showError(owner, QStringLiteral("Error"),
                              QStringLiteral("Unable to select local directory: ") + reason);
}

int32_t loadPicker(QString& reason) {
    if (!thePicker().isNull())
        return 0;
    thePicker() = new frmDirPicker();
    return thePicker()->Form_Load(reason);
}

// Steps up to the modal wait; a negative result carries the reason in reason.
int32_t selectDir(QWidget* frmParent, QString& ResultString, QString& reason) {
    const QString start = startFolderFor(ResultString);
    if (loadPicker(reason) < 0)
        return -1;
    if (thePicker()->ShowStartFolder(start, reason) < 0) {
        // A folder that exists but cannot be listed is treated like a missing one.
        if (start == programFolder() || thePicker()->ShowStartFolder(programFolder(), reason) < 0)
            return -1;
    }
    thePicker()->ShowModalOver(frmParent);
    if (thePicker().isNull() || thePicker()->DialogResult != DirPickerChosen)
        return DirPickerCancelled;
    ResultString = thePicker()->PathText();
    return DirPickerChosen;
}

} // namespace

int32_t DoSelectDir(QWidget* frmParent, QString& ResultString) {
    QString reason;
    int32_t outcome = -1;
    try {
        outcome = selectDir(frmParent, ResultString, reason);
    } catch (const std::exception& error) {
        reason = QString::fromLocal8Bit(error.what());
        outcome = -1;
    }
    if (outcome < 0) {
        reportFailure(frmParent, reason);
        return DirPickerCancelled;
    }
    return outcome;
}

void DestroyDirPicker() {
    delete thePicker().data();
    thePicker() = nullptr;
}

frmDirPicker* ExistingDirPicker() {
    return thePicker().data();
}
