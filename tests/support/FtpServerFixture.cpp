#include "FtpServerFixture.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QTest>

namespace {

constexpr int startTimeoutMs = 10000;
constexpr int stopTimeoutMs = 3000;

QString listingArgument(FtpServerFixture::ListingMode mode) {
    switch (mode) {
    case FtpServerFixture::ListingMode::UnixList:
        return QStringLiteral("unix");
    case FtpServerFixture::ListingMode::DosList:
        return QStringLiteral("dos");
    case FtpServerFixture::ListingMode::Mlsd:
        break;
    }
    return QStringLiteral("mlsd");
}

} // namespace

FtpServerFixture::FtpServerFixture() {
    // The server's warnings (an unreadable fault file, a Python error) belong in the test's output.
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

FtpServerFixture::~FtpServerFixture() {
    stop();
}

QString FtpServerFixture::scriptPath() {
    return QStringLiteral(KAVREL_FTPSERVER_SCRIPT);
}

QString FtpServerFixture::pythonPath() {
    return QStringLiteral("/usr/bin/python3");
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
    QStringList arguments{scriptPath(),
                          QStringLiteral("--root"),
                          root(),
                          QStringLiteral("--port"),
                          QStringLiteral("0"),
                          QStringLiteral("--host"),
                          QStringLiteral("127.0.0.1"),
                          QStringLiteral("--listing"),
                          listingArgument(mode),
                          QStringLiteral("--faults"),
                          workFile(QStringLiteral("faults.json")),
                          QStringLiteral("--command-log"),
                          workFile(QStringLiteral("commands.log"))};
    if (m_tlsOffered)
        arguments << QStringLiteral("--tls");
    arguments << m_extraArguments;
    m_process.start(pythonPath(), arguments, QIODevice::ReadOnly);
    if (!m_process.waitForStarted(startTimeoutMs)) {
        QWARN(qPrintable(QStringLiteral("FtpServerFixture: cannot start %1: %2")
                             .arg(pythonPath(), m_process.errorString())));
        return false;
    }
    if (!waitForPort()) {
        stop();
        return false;
    }
    return true;
}

bool FtpServerFixture::waitForPort() {
    QDeadlineTimer deadline(startTimeoutMs);
    while (!deadline.hasExpired()) {
        while (m_process.canReadLine()) {
            const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
            if (!line.startsWith(QLatin1String("PORT ")))
                continue;
            bool ok = false;
            const uint port = line.mid(5).toUInt(&ok);
            if (ok && port > 0 && port < 65536) {
                m_port = static_cast<quint16>(port);
                return true;
            }
        }
        if (m_process.state() != QProcess::Running) {
            QWARN("FtpServerFixture: the server ended before it listened");
            return false;
        }
        m_process.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
    }
    QWARN("FtpServerFixture: the server did not report its port within 10 s");
    return false;
}

void FtpServerFixture::stop() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(stopTimeoutMs)) {
            m_process.kill();
            m_process.waitForFinished(stopTimeoutMs);
        }
    }
    m_port = 0;
}

bool FtpServerFixture::isRunning() const {
    return m_process.state() == QProcess::Running && m_port != 0;
}

QString FtpServerFixture::address() const {
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

QString FtpServerFixture::root() const {
    return m_workDir ? m_workDir->filePath(QStringLiteral("root")) : QString();
}

QString FtpServerFixture::workFile(const QString& name) const {
    return m_workDir ? m_workDir->filePath(name) : QString();
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
    QFile log(workFile(QStringLiteral("commands.log")));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    log.seek(m_commandLogOffset);
    QStringList lines;
    while (!log.atEnd()) {
        QByteArray line = log.readLine();
        if (line.endsWith('\n'))
            line.chop(1);
        lines << QString::fromUtf8(line);
    }
    return lines;
}

void FtpServerFixture::clearCommands() {
    m_commandLogOffset = QFileInfo(workFile(QStringLiteral("commands.log"))).size();
}
