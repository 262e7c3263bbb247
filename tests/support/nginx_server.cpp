#include "nginx_server.h"

#include "support/loopback_port.h"

#include <QFile>
#include <QStandardPaths>

#include <unistd.h>

namespace {

// An IPv6 address as URLs and nginx's listen directive write it.
QString bracketed(const QString& address) { return address.contains(':') ? '[' + address + ']' : address; }

}  // namespace

NginxServer::NginxServer(const QString& rootDir, QList<Redirect> redirects)
    : m_root(rootDir), m_redirects(std::move(redirects)) {}

NginxServer::~NginxServer() { stop(); }

QString NginxServer::binary() {
    return QStandardPaths::findExecutable("nginx", {"/usr/sbin", "/usr/local/sbin", "/usr/bin", "/sbin"});
}

QString NginxServer::url(const QString& path) const {
    return QStringLiteral("http://%1:%2%3").arg(bracketed(m_address)).arg(m_port).arg(path);
}

int NginxServer::addTlsServer(const QString& certFile, const QString& keyFile) {
    m_tls.append({certFile, keyFile, 0});
    return int(m_tls.size()) - 1;
}

QString NginxServer::tlsUrl(const QString& path, int server) const {
    return QStringLiteral("https://localhost:%1%2").arg(tlsPort(server)).arg(path);
}

QString NginxServer::configText() const {
    const QString d = m_dir.path();
    QString redirects;
    for (const Redirect& r : m_redirects)
        redirects += QStringLiteral("    location = %1 { return %2 %3; }\n")
                         .arg(r.from)
                         .arg(r.code)
                         .arg(QString(r.to).replace(QLatin1String("{https}"), tlsUrl(QString())));
    QString tlsServers;
    for (const TlsServer& t : m_tls)
        tlsServers += QStringLiteral("  server {\n"
                                     "    listen 127.0.0.1:%1 ssl;\n"
                                     "    ssl_protocols TLSv1.2 TLSv1.3;\n"
                                     "    ssl_certificate %2;\n"
                                     "    ssl_certificate_key %3;\n"
                                     "    root %4;\n"
                                     "%5"
                                     "  }\n")
                          .arg(t.port)
                          .arg(t.cert, t.key, m_root, redirects);
    // One process in the foreground, so the fixture owns it and can kill it; root in CI
    // must say so for the worker to keep its rights on the served directory.
    return QStringLiteral(
               "daemon off;\n"
               "master_process off;\n"
               "%1"
               "worker_processes 1;\n"
               "pid %2/nginx.pid;\n"
               "error_log %2/error.log warn;\n"
               "events { worker_connections 128; }\n"
               "http {\n"
               "  limit_conn_zone $binary_remote_addr zone=peers:1m;\n"
               "%8"
               "  client_body_temp_path %2/body;\n"
               "  proxy_temp_path %2/proxy;\n"
               "  fastcgi_temp_path %2/fastcgi;\n"
               "  uwsgi_temp_path %2/uwsgi;\n"
               "  scgi_temp_path %2/scgi;\n"
               "  types { text/html html htm; text/plain txt; }\n"
               "  default_type application/octet-stream;\n"
               "  sendfile on;\n"
               "  server {\n"
               "    listen %7:%3;\n"
               "    root %4;\n"
               "%9"
               "%5"
               "  }\n"
               "%6"
               "}\n")
        .arg(::geteuid() == 0 ? QStringLiteral("user root;\n") : QString())
        .arg(d)
        .arg(m_port)
        .arg(m_root)
        .arg(redirects)
        .arg(tlsServers)
        .arg(bracketed(m_address))
        .arg(m_accessLog ? QStringLiteral("  log_format parts '$connection $status $body_bytes_sent \"$http_range\" "
                                          "$request_uri';\n  access_log %1/access.log parts;\n")
                               .arg(d)
                         : QStringLiteral("  access_log off;\n"))
        .arg((m_limitRate.isEmpty() ? QString() : QStringLiteral("    limit_rate %1;\n").arg(m_limitRate)) +
             (m_connectionLimit <= 0 ? QString() : QStringLiteral("    limit_conn peers %1;\n").arg(m_connectionLimit)));
}

QStringList NginxServer::accessLog() const {
    QFile log(m_dir.filePath("access.log"));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
    for (QString& line : lines)
        line.replace('"', QString());
    return lines;
}

bool NginxServer::start() {
    if (binary().isEmpty()) {
        m_error = QStringLiteral("nginx is not installed (scripts/setup installs nginx-light)");
        return false;
    }
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("cannot create a temporary directory for nginx");
        return false;
    }
    for (int attempt = 0; attempt < 3; ++attempt)
        if (startOnce())
            return true;
    return false;
}

bool NginxServer::startOnce() {
    stop();
    m_port = FreeLoopbackPort();
    for (TlsServer& t : m_tls)
        t.port = FreeLoopbackPort();
    const QString confPath = m_dir.filePath("nginx.conf");
    QFile conf(confPath);
    if (!conf.open(QIODevice::WriteOnly | QIODevice::Truncate) || conf.write(configText().toUtf8()) < 0) {
        m_error = QStringLiteral("cannot write ") + confPath;
        return false;
    }
    conf.close();

    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->start(binary(), {"-p", m_dir.path(), "-c", confPath, "-e", m_dir.filePath("error.log")});
    if (!m_process->waitForStarted(10000)) {
        m_error = QStringLiteral("nginx did not start: ") + m_process->errorString();
        return false;
    }
    if (WaitUntilServerAnswers(*m_process, m_port, 10000, m_address.toLatin1().constData())) {
        m_error.clear();
        return true;
    }
    QFile log(m_dir.filePath("error.log"));
    log.open(QIODevice::ReadOnly);
    m_error = QStringLiteral("nginx did not come up on port %1: %2 %3")
                  .arg(m_port)
                  .arg(QString::fromLocal8Bit(m_process->readAll()), QString::fromLocal8Bit(log.readAll()));
    return false;
}

void NginxServer::stop() {
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(10000);
    }
    m_process.reset();
}
