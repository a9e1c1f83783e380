#include "TransferSession.h"
#include "TransferWorld.h"
#include "TreeSnapshot.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <stdexcept>

// Selecting and creating the local folder and the server directory a transfer works in.
class TestWorkingDirectories : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(world.start()); }
    void cleanupTestCase() { world.stop(); }
    void init() { QVERIFY(world.begin()); }
    void cleanup() { world.end(); }

    void relativeLocalPathIsLoggedAndCreatedAbsolute();
    void existingLocalFolderIsOnlySelected();
    void localFolderBlockedByAFileIsAnInternalError();
    void serverPath_data();
    void serverPath();
    void existingServerLevelsAreOnlySelected();
    void doubledSeparatorMakesOneFinalComponent();
    void uncreatableServerDirectoryIsReturnedUnreported();
    void unselectableRootIsReported();
    void runTimeErrorInServerDirectoryIsTrapped();

private:
    int commandCount(const QString& verb) const;

    TransferWorld world;
};

int TestWorkingDirectories::commandCount(const QString& verb) const {
    int count = 0;
    for (const QString& command : world.server.commands())
        count += command.startsWith(verb + QLatin1Char(' ')) ? 1 : 0;
    return count;
}

void TestWorkingDirectories::relativeLocalPathIsLoggedAndCreatedAbsolute() {
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(world.localPath({})));
    TransferSession session(world.host);
    const std::string relative = "one/two";
    const int32_t code = session.SetLocalDirectory(relative);
    const QString absolute = QDir::currentPath() + "/one/two";
    QDir::setCurrent(previous);

    QVERIFY2(code >= 0, qPrintable(world.host.lines().join('\n')));
    QCOMPARE(world.host.lines(), QStringList{"Setting local directory to " + absolute});
    QVERIFY(QFileInfo(absolute).isDir());
    QCOMPARE(relative, std::string("one/two"));
}

void TestWorkingDirectories::existingLocalFolderIsOnlySelected() {
    QVERIFY(TreeSnapshot::write(world.localPath("DTA/keep.wav"), "kept"));
    const auto before = TreeSnapshot::take(world.localPath({}));
    TransferSession session(world.host);
    QVERIFY(session.SetLocalDirectory(world.localStd("DTA/")) >= 0);
    QCOMPARE(world.host.lines(), QStringList{"Setting local directory to " + world.localPath("DTA")});
    QCOMPARE(TreeSnapshot::take(world.localPath({})), before);
}

void TestWorkingDirectories::localFolderBlockedByAFileIsAnInternalError() {
    QVERIFY(TreeSnapshot::write(world.localPath("taken"), "a file, not a folder"));
    TransferSession session(world.host);
    QCOMPARE(session.SetLocalDirectory(world.localStd("taken/DTA")), -1);
    const QStringList lines = world.host.lines();
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], "Setting local directory to " + world.localPath("taken/DTA"));
    QCOMPARE(lines[1], QStringLiteral("Internal error in Kavrel.SetLocalDirectory()"));
    QVERIFY2(lines[2].startsWith(QStringLiteral("     17 - ")), qPrintable(lines[2]));
    QVERIFY(lines[2].contains(world.localPath("taken")));
}

void TestWorkingDirectories::serverPath_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("created");
    QTest::addColumn<QString>("current");

    QTest::newRow("drive and folder") << "C:\\DTA" << QStringList{"DTA"} << "DTA";
    QTest::newRow("bare name") << "DTA" << QStringList{"DTA"} << "DTA";
    QTest::newRow("leading separator") << "\\DTA" << QStringList{"DTA"} << "DTA";
    QTest::newRow("two levels") << "C:\\PMT\\A" << QStringList{"PMT", "PMT/A"} << "PMT/A";
    QTest::newRow("trailing separator") << "C:\\MSG\\" << QStringList{"MSG"} << "MSG";
    QTest::newRow("other drive letter") << "D:\\MBX" << QStringList{"MBX"} << "MBX";
    QTest::newRow("empty") << "" << QStringList{} << "";
    QTest::newRow("drive alone") << "C:" << QStringList{} << "";
    QTest::newRow("drive root") << "C:\\" << QStringList{} << "";
}

