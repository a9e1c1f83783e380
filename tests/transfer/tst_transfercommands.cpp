#include "TransferCommands.h"
#include "TransferWorld.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QTest>

// Backup and Restore over the four categories, with the host the window would be: what arrives, what
// stays, and the one summary box.
class TestTransferCommands : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(world.start()); }
    void cleanupTestCase() { world.stop(); }
    void init();
    void cleanup() { world.end(); }

    void backupHalts_data();
    void backupHalts();
    void restoreRefusesAnUnsafeFolderName();

private:
    TransferWorld world;
    QString base;
};

void TestTransferCommands::init() {
    QVERIFY(world.begin());
    base = world.localPath("backup");
    QVERIFY(writeSampleTree(world.server.root()));
}

void TestTransferCommands::backupHalts_data() {
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
void TestTransferCommands::backupHalts() {
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
void TestTransferCommands::restoreRefusesAnUnsafeFolderName() {
    QVERIFY(writeFile(base + "/PMT/x\\y/p.wav", "prompt"));
    QCOMPARE(TransferCommands(world.host).Restore(base.toStdString(), {0, 1, 0, 0}, {}),
             CommandOutcome::HaltedPrematurely);
    QVERIFY(world.host.displayed.contains("Refused unsafe folder name: \"x\\y\""));
    QVERIFY(!QFileInfo::exists(world.serverPath("PMT/x")));
}

QTEST_GUILESS_MAIN(TestTransferCommands)
#include "tst_transfercommands.moc"
