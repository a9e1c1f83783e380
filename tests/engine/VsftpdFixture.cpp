#include "VsftpdFixture.h"

#include "TestFiles.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

VsftpdFixture::~VsftpdFixture() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate(); // by its process id
        m_process.waitForFinished(3000);
    }
}

QString VsftpdFixture::start(bool implicitTls, bool tls12Only) {
    passwd* ftpUser = ::getpwnam("ftp");
    if (::geteuid() != 0 || !QFile::exists(QStringLiteral("/usr/sbin/vsftpd")) || ftpUser == nullptr)
        return QStringLiteral("vsftpd needs root, /usr/sbin/vsftpd and the user ftp");
    const QString root = m_dir.path() + QStringLiteral("/root");
    QDir().mkpath(dataFolder());
    QDir().mkpath(QStringLiteral("/var/run/vsftpd/empty"));
    QFile::setPermissions(m_dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                            QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                            QFileDevice::ExeOther);
    if (::chown(dataFolder().toUtf8().constData(), ftpUser->pw_uid, ftpUser->pw_gid) != 0)
        return QStringLiteral("cannot hand the data folder to ftp");
    QString pem, fingerprint;
    if (!makeTestCertificate(m_dir.path(), pem, fingerprint))
        return QStringLiteral("openssl cannot make a certificate");
    QString config = writeConfig(implicitTls);
    QFile capped(m_dir.path() + QStringLiteral("/tls12.cnf"));
    if (tls12Only && capped.open(QIODevice::WriteOnly)) {
        capped.write("openssl_conf = init\n[init]\nssl_conf = ssl\n[ssl]\nsystem_default = sys\n"
                     "[sys]\nMaxProtocol = TLSv1.2\n");
        capped.close();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("OPENSSL_CONF"), capped.fileName());
        m_process.setProcessEnvironment(environment);
    }
    m_process.start(QStringLiteral("/usr/sbin/vsftpd"), {config});
    return waitForPort() ? QString() : QStringLiteral("vsftpd did not listen on %1").arg(address());
}

QString VsftpdFixture::writeConfig(bool implicitTls) {
    // Below the system's range for outgoing ports, so a passive port is never taken by a client socket.
    m_port = static_cast<quint16>(30000 + QRandomGenerator::global()->bounded(27) * 100);
    const QString path = m_dir.path();
    QFile file(path + QStringLiteral("/vsftpd.conf"));
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(QStringLiteral(
                   "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=%1\nbackground=NO\n"
                   "anonymous_enable=YES\nlocal_enable=NO\nno_anon_password=YES\nanon_root=%2/root\n"
                   "write_enable=YES\nanon_upload_enable=YES\nanon_mkdir_write_enable=YES\n"
                   "anon_other_write_enable=YES\nanon_umask=022\npasv_enable=YES\npasv_address=127.0.0.1\n"
                   "pasv_min_port=%3\npasv_max_port=%4\nsecure_chroot_dir=/var/run/vsftpd/empty\n"
                   "seccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\nuse_localtime=NO\n"
                   "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\nforce_anon_data_ssl=YES\n"
                   "require_ssl_reuse=YES\nstrict_ssl_read_eof=YES\nstrict_ssl_write_shutdown=YES\n"
                   "ssl_ciphers=HIGH\nimplicit_ssl=%5\nrsa_cert_file=%2/server.pem\n")
                   .arg(m_port)
                   .arg(path)
                   .arg(m_port + 1)
                   .arg(m_port + 99)
                   .arg(implicitTls ? "YES" : "NO")
                   .toUtf8());
    return file.fileName();
}

bool VsftpdFixture::waitForPort() {
    QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired() && m_process.state() != QProcess::NotRunning) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(m_port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bool listening = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
        ::close(fd);
        if (listening)
            return true;
        QThread::msleep(50);
    }
    return false;
}
