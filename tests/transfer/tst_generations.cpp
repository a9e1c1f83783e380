#include "GenerationStore.h"
#include "TransferCommands.h"
#include "TransferSession.h"
#include "TransferWorld.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <unistd.h>

// Backup and Restore over the four categories: where a failure halts them, and what a restore refuses.
// A server that lost its files never takes the backup's copies with it: what a night keeps as a
// generation and warns of, what a restore as of a generation sends back (from a backup that cannot be
// written), and which generations the retention leaves, across simulated dates.
class TestGenerations : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(world.start()); }
    void cleanupTestCase() { world.stop(); }
    void init();
    void cleanup();
    void secondNight_data();
    void secondNight();
    void retention_data();
    void retention();
    void nightsAcrossMonths();
    void backupHalts_data();
    void backupHalts();
    void restoreRefusesAnUnsafeFolderName();

private:
    CommandOutcome backup(const QString& when, const RetentionPolicy& policy = {}, bool changedOnly = false);
    // Restores as of from into an emptied server root, from a read-only view of the backup.
    CommandOutcome restore(const QString& from);
    // The server's tree as a backup mirrors it, or a backup's without its records.
    Tree mirror(Tree tree) const;
    void allowWrites();

    TransferWorld world;
    QString base;
    QString readOnly; // where the backup is mounted read-only
};

namespace {

enum Change { Nothing, LoseMessages, ShortListing, RemovePromptFolder, RewritePrompt, AddMessage };

int64_t momentOf(const QString& when) {
    QDateTime moment = QDateTime::fromString(when, "yyyy-MM-dd HH:mm");
    moment.setTimeSpec(Qt::UTC);
    return moment.toSecsSinceEpoch();
}

// Runs a command quietly; its exit status.
int run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished() ? process.exitCode() : -1;
}

QStringList names(const std::vector<GenerationStore::Generation>& generations) {
    QStringList list;
    for (const auto& generation : generations) {
        QStringList folders;
        for (const auto& folder : generation.manifest.folders())
            folders << QString::fromStdString(folder.path);
        list << QString::fromStdString(generation.name) + ":" + folders.join(',');
    }
    return list;
}

} // namespace

void TestGenerations::init() {
    QVERIFY(world.begin());
    base = world.localPath("backup");
    readOnly = world.localPath("read-only");
    QVERIFY(writeSampleTree(world.server.root()));
    for (int i = 4; i <= 14; ++i)
        QVERIFY(writeFile(world.serverPath(QString("MSG/m%1.msg").arg(i)), QByteArray(100 * i, 'n')));
}

void TestGenerations::cleanup() {
    allowWrites();
    world.end();
}

void TestGenerations::allowWrites() {
    // The engine may still hold the folder it restored last: the mount goes once it lets go.
    if (::geteuid() == 0)
        run("umount", {"--lazy", readOnly});
    else
        run("chmod", {"-R", "u+w", base});
}

CommandOutcome TestGenerations::backup(const QString& when, const RetentionPolicy& policy, bool changedOnly) {
    world.host = RecordingHost();
    TransferCommands commands(world.host);
    commands.SetRetention(policy);
    commands.SetClock([when] { return momentOf(when); });
    commands.session().SetChangedOnly(changedOnly);
    return commands.Backup(base.toStdString(), {}, {});
}

CommandOutcome TestGenerations::restore(const QString& from) {
    if (!QDir(world.server.root()).removeRecursively() || !QDir().mkpath(world.server.root()))
        return CommandOutcome::RunTimeError;
    // No write access, as from a read-only mount: as root only a mount denies it.
    QDir().mkpath(readOnly);
    const bool denied = ::geteuid() == 0 ? run("mount", {"--bind", "-o", "ro", base, readOnly}) == 0
                                         : run("chmod", {"-R", "a-w", base}) == 0;
    world.host = RecordingHost();
    TransferCommands commands(world.host);
    commands.SetRestoreFrom(from.toStdString());
    const CommandOutcome outcome =
        commands.Restore((::geteuid() == 0 ? readOnly : base).toStdString(), {}, {});
    allowWrites();
    return denied ? outcome : CommandOutcome::RunTimeError;
}

