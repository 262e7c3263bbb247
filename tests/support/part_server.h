#pragma once

#include "support/loopback_port.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

// One answer of the part server to one GET: bytes sent as they stand, then a close or
// silence until the client gives up.
struct PartReply {
    enum After { Close, StallUntilClientCloses };
    // How a reply made from the request's Range field answers it.
    enum RangeAnswer { NoRanges, Honour, WrongStart, WrongTotal, Whole };
    QByteArray bytes;
    After after = Close;
    int delayMs = 0;  // the server waits this long before it answers
    int trickleMs = 0;  // when set: the bytes from `trickleFrom` on go out one at a time, this long apart
    qint64 trickleFrom = 0;
    // When not NoRanges, the reply is made from `document` and the request's Range.
    RangeAnswer ranges = NoRanges;
    QByteArray document;
    qint64 bodyLimit = -1;  // when set: no more of the body than this is sent

    // The same answer, given after a pause.
    PartReply delayed(int ms) const;
    // The same answer with only the first `sent` bytes of its body sent, then `then`.
    PartReply cut(qint64 sent, After then) const;
    // The same answer with its body sent one byte every `msPerByte`.
    PartReply slowly(int msPerByte) const;

    // 200 with the body and its Content-Length.
    static PartReply ok(const QByteArray& body);
    // 200 with the body and no Content-Length: the close ends the document.
    static PartReply withoutLength(const QByteArray& body);
    // Any status with a body (a 404 page).
    static PartReply status(int code, const QByteArray& body);
    // The whole length announced, the first `sent` bytes of the body, then silence.
    static PartReply stallAfter(const QByteArray& body, qint64 sent);
    // The request is read and never answered.
    static PartReply silent();
    // The whole length announced, the first `sent` bytes, then a close.
    static PartReply shortBody(const QByteArray& body, qint64 sent);
    // The header at once, then the body one byte every `msPerByte`.
    static PartReply trickle(const QByteArray& body, int msPerByte);
    // The document as a server with ranges sends it: 206 with the bytes a Range field
    // asks for ("bytes=A-B" or "bytes=A-"), or 200 with all of it to a request without
    // one; or wrongly, as `answer` says: 206 from another first byte (half the one
    // asked), 206 naming a total one byte larger, 200 with all of it whatever was asked.
    static PartReply ranged(const QByteArray& document, RangeAnswer answer = Honour);
};

// An HTTP server on loopback (port chosen by the system) for the gather tests: every
// connection is served on its own thread, so parallel downloads really run side by
// side, and each path answers its n-th request with its n-th reply (the last one
// repeats). Unknown paths get a 404. It counts requests per path and open connections.
class PartServer {
public:
    explicit PartServer(QMap<QString, QList<PartReply>> replies);
    ~PartServer();
    PartServer(const PartServer&) = delete;
    PartServer& operator=(const PartServer&) = delete;

    // "http://127.0.0.1:PORT" + path
    QString url(const QString& path) const;
    int requests(const QString& path) const;
    // The Range field of each request of the path, in order ("" for none).
    QStringList asked(const QString& path) const;
    // Connections the server has not closed yet, and the most open at once: at each
    // accept, the connections whose client has not closed them (the server's own close
    // can come a moment after the client's, which must not count).
    int openNow() const;
    int mostOpen() const;

private:
    void acceptLoop();
    void serve(int fd);
    bool readRequest(int fd, QByteArray& request);
    bool waitReadable(int fd, int timeoutMs) const { return WaitReadableUnlessStopped(fd, m_stopPipe[0], timeoutMs); }

    QMap<QString, QList<PartReply>> m_replies;
    QMap<QString, int> m_requests;
    QMap<QString, QStringList> m_asked;
    int m_open = 0;
    int m_mostOpen = 0;
    std::vector<int> m_openFds;
    int m_listenFd = -1;
    int m_stopPipe[2] = {-1, -1};
    quint16 m_port = 0;
    mutable std::mutex m_mutex;
    std::vector<std::thread> m_connections;
    std::thread m_acceptThread;
};
