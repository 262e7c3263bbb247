// TLS of TAsyncSocket: the handshake, reads and writes through a TlsChannel, driven by
// the same readiness notifications as plain bytes.
#include "net/async_socket.h"

#include "net/socket_buffer.h"
#include "net/socket_private.h"
#include "net/tls_channel.h"

#include <openssl/ssl.h>

#include <algorithm>
#include <cerrno>
#include <sys/socket.h>

namespace {

// Plaintext handed to OpenSSL at once: one full record.
constexpr qint64 RecordSize = 16 * 1024;

} // namespace

void TAsyncSocket::SetTls(bool on) {
    if (m_state != wsClosed) {
        RaiseException(QStringLiteral("Cannot change Tls if not closed"));
        return;
    }
    m_tlsOnConnect = on;
}

void TAsyncSocket::SetTlsServer(const QString& host, const QString& port) {
    m_tlsServerName = host.trimmed();
    m_tlsServerPort = port.trimmed();
}

QString TAsyncSocket::TlsHostPort() const {
    if (m_tls)
        return m_tls->hostPort();
    return HostPortText(tlsServerName(), m_tlsServerPort.isEmpty() ? m_portStr : m_tlsServerPort);
}

QString TAsyncSocket::tlsServerName() const { return m_tlsServerName.isEmpty() ? m_addrStr : m_tlsServerName; }

std::shared_ptr<TTlsContext> TAsyncSocket::TlsContext() const {
    return m_tlsContext ? m_tlsContext : TTlsContext::Default();
}

void TAsyncSocket::SetTlsContext(std::shared_ptr<TTlsContext> context) { m_tlsContext = std::move(context); }

bool TAsyncSocket::TlsEstablished() const { return m_tls && m_tls->established(); }

bool TAsyncSocket::TlsTakeSessionOf(const TAsyncSocket& other) {
    SSL_SESSION* session = other.m_tls ? other.m_tls->takeSession() : nullptr;
    if (!session)
        return false;
    m_tlsResume.reset(session, SSL_SESSION_free);
    m_tlsContext = other.m_tls->context();
    return true;
}

void TAsyncSocket::StartTls() {
    if (m_state != wsConnected || m_hSocket < 0 || m_datagram) {
        SocketError(QStringLiteral("StartTls"), WSAENOTCONN);
        return;
    }
    if (m_tls) {
        RaiseException(QStringLiteral("StartTls: TLS already started"));
        return;
    }
    tlsBegin(false);
}

void TAsyncSocket::tlsBegin(bool onConnect) {
    m_tlsPeer = TTlsPeerInfo();
    m_tlsErrorText.clear();
    m_tlsCloseNotify = false;
    m_tlsClosePosted = false;
    m_tlsStartedOnConnect = onConnect;
    m_tls = std::make_unique<TlsChannel>(TlsContext(), tlsServerName(), TlsHostPort(), m_tlsResume.get());
    m_tlsResume.reset();
    // The handshake needs the server's bytes, whoever reads them.
    m_readArmed = true;
    if (!m_inReadEvent)
        applyWatches();
    if (onConnect)
        tlsAdvanceHandshake();
    else
        postSelect(FdWrite); // the handshake and its end always come from the loop
}

void TAsyncSocket::tlsSelect(int events, int error) {
    if ((events & FdClose) && error != 0)
        m_tls->failWith(error, SocketErrorDesc(error));
    tlsAdvanceHandshake();
}

void TAsyncSocket::tlsAdvanceHandshake() {
    for (;;) {
        const qint64 pulled = m_tls->failed() ? -1 : tlsPull();
        const TlsChannel::Result r = m_tls->handshake();
        const int sendError = tlsFlush();
        if (sendError > 0)
            m_tls->failWith(sendError, SocketErrorDesc(sendError));
        if (m_tls->failed())
            return tlsHandshakeFinished(m_tls->errorNumber());
        if (r == TlsChannel::Result::Done)
            return tlsHandshakeFinished(0);
        // Go on while the network had more for OpenSSL; otherwise wait for the next
        // notification (the read notifier is armed; the write one when sending blocked).
        if (r == TlsChannel::Result::WantRead && pulled < 0)
            return;
        if (r == TlsChannel::Result::WantWrite && sendError < 0)
            return;
    }
}

void TAsyncSocket::tlsHandshakeFinished(int error) {
    QPointer<TAsyncSocket> alive(this);
    const qintptr serial = m_handleSerial;
    m_tlsPeer = m_tls->peer();
    m_tlsErrorText = m_tls->errorText();
    if (error == 0) {
        // Writable once the session is up, as a new plain connection is; bytes that
        // came with the server's last flight are read from the loop.
        postSelect(FdWrite);
        if (m_tls->inPending() > 0 || m_tls->plainPending() > 0)
            postSelect(FdRead);
    }
    if (m_tlsStartedOnConnect) {
        changeState(wsConnected);
        if (!alive || !fire(OnSessionConnected, quint16(error)))
            return;
    } else if (!fire(OnTlsHandshakeDone, quint16(error))) {
        return;
    }
    if (error != 0 && m_handleSerial == serial && m_state != wsClosed)
        Close();
}