Tree TestGenerations::mirror(Tree tree) const {
    tree.removeIf([](const auto& entry) {
        return entry.key().contains("/deep/") || entry.key().endsWith(".kavrel-record") ||
               entry.key() == ".kavrel-server-clock" || entry.key().startsWith(".kavrel-generations/");
    });
    return tree;
}

void TestGenerations::secondNight_data() {
    QTest::addColumn<int>("change");
    QTest::addColumn<bool>("changedOnly");
    QTest::addColumn<bool>("generationsOff");
    QTest::addColumn<QStringList>("kept"); // the folders the one generation holds
    QTest::addColumn<QString>("warning");
    const QString lost = "Warning: the server no longer has 14 of the 14 files of BASE/MSG; ";
    const QString keeps = lost + "generation 2027-01-30T023000Z keeps them.";
    const auto row = [](const char* tag, Change change, bool changedOnly, const QStringList& kept,
                        const QString& warning = {}, bool off = false) {
        QTest::newRow(tag) << int(change) << changedOnly << off << kept << warning;
    };
    row("nothing changed", Nothing, false, {});
    row("nothing changed, changed-only", Nothing, true, {});
    row("the server lost MSG", LoseMessages, false, {"MSG"}, keeps);
    row("the server lost MSG, changed-only", LoseMessages, true, {"MSG"}, keeps);
    row("a listing short of two messages", ShortListing, true, {"MSG"});
    row("a Prompts sub-folder removed", RemovePromptFolder, false, {"PMT/B"});
    row("a prompt rewritten", RewritePrompt, false, {"PMT"});
    row("a message added", AddMessage, true, {"MSG"});
    row("generations off", LoseMessages, false, {}, lost + "no generation keeps them (generations are off).",
        true);
}

// The first night's folders come back from the generation whatever the second night did to them.
void TestGenerations::secondNight() {
    QFETCH(int, change);
    QFETCH(bool, changedOnly);
    QFETCH(bool, generationsOff);
    QFETCH(QStringList, kept);
    QFETCH(QString, warning);
    const RetentionPolicy policy = generationsOff ? RetentionPolicy{0, 0, 0} : RetentionPolicy{};
    QCOMPARE(backup("2027-01-30 02:30", policy, changedOnly), CommandOutcome::Completed);
    const Tree first = treeOf(base);
    // A generation a killed run had begun, never named in a manifest.
    QVERIFY(writeFile(base + "/.kavrel-generations/2027-01-29T000000Z/MSG/m1.msg", "unfinished"));
    const QString server = world.server.root();
    switch (Change(change)) {
    case LoseMessages:
        QVERIFY(QDir(server + "/MSG").removeRecursively() && QDir().mkpath(server + "/MSG"));
        break;
    case ShortListing:
        QVERIFY(QFile::remove(server + "/MSG/m2.msg") && QFile::remove(server + "/MSG/m7.msg"));
        break;
    case RemovePromptFolder:
        QVERIFY(QDir(server + "/PMT/B").removeRecursively());
        break;
    case RewritePrompt:
        QVERIFY(writeFile(server + "/PMT/p002.wav", "RIFF prompt two, said again"));
        break;
    case AddMessage:
        QVERIFY(writeFile(server + "/MSG/new.msg", "a new message"));
        break;
    case Nothing:
        break;
    }
    QCOMPARE(backup("2027-01-31 02:30", policy, changedOnly), CommandOutcome::Completed);
    QCOMPARE(mirror(treeOf(base)), mirror(treeOf(server)));
    const QStringList warnings = world.host.displayed.filter("Warning:");
    QCOMPARE(warnings.join('\n').replace(base, "BASE"), warning);
    QCOMPARE(names(GenerationStore::Read(base.toStdString())),
             kept.isEmpty() ? QStringList() : QStringList{"2027-01-30T023000Z:" + kept.join(',')});
    QVERIFY(!QFile::exists(base + "/.kavrel-generations/2027-01-29T000000Z"));

    const CommandOutcome restored = restore("2027-01-30");
    if (kept.isEmpty()) {
        QCOMPARE(restored, CommandOutcome::HaltedPrematurely);
        QVERIFY(world.host.displayed.contains("No generation in " + readOnly + " matches \"2027-01-30\"."));
    } else {
        QCOMPARE(restored, CommandOutcome::Completed);
        QCOMPARE(mirror(treeOf(world.server.root())), mirror(first));
    }
}

