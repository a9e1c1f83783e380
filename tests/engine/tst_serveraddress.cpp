#include "FtpEngine.h"
#include "ServerAddress.h"

#include <QTest>

// The server field as the user types it.
class TestServerAddress : public QObject {
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
};

void TestServerAddress::parse_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("shown");

    QTest::newRow("host") << "trelvik" << true << "trelvik" << 21 << "trelvik:21";
    QTest::newRow("host and port") << "127.0.0.1:2121" << true << "127.0.0.1" << 2121 << "127.0.0.1:2121";
    QTest::newRow("v6 with port") << "[::1]:2121" << true << "::1" << 2121 << "[::1]:2121";
    QTest::newRow("v6 bracketed") << "[::1]" << true << "::1" << 21 << "[::1]:21";
    QTest::newRow("bare v6") << "fe80::1" << true << "fe80::1" << 21 << "[fe80::1]:21";
    QTest::newRow("blanks go on unchanged") << "  " << true << "  " << 21 << "  :21";
    QTest::newRow("empty") << "" << false << "" << 0 << "";
    QTest::newRow("port zero") << "host:0" << false << "" << 0 << "";
    QTest::newRow("port too big") << "host:65536" << false << "" << 0 << "";
    QTest::newRow("port not a number") << "host:ftp" << false << "" << 0 << "";
    QTest::newRow("colon without port") << "host:" << false << "" << 0 << "";
    QTest::newRow("open bracket") << "[::1:21" << false << "" << 0 << "";
    QTest::newRow("junk after bracket") << "[::1]x21" << false << "" << 0 << "";
}

void TestServerAddress::parse() {
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, shown);

    ServerAddress address;
    EngineStatus status = ServerAddress::parse(text.toStdString(), address);
    QCOMPARE(status.ok(), valid);
    if (!valid) {
        QCOMPARE(status.code(), int32_t(FCE_E_BAD_ARGUMENT));
        QCOMPARE(QString::fromStdString(status.text()), "Invalid server address: " + text);
        return;
    }
    QCOMPARE(QString::fromStdString(address.host()), host);
    QCOMPARE(int(address.port()), port);
    QCOMPARE(QString::fromStdString(address.display()), shown);
}

QTEST_APPLESS_MAIN(TestServerAddress)
#include "tst_serveraddress.moc"
