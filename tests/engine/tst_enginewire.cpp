#include "EngineSession.h"
#include "ProgramLocation.h"
#include "ProtocolTrace.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <thread>
#include <unistd.h>

// What the engine puts on the wire and what it gets back: every command of a session, byte-exact files,
// the refusals that must come before anything is sent, and the protocol trace.
class TestEngineWire : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void downloadSession_data();
    void downloadSession();
    void uploadOfAShrinkingFileIsIncomplete();
    void unsafeNamesAreRefusedBeforeAnythingIsSent_data();
    void unsafeNamesAreRefusedBeforeAnythingIsSent();
    void traceMasksThePasswordAndRotates();
    void channelsWorkSideBySide();

private:
    bool serveData(FtpServerFixture::ListingMode mode = FtpServerFixture::ListingMode::Mlsd);
    QByteArray localDir() const { return m_local->path().toUtf8(); }

    std::unique_ptr<FtpServerFixture> m_server;
    std::unique_ptr<QTemporaryDir> m_local;
};

void TestEngineWire::init() {
    m_server = std::make_unique<FtpServerFixture>();
    m_local = std::make_unique<QTemporaryDir>();
}

void TestEngineWire::cleanup() {
    m_server.reset();
    m_local.reset();
}

bool TestEngineWire::serveData(FtpServerFixture::ListingMode mode) {
    if (!m_server->start(mode))
        return false;
    QDir root(m_server->root());
    return root.mkpath("DTA") && writeFile(root.filePath("DTA/a.dat"), "alpha") &&
           writeFile(root.filePath("DTA/b.dat"), patternBytes(70000, 2));
}

void TestEngineWire::downloadSession_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QJsonObject>("faults");
    QTest::addColumn<QStringList>("listing"); // the commands that list DTA
    QTest::addColumn<QString>("port");        // the command that asks for each data port
    const QJsonObject none;
    const int mlsd = int(FtpServerFixture::ListingMode::Mlsd);
    QTest::newRow("mlsd") << mlsd << none << QStringList{"EPSV", "MLSD"} << "EPSV";
    QTest::newRow("unix") << int(FtpServerFixture::ListingMode::UnixList) << none
                          << QStringList{"EPSV", "LIST"} << "EPSV";
    QTest::newRow("dos") << int(FtpServerFixture::ListingMode::DosList) << none << QStringList{"EPSV", "LIST"}
                         << "EPSV";
    QTest::newRow("no EPSV") << mlsd << QJsonObject{{"fail", QJsonObject{{"command", "EPSV"}, {"code", 500}}}}
                             << QStringList{"EPSV", "PASV", "MLSD"} << "PASV";
    // Each listing's and download's next EPSV goes out once its data has ended, before its 226.
    QTest::newRow("226 held until the next command")
        << mlsd << QJsonObject{{"hold_end", true}} << QStringList{"EPSV", "MLSD"} << "EPSV";
    for (int code : {500, 502}) {
        QTest::newRow(qPrintable(QString("MLSD %1").arg(code)))
            << mlsd << QJsonObject{{"fail", QJsonObject{{"command", "MLSD"}, {"code", code}}}}
            << QStringList{"EPSV", "MLSD", "EPSV", "LIST"} << "EPSV";
    }
}