void TestGenerations::retention_data() {
    QTest::addColumn<QStringList>("moments");
    QTest::addColumn<QList<int>>("policy"); // daily, weekly, monthly
    QTest::addColumn<QStringList>("kept");
    QStringList tenDays;
    for (int day = 1; day <= 10; ++day)
        tenDays << QString("2027-01-%1 02:30").arg(day, 2, 10, QChar('0'));
    QTest::newRow("the last 7 of 10 days") << tenDays << QList<int>{7, 0, 0} << tenDays.mid(3);
    QTest::newRow("two in a day: the later")
        << QStringList{"2027-01-01 02:30", "2027-01-01 14:00", "2027-01-02 02:30"} << QList<int>{2, 0, 0}
        << QStringList{"2027-01-01 14:00", "2027-01-02 02:30"};
    QTest::newRow("days that have one, not calendar days")
        << QStringList{"2026-10-01 02:30", "2026-11-15 02:30", "2027-01-10 02:30"} << QList<int>{2, 0, 0}
        << QStringList{"2026-11-15 02:30", "2027-01-10 02:30"};
    QTest::newRow("weeks begin on Monday")
        << QStringList{"2027-01-03 02:30", "2027-01-04 02:30", "2027-01-05 02:30"} << QList<int>{0, 2, 0}
        << QStringList{"2027-01-03 02:30", "2027-01-05 02:30"};
    QTest::newRow("months") << QStringList{"2027-01-15 02:30", "2027-01-31 23:59", "2027-02-01 00:00"}
                            << QList<int>{0, 0, 5} << QStringList{"2027-01-31 23:59", "2027-02-01 00:00"};
    QTest::newRow("0 0 0 keeps none") << tenDays << QList<int>{0, 0, 0} << QStringList();
}

void TestGenerations::retention() {
    QFETCH(QStringList, moments);
    QFETCH(QList<int>, policy);
    QFETCH(QStringList, kept);
    std::vector<int64_t> seconds;
    for (const QString& when : moments)
        seconds.push_back(momentOf(when));
    const std::vector<bool> keep = Retention::Keep({policy[0], policy[1], policy[2]}, seconds);
    QStringList left;
    for (size_t index = 0; index < keep.size(); ++index) {
        if (keep[index])
            left << moments[qsizetype(index)];
    }
    QCOMPARE(left, kept);
}

// Each night changes one folder; a failed night prunes nothing, and the completed one after it lets
// go of 1 February, whose MSG stood on 31 January as it did then: a restore as of either generation
// that stays gives every folder as it stood after that backup.
void TestGenerations::nightsAcrossMonths() {
    const RetentionPolicy policy{1, 0, 2};
    const QString server = world.server.root();
    QMap<QString, Tree> states;
    const auto night = [&](const QString& when, CommandOutcome outcome) {
        QCOMPARE(backup(when, policy), outcome);
        states[when.left(10)] = mirror(treeOf(base));
    };
    night("2027-01-31 02:30", CommandOutcome::Completed);
    QVERIFY(writeFile(server + "/DTA/system.cfg", "greeting=holiday\r\n"));
    night("2027-02-01 02:30", CommandOutcome::Completed);
    QVERIFY(QFile::remove(server + "/MSG/m1.msg"));
    night("2027-02-02 02:30", CommandOutcome::Completed);
    QVERIFY(writeFile(server + "/MSG/m2.msg", "message two, longer now"));
    world.server.setFaults({{"transfer_error", QJsonObject{{"name", "boxes.dat"}}}});
    night("2027-02-03 02:00", CommandOutcome::HaltedPrematurely);
    QCOMPARE(names(GenerationStore::Read(base.toStdString())),
             (QStringList{"2027-01-31T023000Z:DTA", "2027-02-01T023000Z:MSG", "2027-02-02T023000Z:MSG"}));
    world.server.setFaults({});
    night("2027-02-03 02:30", CommandOutcome::Completed);
    QVERIFY(
        world.host.displayed.contains("Removing generation 2027-02-01T023000Z (keeping 1 daily, 0 weekly, "
                                      "2 monthly)"));
    QCOMPARE(names(GenerationStore::Read(base.toStdString())),
             (QStringList{"2027-01-31T023000Z:DTA,MSG", "2027-02-02T023000Z:MSG"}));
    for (const QString day : {"2027-01-31", "2027-02-02"}) {
        QCOMPARE(restore(day), CommandOutcome::Completed);
        QCOMPARE(mirror(treeOf(server)), states[day]);
    }
}

