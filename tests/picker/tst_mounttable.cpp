#include "MountTable.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <sstream>

class TestMountTable : public QObject {
    Q_OBJECT
private slots:
    void parseReadsMountPointAndType_data();
    void parseReadsMountPointAndType();
    void pseudoFileSystems_data();
    void pseudoFileSystems();
    void kernelAreas_data();
    void kernelAreas();
    void browsableListStartsWithRootAndSkipsWhatCannotHoldBackups();
    void rootComesFirstEvenWhenTheTableLacksIt();
    void unreadableTableStillOffersRoot();
    void realTableOffersRootFirstAndNoKernelFileSystems();
};

void TestMountTable::parseReadsMountPointAndType_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("entries");
    QTest::addColumn<QString>("mountPoint");
    QTest::addColumn<QString>("type");

    QTest::newRow("plain") << "26 1 254:0 / / rw,relatime - ext4 /dev/vda rw" << 1 << "/"
                           << "ext4";
    QTest::newRow("optional fields")
        << "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 shared:7 - ext3 /dev/root rw" << 1 << "/mnt2"
        << "ext3";
    QTest::newRow("escaped blank") << "40 26 8:17 / /media/USB\\040STICK rw - vfat /dev/sdb1 rw" << 1
                                   << "/media/USB STICK"
                                   << "vfat";
    QTest::newRow("escaped backslash")
        << "41 26 8:18 / /media/a\\134b rw - vfat /dev/sdb2 rw" << 1 << "/media/a\\b"
        << "vfat";
    QTest::newRow("backslash not octal")
        << "42 26 8:19 / /media/a\\9xy rw - vfat /dev/sdb3 rw" << 1 << "/media/a\\9xy"
        << "vfat";
    QTest::newRow("backslash at end") << "43 26 8:20 / /media/a\\ rw - vfat /dev/sdb4 rw" << 1 << "/media/a\\"
                                      << "vfat";
    QTest::newRow("no separator") << "26 1 254:0 / / rw,relatime ext4 /dev/vda rw" << 0 << ""
                                  << "";
    QTest::newRow("separator too early") << "26 1 254:0 / - ext4 /dev/vda rw" << 0 << ""
                                         << "";
    QTest::newRow("nothing after separator") << "26 1 254:0 / / rw -" << 0 << ""
                                             << "";
    QTest::newRow("empty") << "" << 0 << ""
                           << "";
}

void TestMountTable::parseReadsMountPointAndType() {
    QFETCH(QString, line);
    QFETCH(int, entries);
    QFETCH(QString, mountPoint);
    QFETCH(QString, type);
    std::istringstream input(line.toStdString() + "\n");
    const auto parsed = MountTable::parse(input);
    QCOMPARE(static_cast<int>(parsed.size()), entries);
    if (entries == 1) {
        QCOMPARE(QString::fromStdString(parsed[0].mountPoint), mountPoint);
        QCOMPARE(QString::fromStdString(parsed[0].fileSystemType), type);
    }
}

void TestMountTable::pseudoFileSystems_data() {
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("pseudo");
    for (const char* type :
         {"proc", "sysfs", "cgroup", "cgroup2", "devpts", "mqueue", "debugfs", "tracefs", "securityfs",
          "pstore", "bpf", "configfs", "fusectl", "autofs", "binfmt_misc", "hugetlbfs", "devtmpfs", "nsfs"})
        QTest::newRow(type) << type << true;
    for (const char* type :
         {"ext4", "xfs", "btrfs", "vfat", "exfat", "nfs4", "cifs", "tmpfs", "overlay", "fuse.sshfs"})
        QTest::newRow(type) << type << false;
}

void TestMountTable::pseudoFileSystems() {
    QFETCH(QString, type);
    QFETCH(bool, pseudo);
    QCOMPARE(MountTable::isPseudoFileSystem(type.toStdString()), pseudo);
}

