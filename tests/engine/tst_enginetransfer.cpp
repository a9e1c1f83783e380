#include "EngineSession.h"

#include <QDir>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

// Files moved whole and byte-exact between the server directory and the local directory, and the
// rules around them: local directory, replacing, unsafe names, progress, directories.
class TestEngineTransfer : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void downloadIsByteExact_data();
    void downloadIsByteExact();
    void uploadIsByteExact();
    void existingFileNeedsPermissionToBeReplaced();
    void localDirectoryMustBeAnExistingAbsolutePath_data();
    void localDirectoryMustBeAnExistingAbsolutePath();
    void noTransferWithoutLocalDirectory();
    void unsafeNamesAreRefusedBeforeAnythingIsSent_data();
    void unsafeNamesAreRefusedBeforeAnythingIsSent();
    void failedChangeLeavesTheDirectory();
    void makeDirectoryReportsTheServersWords();
    void progressHookSeesTheBytesMove();
    void progressHookHearsFromAStalledTransfer();
    void progressHookHearsTheEndOfASmallFile();

private:
    void goToData();
    std::unique_ptr<FtpServerFixture> m_server;
    std::unique_ptr<EngineSession> m_engine;
    std::unique_ptr<QTemporaryDir> m_local;
};

void TestEngineTransfer::init() {
    m_server = std::make_unique<FtpServerFixture>();
    QVERIFY(m_server->start());
    QVERIFY(QDir(m_server->root()).mkpath("DTA"));
    m_local = std::make_unique<QTemporaryDir>();
    m_engine = std::make_unique<EngineSession>();
    QCOMPARE(m_engine->connect(*m_server), 0);
}

void TestEngineTransfer::cleanup() {
    m_engine.reset();
    m_server.reset();
    m_local.reset();
}

void TestEngineTransfer::goToData() {
    QCOMPARE(fceSetServerDir(0, "DTA"), 0);
    QCOMPARE(fceSetLocalDir(0, m_local->path().toUtf8().constData()), 0);
}

void TestEngineTransfer::downloadIsByteExact_data() {
    QTest::addColumn<qsizetype>("size");
    QTest::newRow("empty") << qsizetype(0);
    QTest::newRow("one byte") << qsizetype(1);
    QTest::newRow("one block") << qsizetype(256 * 1024);
    QTest::newRow("several blocks and a bit") << qsizetype(3 * 1024 * 1024 + 17);
}

void TestEngineTransfer::downloadIsByteExact() {
    QFETCH(qsizetype, size);
    const QByteArray bytes = EngineSession::patternBytes(size, int(size));
    QVERIFY(EngineSession::writeFile(m_server->root() + "/DTA/f.wav", bytes));
    goToData();
    std::string listing;
    QVERIFY(fceGetList(0, 1, listing) > 0);
    QCOMPARE(fceGetFile(0, "f.wav"), 0);
    QCOMPARE(EngineSession::readFile(m_local->filePath("f.wav")), bytes);
    QCOMPARE(EngineSession::entriesOf(m_local->path()), QStringList({"f.wav"}));
}

void TestEngineTransfer::uploadIsByteExact() {
    const QByteArray bytes = EngineSession::patternBytes(2 * 1024 * 1024 + 5, 9);
    QVERIFY(EngineSession::writeFile(m_local->filePath(" blank start.wav"), bytes));
    goToData();
    QCOMPARE(fcePutFile(0, " blank start.wav"), 0);
    QCOMPARE(EngineSession::readFile(m_server->root() + "/DTA/ blank start.wav"), bytes);

    int32_t rc = fcePutFile(0, "missing.wav");
    QCOMPARE(rc, int32_t(FCE_E_LOCAL_FILE));
    QCOMPARE(EngineSession::errorText(rc),
             "Cannot open " + m_local->filePath("missing.wav") + ": No such file or directory");
    QVERIFY(!QFileInfo::exists(m_server->root() + "/DTA/missing.wav"));
}

void TestEngineTransfer::existingFileNeedsPermissionToBeReplaced() {
    QVERIFY(EngineSession::writeFile(m_server->root() + "/DTA/f.wav", "new content"));
    QVERIFY(EngineSession::writeFile(m_local->filePath("f.wav"), "old"));
    goToData();
    m_server->clearCommands();

    QCOMPARE(fceSetInteger(0, FCE_REPLACE_LOCAL, 0), 0);
    int32_t rc = fceGetFile(0, "f.wav");
    QCOMPARE(rc, int32_t(FCE_E_LOCAL_FILE));
    QCOMPARE(EngineSession::errorText(rc), "Local file already exists: " + m_local->filePath("f.wav"));
    QCOMPARE(m_server->commands(), QStringList());
    QCOMPARE(EngineSession::readFile(m_local->filePath("f.wav")), QByteArray("old"));

    QCOMPARE(fceSetInteger(0, FCE_REPLACE_LOCAL, 1), 0);
    QCOMPARE(fceGetInteger(0, FCE_REPLACE_LOCAL), 1);
    QCOMPARE(fceGetFile(0, "f.wav"), 0);
    QCOMPARE(EngineSession::readFile(m_local->filePath("f.wav")), QByteArray("new content"));
    QCOMPARE(EngineSession::entriesOf(m_local->path()), QStringList({"f.wav"}));
}

