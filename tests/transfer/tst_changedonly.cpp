#include "FtpEngine.h"
#include "SafeName.h"
#include "TransferSession.h"
#include "TransferWorld.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <ctime>
#include <sys/resource.h>
#include <utime.h>

// Nightly changed-only backups of DTA (three old files) and MSG (a message that arrived just before)
// against servers that list right, with their clock off, in another zone, one date for everything, or
// after a rewrite that kept the time; our clock and the server's are both set by the test. Each row
// counts the DTA files fetched night by night, and ends with both folders equal to the server's.
class TestChangedOnly : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void nights_data();
    void nights();

private:
    TransferWorld worlds[3];
};

namespace {

enum Behaviour {
    Right,
    Behind26h,
    Behind3d,
    Behind3dDatedAhead, // and one file dated half a year ahead of both clocks
    Ahead3d,
    OursAhead2d,
    NewYearUtcPlus1,
    ConstantDate,
    NoTimes,
    Other
};
enum Change {
    Nothing,
    RewriteNow,
    RewriteInListedTime,
    RewriteKeepingTime,
    RewriteDatedBack, // the same size, listed with another time that is days old
    CutLocal,         // the local copy of b.dat cut short
    OtherPath,        // DTA backed up from C:\DTA2, which holds the same files
    Add,
    Remove,
    DamageRecord,
    FailFetch, // RETR of b.dat refused
    CutRecord, // the file system takes part of the new record, then no more
    Vanish,    // b.dat rewritten, then deleted as its RETR arrives
    Grown,     // b.dat rewritten, then grown once as its RETR arrives (a message still being recorded)
    Growing,   // the same at every try: its previous copy stays, and the record must not claim it
};
constexpr qint64 kHour = 3600;
constexpr qint64 kDay = 86400;
constexpr int kFailed = -1; // the night fails and leaves the folders as they were

bool serve(TransferWorld& world, const QString& relative, const QByteArray& content, qint64 mtime) {
    const QString path = world.serverPath(relative);
    const utimbuf times{static_cast<time_t>(mtime), static_cast<time_t>(mtime)};
    return writeFile(path, content) && ::utime(QFile::encodeName(path).constData(), &times) == 0;
}

qint64 mtimeOf(TransferWorld& world, const QString& relative) {
    return QFileInfo(world.serverPath(relative)).lastModified().toSecsSinceEpoch();
}

// The first night: 20 days ago on an even day (so that the refresh takes the same files each time), or
// 20 minutes before the next New Year (UTC).
qint64 firstNight(Behaviour behaviour) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (behaviour != NewYearUtcPlus1)
        return now.toSecsSinceEpoch() / (2 * kDay) * (2 * kDay) - 20 * kDay;
    return QDateTime(QDate(now.date().year() + 1, 1, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch() - 20 * 60;
}

// The server's listed_times hook, and our clock's offset at the first night.
QJsonObject listedTimes(Behaviour behaviour) {
    const QMap<Behaviour, qint64> shift{{Behind26h, -26 * kHour},
                                        {Behind3d, -3 * kDay},
                                        {Behind3dDatedAhead, -3 * kDay},
                                        {Ahead3d, 3 * kDay},
                                        {NewYearUtcPlus1, kHour}};
    if (behaviour == ConstantDate)
        return {{"fixed", 1704153600}}; // 2024-01-02 00:00: "Jan 02  2024" in a Unix LIST
    return {{"shift", shift.value(behaviour, 0)}};
}

// The DTA files fetched (each once, however often its RETR was tried).
QStringList dtaFetched(const FtpServerFixture& server) {
    QStringList names = server.commands().filter(QRegularExpression("^RETR (?!new\\.msg)"));
    names.removeDuplicates();
    return names;
}

Tree backedUp(const QString& folder) {
    Tree tree = treeOf(folder);
    tree.remove(SafeName::kRecordFileName);
    return tree;
}

} // namespace

void TestChangedOnly::initTestCase() {
    QVERIFY(worlds[0].start(FtpServerFixture::ListingMode::Mlsd));
    QVERIFY(worlds[1].start(FtpServerFixture::ListingMode::UnixList));
    QVERIFY(worlds[2].start(FtpServerFixture::ListingMode::DosList));
}

void TestChangedOnly::cleanupTestCase() {
    for (auto& world : worlds)
        world.stop();
}

void TestChangedOnly::nights_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<int>("change"); // between the first night and the second
    QTest::addColumn<int>("refreshDays");
    QTest::addColumn<QList<int>>("fetched"); // DTA files fetched on each night after the first
    QTest::addColumn<QString>("warned");     // the file a warning names

