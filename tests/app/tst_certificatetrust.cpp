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

namespace {

const QString kOther = "SHA256:" + QByteArray(32, '\x5a').toHex(':').toUpper();

bool sent(const QStringList& commands, const QString& verb) {
    for (const QString& line : commands)
        if (line.section(' ', 0, 0).compare(verb, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

} // namespace

class CertificateTrustTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void untrustedCertificate_data();
    void untrustedCertificate();

private:
    TestCertificate m_certificate;
    FtpServerFixture m_server;
};

void CertificateTrustTest::initTestCase() {
    QVERIFY(m_certificate.make());
    m_server.setTlsCertificate(m_certificate.pemPath());
    QVERIFY(m_server.start());
}

void CertificateTrustTest::untrustedCertificate_data() {
    QTest::addColumn<QString>("stored"); // "new" stands for the server's own fingerprint
    QTest::addColumn<bool>("yes");
    QTest::addColumn<int>("questions");
    QTest::addColumn<bool>("connected");
    QTest::newRow("first use, Yes stores and connects") << "" << true << 1 << true;
    QTest::newRow("first use, No stays disconnected") << "" << false << 1 << false;
    QTest::newRow("trusted before: no question") << "new" << false << 0 << true;
    QTest::newRow("changed, No keeps the old one") << kOther << false << 1 << false;
    QTest::newRow("changed, Yes replaces it") << kOther << true << 1 << true;
}

void CertificateTrustTest::untrustedCertificate() {
    QFETCH(QString, stored);
    QFETCH(bool, yes);
    QFETCH(int, questions);
    QFETCH(bool, connected);
    const QString presented = m_certificate.fingerprint();
    TemporaryProgramFolder folder;
    const TrustStore store(TrustStore::pathBeside(folder.settingsPath().toStdString()));
    if (!stored.isEmpty())
        QVERIFY(store.trust(m_server.address().toStdString(),
                            (stored == "new" ? presented : stored).toStdString()));
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

    QCOMPARE(boxes.count(), questions);
    QCOMPARE(window.FTPState(), connected ? Kavrel::StateConnected : Kavrel::StateDisconnected);
    QCOMPARE(sent(m_server.commands(), "USER"), connected);
    const QString nowStored = QString::fromStdString(store.fingerprintFor(m_server.address().toStdString()));
    QCOMPARE(nowStored, connected ? presented : stored);
    const QStringList tlsLines =
        logLines(window).filter(QRegularExpression("^Connected with TLS 1\\.[23] \\(.+\\)$"));
    QVERIFY2(tlsLines.size() == (connected ? 1 : 0), qPrintable(logLines(window).join('\n')));
    if (questions == 0)
        return;
    QVERIFY(sent(sentBeforeAnswer, "AUTH"));
    QVERIFY2(!sent(sentBeforeAnswer, "USER") && !sent(sentBeforeAnswer, "PASS"),
             qPrintable(sentBeforeAnswer.join('\n')));
    const MessageBoxRecorder::Box question = boxes.last();
    for (const QString& part : {presented, QStringLiteral("127.0.0.1"), QStringLiteral("UTC to")})
        QVERIFY2(question.text.contains(part), qPrintable(question.text));
    const bool changed = !stored.isEmpty();
    QCOMPARE(question.text.contains("CHANGED") && question.text.contains(stored), changed);
    QCOMPARE((question.style & MessageBoxSeam::StyleDefaultNo) != 0, changed);
    if (!yes)
        QVERIFY(logLines(window).contains("Certificate " + presented + " not trusted: not connected to " +
                                          m_server.address()));
}

QTEST_MAIN(CertificateTrustTest)
#include "tst_certificatetrust.moc"
