#include "vsftpd_server.h"

#include "support/loopback_port.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <algorithm>
#include <crypt.h>
#include <pwd.h>
#include <unistd.h>

namespace {

const char kPamModule[] = "/lib/x86_64-linux-gnu/security/pam_pwdfile.so";

bool writeText(const QString& path, const QString& text) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text.toUtf8()) >= 0;
}

QString sha512Crypt(const QString& password) {
    static const char alphabet[] = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    QByteArray salt = "$6$";
    for (int i = 0; i < 16; ++i)
        salt += alphabet[QRandomGenerator::global()->bounded(64)];
    crypt_data data{};
    const char* hash = crypt_r(password.toUtf8().constData(), salt.constData(), &data);
    return hash ? QString::fromLatin1(hash) : QString();
}

}  // namespace

VsftpdServer::VsftpdServer() {
    // A service name of its own per fixture: tests of several developers run at once.
    m_pamService = QStringLiteral("parcelwick-test-%1-%2")
                       .arg(::getpid())
                       .arg(QRandomGenerator::global()->generate() & 0xffffff, 6, 16, QLatin1Char('0'));
}

VsftpdServer::~VsftpdServer() {
    stop();
    QFile::remove(QStringLiteral("/etc/pam.d/") + m_pamService);
}

QString VsftpdServer::binary() {
    return QStandardPaths::findExecutable("vsftpd", {"/usr/sbin", "/usr/local/sbin", "/usr/bin", "/sbin"});
}

void VsftpdServer::addAccount(const QString& user, const QString& password, const QString& rootDir) {
    m_accounts << Account{user, password, rootDir};
}

void VsftpdServer::enableTls(const QString& certFile, const QString& keyFile) {
    m_tlsCert = certFile;
    m_tlsKey = keyFile;
}

bool VsftpdServer::writeFiles() {
    const passwd* me = ::getpwuid(::geteuid());
    if (!me) {
        m_error = QStringLiteral("the running user has no name");
        return false;
    }
    const QString d = m_dir.path();
    QDir().mkpath(d + "/users");
    QDir().mkpath(d + "/empty");
    QString passwords;
    for (const Account& a : m_accounts) {
        if (!QDir().mkpath(a.root)) {
            m_error = QStringLiteral("cannot create ") + a.root;
            return false;
        }
        passwords += a.user + ':' + sha512Crypt(a.password) + '\n';
        if (!writeText(d + "/users/" + a.user, QStringLiteral("local_root=%1\n").arg(a.root)))
            return false;
    }
    const QString pamText = QStringLiteral("auth required pam_pwdfile.so nodelay pwdfile=%1/passwd\n"
                                           "account required pam_permit.so\n")
                                .arg(d);
    if (!writeText(d + "/passwd", passwords) || !writeText("/etc/pam.d/" + m_pamService, pamText)) {
        m_error = QStringLiteral("cannot write the accounts (the fixture needs root for /etc/pam.d)");
        return false;
    }
    // Virtual users act as the running user, so they own what they store and read
    // what the test put in their directories.
    const QString listen = m_ipv6 ? QStringLiteral("listen=NO\nlisten_ipv6=YES\nlisten_address6=::1\n")
                                  : QStringLiteral("listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\n");
    const QString config = listen + QStringLiteral(
                               "background=NO\n"
                               "listen_port=%1\n"
                               "anonymous_enable=NO\n"
                               "local_enable=YES\n"
                               "write_enable=YES\n"
                               "local_umask=022\n"
                               "guest_enable=YES\n"
                               "guest_username=%2\n"
                               "virtual_use_local_privs=YES\n"
                               "user_config_dir=%3/users\n"
                               "pam_service_name=%4\n"
                               "secure_chroot_dir=%3/empty\n"
                               "seccomp_sandbox=NO\n"
                               "isolate=NO\n"
                               "isolate_network=NO\n"
                               "delay_failed_login=0\n"
                               "port_enable=YES\n"
                               "connect_from_port_20=NO\n"
                               "pasv_enable=YES\n"
                               "pasv_address=127.0.0.1\n"
                               "xferlog_enable=YES\n"
                               "vsftpd_log_file=%3/vsftpd.log\n")
                               .arg(m_port)
                               .arg(QString::fromLocal8Bit(me->pw_name), d, m_pamService);
    // vsftpd's own cipher default (DES-CBC3-SHA) is one OpenSSL 3 no longer offers.
    const QString tls = m_tlsCert.isEmpty() ? QString()
                                            : QStringLiteral("ssl_enable=YES\n"
                                                             "rsa_cert_file=%1\n"
                                                             "rsa_private_key_file=%2\n"
                                                             "ssl_ciphers=HIGH\n"
                                                             "force_local_logins_ssl=YES\n"
                                                             "force_local_data_ssl=YES\n"
                                                             "require_ssl_reuse=YES\n"
                                                             "strict_ssl_read_eof=YES\n")
                                                  .arg(m_tlsCert, m_tlsKey);
    if (!writeText(d + "/vsftpd.conf", config + tls + m_extraConfig)) {
        m_error = QStringLiteral("cannot write the vsftpd configuration");
        return false;
    }
    return true;
}

bool VsftpdServer::start() {
    if (binary().isEmpty()) {
        m_error = QStringLiteral("vsftpd is not installed (scripts/setup installs it)");
        return false;
    }
    if (!QFile::exists(kPamModule)) {
        m_error = QStringLiteral("pam_pwdfile is not installed (scripts/setup installs libpam-pwdfile)");
        return false;
    }
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("cannot create a temporary directory for vsftpd");
        return false;
    }
    for (int attempt = 0; attempt < 3; ++attempt)
        if (startOnce())
            return true;
    return false;
}

bool VsftpdServer::startOnce() {
    stop();
    m_port = FreeLoopbackPort();
    if (!writeFiles())
        return false;
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->start(binary(), {m_dir.filePath("vsftpd.conf")});
    if (!m_process->waitForStarted(10000)) {
        m_error = QStringLiteral("vsftpd did not start: ") + m_process->errorString();
        return false;
    }
    if (WaitUntilServerAnswers(*m_process, m_port, 10000, m_ipv6 ? "::1" : "127.0.0.1")) {
        m_error.clear();
        return true;
    }
    m_error = QStringLiteral("vsftpd did not come up on port %1: %2")
                  .arg(m_port)
                  .arg(QString::fromLocal8Bit(m_process->readAll()));
    return false;
}

// The log's lines are appended as the sessions go: a user's session begins with its
// "OK LOGIN" line and ends with its QUIT, which the client sends before it opens the next.
int VsftpdServer::mostSessionsAtOnce(const QString& user) const {
    QFile log(m_dir.filePath("vsftpd.log"));
    if (!log.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray tag = user.isEmpty() ? QByteArray("] [") : "] [" + user.toUtf8() + "] ";
    int now = 0, most = 0;
    for (const QByteArray& line : log.readAll().split('\n')) {
        if (!line.contains(tag))
            continue;
        if (line.contains("] OK LOGIN"))
            most = std::max(most, ++now);
        else if (line.contains("FTP command:") && line.endsWith("\"QUIT\""))
            --now;
    }
    return most;
}

void VsftpdServer::stop() {
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(10000);
    }
    m_process.reset();
}
