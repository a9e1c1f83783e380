#include "FtpEngine.h"
#include "SafeName.h"
#include "TransferSession.h"
#include "TransferWorld.h"

#include <QFile>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <ctime>
#include <sys/resource.h>
#include <utime.h>

// A nightly backup that fetches only what changed: listed times read with their precision, and a second
// changed-only backup against the test server that must end exactly like a full one, or, when it fails,
// leave the previous backup and its record as they were, also when its disk fills while the record is
// written or when the server changes a file as its RETR arrives.
class TestChangedOnly : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void secondBackup_data();
    void secondBackup();

private:
    TransferWorld mlsdWorld;
    TransferWorld listWorld;
};

namespace {

enum Change { Nothing, RewriteNow, RewriteKeepingTime, Add, Remove, DamageRecord, FailFetch, CutRecord };

constexpr qint64 kDay = 86400;

bool serve(TransferWorld& world, const QString& relative, const QByteArray& content, qint64 mtime = -1) {
    const QString path = world.serverPath(relative);
    if (!writeFile(path, content))
        return false;
    const utimbuf times{static_cast<time_t>(mtime), static_cast<time_t>(mtime)};
    return mtime < 0 || ::utime(QFile::encodeName(path).constData(), &times) == 0;
}

QStringList fetchedNames(const FtpServerFixture& server) {
    return server.commands()
        .filter(QRegularExpression("^RETR "))
        .replaceInStrings(QRegularExpression("^RETR "), "");
}

} // namespace

void TestChangedOnly::initTestCase() {
    QVERIFY(mlsdWorld.start(FtpServerFixture::ListingMode::Mlsd));
    QVERIFY(listWorld.start(FtpServerFixture::ListingMode::UnixList));
}

void TestChangedOnly::cleanupTestCase() {
    listWorld.stop();
    mlsdWorld.stop();
}

void TestChangedOnly::secondBackup_data() {
    QTest::addColumn<bool>("mlsd");
    QTest::addColumn<int>("change");   // what happens between the two backups
    QTest::addColumn<int>("ageDays");  // how old the files are at the first backup
    QTest::addColumn<bool>("noTimes"); // the server lists no times
    QTest::addColumn<QStringList>("fetched");
    QTest::addColumn<QString>("retrieving");
    QTest::addColumn<int>("removed");
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<QString>("live"); // b.dat as its RETR arrives: deleted ("vanish"), "grown" or "growing"

    const QStringList all{"a.dat", "b.dat", "c.dat"};
    const auto row = [](const char* tag, bool mlsd, Change change, int ageDays, bool noTimes,
                        const QStringList& fetched, const char* retrieving, int removed = 0,
                        bool succeeds = true, const char* live = "") {
        QTest::newRow(tag) << mlsd << int(change) << ageDays << noTimes << fetched << QString(retrieving)
                           << removed << succeeds << QString(live);
    };
    row("mlsd, nothing changed", true, Nothing, 3, false, {}, "Retrieving 0 files (3 unchanged)...");
    // Listed with the same time as at the first backup, but that time was too close to it to prove anything.
    row("mlsd, rewrite within the listed second", true, RewriteKeepingTime, 0, false, all,
        "Retrieving 3 files (0 unchanged)...");
    row("list, rewrite within the listed minute", false, RewriteKeepingTime, 0, false, all,
        "Retrieving 3 files (0 unchanged)...");
    row("new file, as old as the rest", true, Add, 3, false, {"d.dat"},
        "Retrieving 1 files (3 unchanged)...");
    row("removed file", false, Remove, 3, false, {}, "Retrieving 0 files (2 unchanged)...", 1);
    row("listing without times", true, Nothing, 3, true, all, "Retrieving 3 files (0 unchanged)...");
    row("damaged record", false, DamageRecord, 3, false, all, "Retrieving 3 files (0 unchanged)...");
    row("failed fetch", false, FailFetch, 3, false, {"b.dat"}, "Retrieving 2 files (1 unchanged)...", 0,
        false);
    row("record write cut short", true, CutRecord, 3, false, {"b.dat"}, "Retrieving 1 files (2 unchanged)...",
        0, false);
    // A message deleted or still being recorded once failed its folder, and with it the whole night.
    const QStringList twice{"b.dat", "b.dat"};
    row("gone before RETR", true, RewriteNow, 3, false, {"b.dat"}, "Retrieving 1 files (2 unchanged)...", 1,
        true, "vanish");
    row("grown before RETR", true, RewriteNow, 3, false, twice, "Retrieving 1 files (2 unchanged)...", 0,
        true, "grown");
    row("changing on every try", false, RewriteNow, 3, false, twice, "Retrieving 1 files (2 unchanged)...", 0,
        true, "growing");
}

