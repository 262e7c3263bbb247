#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>

// A real HTTP server for the tests: nginx on a free loopback port, serving one
// directory, with its own configuration, pid, temporary and log files in a private
// temporary directory. A missing nginx is a failure of the test, never a skip.
class NginxServer {
public:
    struct Redirect {
        QString from;  // exact request path, "/old"
        QString to;    // target as the Location field gives it
        int code = 302;
    };

    NginxServer(const QString& rootDir, QList<Redirect> redirects = {});
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    // Starts the server and waits (bounded) until its port answers. False, with the
    // reason in errorText(), when nginx is missing or does not come up.
    bool start();
    QString errorText() const { return m_error; }

    quint16 port() const { return m_port; }
    // "http://127.0.0.1:PORT" + path
    QString url(const QString& path) const;

    // The path of the nginx binary, or empty when it is not installed.
    static QString binary();

private:
    bool startOnce();
    void stop();
    QString configText() const;

    QString m_root;
    QList<Redirect> m_redirects;
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    QString m_error;
};
