// The window and a server certificate it cannot verify: the question, its answers, and the list of
// trusted certificates beside the settings file, against the test server with a self-signed certificate.

#include "FtpServerFixture.h"
#include "Kavrel.h"
#include "MessageBoxRecorder.h"
#include "TemporaryProgramFolder.h"
#include "TestCertificate.h"
#include "WindowInspection.h"

#include "settings/TrustStore.h"

#include <QLineEdit>
#include <QtTest>

using WindowInspection::control;
using WindowInspection::logLines;

class CertificateTrustTest : public QObject {
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

void CertificateTrustTest::initTestCase() {
    QString pem;
    QVERIFY(makeTestCertificate(m_folder.path(), pem, m_presented));
    m_server.setExtraArguments({"--tls-cert", pem});
    QVERIFY(m_server.start());
}

void CertificateTrustTest::untrustedCertificate_data() {
    QTest::addColumn<QString>("stored"); // "presented" stands for the server's own fingerprint
    QTest::addColumn<bool>("yes");
    QTest::addColumn<int>("questions");
    QTest::addColumn<bool>("connected");
    const QString other = "SHA256:" + QByteArray(32, '\x5a').toHex(':').toUpper();
    QTest::newRow("first use, Yes stores and connects") << "" << true << 1 << true;
    QTest::newRow("first use, No stays disconnected") << "" << false << 1 << false;
    QTest::newRow("trusted before: no question") << "presented" << false << 0 << true;
    QTest::newRow("changed, No keeps the old one") << other << false << 1 << false;
    QTest::newRow("changed, Yes replaces it") << other << true << 1 << true;
}

void CertificateTrustTest::untrustedCertificate() {
    QFETCH(QString, stored);
    QFETCH(bool, yes);
    QFETCH(int, questions);
    QFETCH(bool, connected);
    if (stored == "presented")
        stored = m_presented;
    TemporaryProgramFolder folder;
    const TrustStore store(TrustStore::pathBeside(folder.settingsPath().toStdString()));
    const std::string server = m_server.address().toStdString();
    QVERIFY(stored.isEmpty() || store.trust(server, stored.toStdString()));
    MessageBoxRecorder boxes;
    boxes.setAnswer(yes);
    QStringList sentBeforeAnswer;
    boxes.setWhileOpen([&](const MessageBoxRecorder::Box&) { sentBeforeAnswer = m_server.commands(); });
    Kavrel window(&boxes);
    window.Form_Load();
    m_server.clearCommands();
    control<QLineEdit>(window, "eServer")->setText(m_server.address());
    control<QLineEdit>(window, "eUser")->setText("admin");
    control<QLineEdit>(window, "ePassword")->setText("tamsk");
    window.bConnect_Click();

    const QStringList log = logLines(window);
    QCOMPARE(boxes.count(), questions);
    QCOMPARE(window.FTPState(), connected ? Kavrel::StateConnected : Kavrel::StateDisconnected);
    QCOMPARE(m_server.commands().contains("USER admin"), connected);
    QCOMPARE(QString::fromStdString(store.fingerprintFor(server)), connected ? m_presented : stored);
    QCOMPARE(log.filter(QRegularExpression("^Connected with TLS 1\\.[23] \\(.+\\)$")).size(),
             connected ? 1 : 0);
    QCOMPARE(
        log.contains("Certificate " + m_presented + " not trusted: not connected to " + m_server.address()),
        !yes && questions == 1);
    if (questions == 0)
        return;
    QVERIFY2(sentBeforeAnswer.filter(QRegularExpression("^(USER|PASS|PBSZ|PROT)")).isEmpty(),
             qPrintable(sentBeforeAnswer.join('\n')));
    const MessageBoxRecorder::Box question = boxes.last();
    for (const QString& part : {m_presented, QStringLiteral("CN=127.0.0.1"), QStringLiteral("UTC to")})
        QVERIFY2(question.text.contains(part), qPrintable(question.text));
    const bool changed = !stored.isEmpty();
    QCOMPARE(question.text.contains("CHANGED") && question.text.contains(stored), changed);
    QCOMPARE((question.style & MessageBoxSeam::StyleDefaultNo) != 0, changed);
}

QTEST_MAIN(CertificateTrustTest)
#include "tst_certificatetrust.moc"
