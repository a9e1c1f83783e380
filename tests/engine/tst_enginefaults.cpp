#include "EngineSession.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

// Every way the test server can misbehave: the call fails with words that say what happened, no partial
// file is left, an older local copy stays exactly as it was, and a lost connection stays lost. Servers
// that are slow, drip-feed, never end or say too little: each call ends within its limit, its cause first.
namespace {

const QString kLongName = QString(250, 'n') + ".wav";
constexpr int kSilenceMs = 500;

// What a row does once its faults are set: log in, change directory, download, upload, or a call that
// the host interrupts while the server says nothing.
enum class Call { Connect, ChangeDirectory, Download, Upload, Interrupted };

// The greeting must come within parameter 11's second; a slow PASS must not be held to it.
int32_t runCall(Call call, const FtpServerFixture& server, const QString& name, const QString& local) {
    int32_t rc = EngineSession::connect(server, 1000);
    if (call == Call::Connect || rc < 0)
        return rc;
    fceSetInteger(0, FCE_SILENCE_MS, kSilenceMs);
    std::string listing;
    if (call != Call::Upload && fceGetList(0, 1, listing) < 0)
        return -100;
    fceSetLocalDir(0, local.toUtf8().constData());
    switch (call) {
    case Call::ChangeDirectory:
        return fceSetServerDir(0, "\\");
    case Call::Download:
        return fceGetFile(0, name.toUtf8().constData());
    case Call::Upload:
        return fcePutFile(0, name.toUtf8().constData());
    case Call::Interrupted:
        fceSetInteger(0, FCE_SILENCE_MS, 60000);
        fceInterrupt(0, 300);
        return fceSetServerDir(0, "\\");
    default:
        return rc;
    }
}

} // namespace

class TestEngineFaults : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void download_data();
    void download();
    void listing_data();
    void listing();
    void upload_data();
    void upload();
    void callEndsInTimeWithItsCause_data();
    void callEndsInTimeWithItsCause();

private:
    // Connected, in /MSG, listed (so the listed sizes are known); tests of silence shorten the limit after.
    bool connectToData(FtpServerFixture::ListingMode mode = FtpServerFixture::ListingMode::Mlsd);
    QString localPath(const QString& name) const { return m_local->filePath(name); }

    std::unique_ptr<FtpServerFixture> m_server;
    std::unique_ptr<EngineSession> m_engine;
    std::unique_ptr<QTemporaryDir> m_local;
};

void TestEngineFaults::init() {
    m_server = std::make_unique<FtpServerFixture>();
    m_local = std::make_unique<QTemporaryDir>();
    m_engine = std::make_unique<EngineSession>();
}

void TestEngineFaults::cleanup() {
    m_engine.reset();
    m_server.reset();
    m_local.reset();
}

bool TestEngineFaults::connectToData(FtpServerFixture::ListingMode mode) {
    if (!m_server->start(mode) || !QDir(m_server->root()).mkpath("MSG") ||
        !writeFile(m_server->root() + "/MSG/m1.wav", patternBytes(300000, 3)))
        return false;
    std::string listing;
    return m_engine->connect(*m_server) == 0 && fceSetServerDir(0, "MSG") == 0 &&
           fceSetLocalDir(0, m_local->path().toUtf8().constData()) == 0 &&
           fceSetInteger(0, FCE_REPLACE_LOCAL, 1) == 0 && fceGetList(0, 1, listing) > 0;
}

void TestEngineFaults::download_data() {
    QTest::addColumn<QJsonObject>("faults");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("stillConnected");
    const auto retr = [](QJsonObject rule) {
        rule.insert("command", "RETR");
        return rule;
    };
    QTest::newRow("refused") << QJsonObject{{"transfer_error", retr({{"text", "Gone."}})}} << 3000
                             << int(FCE_E_SERVER_REPLY) << "550 Gone." << true;
    QTest::newRow("451 after the data")
        << QJsonObject{{"transfer_error", retr({{"when", "after"}})}} << 3000 << int(FCE_E_SERVER_REPLY)
        << "451 Requested action aborted: local error in processing." << true;
    QTest::newRow("data dropped") << QJsonObject{{"drop_data", retr({{"after_bytes", 100000}})}} << 3000
                                  << int(FCE_E_DATA_CONNECTION) << "426 Connection closed; transfer aborted."
                                  << true;
    QTest::newRow("short, claimed complete")
        << QJsonObject{{"drop_data",
                        retr({{"after_bytes", 1000}, {"code", 226}, {"text", "Transfer complete."}})}}
        << 3000 << int(FCE_E_INCOMPLETE) << "Received 1000 of 300000 bytes of m1.wav" << true;
    QTest::newRow("silent") << QJsonObject{{"silence", retr({})}} << 500 << int(FCE_E_TIMEOUT)
                            << "No reply to RETR within 500 ms" << false;
    QTest::newRow("stalled data") << QJsonObject{{"throttle", retr({{"bytes_per_second", 1}})}} << 500
                                  << int(FCE_E_TIMEOUT) << "No data for RETR within 500 ms" << false;
    // Never silent, yet far below the low-speed limit's 4096 bytes a period: hours for a file.
    QTest::newRow("crawling data") << QJsonObject{{"throttle", retr({{"bytes_per_second", 2000}})}} << 1000
                                   << int(FCE_E_TIMEOUT) << "Stalled: " << false;
    // The client ends the transfer; the server gets half a second for its word, not the minute.
    QTest::newRow("more than listed, then silence")
        << QJsonObject{{"endless_data", retr({})}, {"mute_end", retr({})}} << 60000 << int(FCE_E_INCOMPLETE)
        << "More than the expected 300000 bytes arrived for RETR" << false;
    QTest::newRow("control closed") << QJsonObject{{"drop_control", retr({})}} << 3000
                                    << int(FCE_E_CONNECTION_LOST)
                                    << "Connection closed by the server (no reply to RETR)" << false;
    QTest::newRow("421") << QJsonObject{{"drop_control", retr({{"code", 421}, {"text", "Shutting down."}})}}
                         << 3000 << int(FCE_E_CONNECTION_LOST) << "421 Shutting down." << false;
}

