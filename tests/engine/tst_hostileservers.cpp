#include "EngineSession.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

// Servers that are slow, drip-feed, never end or say too little: each call ends within its limit with
// words that put the cause first, and no partial file is left behind.
class TestHostileServers : public QObject {
    Q_OBJECT

private slots:
    void callEndsInTimeWithItsCause_data();
    void callEndsInTimeWithItsCause();
};

namespace {

const QString kLongName = QString(250, 'n') + ".wav";
constexpr int kSilenceMs = 500;

// What a row does once its faults are set: log in, change directory, download, upload, or a call that
// the host interrupts while the server says nothing.
enum class Call { Connect, ChangeDirectory, Download, Upload, Interrupted };

// The greeting must come within parameter 11's second; a slow PASS must not be held to it.
int32_t runCall(Call call, EngineSession& engine, const FtpServerFixture& server, const QString& name,
                const QString& local) {
    int32_t rc = engine.connect(server, 1000);
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

void TestHostileServers::callEndsInTimeWithItsCause_data() {
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
    QTest::newRow("reply drip-fed a line every 100 ms")
        << QJsonObject{{"drip_reply", QJsonObject{{"command", "CWD"}, {"every", 0.1}}}}
        << int(Call::ChangeDirectory) << QString() << int(FCE_E_TIMEOUT) << "No reply to CWD within 500 ms"
        << QStringList();
    QTest::newRow("endless multi-line reply")
        << QJsonObject{{"drip_reply", QJsonObject{{"command", "CWD"}}}} << int(Call::ChangeDirectory)
        << QString() << int(FCE_E_PROTOCOL) << "Reply longer than 1000 lines or 65536 bytes in answer to CWD"
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

void TestHostileServers::callEndsInTimeWithItsCause() {
    QFETCH(QJsonObject, faults);
    QFETCH(int, call);
    QFETCH(QString, name);
    QFETCH(int, code);
    QFETCH(QString, text);
    QFETCH(QStringList, sizeCommands);
    FtpServerFixture server;
    QVERIFY(server.start());
    QVERIFY(EngineSession::writeFile(server.root() + "/f.wav", "0123456789"));
    QVERIFY(EngineSession::writeFile(server.root() + "/" + kLongName, "long name"));
    QTemporaryDir local;
    server.setFaults(faults);
    EngineSession engine;
    QElapsedTimer clock;
    clock.start();
    const int32_t rc = runCall(Call(call), engine, server, name, local.path());
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(rc, int32_t(code));
    if (code < 0)
        QVERIFY2(EngineSession::errorText(rc).startsWith(text), qPrintable(EngineSession::errorText(rc)));
    QCOMPARE(server.commands().filter(QRegularExpression("^SIZE ")), sizeCommands);
    const QStringList expectedLocal =
        call == int(Call::Download) && code == 0 ? QStringList{name} : QStringList{};
    QCOMPARE(EngineSession::entriesOf(local.path()), expectedLocal);
}

QTEST_GUILESS_MAIN(TestHostileServers)
#include "tst_hostileservers.moc"
