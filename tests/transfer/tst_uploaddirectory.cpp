#include "TransferSession.h"
#include "TransferWorld.h"
#include "TreeSnapshot.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <stdexcept>

// One local folder into one server directory, file by file.
class TestUploadDirectory : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(world.start()); }
    void cleanupTestCase() { world.stop(); }
    void init();
    void cleanup() { world.end(); }

    void uploadsEveryFile();
    void emptyFolderSelectsBothSides();
    void failingSecondFileStopsTheFolder();
    void abortDuringSecondFile();
    void abortBeforeTheFirstFile();
    void neverSendsTransferTemporaries();
    void unselectableServerDirectory();
    void runTimeErrorInTheLoopIsTrapped();

private:
    void threeFiles();
    QStringList storCommands() const;

    TransferWorld world;
    QString folder;
};

void TestUploadDirectory::init() {
    QVERIFY(world.begin());
    folder = world.localPath("backup/DTA");
}

void TestUploadDirectory::threeFiles() {
    QVERIFY(TreeSnapshot::write(folder + "/a.dat", "alpha"));
    QVERIFY(TreeSnapshot::write(folder + "/b.dat", QByteArray(200000, 'b')));
    QVERIFY(TreeSnapshot::write(folder + "/c.dat", QByteArray()));
    QVERIFY(TreeSnapshot::write(folder + "/sub/deeper.dat", "not sent"));
}

QStringList TestUploadDirectory::storCommands() const {
    return world.server.commands().filter(QRegularExpression("^STOR "));
}

void TestUploadDirectory::uploadsEveryFile() {
    threeFiles();
    TransferSession session(world.host);

    QVERIFY(session.UploadDirectory("C:\\DTA", folder.toStdString()) >= 0);

    auto expected = TreeSnapshot::filesIn(folder);
    QCOMPARE(TreeSnapshot::take(world.serverPath("DTA")), expected);
    QCOMPARE(world.host.lines(),
             (QStringList{"Setting local directory to " + folder, "Setting server directory to C:\\DTA",
                          "Uploading 3 files...", "...Done."}));
    QCOMPARE(world.host.progressMax, 3.0);
    QCOMPARE(world.host.progressValues, (std::vector<double>{0.0, 1.0, 2.0, 3.0}));
    QCOMPARE(storCommands(), (QStringList{"STOR a.dat", "STOR b.dat", "STOR c.dat"}));
}

void TestUploadDirectory::emptyFolderSelectsBothSides() {
    world.host.progressValue = 5.0;
    TransferSession session(world.host);
    QCOMPARE(session.UploadDirectory("C:\\PMT\\A", folder.toStdString()), 0);
    QVERIFY(QFileInfo(folder).isDir());
    QVERIFY(QFileInfo(world.serverPath("PMT/A")).isDir());
    QCOMPARE(world.host.lines().size(), 2);
    QCOMPARE(world.host.progressValue, 5.0);
}

void TestUploadDirectory::failingSecondFileStopsTheFolder() {
    threeFiles();
    world.server.setFaults(QJsonObject{
        {"transfer_error", QJsonObject{{"command", "STOR"}, {"name", "b.dat"}, {"text", "Quota."}}}});
    TransferSession session(world.host);

    QVERIFY(session.UploadDirectory("C:\\DTA", folder.toStdString()) < 0);

    QCOMPARE(storCommands(), (QStringList{"STOR a.dat", "STOR b.dat"}));
    const QStringList lines = world.host.lines();
    QCOMPARE(lines.size(), 5);
    QVERIFY2(lines[3].contains("Quota."), qPrintable(lines.join('\n')));
    QCOMPARE(lines[4], QStringLiteral("...Done."));
    QCOMPARE(world.host.progressValue, 1.0);
    QVERIFY(!QFileInfo::exists(world.serverPath("DTA/c.dat")));
}

void TestUploadDirectory::abortDuringSecondFile() {
    threeFiles();
    world.host.onYield = [](RecordingHost& host) {
        if (host.progressValue == 2.0)
            host.abortRequested = true;
    };
    TransferSession session(world.host);
    QVERIFY(session.UploadDirectory("C:\\DTA", folder.toStdString()) >= 0);
    QCOMPARE(storCommands(), (QStringList{"STOR a.dat", "STOR b.dat"}));
    QCOMPARE(world.host.lines().last(), QStringLiteral("...Done."));
}

// Abort taken in at the yield of SetServerDirectory: no file goes, yet both lines around the loop are
// written.
void TestUploadDirectory::abortBeforeTheFirstFile() {
    threeFiles();
    world.host.onYield = [](RecordingHost& host) { host.abortRequested = true; };
    TransferSession session(world.host);
    QCOMPARE(session.UploadDirectory("C:\\DTA", folder.toStdString()), 0);
    QCOMPARE(storCommands(), QStringList{});
    QCOMPARE(world.host.lines().mid(2), (QStringList{"Uploading 3 files...", "...Done."}));
}

void TestUploadDirectory::neverSendsTransferTemporaries() {
    QVERIFY(TreeSnapshot::write(folder + "/a.dat", "alpha"));
    QVERIFY(TreeSnapshot::write(folder + "/.b.dat.kavrel-part", "a partial file of a crashed backup"));
    QVERIFY(TreeSnapshot::write(folder + "/.kavrel-staging/c.dat", "staged, never committed"));
    TransferSession session(world.host);
    QVERIFY(session.UploadDirectory("C:\\DTA", folder.toStdString()) >= 0);
    QCOMPARE(storCommands(), QStringList{"STOR a.dat"});
    QVERIFY(world.host.lines().contains("Uploading 1 files..."));
}

void TestUploadDirectory::unselectableServerDirectory() {
    threeFiles();
    world.server.setFaults(
        QJsonObject{{"fail", QJsonObject{{"command", "MKD"}, {"text", "No new folders."}}}});
    TransferSession session(world.host);
    QVERIFY(session.UploadDirectory("C:\\DTA", folder.toStdString()) < 0);
    const QStringList lines = world.host.lines();
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines[2].contains("No new folders."), qPrintable(lines[2]));
    QCOMPARE(storCommands(), QStringList{});
}

// A run-time error after the first file (raised at its yield) ends the folder through the handler: two
// lines and no "...Done.", the result -1 and the bar back at 0; the remaining files are not sent.
void TestUploadDirectory::runTimeErrorInTheLoopIsTrapped() {
    threeFiles();
    world.host.onYield = [](RecordingHost& host) {
        if (host.progressValue == 1.0)
            throw std::runtime_error("the window went away");
    };
    TransferSession session(world.host);
    QCOMPARE(session.UploadDirectory("C:\\DTA", folder.toStdString()), -1);
    QCOMPARE(storCommands(), QStringList{"STOR a.dat"});
    QCOMPARE(world.host.lines().mid(2),
             (QStringList{"Uploading 3 files...", "Internal error in Kavrel.UploadDirectory()",
                          "     5 - the window went away"}));
    QCOMPARE(world.host.progressValue, 0.0);
}

QTEST_GUILESS_MAIN(TestUploadDirectory)
#include "tst_uploaddirectory.moc"
