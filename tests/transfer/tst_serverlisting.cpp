#include "EngineLink.h"
#include "FtpEngine.h"
#include "TransferSession.h"
#include "TransferWorld.h"
#include "TreeSnapshot.h"

#include <QDir>
#include <QJsonArray>
#include <QTest>

// The names of the current server directory into ServerList: subdirectories or files, in listing order.
class TestServerListing : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(world.start()); }
    void cleanupTestCase() { world.stop(); }
    void init() { QVERIFY(world.begin()); }
    void cleanup() { world.end(); }

    void directoriesAndFiles_data();
    void directoriesAndFiles();
    void blanksStayPartOfTheName();
    void emptyDirectory();
    void failedListingKeepsThePreviousNames();
    void listingLargerThanTheOldBufferIsComplete();

private:
    QStringList names(TransferSession& session) const;

    TransferWorld world;
};

QStringList TestServerListing::names(TransferSession& session) const {
    QStringList result;
    for (int32_t position = 1; position <= session.serverList().Count(); ++position)
        result << QString::fromStdString(session.serverList().Item(position).Text());
    return result;
}

void TestServerListing::directoriesAndFiles_data() {
    QTest::addColumn<FtpServerFixture::ListingMode>("mode");
    QTest::newRow("MLSD") << FtpServerFixture::ListingMode::Mlsd;
    QTest::newRow("Unix LIST") << FtpServerFixture::ListingMode::UnixList;
    QTest::newRow("DOS LIST") << FtpServerFixture::ListingMode::DosList;
}

void TestServerListing::directoriesAndFiles() {
    QFETCH(FtpServerFixture::ListingMode, mode);
    FtpServerFixture server;
    QVERIFY(server.start(mode));
    QVERIFY(QDir().mkpath(server.root() + "/a"));
    QVERIFY(QDir().mkpath(server.root() + "/c"));
    QVERIFY(TreeSnapshot::write(server.root() + "/b.wav", "bee"));
    EngineLink::close();
    QCOMPARE(EngineLink::connect(server.address()), 0);
    QCOMPARE(fceSetServerDir(0, "\\"), 0);

    TransferSession session(world.host);
    QCOMPARE(session.GetServerDirList(), 2);
    QCOMPARE(names(session), (QStringList{"a", "c"}));
    QCOMPARE(world.host.yields, 0);
    QCOMPARE(session.GetServerFileList(), 1);
    QCOMPARE(names(session), QStringList{"b.wav"});
    QCOMPARE(world.host.yields, 1);
    QCOMPARE(world.host.lines(),
             (QStringList{"Retrieving server subdirectory names...", "...2 names retrieved.",
                          "Retrieving server file names...", "...1 names retrieved."}));
    EngineLink::close();
}

void TestServerListing::blanksStayPartOfTheName() {
    QVERIFY(QDir().mkpath(world.serverPath(" my dir ")));
    QVERIFY(TreeSnapshot::write(world.serverPath(" spaced .wav"), "x"));
    QCOMPARE(fceSetServerDir(0, "\\"), 0);
    TransferSession session(world.host);
    QCOMPARE(session.GetServerDirList(), 1);
    QCOMPARE(names(session), QStringList{" my dir "});
    QCOMPARE(session.GetServerFileList(), 1);
    QCOMPARE(names(session), QStringList{" spaced .wav"});
}

void TestServerListing::emptyDirectory() {
    QVERIFY(TreeSnapshot::write(world.serverPath("x.wav"), "x"));
    QCOMPARE(fceSetServerDir(0, "\\"), 0);
    TransferSession session(world.host);
    QCOMPARE(session.GetServerFileList(), 1);
    QVERIFY(QDir().mkpath(world.serverPath("EMPTY")));
    QCOMPARE(fceSetServerDir(0, "EMPTY"), 0);
    QCOMPARE(session.GetServerFileList(), 0);
    QCOMPARE(session.serverList().Count(), 0);
    QCOMPARE(world.host.lines().last(), QStringLiteral("...0 names retrieved."));
}

void TestServerListing::failedListingKeepsThePreviousNames() {
    QVERIFY(TreeSnapshot::write(world.serverPath("x.wav"), "x"));
    QCOMPARE(fceSetServerDir(0, "\\"), 0);
    TransferSession session(world.host);
    QCOMPARE(session.GetServerFileList(), 1);
    world.host.displayed.clear();
    world.server.setFaults(
        QJsonObject{{"fail", QJsonArray{QJsonObject{{"command", "MLSD"}, {"text", "No list."}},
                                        QJsonObject{{"command", "LIST"}, {"text", "No list."}}}}});
    QCOMPARE(session.GetServerDirList(), -1);
    QCOMPARE(names(session), QStringList{"x.wav"});
    const QStringList lines = world.host.lines();
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0], QStringLiteral("Retrieving server subdirectory names..."));
    QVERIFY2(lines[1].contains(QStringLiteral("No list.")), qPrintable(lines[1]));
}

// 3,000 long names make a listing of about 200,000 bytes: far beyond a fixed 32,000-byte buffer.
void TestServerListing::listingLargerThanTheOldBufferIsComplete() {
    const QString padding(56, QLatin1Char('p'));
    QStringList expected;
    for (int i = 0; i < 3000; ++i) {
        const QString name = QStringLiteral("message-%1-%2.wav").arg(i, 5, 10, QLatin1Char('0')).arg(padding);
        QVERIFY(TreeSnapshot::write(world.serverPath(name), QByteArray()));
        expected << name;
    }
    QCOMPARE(fceSetServerDir(0, "\\"), 0);
    TransferSession session(world.host);
    QCOMPARE(session.GetServerFileList(), 3000);
    QStringList listed = names(session);
    listed.sort();
    QCOMPARE(listed, expected);
    QCOMPARE(world.host.lines().last(), QStringLiteral("...3000 names retrieved."));
}

QTEST_GUILESS_MAIN(TestServerListing)
#include "tst_serverlisting.moc"