// The older copy stays byte for byte, no partial file is left, and after a lost or out-of-step control
// connection every call says "Not connected" until the next connect.
void TestEngineFaults::download() {
    QFETCH(QJsonObject, faults);
    QFETCH(int, timeoutMs);
    QFETCH(int, code);
    QFETCH(QString, text);
    QFETCH(bool, stillConnected);
    QVERIFY(writeFile(localPath("m1.wav"), "older copy"));
    QVERIFY(connectToData());
    m_server->setFaults(faults);
    QCOMPARE(fceSetInteger(0, FCE_SILENCE_MS, timeoutMs), 0);
    QCOMPARE(fceSetInteger(0, FCE_ABANDON_GRACE_MS, 500), 0);
    QElapsedTimer clock;
    clock.start();
    const int32_t rc = fceGetFile(0, "m1.wav");
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(int(rc), code);
    QVERIFY2(EngineSession::errorText(rc).startsWith(text), qPrintable(EngineSession::errorText(rc)));
    QCOMPARE(entriesOf(m_local->path()), QStringList({"m1.wav"}));
    QCOMPARE(readFile(localPath("m1.wav")), QByteArray("older copy"));
    m_server->setFaults({});
    QCOMPARE(fceSetServerDir(0, "\\"), stillConnected ? 0 : int32_t(FCE_E_NOT_CONNECTED));
    // In step: a missing folder is refused, not answered by a reply that was owed to an earlier command.
    QVERIFY(fceSetServerDir(0, "missing") < 0);
}

void TestEngineFaults::listing_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QJsonObject>("faults");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    const int mlsd = int(FtpServerFixture::ListingMode::Mlsd);
    QTest::newRow("truncated") << mlsd << QJsonObject{{"truncate_listing", QJsonObject{{"keep", 10}}}}
                               << int(FCE_E_INCOMPLETE) << "226 Output truncated to 10 matches";
    QTest::newRow("dropped") << mlsd
                             << QJsonObject{{"drop_data",
                                             QJsonObject{{"command", "MLSD"}, {"after_bytes", 300}}}}
                             << int(FCE_E_DATA_CONNECTION) << "426 Connection closed; transfer aborted.";
}

// A listing is complete or a failure, and the caller's listing stays as it was.
void TestEngineFaults::listing() {
    QFETCH(int, mode);
    QFETCH(QJsonObject, faults);
    QFETCH(int, code);
    QFETCH(QString, text);
    QVERIFY(connectToData(FtpServerFixture::ListingMode(mode)));
    for (int i = 2; i <= 40; ++i)
        QVERIFY(writeFile(m_server->root() + QString("/MSG/m%1.wav").arg(i), "x"));
    m_server->setFaults(faults);
    std::string listing = "previous";
    const int32_t rc = fceGetList(0, 1, listing);
    QCOMPARE(int(rc), code);
    QCOMPARE(EngineSession::errorText(rc), text);
    QCOMPARE(listing, std::string("previous"));
}

void TestEngineFaults::upload_data() {
    QTest::addColumn<QJsonObject>("faults");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("code");
    const QJsonObject refused{{"transfer_error", QJsonObject{{"command", "STOR"}, {"hold_data", true}}}};
    // The file goes out ahead of STOR's answer: a refusal is read before the socket would wait (32 MiB
    // is more than the loopback's buffers take), and a file sent whole before it is refused all the same.
    QTest::newRow("refused") << refused << 32 * 1024 * 1024 << int(FCE_E_SERVER_REPLY);
    QTest::newRow("refused, sent whole") << refused << 1000 << int(FCE_E_SERVER_REPLY);
    // A reset makes the next write fail with EPIPE: the call must fail, never raise SIGPIPE.
    QTest::newRow("reset") << QJsonObject{{"drop_data", QJsonObject{{"command", "STOR"},
                                                                    {"after_bytes", 5000},
                                                                    {"reset", true}}}}
                           << 4 * 1024 * 1024 << int(FCE_E_DATA_CONNECTION);
}