void TestChangedOnly::secondBackup() {
    QFETCH(bool, mlsd);
    QFETCH(int, change);
    QFETCH(int, ageDays);
    QFETCH(bool, noTimes);
    QFETCH(QStringList, fetched);
    QFETCH(QString, retrieving);
    QFETCH(int, removed);
    QFETCH(bool, succeeds);
    QFETCH(QString, live);

    TransferWorld& world = mlsd ? mlsdWorld : listWorld;
    QVERIFY(world.begin());
    const std::string folder = world.localPath("DTA").toStdString();
    const qint64 firstTime = std::time(nullptr) - ageDays * kDay;
    for (const char* name : {"a.dat", "b.dat", "c.dat"})
        QVERIFY(serve(world, QString("DTA/") + name, QByteArray(1000, name[0]), firstTime));
    if (noTimes)
        world.server.setFaults(QJsonObject{{"no_times", true}});
    TransferSession first(world.host);
    first.SetChangedOnly(true);
    QCOMPARE(first.RetrieveDirectory("C:\\DTA", folder), 0);

    const QString record = world.localPath("DTA/") + SafeName::kRecordFileName;
    QFile recordFile(record);
    world.host = RecordingHost();
    switch (Change(change)) {
    case CutRecord: // once every file has arrived, the file system takes part of the record, then no more
        ::signal(SIGXFSZ, SIG_IGN);
        world.host.onYield = [](RecordingHost& host) {
            const rlimit small{40, RLIM_INFINITY};
            QVERIFY(host.progressValue < 1.0 || ::setrlimit(RLIMIT_FSIZE, &small) == 0);
        };
        [[fallthrough]];
    case RewriteNow:
        QVERIFY(serve(world, "DTA/b.dat", QByteArray(1000, 'B')));
        break;
    case RewriteKeepingTime:
        QVERIFY(serve(world, "DTA/b.dat", QByteArray(1000, 'B'), firstTime));
        break;
    case Add:
        QVERIFY(serve(world, "DTA/d.dat", "new", firstTime));
        break;
    case Remove:
        QVERIFY(QFile::remove(world.serverPath("DTA/c.dat")));
        break;
    case DamageRecord:
        QVERIFY(recordFile.resize(recordFile.size() / 2));
        break;
    case FailFetch:
        QVERIFY(serve(world, "DTA/b.dat", QByteArray(1000, 'B')));
        QVERIFY(serve(world, "DTA/c.dat", QByteArray(1000, 'C')));
        world.server.setFaults(
            QJsonObject{{"transfer_error", QJsonObject{{"command", "RETR"}, {"name", "b.dat"}}}});
        break;
    case Nothing:
        break;
    }
    if (!live.isEmpty())
        world.server.setFaults({{live == "vanish" ? "vanish" : "grow",
                                 QJsonObject{{"name", "b.dat"}, {"times", live == "growing" ? 9 : 1}}}});
    const Tree before = treeOf(world.localPath("DTA"));
    world.server.clearCommands();
    TransferSession second(world.host);
    second.SetChangedOnly(true);

    const int32_t result = second.RetrieveDirectory("C:\\DTA", folder);
    const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &unlimited), 0);

    QCOMPARE(result >= 0, succeeds);
    QCOMPARE(world.host.displayed.contains("     27 - File too large (" + record + ")"), change == CutRecord);
    QCOMPARE(fetchedNames(world.server), fetched);
    const QStringList lines = world.host.displayed;
    QVERIFY2(lines.contains(retrieving), qPrintable(lines.join('\n')));
    QCOMPARE(lines.filter("no longer on the server"),
             removed ? QStringList{QString("Removing %1 files no longer on the server").arg(removed)}
                     : QStringList{});
    if (!succeeds) {
        QCOMPARE(treeOf(world.localPath("DTA")), before);
    } else {
        Tree local = treeOf(world.localPath("DTA"));
        QVERIFY(local.remove(SafeName::kRecordFileName) == 1);
        Tree server = treeOf(world.serverPath("DTA"));
        if (live == "growing") // the previous copy stays, and the record does not claim it
            server["b.dat"] = QByteArray(1000, 'b');
        QCOMPARE(local, server);
        QCOMPARE(readFile(record).contains(" b.dat\n"), live.isEmpty() && !noTimes);
    }
    world.end();
}

QTEST_GUILESS_MAIN(TestChangedOnly)
#include "tst_changedonly.moc"