// The exact commands, so that a forgotten TYPE I, an extra round trip per file or a missing fallback fails.
void TestEngineWire::downloadSession() {
    QFETCH(int, mode);
    QFETCH(QJsonObject, faults);
    QFETCH(QStringList, listing);
    QFETCH(QString, port);
    QVERIFY(serveData(FtpServerFixture::ListingMode(mode)));
    m_server->setFaults(faults);
    EngineSession engine;
    QCOMPARE(engine.connect(*m_server), 0);
    QCOMPARE(fceSetInteger(0, FCE_SILENCE_MS, 2000), 0);
    QCOMPARE(fceSetServerDir(0, "\\"), 0);
    QCOMPARE(fceSetServerDir(0, "DTA"), 0);
    std::string text;
    QCOMPARE(fceGetList(0, 1, text), 14);
    QCOMPARE(text, std::string("a.dat\r\nb.dat\r\n"));
    QCOMPARE(fceSetLocalDir(0, localDir().constData()), 0);
    QCOMPARE(fceGetFile(0, "a.dat"), 0);
    QCOMPARE(fceGetFile(0, "b.dat"), 0);
    QCOMPARE(fceClose(0), 0);
    const QStringList expected =
        QStringList{"AUTH TLS", "USER admin", "PASS tamsk", "FEAT", "TYPE I", "CWD /", "CWD DTA"} + listing +
        QStringList{port, "RETR a.dat", port, "RETR b.dat"} +
        // Each download's end sends the next EPSV ahead; the last one's reply is read before QUIT.
        (port == "EPSV" ? QStringList{"EPSV"} : QStringList()) + QStringList{"QUIT"};
    QCOMPARE(m_server->commands(), expected);
    QCOMPARE(readFile(m_local->filePath("a.dat")), QByteArray("alpha"));
    QCOMPARE(readFile(m_local->filePath("b.dat")), patternBytes(70000, 2));
}

namespace {

// Cuts the file being sent to nothing the first time the engine reports progress.
void shrinkFile(void* path, int64_t) {
    ::truncate(static_cast<const char*>(path), 0);
}

} // namespace

// The file shrinks while it is sent: the server gets fewer bytes than the file held, and must not count
// as having the file.
void TestEngineWire::uploadOfAShrinkingFileIsIncomplete() {
    QVERIFY(serveData());
    const QByteArray path = m_local->filePath("big.wav").toUtf8();
    QVERIFY(writeFile(path, patternBytes(16 * 1024 * 1024, 5)));
    EngineSession engine;
    QCOMPARE(engine.connect(*m_server, 10000), 0);
    QCOMPARE(fceSetLocalDir(0, localDir().constData()), 0);
    // Slow enough that the first report (after 100 ms) comes long before the last byte.
    m_server->setFaults({{"throttle", 4000000}});
    QCOMPARE(fceSetProgressHook(0, shrinkFile, const_cast<char*>(path.constData())), 0);
    const int32_t rc = fcePutFile(0, "big.wav");
    QCOMPARE(fceSetProgressHook(0, nullptr, nullptr), 0);
    QCOMPARE(rc, int32_t(FCE_E_INCOMPLETE));
    QVERIFY2(EngineSession::errorText(rc).startsWith("Sent "), qPrintable(EngineSession::errorText(rc)));
    QVERIFY(EngineSession::errorText(rc).endsWith(" of 16777216 bytes of big.wav"));
}

void TestEngineWire::unsafeNamesAreRefusedBeforeAnythingIsSent_data() {
    QTest::addColumn<QByteArray>("name");
    for (const char* name :
         {"", ".", "..", "../x.wav", "a/b.wav", "/etc/passwd", "..\\x.wav", "C:x.wav", "a\nDELE b", "a\rb"})
        QTest::newRow(name) << QByteArray(name);
}

void TestEngineWire::unsafeNamesAreRefusedBeforeAnythingIsSent() {
    QFETCH(QByteArray, name);
    QVERIFY(serveData());
    const QString work = m_local->filePath("work");
    QVERIFY(QDir().mkpath(work));
    EngineSession engine;
    QCOMPARE(engine.connect(*m_server), 0);
    QCOMPARE(fceSetServerDir(0, "DTA"), 0);
    QCOMPARE(fceSetLocalDir(0, work.toUtf8().constData()), 0);
    m_server->clearCommands();
    for (auto call : {fceGetFile, fcePutFile, fceSetServerDir, fceMakeServerDir}) {
        const int32_t rc = call(0, name.constData());
        QCOMPARE(rc, int32_t(FCE_E_UNSAFE_NAME));
        QCOMPARE(EngineSession::errorText(rc), "Unsafe file name: " + QString::fromUtf8(name));
    }
    QCOMPARE(m_server->commands(), QStringList());
    QCOMPARE(entriesOf(m_local->path()), QStringList({"work"}));
}

