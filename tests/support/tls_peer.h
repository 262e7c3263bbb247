#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

struct ssl_st;
struct ssl_ctx_st;

// One connection of a TlsPeer as its script sees it: blocking calls with a time limit,
// the TLS server role (whoever connected), and the raw socket for what a sound server
// would never do.
class TlsPeerConnection {
public:
    TlsPeerConnection(int fd, ssl_ctx_st* ctx, int releaseFd);
    ~TlsPeerConnection();

    bool handshake(); // false when the client broke it off
    bool sessionReused() const;
    QString protocol() const;
    QString serverName() const; // what the client sent as SNI
    void send(const QByteArray& bytes);
    QByteArray readExactly(qint64 count);
    // Reads until the bytes end with marker (a request's "\r\n\r\n"), or the end.
    QByteArray readUntil(const QByteArray& marker);
    // Reads until close_notify or the end of the connection.
    QByteArray readToEnd();
    bool closeNotifyReceived() const { return m_closeNotify; }
    // Reads records and sends each back until the client ends the session.
    qint64 echo();
    void closeNotify(); // sends close_notify, keeps the connection open
    // Waits until the peer is released or stopped: sending nothing, reading nothing.
    void stall();

    // The plain socket, before or instead of TLS.
    void rawSend(const QByteArray& bytes);
    QByteArray rawReadLine();
    QByteArray rawReadSome(); // one read: what has arrived (at least a byte)
    void reset(); // an abortive close: the client sees a reset

private:
    int m_fd;
    ssl_st* m_ssl = nullptr;
    int m_releaseFd;
    bool m_closeNotify = false;
};

// A TLS server for the tests on a thread per connection (blocking OpenSSL, so it is
// independent of our socket layer): plays the n-th script on the n-th connection it
// accepts on 127.0.0.1 (port chosen by the system), or on a connection it makes itself
// to a port of ours, as an FTP server does for an active data connection. A script
// returns at its end; the connection is then closed without close_notify.
class TlsPeer {
public:
    struct Options {
        QString cert, key;
        int maxVersion = 0; // e.g. TLS1_2_VERSION; 0 = the library's best
        int minVersion = 0; // below TLS 1.2 also lowers the security level
        quint32 listenAddress = 0x7f000001; // 127.0.0.1
        quint16 listenPort = 0;             // 0: chosen by the system
    };
    using Script = std::function<void(TlsPeerConnection&)>;

    TlsPeer(const Options& options, QList<Script> scripts);
    ~TlsPeer();
    // The same on port 443 (the default HTTPS port, which needs root, as CI has) of a
    // loopback address other than 127.0.0.1, picked at random so that test runs side by
    // side do not meet: for what a client does differently on the default port.
    static std::unique_ptr<TlsPeer> onDefaultHttpsPort(Options options, QList<Script> scripts);
    TlsPeer(const TlsPeer&) = delete;
    TlsPeer& operator=(const TlsPeer&) = delete;

    quint16 port() const { return m_port; }
    QString portText() const { return QString::number(m_port); }
    QString host() const; // the dotted address it listens on
    // Plays the next script on a connection to 127.0.0.1:port.
    void connectTo(quint16 port);
    // Ends every stall, present and future.
    void release();
    // Scripts that have returned.
    int finished() const { return m_finished; }
    bool serverUsable() const { return m_ctx != nullptr; }

private:
    void acceptLoop();
    void play(int fd);

    Options m_options;
    QList<Script> m_scripts;
    ssl_ctx_st* m_ctx = nullptr;
    int m_listenFd = -1;
    int m_stopPipe[2] = {-1, -1};
    int m_releasePipe[2] = {-1, -1};
    quint16 m_port = 0;
    std::mutex m_mutex;
    int m_next = 0;
    std::atomic<int> m_finished{0};
    QList<std::shared_ptr<std::thread>> m_threads;
};
