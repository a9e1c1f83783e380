#include "FtpServerFixture.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QJsonDocument>
#include <QSaveFile>
#include <QTest>

namespace {

constexpr int startTimeoutMs = 10000;
constexpr int stopTimeoutMs = 3000;

} // namespace

FtpServerFixture::FtpServerFixture() {
    // The server's warnings (an unreadable fault file, a Python error) belong in the test's output.
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

bool FtpServerFixture::start(ListingMode mode) {
    stop();
    m_workDir = std::make_unique<QTemporaryDir>();
    if (!m_workDir->isValid() || !QDir(m_workDir->path()).mkdir(QStringLiteral("root"))) {
        QWARN("FtpServerFixture: cannot create a temporary folder");
        return false;
    }
    m_commandLogOffset = 0;
    setFaults(QJsonObject());
    static const char* const listings[] = {"mlsd", "unix", "dos"};
    QStringList arguments{KAVREL_FTPSERVER_SCRIPT,
                          "--root",
                          root(),
                          "--listing",
                          listings[int(mode)],
                          "--faults",
                          workFile("faults.json"),
                          "--command-log",
                          workFile("commands.log")};
    QString pem;
    if (m_tlsOffered && !makeTestCertificate(m_workDir->path(), pem, m_fingerprint))
        return false;
    if (m_tlsOffered)
        arguments << "--tls-cert" << pem;
    // Debian's interpreter, which has pyftpdlib.
    m_process.start("/usr/bin/python3", arguments + m_extraArguments, QIODevice::ReadOnly);
    if (!m_process.waitForStarted(startTimeoutMs) || !waitForPort()) {
        QWARN(qPrintable("FtpServerFixture: the server did not start: " + m_process.errorString()));
        stop();
        return false;
    }
    return true;
}

bool FtpServerFixture::waitForPort() {
    QDeadlineTimer deadline(startTimeoutMs);
    while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
        while (m_process.canReadLine()) {
            const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
            m_port = line.startsWith("PORT ") ? quint16(line.mid(5).toUInt()) : 0;
            if (m_port != 0)
                return true;
        }
        m_process.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
    }
    return false;
}

void FtpServerFixture::stop() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate(); // by its process id
        if (!m_process.waitForFinished(stopTimeoutMs)) {
            m_process.kill();
            m_process.waitForFinished(stopTimeoutMs);
        }
    }
    m_port = 0;
}

void FtpServerFixture::setFaults(const QJsonObject& faults) {
    if (!m_workDir)
        return;
    QJsonObject content = faults;
    content.insert(QStringLiteral("_generation"), ++m_faultGeneration);
    // Written beside and renamed over, so the server never reads half a file.
    QSaveFile file(workFile(QStringLiteral("faults.json")));
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(content).toJson()) < 0 || !file.commit())
        QWARN("FtpServerFixture: cannot write the fault file");
}

QStringList FtpServerFixture::commands() const {
    const QString log =
        QString::fromUtf8(readFile(workFile(QStringLiteral("commands.log"))).mid(m_commandLogOffset));
    QStringList lines = log.split('\n');
    lines.removeLast(); // every line ends in LF
    return lines;
}
