#include "DriveListBox.h"
#include "ProgramLocation.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// The drive list on its own: its entries and when it announces a change of drive.
class TestDriveListBox : public QObject {
    Q_OBJECT
private slots:
    void realDrivesStartWithRootAndLeaveOutKernelAreas();
    void fakeTableGivesTheEntries();
    void setDriveSelectsTheMountPointOfAPath();
    void setDriveAnnouncesOnlyARealChange();
    void quietSelectionAnnouncesNothing();
    void aDriveMissingFromTheListIsAdded();
    void refreshKeepsTheSelectedDrive();

private:
    QStringList entries(const DriveListBox& drives) const;
    QString fakeTable(QTemporaryDir& temp, const QStringList& mountPoints) const;
};

QStringList TestDriveListBox::entries(const DriveListBox& drives) const {
    QStringList list;
    for (int row = 0; row < drives.count(); ++row) {
        list << drives.itemData(row).toString();
        if (drives.itemText(row) != drives.itemData(row).toString())
            list << "text differs: " + drives.itemText(row);
    }
    return list;
}

QString TestDriveListBox::fakeTable(QTemporaryDir& temp, const QStringList& mountPoints) const {
    QByteArray table;
    int id = 100;
    for (const QString& mountPoint : mountPoints)
        table += QByteArray::number(id++) + " 1 8:1 / " + QFile::encodeName(mountPoint) +
                 " rw - ext4 /dev/sda1 rw\n";
    const QString path = temp.path() + "/mountinfo";
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(table);
    return path;
}

void TestDriveListBox::realDrivesStartWithRootAndLeaveOutKernelAreas() {
    DriveListBox drives;
    const QStringList list = entries(drives);
    QVERIFY(!list.isEmpty());
    QCOMPARE(list.first(), QString("/"));
    QVERIFY(!list.contains("/proc"));
    QVERIFY(!list.contains("/sys"));
    QVERIFY(!list.contains("/dev/pts"));
    QCOMPARE(drives.drive(), QString("/"));
}

void TestDriveListBox::fakeTableGivesTheEntries() {
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    QVERIFY(QDir(temp.path()).mkpath("usb"));
    DriveListBox drives;
    drives.setMountInfoPath(fakeTable(temp, {"/proc", temp.path() + "/usb", "/"}));
    QCOMPARE(entries(drives), QStringList({"/", temp.path() + "/usb"}));
}

void TestDriveListBox::setDriveSelectsTheMountPointOfAPath() {
    DriveListBox drives;
    const QString folder = QDir::tempPath();
    const QString mountPoint = QString::fromStdString(ProgramLocation::mountPointOf(folder.toStdString()));
    drives.setDrive(folder);
    QCOMPARE(drives.drive(), mountPoint);
    drives.setDrive("/");
    QCOMPARE(drives.drive(), QString("/"));
}

void TestDriveListBox::setDriveAnnouncesOnlyARealChange() {
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    DriveListBox drives;
    // /proc is not offered but is a mount point of its own, so that it is a second drive on any machine.
    QSignalSpy changed(&drives, &DriveListBox::driveChanged);
    drives.setDrive("/");
    QCOMPARE(changed.count(), 0);
    drives.setDrive("/proc/self");
    QCOMPARE(changed.count(), 1);
    QCOMPARE(drives.drive(), QString("/proc"));
    drives.setDrive("/proc");
    QCOMPARE(changed.count(), 1);
    drives.setCurrentIndex(0); // as the user picks "/"
    QCOMPARE(changed.count(), 2);
    QCOMPARE(drives.drive(), QString("/"));
}

void TestDriveListBox::quietSelectionAnnouncesNothing() {
    DriveListBox drives;
    QSignalSpy changed(&drives, &DriveListBox::driveChanged);
    drives.showDriveQuietly("/proc/self");
    QCOMPARE(drives.drive(), QString("/proc"));
    drives.showDriveQuietly("/");
    QCOMPARE(drives.drive(), QString("/"));
    QCOMPARE(changed.count(), 0);
}

void TestDriveListBox::aDriveMissingFromTheListIsAdded() {
    DriveListBox drives;
    const int before = drives.count();
    drives.showDriveQuietly("/proc/1");
    QCOMPARE(drives.count(), before + 1);
    QCOMPARE(drives.itemData(drives.count() - 1).toString(), QString("/proc"));
    drives.showDriveQuietly("/proc/self");
    QCOMPARE(drives.count(), before + 1);
}

void TestDriveListBox::refreshKeepsTheSelectedDrive() {
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    QVERIFY(QDir(temp.path()).mkpath("b"));
    QVERIFY(QDir(temp.path()).mkpath("a"));
    DriveListBox drives;
    drives.setMountInfoPath(fakeTable(temp, {"/", temp.path() + "/b"}));
    drives.setCurrentIndex(1);
    QSignalSpy changed(&drives, &DriveListBox::driveChanged);
    // A file system mounted meanwhile sorts in before the selected one.
    fakeTable(temp, {"/", temp.path() + "/b", temp.path() + "/a"});
    drives.refresh();
    QCOMPARE(entries(drives), QStringList({"/", temp.path() + "/a", temp.path() + "/b"}));
    QCOMPARE(drives.drive(), temp.path() + "/b");
    QCOMPARE(changed.count(), 0);
}

QTEST_MAIN(TestDriveListBox)
#include "tst_drivelistbox.moc"