    const auto row = [](const char* tag, int mode, Behaviour behaviour, Change change, QList<int> fetched,
                        int refreshDays = 0, const char* warned = "") {
        QTest::newRow(tag) << mode << int(behaviour) << int(change) << refreshDays << fetched
                           << QString(warned);
    };
    row("mlsd, nothing changed", 0, Right, Nothing, {0});
    row("list, same-size rewrite", 1, Right, RewriteNow, {1});
    row("dos, same-size rewrite", 2, Right, RewriteNow, {1});
    row("mlsd, new file", 0, Right, Add, {1});
    row("list, removed file", 1, Right, Remove, {0});
    row("mlsd, listing without times", 0, NoTimes, Nothing, {3});
    row("list, damaged record", 1, Right, DamageRecord, {3});
    row("mlsd, same-size rewrite dated back", 0, Right, RewriteDatedBack, {1});
    row("dos, local copy cut short", 2, Right, CutLocal, {1});
    row("list, another server directory with the same files", 1, Right, OtherPath, {3});
    row("list, failed fetch, then a good night", 1, Right, FailFetch, {kFailed, 1});
    row("mlsd, record write cut short, then a good night", 0, Right, CutRecord, {kFailed, 1});
    row("mlsd, gone before its RETR", 0, Right, Vanish, {1});
    row("mlsd, grown before its RETR", 0, Right, Grown, {1});
    row("list, changing on every try, then still", 1, Right, Growing, {1, 1});
    row("mlsd, rewrite within the listed second", 0, Right, RewriteInListedTime, {1});
    row("list, rewrite within the listed minute", 1, Right, RewriteInListedTime, {1});
    row("mlsd, server clock 26 h behind", 0, Behind26h, RewriteInListedTime, {1});
    row("list, server clock 3 days behind", 1, Behind3d, RewriteInListedTime, {1});
    row("mlsd, server clock 3 days behind, a file dated ahead", 0, Behind3dDatedAhead, RewriteInListedTime,
        {2});
    // Its times count for its clock only up to a day ahead of ours: c.dat, a day below that, goes too.
    row("mlsd, server clock 3 days ahead", 0, Ahead3d, RewriteInListedTime, {2});
    row("list, server clock 3 days ahead", 1, Ahead3d, RewriteInListedTime, {2});
    row("mlsd, our clock 2 days ahead at the last backup", 0, OursAhead2d, RewriteInListedTime, {1});
    row("list, New Year with the server in UTC+1", 1, NewYearUtcPlus1, RewriteInListedTime, {1});
    row("mlsd, one constant date", 0, ConstantDate, RewriteNow, {3, 3});
    row("list, one constant date", 1, ConstantDate, RewriteNow, {3});
    row("dos, one constant date", 2, ConstantDate, RewriteNow, {3});
    // c.dat changes under its old time: the refresh (every file within two days, those fetched longest
    // ago first) fetches a.dat on the second night, b.dat and c.dat on the third, which finds c.dat
    // changed; the fourth fetches the folder whole and finds nothing, the fifth is normal again.
    row("mlsd, time kept on rewrite", 0, Right, RewriteKeepingTime, {1, 2, 3, 2}, 2, "c.dat");
    row("mlsd, another server with the same names, sizes and times", 0, Other, RewriteKeepingTime, {3});
}

