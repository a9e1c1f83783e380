// kavrel-cli and a server certificate it cannot verify: it never asks, it refuses with exit status 2
// and names the --trust that would trust the certificate; --trust stores it beside the settings file.

#include "FtpServerFixture.h"
#include "TestCertificate.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestCliTrust : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void untrustedCertificate_data();
    void untrustedCertificate();

private:
    QTemporaryDir m_folder;
    QString m_presented;
    FtpServerFixture m_server;
};

void TestCliTrust::initTestCase() {
    QString pem;
    QVERIFY(makeTestCertificate(m_folder.path(), pem, m_presented));
    m_server.setExtraArguments({"--tls-cert", pem});
    QVERIFY(m_server.start());
    QVERIFY(QDir(m_server.root()).mkpath("DTA"));
    QFile file(m_server.root() + "/DTA/system.dat");
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("voice-mail data") == 15);
}

void TestCliTrust::untrustedCertificate_data() {
    QTest::addColumn<QString>("stored"); // "presented" stands for the server's own fingerprint
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("status");
    const QString other = "SHA256:" + QByteArray(32, '\x5a').toHex(':').toUpper();
    QTest::newRow("untrusted, even --quiet prints") << "" << QStringList{"--quiet"} << 2;
    QTest::newRow("--trust stores and connects") << "" << QStringList{"--trust", "presented"} << 0;
    QTest::newRow("trusted before") << "presented" << QStringList() << 0;
    QTest::newRow("changed is refused") << other << QStringList() << 2;
    QTest::newRow("--trust the new one replaces") << other << QStringList{"--trust", "presented"} << 0;
    QTest::newRow("mistyped --trust stores nothing") << "" << QStringList{"--trust", other} << 2;
}

void TestCliTrust::untrustedCertificate() {
    QFETCH(QString, stored);
    QFETCH(QStringList, options);
    QFETCH(int, status);
    options.replaceInStrings("presented", m_presented.toLower());
    QTemporaryDir work;
    QFile settings(work.filePath("pbx1.INI")), trust(work.filePath("pbx1.TRUST"));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write(
        QStringLiteral("[Connection]\nServer=%1\nUser=admin\nPassword=tamsk\n[LocalHost]\nDataPath=%2\n")
            .arg(m_server.address(), work.filePath("backup"))
            .toUtf8());
    settings.close();
    const QString storedBefore = stored == "presented" ? m_presented : stored;
    QVERIFY(stored.isEmpty() || (trust.open(QIODevice::WriteOnly) &&
                                 trust.write((storedBefore + " " + m_server.address() + "\n").toUtf8()) > 0));
    trust.close();
    m_server.clearCommands();
    QProcess cli;
    cli.start(KAVREL_CLI_PATH,
              QStringList{"backup", "--settings", settings.fileName(), "--only", "DTA"} + options);
    QVERIFY(cli.waitForFinished(60000));
    const QString out = QString::fromUtf8(cli.readAllStandardOutput());
    QVERIFY2(cli.exitStatus() == QProcess::NormalExit && cli.exitCode() == status, qPrintable(out));

    const bool refused = status == 2;
    QCOMPARE(out.contains("run again with: --trust " + m_presented + "\n"), refused);
    QCOMPARE(out.contains("CHANGED") && out.contains(storedBefore + ","), refused && !storedBefore.isEmpty());
    QCOMPARE(m_server.commands().contains("USER admin"), !refused);
    QCOMPARE(QFile::exists(work.filePath("backup/DTA/system.dat")), !refused);
    const QString expected = refused ? storedBefore : m_presented;
    const QString trusted = trust.open(QIODevice::ReadOnly) ? QString::fromUtf8(trust.readAll()) : QString();
    QCOMPARE(trusted.contains(expected + " " + m_server.address() + "\n"), !expected.isEmpty());
}

QTEST_GUILESS_MAIN(TestCliTrust)
#include "tst_clitrust.moc"