qint64 TAsyncSocket::tlsPull() {
    if (m_tls->atEof())
        return 0;
    qint64 room = 0;
    char* p = m_tls->inRoom(room);
    if (room <= 0)
        return -1;
    ssize_t n;
    do {
        n = ::recv(m_hSocket, p, size_t(room), 0);
    } while (n < 0 && errno == EINTR);
    const int err = n < 0 ? errno : 0;
    rearmRead();
    if (n > 0) {
        m_tls->inCommit(n);
        return n;
    }
    if (n == 0) {
        m_tls->inEof();
        return 0;
    }
    if (err == EAGAIN || err == EWOULDBLOCK)
        return -1;
    // The connection is broken (a reset): the kernel tells only once, so the session
    // keeps it for the close event.
    m_lastError = WinsockErrorFromErrno(err);
    m_tls->failWith(m_lastError, SocketErrorDesc(m_lastError));
    if (m_tls->established())
        tlsConnectionFailed();
    return -2;
}

// 0 when every byte of ciphertext is with the kernel, -1 when the kernel is full (the
// write notifier then waits for room), else the Winsock error of the send.
int TAsyncSocket::tlsFlush() {
    for (;;) {
        qint64 len = 0;
        const char* p = m_tls->outData(len);
        if (len <= 0)
            return 0;
        const ssize_t n = ::send(m_hSocket, p, size_t(len), MSG_NOSIGNAL);
        if (n > 0) {
            m_tls->outConsume(n);
            continue;
        }
        const int err = n < 0 ? platformError() : WSAEWOULDBLOCK;
        if (err == WSAEINTR)
            continue;
        if (err == WSAEWOULDBLOCK) {
            setWriteWatched(true);
            return -1;
        }
        return err;
    }
}

void TAsyncSocket::tlsTryToSend() {
    if (!m_tls->established())
        return; // the queue waits for the handshake, whose end posts a write event
    QPointer<TAsyncSocket> alive(this);
    const qintptr serial = m_handleSerial;
    QByteArray& pending = m_tls->pendingWrite();
    int err = 0;
    for (;;) {
        // Blocks of the queue are small; OpenSSL gets a full record at a time.
        while (pending.size() < RecordSize) {
            while (m_queue.size() > 1 && m_queue.front()->unread() == 0)
                m_queue.pop_front();
            qint64 len = 0;
            const char* p = m_queue.front()->peek(len);
            if (len <= 0)
                break;
            len = std::min(len, RecordSize - pending.size());
            pending.append(p, len);
            m_queue.front()->remove(len);
        }
        if (pending.isEmpty())
            break;
        const TlsChannel::Result r = m_tls->write(pending.constData(), pending.size());
        if (r == TlsChannel::Result::Failed)
            return tlsConnectionFailed();
        if (r == TlsChannel::Result::Done) {
            const qint64 n = pending.size();
            pending.clear();
            if (!fire(OnSendData, n) || m_handleSerial != serial || !m_tls)
                return;
            continue;
        }
        // The outgoing buffer is full: to the kernel with it, then go on.
        err = r == TlsChannel::Result::WantWrite ? tlsFlush() : -1;
        if (err != 0)
            break;
    }
    if (err == 0)
        err = tlsFlush();
    if (err < 0)
        return; // the rest goes out on the next write event
    if (err > 0) {
        // The connection is gone, as for a plain send that failed.
        m_closeEventFired = true;
        Close();
        if (alive)
            fire(OnSessionClosed, quint16(err));
        return;
    }
    m_allSent = true;
    setWriteWatched(false);
}

// Plaintext straight to OpenSSL a record at a time, as long as nothing waits before it
// and the kernel takes the ciphertext: no copy through the send queue's small blocks.
// Returns the count taken; the rest goes through the queue.
qint64 TAsyncSocket::tlsSendDirect(const char* data, qint64 len) {
    if (!m_tls->established() || !m_tls->pendingWrite().isEmpty())
        return 0;
    for (const auto& block : m_queue)
        if (block->unread() > 0)
            return 0;
    QPointer<TAsyncSocket> alive(this);
    const qintptr serial = m_handleSerial;
    qint64 taken = 0;
    while (taken < len) {
        const qint64 n = std::min(RecordSize, len - taken);
        const TlsChannel::Result r = m_tls->write(data + taken, n);
        if (r == TlsChannel::Result::WantWrite) {
            if (tlsFlush() == 0)
                continue;
            // OpenSSL holds the record, the kernel has no room: its retry goes through
            // the queue's path, with a copy of the same bytes.
            m_tls->pendingWrite() = QByteArray(data + taken, n);
            return taken + n;
        }
        // A failure is met again, and reported, by the queue's path.
        if (r != TlsChannel::Result::Done)
            return taken;
        taken += n;
        if (!fire(OnSendData, n) || !alive || m_handleSerial != serial || !m_tls)
            return taken;
    }
    return taken;
}