void TestEngineTransfer::localDirectoryMustBeAnExistingAbsolutePath_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("text");
    QTest::newRow("relative") << "DTA"
                              << "Local directory is not an absolute path: DTA";
    QTest::newRow("empty") << ""
                           << "Local directory is not an absolute path: ";
    QTest::newRow("missing") << "/nonexistent/kavrel/DTA"
                             << "Local directory does not exist: /nonexistent/kavrel/DTA";
}

void TestEngineTransfer::localDirectoryMustBeAnExistingAbsolutePath() {
    QFETCH(QString, path);
    QFETCH(QString, text);
    int32_t rc = fceSetLocalDir(0, path.toUtf8().constData());
    QCOMPARE(rc, int32_t(FCE_E_LOCAL_FILE));
    QCOMPARE(EngineSession::errorText(rc), text);
}

void TestEngineTransfer::noTransferWithoutLocalDirectory() {
    QVERIFY(EngineSession::writeFile(m_server->root() + "/DTA/f.wav", "x"));
    QCOMPARE(fceSetServerDir(0, "DTA"), 0);
    m_server->clearCommands();
    int32_t rc = fceGetFile(0, "f.wav");
    QCOMPARE(rc, int32_t(FCE_E_LOCAL_FILE));
    QCOMPARE(EngineSession::errorText(rc), QString("No local directory set"));
    QCOMPARE(fcePutFile(0, "f.wav"), int32_t(FCE_E_LOCAL_FILE));
    QCOMPARE(m_server->commands(), QStringList());
}

void TestEngineTransfer::unsafeNamesAreRefusedBeforeAnythingIsSent_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("empty") << QByteArray("");
    QTest::newRow("dot") << QByteArray(".");
    QTest::newRow("dot dot") << QByteArray("..");
    QTest::newRow("parent") << QByteArray("../x.wav");
    QTest::newRow("slash") << QByteArray("a/b.wav");
    QTest::newRow("absolute") << QByteArray("/etc/passwd");
    QTest::newRow("backslash") << QByteArray("..\\x.wav");
    QTest::newRow("drive") << QByteArray("C:x.wav");
    QTest::newRow("line feed") << QByteArray("a\nDELE b");
    QTest::newRow("carriage return") << QByteArray("a\rb");
}

void TestEngineTransfer::unsafeNamesAreRefusedBeforeAnythingIsSent() {
    QFETCH(QByteArray, name);
    // The local directory sits one level down, so that a write beside it would show too.
    const QString work = m_local->filePath("work");
    QVERIFY(QDir().mkpath(work));
    QVERIFY(EngineSession::writeFile(work + "/x.wav", "keep"));
    QCOMPARE(fceSetServerDir(0, "DTA"), 0);
    QCOMPARE(fceSetLocalDir(0, work.toUtf8().constData()), 0);
    m_server->clearCommands();
    const QStringList serverBefore = EngineSession::entriesOf(m_server->root());

    for (auto call : {fceGetFile, fcePutFile, fceSetServerDir, fceMakeServerDir}) {
        int32_t rc = call(0, name.constData());
        QCOMPARE(rc, int32_t(FCE_E_UNSAFE_NAME));
        QCOMPARE(EngineSession::errorText(rc), "Unsafe file name: " + QString::fromUtf8(name));
    }
    QCOMPARE(m_server->commands(), QStringList());
    QCOMPARE(EngineSession::entriesOf(work), QStringList({"x.wav"}));
    QCOMPARE(EngineSession::readFile(work + "/x.wav"), QByteArray("keep"));
    QCOMPARE(EngineSession::entriesOf(m_local->path()), QStringList({"work"}));
    QCOMPARE(EngineSession::entriesOf(m_server->root()), serverBefore);
}