// The trace names users and servers: owner-only, no password. Every run appends to the same file, so
// what it already holds counts toward the size at which it moves aside.
void TestEngineWire::traceMasksThePasswordAndRotates() {
    QVERIFY(m_server->start());
    ProgramLocation::overrideDirectory(m_local->path().toStdString());
    const QString path = m_local->filePath("KAVREL.LOG");
    QVERIFY(writeFile(path, QByteArray(ProtocolTrace::kRotateBytes - 10, 'o')));
    {
        EngineSession engine;
        QCOMPARE(fceSetString(0, FCE_TRACE_FILE, "KAVREL.LOG"), 0);
        QCOMPARE(engine.connect(*m_server), 0);
        QCOMPARE(fceSetServerDir(0, "NOPE"), int32_t(FCE_E_SERVER_REPLY));
    }
    ProgramLocation::overrideDirectory("");
    QCOMPARE(QFileInfo(path + ".1").size(), ProtocolTrace::kRotateBytes - 10);
    const QString text = QString::fromUtf8(readFile(path));
    QVERIFY2(text.contains("> USER admin\n") && text.contains("> PASS ****\n"), qPrintable(text));
    QVERIFY(!text.contains("tamsk"));
    QVERIFY(text.contains("< 550 No such file or directory.\n"));
    QCOMPARE(QFileInfo(path).permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteOther),
             QFile::Permissions());
}

// Each channel is a connection of its own, made like channel 0, driven by a thread of its own: its own
// directory, files and failure texts; one interrupt reaches them all.
void TestEngineWire::channelsWorkSideBySide() {
    QVERIFY(serveData());
    EngineSession engine(3);
    QCOMPARE(fceConnectAs(3, 0), int32_t(FCE_E_BAD_ARGUMENT));
    QCOMPARE(EngineSession::errorText(FCE_E_BAD_ARGUMENT), QString("No channel 3 (channels 0 to 2)"));
    QCOMPARE(fceConnectAs(1, 0), int32_t(FCE_E_NOT_CONNECTED)); // channel 0 is not connected yet
    QCOMPARE(engine.connect(*m_server), 0);
    QCOMPARE(fceConnectAs(1, 0), 0);
    QCOMPARE(fceSetServerPath(1, "DTA\\..\\x"), int32_t(FCE_E_UNSAFE_NAME));
    m_server->clearCommands();
    int32_t codes[2] = {-1, -1};
    {
        std::jthread second([&] {
            codes[1] = fceSetServerPath(1, "DTA") < 0 || fceSetLocalDir(1, localDir().constData()) < 0
                           ? -1
                           : fceGetFile(1, "b.dat");
        });
        codes[0] = fceSetServerPath(0, "DTA") < 0 || fceSetLocalDir(0, localDir().constData()) < 0
                       ? -1
                       : fceGetFile(0, "a.dat");
    }
    QCOMPARE(codes[0], 0);
    QCOMPARE(codes[1], 0);
    QCOMPARE(readFile(m_local->filePath("a.dat")), QByteArray("alpha"));
    QCOMPARE(readFile(m_local->filePath("b.dat")), patternBytes(70000, 2));
    QCOMPARE(m_server->commands().filter("CWD"), (QStringList{"CWD /DTA", "CWD /DTA"}));
    QCOMPARE(fceGetFile(1, "c.dat"), int32_t(FCE_E_SERVER_REPLY));
    char text[129] = {};
    QVERIFY(QString::fromUtf8(text, fceErrorText(1, FCE_E_SERVER_REPLY, text, 128)).startsWith("550"));
    m_server->setFaults({{"silence", QJsonObject{{"command", "SIZE"}}}});
    fceInterrupt(0, 200);
    int64_t size = 0;
    QCOMPARE(fceGetFileSize(1, "a.dat", size), int32_t(FCE_E_INTERRUPTED));
    fceInterrupt(0, -1);
}

QTEST_GUILESS_MAIN(TestEngineWire)
#include "tst_enginewire.moc"
