#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// A real HTTP server for the tests: nginx on a free loopback port, serving one
// directory, with its own configuration, pid, temporary and log files in a private
// temporary directory; optionally also over HTTPS, on further free ports, each with a
// certificate of its own. A missing nginx is a failure of the test, never a skip.
class NginxServer {
public:
    struct Redirect {
        QString from;  // exact request path, "/old"
        QString to;    // target as the Location field gives it; "{https}" stands for tlsUrl(QString())
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

    // Before start(): the numeric loopback address the plain server listens on ("::1");
    // 127.0.0.1 without it.
    void setListenAddress(const QString& address) { m_address = address; }
    // Before start(): each connection sends at most this fast (nginx's limit_rate: "4m").
    void setLimitRate(const QString& rate) { m_limitRate = rate; }
    // Before start(): a request beyond this many at once from one address is answered 503
    // (nginx's limit_conn), so a client that opens too many shows in the log.
    void setConnectionLimit(int most) { m_connectionLimit = most; }
    // Before start(): every request is logged; then the log's lines so far, each
    // "CONNECTION STATUS BODY_BYTES_SENT RANGE URI" (RANGE "-" for none).
    void keepAccessLog() { m_accessLog = true; }
    QStringList accessLog() const;
    quint16 port() const { return m_port; }
    // "http://127.0.0.1:PORT" + path ("http://[::1]:PORT" on IPv6)
    QString url(const QString& path) const;

    // Before start(): one more HTTPS server (the same directory and relocations) with this
    // certificate (PEM files); its number, from 0.
    int addTlsServer(const QString& certFile, const QString& keyFile);
    quint16 tlsPort(int server = 0) const { return m_tls.value(server).port; }
    // "https://localhost:PORT" + path: the name the test certificates are made for.
    QString tlsUrl(const QString& path, int server = 0) const;

    // The path of the nginx binary, or empty when it is not installed.
    static QString binary();

private:
    bool startOnce();
    void stop();
    QString configText() const;

    struct TlsServer {
        QString cert, key;
        quint16 port = 0;
    };

    QString m_root;
    QList<Redirect> m_redirects;
    QList<TlsServer> m_tls;
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    QString m_address = QStringLiteral("127.0.0.1");
    QString m_limitRate;
    int m_connectionLimit = 0;
    bool m_accessLog = false;
    QString m_error;
};
