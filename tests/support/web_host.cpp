#include "support/web_host.h"

WebHost::WebHost(const QList<Account>& accounts) {
    for (const Account& a : accounts)
        m_ftp.addAccount(a.user, a.password, m_root.filePath(a.user));
    m_web = std::make_unique<NginxServer>(m_root.path());
}

void WebHost::enableTls(const QString& certFile, const QString& keyFile) {
    m_ftp.enableTls(certFile, keyFile);
    m_web->addTlsServer(certFile, keyFile);
    m_tls = true;
}

bool WebHost::start() {
    if (!m_root.isValid()) {
        m_error = QStringLiteral("cannot create the web host's folder");
        return false;
    }
    if (!m_ftp.start()) {
        m_error = m_ftp.errorText();
        return false;
    }
    if (!m_web->start()) {
        m_error = m_web->errorText();
        return false;
    }
    return true;
}

// The certificate names "localhost", and a TLS client checks the name it was given.
QString WebHost::ftpSite() const { return QStringLiteral("%1:%2").arg(m_tls ? "localhost" : "127.0.0.1").arg(m_ftp.port()); }

QString WebHost::webSite(const QString& user) const { return url('/' + user + '/'); }

QString WebHost::url(const QString& path) const { return m_tls ? m_web->tlsUrl(path) : m_web->url(path); }

QString WebHost::storedPath(const QString& user, const QString& name) const {
    return m_root.filePath(user + '/' + name);
}
