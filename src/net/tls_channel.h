#pragma once

#include "net/tls_context.h"
#include "net/tls_peer_info.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <memory>

struct ssl_st;
struct ssl_session_st;
struct bio_st;
struct x509_st;

// One TLS client session over memory: OpenSSL reads ciphertext from a bounded buffer
// that the socket fills from the kernel and writes ciphertext into another that the
// socket empties into the kernel (a BIO pair: the bounds hold memory when the network
// is slower than the program, and the socket reads and writes the buffers in place).
// It never touches a file descriptor, so it never blocks.
class TlsChannel {
public:
    enum class Result {
        Done,      // the step finished
        WantRead,  // more ciphertext must arrive first
        WantWrite, // the outgoing buffer is full: send it first
        Closed,    // the peer sent close_notify
        Eof,       // the connection ended without close_notify
        Failed     // see errorNumber() and errorText()
    };

    // hostPort keys the trusted fingerprints; resume, when given, is tried first.
    TlsChannel(std::shared_ptr<TTlsContext> context, const QString& serverName, const QString& hostPort,
               ssl_session_st* resume);
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    Result handshake();
    bool established() const { return m_established; }
    bool failed() const { return m_errorNumber != 0; }

    Result read(char* buffer, qint64 size, qint64& got);
    // Decrypts the next record without consuming it, so plainPending() can count it.
    Result peek();
    // All of it or nothing (WantWrite: call again with the same bytes after sending).
    Result write(const char* data, qint64 size);
    // Queues close_notify (only on an established, sound session).
    void shutdown();

    // Ciphertext from the network: room to receive into, then how much arrived.
    char* inRoom(qint64& room);
    void inCommit(qint64 count);
    void inEof();
    bool atEof() const { return m_eof; }
    // Ciphertext for the network.
    const char* outData(qint64& length);
    void outConsume(qint64 count);

    qint64 outPending() const;
    qint64 inPending() const; // received ciphertext OpenSSL has not taken yet
    qint64 plainPending() const;
    bool closeNotifyReceived() const { return m_closeNotify; }

    // Plaintext taken from the send queue that OpenSSL has not accepted yet.
    QByteArray& pendingWrite() { return m_pendingWrite; }

    int errorNumber() const { return m_errorNumber; }
    const QString& errorText() const { return m_errorText; }
    // Fails the channel with a network error (a reset during the handshake).
    void failWith(int errorNumber, const QString& reason);
    const TTlsPeerInfo& peer() const { return m_peer; }
    const QString& hostPort() const { return m_hostPort; }
    std::shared_ptr<TTlsContext> context() const { return m_context; }
    ssl_session_st* takeSession() const; // a new reference, or nullptr

    // Called by the certificate check of OpenSSL for this channel.
    int verify(int preverifyOk, x509_st* leaf, int error);
    static TlsChannel* of(ssl_st* ssl);

private:
    Result afterError(int ret, bool handshaking);
    void fail(int errorNumber, const QString& reason);
    void collectPeer();

    std::shared_ptr<TTlsContext> m_context;
    QString m_serverName;
    QString m_hostPort;
    ssl_st* m_ssl = nullptr;
    bio_st* m_net = nullptr; // our end of the pair; OpenSSL owns the other
    x509_st* m_leaf = nullptr;
    QByteArray m_pendingWrite;
    TTlsPeerInfo m_peer;
    QString m_verifyError;
    bool m_verifyRefused = false;
    bool m_established = false;
    bool m_closeNotify = false;
    bool m_eof = false;
    int m_errorNumber = 0;
    QString m_errorText;
};
