#include "DriveListBox.h"

#include "ProgramLocation.h"

#include <QFile>
#include <QSignalBlocker>

DriveListBox::DriveListBox(QWidget* parent) : QComboBox(parent) {
    setInsertPolicy(QComboBox::NoInsert);
    connect(this, &QComboBox::currentIndexChanged, this, &DriveListBox::driveChanged);
    refresh();
}

void DriveListBox::setMountInfoPath(const QString& path) {
    table_ = MountTable(QFile::encodeName(path).toStdString());
    refresh();
}

void DriveListBox::refresh() {
    const QString selected = drive();
    const QSignalBlocker quiet(this);
    clear();
    for (const std::string& mountPoint : table_.browsableMountPoints()) {
        const QString name = QFile::decodeName(mountPoint.c_str());
        addItem(name, name);
    }
    if (!selected.isEmpty())
        setCurrentIndex(rowOfMountPoint(selected));
}

QString DriveListBox::drive() const {
    return currentData().toString();
}

void DriveListBox::setDrive(const QString& path) {
    refresh();
    setCurrentIndex(rowOfMountPoint(mountPointOf(path)));
}

void DriveListBox::showDriveQuietly(const QString& path) {
    const QSignalBlocker quiet(this);
    setCurrentIndex(rowOfMountPoint(mountPointOf(path)));
}

void DriveListBox::showPopup() {
    refresh();
    QComboBox::showPopup();
}

QString DriveListBox::mountPointOf(const QString& path) {
    return QFile::decodeName(ProgramLocation::mountPointOf(QFile::encodeName(path).toStdString()).c_str());
}

int DriveListBox::rowOfMountPoint(const QString& mountPoint) {
    const int row = findData(mountPoint);
    if (row >= 0)
        return row;
    const QSignalBlocker quiet(this);
    addItem(mountPoint, mountPoint);
    return count() - 1;
}