void TestChangedOnly::nights() {
    QFETCH(int, mode);
    QFETCH(int, behaviour);
    QFETCH(int, change);
    QFETCH(int, refreshDays);
    QFETCH(QList<int>, fetched);
    QFETCH(QString, warned);

    TransferWorld& world = worlds[mode];
    QVERIFY(world.begin());
    const auto server = Behaviour(behaviour);
    const qint64 first = firstNight(server);
    const qint64 gap = server == NewYearUtcPlus1 ? 15 * 60 : server == OursAhead2d ? 3 * kDay : kDay;
    const char* names[] = {"a.dat", "b.dat", "c.dat"};
    for (int i = 0; i < 3; ++i)
        QVERIFY(
            serve(world, QString("DTA/") + names[i], patternBytes(1000, i), first - (30 - 10 * i) * kDay));
    if (server == Behind3dDatedAhead)
        QVERIFY(serve(world, "DTA/d.dat", patternBytes(10, 3), first + 200 * kDay));
    if (change == RewriteInListedTime) // just before the first night: the server's newest file
        QVERIFY(serve(world, "DTA/b.dat", patternBytes(1000, 7), first - 10));
    QStringList lines;
    Tree before;
    for (int night = 0; night <= fetched.size(); ++night) {
        const qint64 trueTime = night == 0 ? first : first + gap + (night - 1) * kDay;
        const qint64 changedAt = first + gap / 2;
        if (night == 1) {
            switch (Change(change)) {
            case RewriteNow:
            case FailFetch:
            case CutRecord:
            case Vanish:
            case Grown:
            case Growing:
                QVERIFY(serve(world, "DTA/b.dat", patternBytes(1000, 8), changedAt));
                break;
            case RewriteInListedTime:
                QVERIFY(serve(world, "DTA/b.dat", patternBytes(1000, 9), mtimeOf(world, "DTA/b.dat")));
                break;
            case RewriteKeepingTime:
                for (int i = server == Other ? 0 : 2; i < 3; ++i) {
                    const QString name = QString("DTA/") + names[i];
                    QVERIFY(serve(world, name, patternBytes(1000, 10 + i), mtimeOf(world, name)));
                }
                break;
            case RewriteDatedBack:
                QVERIFY(serve(world, "DTA/b.dat", patternBytes(1000, 8), first - 5 * kDay));
                break;
            case OtherPath:
                for (const char* name : names)
                    QVERIFY(serve(world, QString("DTA2/") + name, readFile(world.serverPath("DTA/") + name),
                                  mtimeOf(world, QString("DTA/") + name)));
                break;
            case CutLocal:
                QVERIFY(QFile::resize(world.localPath("DTA/b.dat"), 10));
                break;
            case Add:
                QVERIFY(serve(world, "DTA/d.dat", "new", first - 5 * kDay));
                break;
            case Remove:
                QVERIFY(QFile::remove(world.serverPath("DTA/c.dat")));
                break;
            case DamageRecord: { // one digit of its time: it looks whole, but its sum no longer matches
                const QString path = world.localPath("DTA/") + SafeName::kRecordFileName;
                QByteArray text = readFile(path);
                text[text.indexOf("listed-at ") + 10] = '2';
                QVERIFY(writeFile(path, text));
                break;
            }
            case Nothing:
                break;
            }
            if (server == Other) {
                fceClose(0);
                const QString other = "localhost:" + world.server.address().section(':', 1);
                QVERIFY(fceConnect(0, other.toUtf8().constData(), "admin", "tamsk") >= 0);
            }
        }
        QVERIFY(serve(world, "MSG/new.msg", patternBytes(100 + night, night), trueTime - 5));
        const bool failing = night > 0 && fetched[night - 1] == kFailed;
        QJsonObject faults{{"listed_times", listedTimes(server)}, {"no_times", server == NoTimes}};
        const QJsonObject onB{{"name", "b.dat"}, {"times", change == Growing ? 9 : 1}};
        if (night == 1 && (change == FailFetch || change == Vanish || change == Grown || change == Growing))
            faults[change == FailFetch ? "transfer_error" : change == Vanish ? "vanish" : "grow"] = onB;
        world.server.setFaults(faults);
        world.server.clearCommands();
        world.host = RecordingHost();
        if (night == 1 && change == CutRecord) { // once the first file has arrived
            ::signal(SIGXFSZ, SIG_IGN);
            world.host.onYield = [](RecordingHost& host) {
                const rlimit small{40, RLIM_INFINITY};
                QVERIFY(host.progressValue < 1.0 || ::setrlimit(RLIMIT_FSIZE, &small) == 0);
            };
        }
        before = treeOf(world.local->path());
        const qsizetype files = QDir(world.serverPath("DTA")).entryList(QDir::Files).size(); // as listed
        const qint64 ourClock = trueTime + (server == OursAhead2d && night == 0 ? 2 * kDay : 0);
        TransferSession session(world.host);
        session.SetChangedOnly(true);
        session.SetRefreshDays(refreshDays);
        session.SetClock([ourClock] { return ourClock; });
        session.SetLocalBase(world.local->path().toStdString());
        const char* dta = night > 0 && change == OtherPath ? "C:\\DTA2" : "C:\\DTA";
        const int32_t result = session.RetrieveDirectory(dta, world.localPath("DTA").toStdString());
        const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &unlimited), 0);
        QCOMPARE(result >= 0 &&
                     session.RetrieveDirectory("C:\\MSG", world.localPath("MSG").toStdString()) >= 0,
                 !failing);
        lines << world.host.displayed;
        const QString record = world.localPath("DTA/") + SafeName::kRecordFileName;
        QCOMPARE(world.host.displayed.contains("     27 - File too large (" + record + ")"),
                 night == 1 && change == CutRecord);
        QVERIFY(night != 1 || change != Growing || // the previous copy stays, unclaimed by the record
                (!readFile(record).contains(" b.dat\n") &&
                 readFile(world.localPath("DTA/b.dat")) == patternBytes(1000, 1)));
        if (night == 0)
            continue;
        if (failing) {
            QCOMPARE(treeOf(world.local->path()), before);
            continue;
        }
        const int count = fetched[night - 1];
        QVERIFY2(dtaFetched(world.server).size() == count, qPrintable(world.host.displayed.join('\n')));
        QVERIFY2(!world.host.displayed
                      .filter(QString("Retrieving %1 files (%2 unchanged").arg(count).arg(files - count))
                      .isEmpty(),
                 qPrintable(world.host.displayed.join('\n')));
    }
    QCOMPARE(backedUp(world.localPath("DTA")), treeOf(world.serverPath("DTA")));
    QCOMPARE(backedUp(world.localPath("MSG")), treeOf(world.serverPath("MSG")));
    QCOMPARE(world.host.displayed.filter("cannot prove them unchanged").size(),
             server == ConstantDate ? 1 : 0);
    const QStringList warnings = lines.filter(QRegularExpression("^Warning: "));
    QCOMPARE(warnings.size(), warned.isEmpty() ? 0 : 1);
    QVERIFY(warned.isEmpty() ||
            warnings[0].startsWith("Warning: C:\\DTA\\" + warned + " changed on the server"));
    world.end();
}

QTEST_GUILESS_MAIN(TestChangedOnly)
#include "tst_changedonly.moc"