void TestEngineTransfer::failedChangeLeavesTheDirectory() {
    QVERIFY(EngineSession::writeFile(m_server->root() + "/DTA/a.dat", "a"));
    QCOMPARE(fceSetServerDir(0, "\\"), 0);
    QCOMPARE(fceSetServerDir(0, "DTA"), 0);
    int32_t rc = fceSetServerDir(0, "NOPE");
    QCOMPARE(rc, int32_t(FCE_E_SERVER_REPLY));
    QCOMPARE(EngineSession::errorText(rc), QString("550 No such file or directory."));
    std::string listing;
    QVERIFY(fceGetList(0, 1, listing) > 0);
    QCOMPARE(listing, std::string("a.dat\r\n"));
}

void TestEngineTransfer::makeDirectoryReportsTheServersWords() {
    QCOMPARE(fceMakeServerDir(0, "NEW"), 0);
    QVERIFY(QFileInfo(m_server->root() + "/NEW").isDir());
    int32_t rc = fceMakeServerDir(0, "NEW");
    QCOMPARE(rc, int32_t(FCE_E_SERVER_REPLY));
    QVERIFY2(EngineSession::errorText(rc).startsWith("550 "), qPrintable(EngineSession::errorText(rc)));
}

namespace {

struct ProgressRecord {
    QList<qint64> bytes;
};

void recordProgress(void* context, int64_t bytesSoFar) {
    static_cast<ProgressRecord*>(context)->bytes << bytesSoFar;
}

} // namespace

void TestEngineTransfer::progressHookSeesTheBytesMove() {
    const QByteArray bytes = EngineSession::patternBytes(200000, 4);
    QVERIFY(EngineSession::writeFile(m_server->root() + "/DTA/slow.wav", bytes));
    goToData();
    m_server->setFaults({{"throttle", 400000}}); // about half a second of moving data
    ProgressRecord record;
    QCOMPARE(fceSetProgressHook(0, recordProgress, &record), 0);
    int32_t rc = fceGetFile(0, "slow.wav");
    QVERIFY2(rc == 0, qPrintable(EngineSession::errorText(rc)));
    QCOMPARE(fceSetProgressHook(0, nullptr, nullptr), 0);

    QVERIFY2(!record.bytes.isEmpty(), "the hook was never called while data moved");
    QVERIFY(record.bytes.size() <= 20); // at most one call per 100 ms, not one per block
    for (qsizetype i = 1; i < record.bytes.size(); ++i)
        QVERIFY(record.bytes[i] >= record.bytes[i - 1]);
    QVERIFY(record.bytes.last() <= bytes.size());
    QCOMPARE(EngineSession::readFile(m_local->filePath("slow.wav")), bytes);
}

// Data that arrives a byte every half second must not leave the host unheard for that long: a window
// repaints from the hook.
void TestEngineTransfer::progressHookHearsFromAStalledTransfer() {
    const QByteArray bytes("abcd");
    QVERIFY(EngineSession::writeFile(m_server->root() + "/DTA/trickle.wav", bytes));
    goToData();
    QCOMPARE(fceSetInteger(0, FCE_TIMEOUT_MS, 3000), 0);
    m_server->setFaults({{"throttle", 2}}); // one byte every 500 ms
    ProgressRecord record;
    QCOMPARE(fceSetProgressHook(0, recordProgress, &record), 0);
    int32_t rc = fceGetFile(0, "trickle.wav");
    QVERIFY2(rc == 0, qPrintable(EngineSession::errorText(rc)));
    QCOMPARE(fceSetProgressHook(0, nullptr, nullptr), 0);

    // Four bytes alone could call the hook at most four times; the waits between them must add calls.
    QVERIFY2(record.bytes.size() >= 8, qPrintable(QString::number(record.bytes.size())));
    QCOMPARE(EngineSession::readFile(m_local->filePath("trickle.wav")), bytes);
}

// A small file ends before any report is due; its bytes must still reach the host once, or a rate
// drawn from the hook would leave them out.
void TestEngineTransfer::progressHookHearsTheEndOfASmallFile() {
    const QByteArray bytes = EngineSession::patternBytes(1000, 7);
    QVERIFY(EngineSession::writeFile(m_server->root() + "/DTA/small.wav", bytes));
    goToData();
    ProgressRecord record;
    QCOMPARE(fceSetProgressHook(0, recordProgress, &record), 0);
    QCOMPARE(fceGetFile(0, "small.wav"), 0);
    QCOMPARE(record.bytes, QList<qint64>{1000});
    QVERIFY(EngineSession::writeFile(m_local->filePath("up.wav"), bytes.left(600)));
    QCOMPARE(fcePutFile(0, "up.wav"), 0);
    QCOMPARE(fceSetProgressHook(0, nullptr, nullptr), 0);
    QCOMPARE(record.bytes, (QList<qint64>{1000, 600}));
}

QTEST_GUILESS_MAIN(TestEngineTransfer)
#include "tst_enginetransfer.moc"
