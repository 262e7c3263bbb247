#pragma once

#include "support/loopback_port.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <mutex>
#include <thread>

// One step of a scripted FTP dialogue.
struct FtpStep {
    enum Kind { Reply, ReplyPieces, Expect, DataConnect, DataListen, DataAccept, DataReceive, DataSend, DataClose,
                Pause, Stall, Close, NextConnection, DataCut };
    Kind kind = Close;
    QByteArray bytes;
    QList<QByteArray> pieces;
    int ms = 0;

    // Sends the bytes as they stand (line ends included) on the control connection.
    // "{port}", "{p1}" and "{p2}" become the passive listener's port, its high and its
    // low byte.
    static FtpStep reply(const QByteArray& bytes);
    // One send per piece with a pause between them: a reply split across reads.
    static FtpStep replyPieces(const QList<QByteArray>& pieces, int pauseMs = 30);
    // Reads one command line (up to CR LF) and records a failure unless it equals the
    // text; a text ending in "*" only has to begin the line.
    static FtpStep expect(const QByteArray& line);
    // Connects to the address of the last PORT command received.
    static FtpStep connectToPort();
    // Opens the passive listener on loopback (before the reply that announces it).
    static FtpStep listenPassive();
    static FtpStep acceptData();
    // Reads the data connection until the client closes it.
    static FtpStep receiveData();
    static FtpStep sendData(const QByteArray& bytes);
    static FtpStep closeData();
    // Reads the data connection until `bytes` have come (or the client closes it), then
    // resets it: a connection lost in the middle of a transfer.
    static FtpStep cutDataAfter(qint64 bytes);
    // Ends the control connection (as after the last step) and plays on with the next
    // connection the client makes: a second session.
    static FtpStep nextConnection();
    static FtpStep pause(int ms);
    // Sends nothing until release() or the end of the server.
    static FtpStep stall();
    // Closes the control connection (also done after the last step).
    static FtpStep close();
};

// A loopback FTP server on a thread with blocking sockets that plays one exact dialogue
// on the first control connection (and the next ones, after nextConnection()) and records every byte the client sent on it and on
// the data connection. For the faults a real server will not produce on demand: split
// and dribbled replies, odd line ends, stalls, early closes, either order of the reply
// and the data connection.
class ScriptedFtpServer {
public:
    // address: the numeric loopback address of the control and passive listeners ("::1").
    explicit ScriptedFtpServer(QList<FtpStep> dialogue, const char* address = "127.0.0.1");
    ~ScriptedFtpServer();
    ScriptedFtpServer(const ScriptedFtpServer&) = delete;
    ScriptedFtpServer& operator=(const ScriptedFtpServer&) = delete;

    quint16 port() const { return m_port; }
    void release();

    QByteArray received() const;      // the control connection
    QByteArray dataReceived() const;  // every data connection, in order
    QString portAddress() const;      // "a.b.c.d:port" of the last PORT command
    QString failures() const;         // one line per difference from the script
    bool finished() const;            // the dialogue has been played to its end

private:
    void run();
    void play(int& fd);
    void endConnection(int& fd);
    bool readLine(int fd, QByteArray& line);
    bool waitReadable(int fd, int timeoutMs) const { return WaitReadableUnlessStopped(fd, m_stopPipe[0], timeoutMs); }
    QByteArray substitute(QByteArray bytes) const;
    void fail(const QString& line);
    void closeFd(int& fd);

    QList<FtpStep> m_dialogue;
    const char* m_address;
    int m_listenFd = -1;
    int m_passiveFd = -1;
    int m_dataFd = -1;
    quint16 m_passivePort = 0;
    int m_stopPipe[2] = {-1, -1};
    int m_releasePipe[2] = {-1, -1};
    quint16 m_port = 0;
    mutable std::mutex m_mutex;
    QByteArray m_received, m_dataReceived;
    QString m_portAddress;
    QStringList m_failures;
    bool m_finished = false;
    std::thread m_thread;
};
