#pragma once

#include "MountTable.h"

#include <QComboBox>
#include <QString>

// The drive list: the mounted file systems a user can browse, "/" first. The current drive is the mount
// point of the selected entry. The entries are read again whenever a drive is set or the list is
// opened, so that a medium mounted while the program runs shows up.
class DriveListBox : public QComboBox {
    Q_OBJECT
public:
    explicit DriveListBox(QWidget* parent = nullptr);

    // Reads the mount table from another file of the kernel's mountinfo shape (tests).
    void setMountInfoPath(const QString& path);

    // Reads the entries again, keeping the selected drive.
    void refresh();

    // The mount point of the selected entry.
    QString drive() const;

    // Selects the drive that holds path (only its mount point matters); driveChanged follows when the
    // selection changes.
    void setDrive(const QString& path);

    // Selects the drive that holds path without announcing it: used to keep the list in step with the
    // folder list, and to go back to the previous drive when a chosen one cannot be read.
    void showDriveQuietly(const QString& path);

    void showPopup() override;

signals:
    void driveChanged();

private:
    static QString mountPointOf(const QString& path);
    // The row of mountPoint, added at the end when the table did not list it (a kernel area, or a
    // file system mounted after the last reading).
    int rowOfMountPoint(const QString& mountPoint);

    MountTable table_;
};