void TestMountTable::kernelAreas_data() {
    QTest::addColumn<QString>("mountPoint");
    QTest::addColumn<bool>("kernel");
    QTest::newRow("/proc") << "/proc" << true;
    QTest::newRow("/dev/shm") << "/dev/shm" << true;
    QTest::newRow("/sys/fs/cgroup") << "/sys/fs/cgroup" << true;
    QTest::newRow("/device") << "/device" << false;
    QTest::newRow("/system") << "/system" << false;
    QTest::newRow("/") << "/" << false;
    QTest::newRow("/home") << "/home" << false;
}

void TestMountTable::kernelAreas() {
    QFETCH(QString, mountPoint);
    QFETCH(bool, kernel);
    QCOMPARE(MountTable::isKernelArea(mountPoint.toStdString()), kernel);
}

namespace {

void writeFile(const QString& path, const QByteArray& text) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

QStringList toStrings(const std::vector<std::string>& list) {
    QStringList out;
    for (const auto& item : list)
        out << QString::fromStdString(item);
    return out;
}

} // namespace

void TestMountTable::browsableListStartsWithRootAndSkipsWhatCannotHoldBackups() {
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString root = temp.path();
    QVERIFY(QDir(root).mkpath("zeta"));
    QVERIFY(QDir(root).mkpath("alpha data"));
    QVERIFY(QDir(root).mkpath("cgroups"));
    writeFile(root + "/resolv.conf", "nameserver 127.0.0.1\n");
    const QByteArray zeta = QFile::encodeName(root + "/zeta");
    const QByteArray alpha = QFile::encodeName(root + "/alpha\\040data");
    const QByteArray table = "30 1 0:5 / /proc rw - proc proc rw\n"
                             "31 1 0:6 / /sys rw - sysfs sysfs rw\n"
                             "32 1 0:7 / /dev/shm rw - tmpfs tmpfs rw\n"
                             "33 1 8:1 / " +
                             zeta +
                             " rw - ext4 /dev/sda1 rw\n"
                             "34 1 0:8 / " +
                             QFile::encodeName(root) +
                             "/cgroups rw - cgroup2 cgroup2 rw\n"
                             "35 1 8:1 /etc/resolv.conf " +
                             QFile::encodeName(root) +
                             "/resolv.conf rw - ext4 /dev/sda1 rw\n"
                             "36 1 8:2 / " +
                             QFile::encodeName(root) +
                             "/gone rw - ext4 /dev/sda2 rw\n"
                             "37 1 8:3 / " +
                             alpha +
                             " rw - vfat /dev/sdb1 rw\n"
                             "38 1 8:1 / " +
                             zeta +
                             " rw - ext4 /dev/sda1 rw\n"
                             "26 1 254:0 / / rw - ext4 /dev/vda rw\n";
    writeFile(root + "/mountinfo", table);

    const MountTable mounts((root + "/mountinfo").toStdString());
    QCOMPARE(toStrings(mounts.browsableMountPoints()),
             QStringList({"/", root + "/alpha data", root + "/zeta"}));
}

void TestMountTable::rootComesFirstEvenWhenTheTableLacksIt() {
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    writeFile(temp.path() + "/mountinfo",
              "33 1 8:1 / " + QFile::encodeName(temp.path()) + " rw - ext4 /dev/sda1 rw\n");
    const MountTable mounts((temp.path() + "/mountinfo").toStdString());
    QCOMPARE(toStrings(mounts.browsableMountPoints()), QStringList({"/", temp.path()}));
}

void TestMountTable::unreadableTableStillOffersRoot() {
    const MountTable mounts("/nonexistent/mountinfo");
    QCOMPARE(toStrings(mounts.browsableMountPoints()), QStringList({"/"}));
}

void TestMountTable::realTableOffersRootFirstAndNoKernelFileSystems() {
    const QStringList drives = toStrings(MountTable().browsableMountPoints());
    QVERIFY(!drives.isEmpty());
    QCOMPARE(drives.first(), QString("/"));
    QCOMPARE(drives.count("/"), 1);
    for (const QString& drive : drives) {
        QVERIFY2(!drive.startsWith("/proc") && !drive.startsWith("/sys") && !drive.startsWith("/dev"),
                 qPrintable(drive));
        QVERIFY2(QFileInfo(drive).isDir(), qPrintable(drive));
    }
}

QTEST_GUILESS_MAIN(TestMountTable)
#include "tst_mounttable.moc"