void TestGenerations::backupHalts_data() {
    QTest::addColumn<QString>("atLine"); // the faults apply from this log line on ("" from the start)
    QTest::addColumn<QJsonObject>("faults");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QStringList>("folders"); // what the backup got to
    QTest::addColumn<QStringList>("prompts"); // and below Prompts
    const QString halted = "Error During Backup|Backup halted prematurely.|48";
    QTest::newRow("a message fails") << "" << QJsonObject{{"transfer_error", QJsonObject{{"name", "m2.msg"}}}}
                                     << halted << QStringList{"DTA", "MSG", "PMT"} << QStringList{"A", "B"};
    // The Prompts folder is listed once, for its files and its subdirectories.
    const QString prompts = "Setting server directory to C:\\PMT";
    QTest::newRow("prompt subdirectories not listed")
        << prompts
        << QJsonObject{{"fail",
                        QJsonArray{QJsonObject{{"command", "MLSD"}}, QJsonObject{{"command", "LIST"}}}}}
        << halted << QStringList{"DTA", "PMT"} << QStringList();
    for (const char* name : {"evil\x01", ".kavrel-staging", "a\\b"}) {
        QTest::newRow(
            qPrintable(QString("prompt subdirectory %1").arg(QString(name).toUtf8().toPercentEncoding())))
            << prompts
            << QJsonObject{{"hostile_entries",
                            QJsonObject{
                                {"entries", QJsonArray{QJsonObject{{"name", name}, {"type", "dir"}}}}}}}
            << halted << QStringList{"DTA", "PMT"} << QStringList();
    }
    QJsonArray longNames; // a listing of Prompts longer than 4 KiB, its folders last
    for (int i = 0; i < 100; ++i)
        longNames.append(QString("0-a-prompt-file-with-a-rather-long-name-%1.wav").arg(i));
    QTest::newRow("prompt listing over 4 KiB")
        << "Retrieving server subdirectory names..."
        << QJsonObject{{"hostile_entries", QJsonObject{{"entries", longNames}, {"times", 1}}}}
        << "Backup Complete|Backup completed.|64" << QStringList{"DTA", "MBX", "MSG", "PMT"}
        << QStringList{"A", "B"};
    QTest::newRow("a message deleted since the listing")
        << "" << QJsonObject{{"vanish", QJsonObject{{"name", "m2.msg"}}}}
        << "Backup Complete|Backup completed.|64" << QStringList{"DTA", "MBX", "MSG", "PMT"}
        << QStringList{"A", "B"};
}

// A failure ends the backup where it happened: no later category, and a box that says so (an Abort is
// tst_xinput's). A message deleted on the server since its folder was listed is no failure.
void TestGenerations::backupHalts() {
    QFETCH(QString, atLine);
    QFETCH(QJsonObject, faults);
    QFETCH(QString, summary);
    QFETCH(QStringList, folders);
    QFETCH(QStringList, prompts);
    FtpServerFixture& server = world.server;
    if (atLine.isEmpty())
        server.setFaults(faults);
    world.host.onDisplay = [&](const QString& line) {
        if (line == atLine)
            server.setFaults(faults);
    };
    TransferCommands(world.host).Backup(base.toStdString(), {}, {});
    QCOMPARE(world.host.messages, QStringList{summary});
    QCOMPARE(QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot), folders);
    QCOMPARE(QDir(base + "/PMT").entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden), prompts);
}

// A local folder name that is not one plain component would address some other server directory.
void TestGenerations::restoreRefusesAnUnsafeFolderName() {
    QVERIFY(writeFile(base + "/PMT/x\\y/p.wav", "prompt"));
    QCOMPARE(TransferCommands(world.host).Restore(base.toStdString(), {0, 1, 0, 0}, {}),
             CommandOutcome::HaltedPrematurely);
    QVERIFY(world.host.displayed.contains("Refused unsafe folder name: \"x\\y\""));
    QVERIFY(!QFileInfo::exists(world.serverPath("PMT/x")));
}

QTEST_GUILESS_MAIN(TestGenerations)
#include "tst_generations.moc"
