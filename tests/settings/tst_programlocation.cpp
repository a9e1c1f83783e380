#include "ProgramLocation.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTest>

class TestProgramLocation : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void isTheRunningProgram();
    void overridesStandInAndRestore();
    void mountPoints_data();
    void mountPoints();
    void driveRootIsTheMountPointOfTheProgramFolder();
};

void TestProgramLocation::cleanup() {
    ProgramLocation::overrideDirectory({});
    ProgramLocation::overrideBaseName({});
}

void TestProgramLocation::isTheRunningProgram() {
    const QFileInfo program(QCoreApplication::applicationFilePath());
    QCOMPARE(QString::fromStdString(ProgramLocation::directory()), program.absolutePath());
    QCOMPARE(QString::fromStdString(ProgramLocation::baseName()), QStringLiteral("tst_programlocation"));
}

void TestProgramLocation::overridesStandInAndRestore() {
    ProgramLocation::overrideDirectory("/opt/kavrel");
    ProgramLocation::overrideBaseName("kavrel");
    QCOMPARE(ProgramLocation::directory(), std::string("/opt/kavrel"));
    QCOMPARE(ProgramLocation::baseName(), std::string("kavrel"));
    ProgramLocation::overrideDirectory({});
    ProgramLocation::overrideBaseName({});
    QCOMPARE(QString::fromStdString(ProgramLocation::directory()), QCoreApplication::applicationDirPath());
    QCOMPARE(ProgramLocation::baseName(), std::string("tst_programlocation"));
}

void TestProgramLocation::mountPoints_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("mountPoint");
    QTest::newRow("root") << "/"
                          << "/";
    QTest::newRow("proc itself") << "/proc"
                                 << "/proc";
    QTest::newRow("inside proc") << "/proc/self/status"
                                 << "/proc";
    QTest::newRow("name that only starts like a mount point") << "/procx/file"
                                                              << "/";
}

void TestProgramLocation::mountPoints() {
    QFETCH(QString, path);
    QFETCH(QString, mountPoint);
    QCOMPARE(QString::fromStdString(ProgramLocation::mountPointOf(path.toStdString())), mountPoint);
}

void TestProgramLocation::driveRootIsTheMountPointOfTheProgramFolder() {
    ProgramLocation::overrideDirectory("/proc/self");
    QCOMPARE(ProgramLocation::driveRoot(), std::string("/proc"));
    ProgramLocation::overrideDirectory({});
    const std::string root = ProgramLocation::driveRoot();
    const std::string folder = ProgramLocation::directory();
    QVERIFY(root == "/" || folder.compare(0, root.size(), root) == 0);
}

QTEST_GUILESS_MAIN(TestProgramLocation)
#include "tst_programlocation.moc"
