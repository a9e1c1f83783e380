#include "EngineSession.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTest>

// The list text of a server directory in each listing mode the test server speaks (MLSD, Unix LIST,
// DOS/IIS LIST): complete, untrimmed, directories marked, "." and ".." never in it.
class TestEngineListing : public QObject {
    Q_OBJECT

private slots:
    void listText_data();
    void listText();
    void emptyDirectory_data();
    void emptyDirectory();
    void tenThousandEntries_data();
    void tenThousandEntries();
    void dotEntriesNeverAppear_data();
    void dotEntriesNeverAppear();
    void fixedBufferGetsAllOrFails();
    void unknownListKindIsRefused();

private:
    void addModes();
    bool startWith(FtpServerFixture& server, EngineSession& engine);
    static QStringList linesOf(const std::string& text);
};

void TestEngineListing::addModes() {
    QTest::addColumn<int>("mode");
    QTest::newRow("mlsd") << int(FtpServerFixture::ListingMode::Mlsd);
    QTest::newRow("unix") << int(FtpServerFixture::ListingMode::UnixList);
    QTest::newRow("dos") << int(FtpServerFixture::ListingMode::DosList);
}

bool TestEngineListing::startWith(FtpServerFixture& server, EngineSession& engine) {
    QFETCH(int, mode);
    return server.start(FtpServerFixture::ListingMode(mode)) && QDir(server.root()).mkpath("D") &&
           engine.connect(server) == 0 && fceSetServerDir(0, "D") == 0;
}

QStringList TestEngineListing::linesOf(const std::string& text) {
    QString all = QString::fromStdString(text);
    if (!all.isEmpty() && !all.endsWith("\r\n"))
        return {"<last line not ended by CR LF>"};
    QStringList lines = all.split("\r\n");
    lines.removeLast();
    return lines;
}

void TestEngineListing::listText_data() {
    addModes();
}

void TestEngineListing::listText() {
    FtpServerFixture server;
    EngineSession engine;
    QFETCH(int, mode);
    QVERIFY(server.start(FtpServerFixture::ListingMode(mode)));
    QDir d(server.root());
    QVERIFY(d.mkpath("D/SUB1") && d.mkpath("D/Sub Dir"));
    QVERIFY(EngineSession::writeFile(d.filePath("D/p1.wav"), "12345"));
    QVERIFY(EngineSession::writeFile(d.filePath("D/  two leading.wav"), "1"));
    QVERIFY(EngineSession::writeFile(d.filePath("D/a  b.wav"), "1"));
    QVERIFY(QFile::link("p1.wav", d.filePath("D/link.wav")));
    QCOMPARE(engine.connect(server), 0);
    QCOMPARE(fceSetServerDir(0, "D"), 0);

    std::string listing;
    int32_t length = fceGetList(0, 1, listing);
    QCOMPARE(length, int32_t(listing.size()));
    QStringList lines = linesOf(listing);
    lines.sort();
    QCOMPARE(lines,
             QStringList({"  two leading.wav", "SUB1/", "Sub Dir/", "a  b.wav", "link.wav", "p1.wav"}));
}

void TestEngineListing::emptyDirectory_data() {
    addModes();
}

void TestEngineListing::emptyDirectory() {
    FtpServerFixture server;
    EngineSession engine;
    QVERIFY(startWith(server, engine));
    std::string listing = "stale";
    QCOMPARE(fceGetList(0, 1, listing), 0);
    QCOMPARE(listing, std::string());
    char buffer[16] = "stale";
    QCOMPARE(fceGetList(0, 1, buffer, sizeof(buffer)), 0);
    QCOMPARE(buffer[0], '\0');
}

void TestEngineListing::tenThousandEntries_data() {
    addModes();
}

void TestEngineListing::tenThousandEntries() {
    FtpServerFixture server;
    EngineSession engine;
    QVERIFY(startWith(server, engine));
    QStringList expected;
    for (int i = 0; i < 10000; ++i) {
        QString name = QString("m%1.wav").arg(i, 5, 10, QChar('0'));
        QFile file(server.root() + "/D/" + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        expected << name;
    }
    std::string listing;
    QVERIFY(fceGetList(0, 1, listing) > 0);
    QStringList lines = linesOf(listing);
    lines.sort();
    QCOMPARE(lines.size(), 10000);
    QCOMPARE(lines, expected);
}

void TestEngineListing::dotEntriesNeverAppear_data() {
    addModes();
}

void TestEngineListing::dotEntriesNeverAppear() {
    FtpServerFixture server;
    EngineSession engine;
    QVERIFY(startWith(server, engine));
    QVERIFY(EngineSession::writeFile(server.root() + "/D/x.wav", "x"));
    const QJsonArray dots = {QJsonObject{{"name", "."}, {"type", "dir"}},
                             QJsonObject{{"name", ".."}, {"type", "dir"}}};
    server.setFaults({{"hostile_entries", QJsonObject{{"entries", dots}}}});
    std::string listing;
    QVERIFY(fceGetList(0, 1, listing) > 0);
    QCOMPARE(linesOf(listing), QStringList({"x.wav"}));
}

void TestEngineListing::fixedBufferGetsAllOrFails() {
    FtpServerFixture server;
    EngineSession engine;
    QVERIFY(server.start());
    QVERIFY(QDir(server.root()).mkpath("MSG"));
    for (int i = 0; i < 3000; ++i) {
        QFile file(server.root() + QString("/MSG/message%1.wav").arg(i, 5, 10, QChar('0')));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QCOMPARE(engine.connect(server), 0);
    QCOMPARE(fceSetServerDir(0, "MSG"), 0);

    // 3,000 names of 16 characters + CR LF: more than the 32,000 bytes the window once offered.
    std::vector<char> small(32000);
    int32_t rc = fceGetList(0, 1, small.data(), int32_t(small.size()));
    QCOMPARE(rc, int32_t(FCE_E_BUFFER_TOO_SMALL));
    QCOMPARE(EngineSession::errorText(rc),
             QString("The listing of 54000 bytes does not fit a buffer of 32000 bytes"));

    std::vector<char> exact(54000);
    QCOMPARE(fceGetList(0, 1, exact.data(), int32_t(exact.size())), 54000);
    std::string grown;
    QCOMPARE(fceGetList(0, 1, grown), 54000);
    QCOMPARE(std::string(exact.data(), exact.size()), grown);
}

void TestEngineListing::unknownListKindIsRefused() {
    FtpServerFixture server;
    EngineSession engine;
    QVERIFY(server.start());
    QCOMPARE(engine.connect(server), 0);
    server.clearCommands();
    std::string listing;
    QCOMPARE(fceGetList(0, 2, listing), int32_t(FCE_E_BAD_ARGUMENT));
    QCOMPARE(server.commands(), QStringList());
}

QTEST_GUILESS_MAIN(TestEngineListing)
#include "tst_enginelisting.moc"
