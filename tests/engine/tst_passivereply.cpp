#include "PassiveReply.h"

#include <QTest>

// Only the port of a passive reply is used; the address a PASV reply names is never trusted.
class TestPassiveReply : public QObject {
    Q_OBJECT

private slots:
    void epsv_data();
    void epsv();
    void pasv_data();
    void pasv();
};

void TestPassiveReply::epsv_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("port");
    QTest::newRow("vsftpd") << QByteArray("229 Entering Extended Passive Mode (|||21183|)") << 21183;
    QTest::newRow("pyftpdlib") << QByteArray("229 Entering extended passive mode (|||47295|).") << 47295;
    QTest::newRow("other delimiter") << QByteArray("229 ok (!!!40000!)") << 40000;
    QTest::newRow("no parenthesis") << QByteArray("229 Entering Extended Passive Mode |||21183|") << -1;
    QTest::newRow("port zero") << QByteArray("229 x (|||0|)") << -1;
    QTest::newRow("port too big") << QByteArray("229 x (|||65536|)") << -1;
    QTest::newRow("no closing delimiter") << QByteArray("229 x (|||2121)") << -1;
    QTest::newRow("mixed delimiters") << QByteArray("229 x (|!|2121|)") << -1;
    QTest::newRow("empty port") << QByteArray("229 x (||||)") << -1;
}

void TestPassiveReply::epsv() {
    QFETCH(QByteArray, line);
    QFETCH(int, port);
    uint16_t got = 0;
    bool ok = PassiveReply::parseEpsvPort(line.toStdString(), got);
    QCOMPARE(ok, port >= 0);
    if (ok)
        QCOMPARE(int(got), port);
}

void TestPassiveReply::pasv_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("port");
    QTest::newRow("vsftpd") << QByteArray("227 Entering Passive Mode (127,0,0,1,82,157).") << 82 * 256 + 157;
    QTest::newRow("no parenthesis") << QByteArray("227 Entering Passive Mode 10,0,0,7,156,64")
                                    << 156 * 256 + 64;
    QTest::newRow("private address announced") << QByteArray("227 =192,168,1,20,4,1") << 4 * 256 + 1;
    QTest::newRow("number too big") << QByteArray("227 (127,0,0,1,300,1)") << -1;
    QTest::newRow("five numbers") << QByteArray("227 (127,0,0,1,82)") << -1;
    QTest::newRow("port zero") << QByteArray("227 (127,0,0,1,0,0)") << -1;
    QTest::newRow("nothing") << QByteArray("227 Entering Passive Mode") << -1;
}

void TestPassiveReply::pasv() {
    QFETCH(QByteArray, line);
    QFETCH(int, port);
    uint16_t got = 0;
    bool ok = PassiveReply::parsePasvPort(line.toStdString(), got);
    QCOMPARE(ok, port >= 0);
    if (ok)
        QCOMPARE(int(got), port);
}

QTEST_APPLESS_MAIN(TestPassiveReply)
#include "tst_passivereply.moc"