// After success the engine stands in the full path: a file put there is what the next listing sees.
void TestWorkingDirectories::serverPath() {
    QFETCH(QString, path);
    QFETCH(QStringList, created);
    QFETCH(QString, current);

    TransferSession session(world.host);
    QCOMPARE(session.SetServerDirectory(path.toStdString()), 0);
    QCOMPARE(world.host.lines(), QStringList{"Setting server directory to " + path});
    for (const QString& folder : created)
        QVERIFY2(QFileInfo(world.serverPath(folder)).isDir(), qPrintable(folder));
    QCOMPARE(commandCount("MKD"), created.size());

    QVERIFY(TreeSnapshot::write(world.serverPath(current + "/marker.wav"), "here"));
    QCOMPARE(session.GetServerFileList(), 1);
    QCOMPARE(QString::fromStdString(session.serverList().Item(1).Text()), QStringLiteral("marker.wav"));
}

void TestWorkingDirectories::existingServerLevelsAreOnlySelected() {
    QVERIFY(QDir().mkpath(world.serverPath("PMT")));
    TransferSession session(world.host);
    QCOMPARE(session.SetServerDirectory("C:\\PMT\\A"), 0);
    QCOMPARE(world.server.commands().filter(QRegularExpression("^MKD ")), QStringList{"MKD A"});
    QVERIFY(QFileInfo(world.serverPath("PMT/A")).isDir());
}

// "C:\A\\B": after "A" the rest, "\B", is one component, which no server directory can be named.
void TestWorkingDirectories::doubledSeparatorMakesOneFinalComponent() {
    TransferSession session(world.host);
    QVERIFY(session.SetServerDirectory("C:\\A\\\\B") < 0);
    QVERIFY(QFileInfo(world.serverPath("A")).isDir());
    QCOMPARE(QDir(world.serverPath("A")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{});
    QCOMPARE(world.host.lines(), QStringList{"Setting server directory to C:\\A\\\\B"});
}

void TestWorkingDirectories::uncreatableServerDirectoryIsReturnedUnreported() {
    world.server.setFaults(QJsonObject{{"fail", QJsonObject{{"command", "MKD"}}}});
    TransferSession session(world.host);
    QVERIFY(session.SetServerDirectory("C:\\DTA") < 0);
    QCOMPARE(world.host.lines(), QStringList{"Setting server directory to C:\\DTA"});
    QVERIFY(!QFileInfo::exists(world.serverPath("DTA")));
}

void TestWorkingDirectories::unselectableRootIsReported() {
    world.server.setFaults(
        QJsonObject{{"fail", QJsonObject{{"command", "CWD"}, {"arg", "/"}, {"text", "No root for you."}}}});
    TransferSession session(world.host);
    QVERIFY(session.SetServerDirectory("C:\\DTA") < 0);
    const QStringList lines = world.host.lines();
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[1].contains(QStringLiteral("No root for you.")), qPrintable(lines[1]));
    QCOMPARE(world.server.commands().filter(QRegularExpression("^(MKD|CWD DTA)")), QStringList{});
}

// A run-time error raised while the server directory is selected (here at its yield) stays inside it:
// two lines, -1, and no level is selected or created after it.
void TestWorkingDirectories::runTimeErrorInServerDirectoryIsTrapped() {
    world.host.onYield = [](RecordingHost&) { throw std::runtime_error("the window went away"); };
    TransferSession session(world.host);
    QCOMPARE(session.SetServerDirectory("C:\\DTA"), -1);
    QCOMPARE(world.host.lines(),
             (QStringList{"Setting server directory to C:\\DTA",
                          "Internal error in Kavrel.SetServerDirectory()", "     5 - the window went away"}));
    QCOMPARE(world.server.commands().filter(QRegularExpression("^(MKD|CWD)")), QStringList{});
    QVERIFY(!QFileInfo::exists(world.serverPath("DTA")));
}

QTEST_GUILESS_MAIN(TestWorkingDirectories)
#include "tst_workingdirectories.moc"