void TestEngineFaults::upload() {
    QFETCH(QJsonObject, faults);
    QFETCH(int, size);
    QFETCH(int, code);
    QVERIFY(writeFile(localPath("up.wav"), patternBytes(size, 8)));
    QVERIFY(connectToData());
    m_server->setFaults(faults);
    QCOMPARE(fceSetInteger(0, FCE_SILENCE_MS, 3000), 0);
    const int32_t rc = fcePutFile(0, "up.wav");
    QCOMPARE(int(rc), code);
    QVERIFY(!EngineSession::errorText(rc).isEmpty());
    // The dialogue stays in step: the next upload is answered as its own.
    m_server->setFaults({});
    QCOMPARE(int(fcePutFile(0, "up.wav")), 0);
}

void TestEngineFaults::callEndsInTimeWithItsCause_data() {
    QTest::addColumn<QJsonObject>("faults");
    QTest::addColumn<int>("call");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text"); // the start of the error text, as a 128-character buffer holds it
    QTest::addColumn<QStringList>("sizeCommands");

    const QJsonObject none;
    QTest::newRow("PASS answered after 1.5 s is no failure")
        << QJsonObject{{"delay", QJsonObject{{"command", "PASS"}, {"seconds", 1.5}}}} << int(Call::Connect)
        << QString() << 0 << QString() << QStringList();
    QTest::newRow("TYPE I refused") << QJsonObject{{"fail", QJsonObject{{"command", "TYPE"}, {"code", 504}}}}
                                    << int(Call::Connect) << QString() << int(FCE_E_SERVER_REPLY)
                                    << "504 Requested action not taken." << QStringList();
    QTest::newRow("reply drip-fed a line every 100 ms")
        << QJsonObject{{"drip_reply", QJsonObject{{"command", "CWD"}, {"every", 0.1}}}}
        << int(Call::ChangeDirectory) << QString() << int(FCE_E_TIMEOUT) << "No reply to CWD within 500 ms"
        << QStringList();
    QTest::newRow("endless data") << QJsonObject{{"endless_data", QJsonObject{{"command", "RETR"}}}}
                                  << int(Call::Download) << "f.wav" << int(FCE_E_INCOMPLETE)
                                  << "More than the expected 10 bytes arrived for RETR f.wav"
                                  << QStringList();
    QTest::newRow("short file without a listed size")
        << QJsonObject{{"no_size", QJsonObject{{"command", "MLSD"}}},
                       {"drop_data", QJsonObject{{"command", "RETR"}, {"after_bytes", 3}, {"code", 226}}}}
        << int(Call::Download) << "f.wav" << int(FCE_E_INCOMPLETE) << "Received 3 of 10 bytes of f.wav"
        << QStringList{"SIZE f.wav"};
    QTest::newRow("link listed with its own size")
        << QJsonObject{{"hostile_entries",
                        QJsonObject{{"entries", QJsonArray{QJsonObject{{"name", "f.wav"},
                                                                       {"type", "OS.unix=slink:/f.wav"},
                                                                       {"size", 3}}}}}}}
        << int(Call::Download) << "f.wav" << 0 << QString() << QStringList{"SIZE f.wav"};
    QTest::newRow("250-byte name") << none << int(Call::Download) << kLongName << 0 << QString()
                                   << QStringList();
    QTest::newRow("cause before a long path")
        << none << int(Call::Upload) << kLongName << int(FCE_E_LOCAL_FILE)
        << "No such file or directory: cannot open /" << QStringList();
    QTest::newRow("silent server, interrupted by the host")
        << QJsonObject{{"silence", QJsonObject{{"command", "CWD"}}}} << int(Call::Interrupted) << QString()
        << int(FCE_E_INTERRUPTED) << "Interrupted waiting for the reply to CWD" << QStringList();
}

void TestEngineFaults::callEndsInTimeWithItsCause() {
    QFETCH(QJsonObject, faults);
    QFETCH(int, call);
    QFETCH(QString, name);
    QFETCH(int, code);
    QFETCH(QString, text);
    QFETCH(QStringList, sizeCommands);
    QVERIFY(m_server->start());
    QVERIFY(writeFile(m_server->root() + "/f.wav", "0123456789"));
    QVERIFY(writeFile(m_server->root() + "/" + kLongName, "long name"));
    m_server->setFaults(faults);
    QElapsedTimer clock;
    clock.start();
    const int32_t rc = runCall(Call(call), *m_server, name, m_local->path());
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(rc, int32_t(code));
    if (code < 0)
        QVERIFY2(EngineSession::errorText(rc).startsWith(text), qPrintable(EngineSession::errorText(rc)));
    QCOMPARE(m_server->commands().filter(QRegularExpression("^SIZE ")), sizeCommands);
    const QStringList expectedLocal =
        call == int(Call::Download) && code == 0 ? QStringList{name} : QStringList{};
    QCOMPARE(entriesOf(m_local->path()), expectedLocal);
}

QTEST_GUILESS_MAIN(TestEngineFaults)
#include "tst_enginefaults.moc"
