#include "support/web_host.h"

WebHost::WebHost(const QList<Account>& accounts) {
    for (const Account& a : accounts)
        m_ftp.addAccount(a.user, a.password, m_root.filePath(a.user));
    m_web = std::make_unique<NginxServer>(m_root.path());
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

QString WebHost::ftpSite() const { return QStringLiteral("127.0.0.1:%1").arg(m_ftp.port()); }

QString WebHost::webSite(const QString& user) const { return m_web->url('/' + user + '/'); }

QString WebHost::url(const QString& path) const { return m_web->url(path); }

QString WebHost::storedPath(const QString& user, const QString& name) const {
    return m_root.filePath(user + '/' + name);
}
