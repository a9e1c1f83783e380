// kavrel-cli and a server certificate it cannot verify: it never asks, it refuses with exit status 2
// and names the --trust that would trust the certificate; --trust stores it beside the settings file.

#include "FtpServerFixture.h"
#include "TestCertificate.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kOther = "SHA256:" + QByteArray(32, '\x5a').toHex(':').toUpper();

} // namespace

class TestCliTrust : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void untrustedCertificate_data();
    void untrustedCertificate();

private:
    TestCertificate m_certificate;
    FtpServerFixture m_server;
};

void TestCliTrust::initTestCase() {
    QVERIFY(m_certificate.make());
    m_server.setTlsCertificate(m_certificate.pemPath());
    QVERIFY(m_server.start());
    QVERIFY(QDir(m_server.root()).mkpath("DTA"));
    QFile file(m_server.root() + "/DTA/system.dat");
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("voice-mail data") == 15);
}

void TestCliTrust::untrustedCertificate_data() {
    QTest::addColumn<QString>("stored"); // "new" stands for the server's own fingerprint
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("storedAfter");
    const QString presented = m_certificate.fingerprint();
    QTest::newRow("untrusted") << "" << QStringList() << 2 << "";
    QTest::newRow("untrusted, quiet") << "" << QStringList{"--quiet"} << 2 << "";
    QTest::newRow("--trust stores and connects")
        << "" << QStringList{"--trust", presented.toLower()} << 0 << presented;
    QTest::newRow("trusted before") << "new" << QStringList{"--quiet"} << 0 << presented;
    QTest::newRow("changed is refused") << kOther << QStringList() << 2 << kOther;
    QTest::newRow("--trust the new one replaces")
        << kOther << QStringList{"--trust=" + presented} << 0 << presented;
    QTest::newRow("mistyped --trust stores nothing") << "" << QStringList{"--trust", kOther} << 2 << "";
}

void TestCliTrust::untrustedCertificate() {
    QFETCH(QString, stored);
    QFETCH(QStringList, options);
    QFETCH(int, status);
    QFETCH(QString, storedAfter);
    const QString presented = m_certificate.fingerprint();
    QTemporaryDir work;
    const QString settings = work.filePath("pbx1.INI");
    const QString trustFile = work.filePath("pbx1.TRUST");
    QFile file(settings);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(
        QStringLiteral("[Connection]\nServer=%1\nUser=admin\nPassword=tamsk\n[LocalHost]\nDataPath=%2\n")
            .arg(m_server.address(), work.filePath("backup"))
            .toUtf8());
    file.close();
    QFile trust(trustFile);
    if (!stored.isEmpty()) {
        QVERIFY(trust.open(QIODevice::WriteOnly));
        trust.write(((stored == "new" ? presented : stored) + " " + m_server.address() + "\n").toUtf8());
        trust.close();
    }
    m_server.clearCommands();
    QProcess cli;
    cli.start(QStringLiteral(KAVREL_CLI_PATH),
              QStringList{"backup", "--settings", settings, "--only", "DTA"} + options);
    QVERIFY(cli.waitForFinished(60000));
    const QString out = QString::fromUtf8(cli.readAllStandardOutput());
    QVERIFY2(cli.exitStatus() == QProcess::NormalExit && cli.exitCode() == status, qPrintable(out));

    const bool refused = status == 2;
    QCOMPARE(out.contains("--trust " + presented + "\n"), refused);
    QCOMPARE(out.contains("CHANGED") && out.contains(kOther + ","), refused && stored == kOther);
    QCOMPARE(m_server.commands().filter(QRegularExpression("^USER ")).isEmpty(), refused);
    QCOMPARE(QFile::exists(work.filePath("backup/DTA/system.dat")), !refused);
    QString nowStored;
    if (trust.open(QIODevice::ReadOnly))
        for (const QString& line : QString::fromUtf8(trust.readAll()).split('\n'))
            if (line.endsWith(" " + m_server.address()))
                nowStored = line.section(' ', 0, 0);
    QCOMPARE(nowStored, storedAfter);
}

QTEST_GUILESS_MAIN(TestCliTrust)
#include "tst_clitrust.moc"
