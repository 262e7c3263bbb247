#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// A real FTP server for the tests: vsftpd in the foreground on a free loopback port,
// with its own configuration, logs and accounts in a private temporary directory.
// Accounts are virtual users (a password file read by pam_pwdfile through a PAM
// service of the fixture's own, removed again at the end), each with a login
// directory the test chooses; nothing is added to the system's user list. Active
// (PORT) and passive (EPSV, PASV on loopback) transfers are both enabled. Needs root,
// as vsftpd does. A missing vsftpd or pam_pwdfile is a failure, never a skip.
class VsftpdServer {
public:
    VsftpdServer();
    ~VsftpdServer();
    VsftpdServer(const VsftpdServer&) = delete;
    VsftpdServer& operator=(const VsftpdServer&) = delete;

    // Before start(): one more account; its login directory is created when missing.
    void addAccount(const QString& user, const QString& password, const QString& rootDir);
    // Before start(): explicit FTP over TLS with this certificate (PEM files), required
    // for logins and data, every data connection resuming the control connection's
    // session, and an upload complete only when the client ends it with close_notify.
    void enableTls(const QString& certFile, const QString& keyFile);
    // Before start(): listen on ::1 (IPv6) instead of 127.0.0.1.
    void listenOnIPv6() { m_ipv6 = true; }
    // Before start(): more lines of vsftpd.conf ("max_per_ip=3", "local_max_rate=4000000").
    void addConfig(const QString& lines) { m_extraConfig += lines + '\n'; }
    // Before start(): every command of every session goes to the server's log, with the
    // user's name once logged in; then the most sessions one user (empty: all users
    // together) had at once.
    void logCommands() { addConfig(QStringLiteral("log_ftp_protocol=YES")); }
    int mostSessionsAtOnce(const QString& user) const;

    // Starts the server and waits (bounded) until its port answers. False, with the
    // reason in errorText(), when it cannot.
    bool start();
    QString errorText() const { return m_error; }
    quint16 port() const { return m_port; }

    static QString binary();

private:
    struct Account {
        QString user, password, root;
    };
    bool writeFiles();
    bool startOnce();
    void stop();

    QList<Account> m_accounts;
    QString m_tlsCert, m_tlsKey;
    bool m_ipv6 = false;
    QString m_extraConfig;
    QTemporaryDir m_dir;
    QString m_pamService;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    QString m_error;
};