qint64 TAsyncSocket::tlsReceive(void* buffer, qint64 size) {
    ++m_recvCalls;
    if (!m_tls->established()) {
        m_lastError = m_tls->failed() ? m_tls->errorNumber() : WSAEWOULDBLOCK;
        return -1;
    }
    // OpenSSL hands out one record (16 KiB at most) per read: a large buffer takes every
    // record that is already here, so one call moves as much as a plain read does and the
    // reader's work per byte (a write, an event) stays what it is for plain bytes.
    char* out = static_cast<char*>(buffer);
    qint64 total = 0;
    bool endShown = false;
    for (;;) {
        qint64 got = 0;
        const TlsChannel::Result r = m_tls->read(out + total, size - total, got);
        if (r == TlsChannel::Result::Done) {
            total += got;
            if (total >= size)
                return total;
            continue;
        }
        if (total > 0) {
            if (r == TlsChannel::Result::WantRead && tlsPull() > 0)
                continue;
            // The end comes as an event after these bytes (a kernel's end is seen again).
            if (r == TlsChannel::Result::Closed)
                tlsNoteCloseNotify();
            else if (r == TlsChannel::Result::Failed)
                tlsConnectionFailed();
            return total;
        }
        switch (r) {
        case TlsChannel::Result::Done:
            break;
        case TlsChannel::Result::WantRead: {
            const qint64 pulled = tlsPull();
            if (pulled > 0 || (pulled == 0 && !endShown)) {
                endShown = pulled == 0; // OpenSSL must see the end once, then it says how
                continue;
            }
            if (pulled == 0)
                return 0;
            if (pulled == -1)
                m_lastError = WSAEWOULDBLOCK;
            return -1;
        }
        case TlsChannel::Result::WantWrite:
            tlsFlush();
            m_lastError = WSAEWOULDBLOCK;
            return -1;
        case TlsChannel::Result::Closed:
            tlsNoteCloseNotify();
            return 0;
        case TlsChannel::Result::Eof:
            return 0;
        case TlsChannel::Result::Failed:
            tlsConnectionFailed();
            return -1;
        }
    }
}

qint64 TAsyncSocket::tlsRcvdCount() {
    if (!m_tls->established())
        return 0;
    for (;;) {
        if (const qint64 n = m_tls->plainPending(); n > 0)
            return n;
        const TlsChannel::Result r = m_tls->peek();
        if (r == TlsChannel::Result::Done)
            continue;
        if (r == TlsChannel::Result::WantRead && tlsPull() > 0)
            continue;
        if (r == TlsChannel::Result::Closed)
            tlsNoteCloseNotify();
        if (r == TlsChannel::Result::Failed)
            tlsConnectionFailed();
        return 0;
    }
}

std::optional<qint64> TAsyncSocket::tlsWaiting() const {
    if (m_tls->plainPending() > 0)
        return 1;
    // After close_notify, a failure or the end of the connection OpenSSL takes nothing
    // more: bytes still buffered would keep the read loop calling for nothing.
    if (m_tls->closeNotifyReceived() || m_tls->failed() || m_tls->atEof())
        return 0;
    if (m_tls->inPending() > 0)
        return 1;
    return std::nullopt; // whatever the kernel holds
}

void TAsyncSocket::tlsConnectionFailed() {
    m_lastError = m_tls->errorNumber();
    m_tlsErrorText = m_tls->errorText();
    if (!m_tlsClosePosted) {
        m_tlsClosePosted = true;
        postSelect(FdClose, m_tls->errorNumber());
    }
}

int TAsyncSocket::tlsClosingError(int error) {
    tlsNoteCloseNotify();
    return error == 0 && m_tls->failed() ? m_tls->errorNumber() : error;
}

void TAsyncSocket::tlsNoteCloseNotify() {
    if (!m_tls->closeNotifyReceived() && m_tls->established() && !m_tls->failed() && m_tls->plainPending() == 0) {
        // Nobody read the last bytes: look whether they were the peer's close_notify.
        tlsPull();
        m_tls->peek();
    }
    if (!m_tls->closeNotifyReceived())
        return;
    m_tlsCloseNotify = true;
    // close_notify may come while the TCP connection stays open (the peer waits for
    // ours): it ends the connection as a close by the peer does.
    if (!m_tlsClosePosted) {
        m_tlsClosePosted = true;
        postSelect(FdClose);
    }
}

void TAsyncSocket::tlsSendCloseNotify() {
    if (m_tls->established() && !m_tls->failed()) {
        m_tls->shutdown();
        // Best effort: a kernel buffer full of unsent data drops it, as a plain Close
        // drops the unsent queue.
        tlsFlush();
    }
}

void TAsyncSocket::tlsEnd(bool sendCloseNotify) {
    if (sendCloseNotify)
        tlsSendCloseNotify();
    m_tlsPeer = m_tls->peer();
}
