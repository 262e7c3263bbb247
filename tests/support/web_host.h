#pragma once

#include "support/nginx_server.h"
#include "support/vsftpd_server.h"

#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// A web host as the sender rents it, on loopback: real vsftpd accounts whose login
// directories lie in the folder a real nginx serves, so a part stored by FTP as NAME in
// account USER is fetched by HTTP from webSite(USER) + NAME. Ports are free ones picked
// at start.
class WebHost {
public:
    struct Account {
        QString user;
        QString password;
    };
    explicit WebHost(const QList<Account>& accounts);

    // Before start(): the host speaks TLS with this certificate (for "localhost"): FTPS
    // required by the FTP server, and the web addresses are https ones.
    void enableTls(const QString& certFile, const QString& keyFile);
    // Starts both servers; false with the reason in errorText() when one does not come up.
    bool start();
    QString errorText() const { return m_error; }

    // The FTP host as typed into the site list: "127.0.0.1:PORT" ("localhost:PORT" with TLS).
    QString ftpSite() const;
    // "http://127.0.0.1:PORT/USER/" ("https://localhost:PORT/USER/" with TLS)
    QString webSite(const QString& user) const;
    // "http://127.0.0.1:PORT" + path (https with TLS)
    QString url(const QString& path) const;
    // The file NAME stored in the account's login directory.
    QString storedPath(const QString& user, const QString& name) const;
    // The folder nginx serves (every account's directory is in it).
    QString webRoot() const { return m_root.path(); }
    // The FTP server, for settings before start() and its log.
    VsftpdServer& ftp() { return m_ftp; }

private:
    QTemporaryDir m_root;
    VsftpdServer m_ftp;
    std::unique_ptr<NginxServer> m_web;
    QString m_error;
    bool m_tls = false;
};
