#pragma once

#include "support/loopback_port.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <memory>
#include <mutex>
#include <thread>

// One step of a scripted dialogue, played by the server on one accepted connection.
struct ScriptStep {
    enum Kind { ReadUntil, Expect, Send, SendPieces, Stall, Close, Reset };
    Kind kind = Close;
    QByteArray bytes;          // ReadUntil: the delimiter; Expect, Send: the bytes
    QList<QByteArray> pieces;  // SendPieces
    int pauseMs = 0;           // SendPieces: pause between two pieces

    // Reads until the delimiter has arrived (the bytes are recorded, not checked).
    static ScriptStep readUntil(const QByteArray& delimiter);
    // Reads exactly as many bytes as given; a difference is recorded as a failure.
    static ScriptStep expect(const QByteArray& bytes);
    static ScriptStep send(const QByteArray& bytes);
    // Sends each piece with its own send call and a pause between them, so the client
    // sees a reply split across reads.
    static ScriptStep sendPieces(const QList<QByteArray>& pieces, int pauseMs = 20);
    // Holds the connection open, sending nothing, until release() or the server's end.
    static ScriptStep stall();
    // A graceful close (also done after the last step).
    static ScriptStep close();
    // An abortive close: the peer sees a reset.
    static ScriptStep reset();
};

using Dialogue = QList<ScriptStep>;

// A loopback TCP server on a thread with blocking sockets that plays an exact dialogue
// per accepted connection, in order, and records every byte each client sent. The port
// is chosen by the system. Used for the faults a real server will not produce on
// demand: dribbled replies, stalls, early closes, resets, garbage.
class ScriptedServer {
public:
    // The n-th accepted connection plays the n-th dialogue; with repeatLast, every
    // connection after the list plays the last one again (a relocation loop).
    explicit ScriptedServer(QList<Dialogue> dialogues, bool repeatLast = false);
    ~ScriptedServer();

    // The same on port 80 (the default HTTP port, which needs root, as CI has) of a
    // loopback address other than 127.0.0.1, picked at random so that test runs side by
    // side do not meet: for what a client does differently on the default port.
    static std::unique_ptr<ScriptedServer> onDefaultHttpPort(QList<Dialogue> dialogues);
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    quint16 port() const { return m_port; }
    // The dotted loopback address it listens on.
    QString host() const { return m_host; }
    // "http://HOST:PORT" + path
    QString url(const QString& path = QStringLiteral("/")) const;

    // Ends every stall, present and future.
    void release();

    int connectionCount() const;
    // What the client sent on the given connection (from 0), so far.
    QByteArray received(int connection) const;
    // Every difference from the script met so far, one line each; empty when none.
    QString failures() const;

private:
    ScriptedServer(QList<Dialogue> dialogues, bool repeatLast, quint32 address, quint16 port);
    void run();
    void play(int fd, const Dialogue& dialogue, int index);
    bool readUntil(int fd, int index, const QByteArray& delimiter, qint64 minimum);
    bool waitReadable(int fd, int timeoutMs) const { return WaitReadableUnlessStopped(fd, m_stopPipe[0], timeoutMs); }
    bool stopWithin(int ms);
    void record(int index, const char* data, qint64 count);
    void fail(const QString& line);
    void drainAndClose(int fd, int index);

    QList<Dialogue> m_dialogues;
    bool m_repeatLast;
    int m_listenFd = -1;
    int m_stopPipe[2] = {-1, -1};
    int m_releasePipe[2] = {-1, -1};
    quint16 m_port = 0;
    QString m_host;
    mutable std::mutex m_mutex;
    QList<QByteArray> m_received;
    QStringList m_failures;
    std::thread m_thread;
};

// A loopback server that feeds several downloads at once from one thread: it accepts
// the given number of connections, reads each request header, and then sends each the
// same answer, a Content-Length header and bodySize bytes of a known pattern, taking
// turns among the connections that can take more, and closes them. A client that keeps
// reading one connection while the other waits shows as one download far ahead.
class ParallelSender {
public:
    ParallelSender(int connections, qint64 bodySize);
    ~ParallelSender();
    ParallelSender(const ParallelSender&) = delete;
    ParallelSender& operator=(const ParallelSender&) = delete;

    // "http://127.0.0.1:PORT" + path
    QString url(const QString& path) const;
    // Whether data is the body's pattern from the given offset on.
    static bool matchesPattern(const char* data, qint64 size, qint64 offset);
    // Every difference from the plan met so far; empty when none.
    QString failures() const;

private:
    void run();

    int m_connections;
    qint64 m_bodySize;
    int m_listenFd = -1;
    int m_stopPipe[2] = {-1, -1};
    quint16 m_port = 0;
    mutable std::mutex m_mutex;
    QStringList m_failures;
    std::thread m_thread;
};
