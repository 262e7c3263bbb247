// Readiness watching, sending and receiving of TAsyncSocket.
#include "net/async_socket.h"

#include "net/connect_race.h"
#include "net/socket_buffer.h"
#include "net/socket_private.h"
#include "net/tls_channel.h"

#include <QSocketNotifier>

#include <algorithm>
#include <optional>
#include <cerrno>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

constexpr int MaxGather = 64; // blocks handed to one sendmsg

bool isConnectionLoss(int err) {
    return err == WSAEINVAL || err == WSAENOTSOCK || err == WSAECONNABORTED || err == WSAECONNRESET ||
           err == WSAENOTCONN;
}

int socketErrorOption(int fd) {
    int soError = 0;
    socklen_t len = sizeof soError;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0)
        soError = errno;
    return WinsockErrorFromErrno(soError);
}

} // namespace

// ---- readiness ----
//
// The asynchronous-select contract on top of level-triggered notifiers: a read (or
// accept) notification comes once, and the next one only after the socket was read (or
// accepted from) again; a write notification only while a connect is pending or a send
// met would-block. While reading is not re-armed, a separate watcher still reports the
// peer's close, so a connection whose reader stopped reading still ends.

void TAsyncSocket::watchHandle(bool listening) {
    Q_UNUSED(listening);
    m_readNotifier = new QSocketNotifier(m_hSocket, QSocketNotifier::Read, this);
    m_readNotifier->setEnabled(false);
    connect(m_readNotifier, &QSocketNotifier::activated, this, [this] { onReadReady(); });
    m_writeNotifier = new QSocketNotifier(m_hSocket, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, [this] { onWriteReady(); });
    m_readArmed = true;
    applyWatches();
}

void TAsyncSocket::unwatchHandle() {
    // A notifier may be the one whose signal is running right now: free it later.
    for (QSocketNotifier** n : {&m_readNotifier, &m_writeNotifier, &m_hangupNotifier}) {
        if (*n) {
            (*n)->setEnabled(false);
            (*n)->deleteLater();
            *n = nullptr;
        }
    }
    if (m_hangupFd >= 0)
        ::close(m_hangupFd);
    m_hangupFd = -1;
    // A TLS session lives no longer than its handle, nor the other attempts of a race.
    m_tls.reset();
    m_race.reset();
    m_tlsClosePosted = false;
    m_readArmed = false;
    m_writeWanted = false;
    m_connectPending = false;
}

void TAsyncSocket::applyWatches() {
    if (m_readNotifier)
        m_readNotifier->setEnabled(m_readArmed && !m_paused);
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(m_writeWanted && !m_paused);
    if (m_hangupNotifier && m_paused)
        m_hangupNotifier->setEnabled(false);
}

void TAsyncSocket::setWriteWatched(bool on) {
    m_writeWanted = on;
    applyWatches();
}

void TAsyncSocket::watchHangup(bool on) {
    if (!on) {
        if (m_hangupNotifier)
            m_hangupNotifier->setEnabled(false);
        return;
    }
    if (m_hSocket < 0 || m_datagram || m_paused)
        return;
    if (m_hangupFd < 0) {
        m_hangupFd = epoll_create1(EPOLL_CLOEXEC);
        if (m_hangupFd < 0)
            return;
        epoll_event ev{};
        ev.events = EPOLLRDHUP;
        ev.data.fd = m_hSocket;
        if (epoll_ctl(m_hangupFd, EPOLL_CTL_ADD, m_hSocket, &ev) != 0) {
            ::close(m_hangupFd);
            m_hangupFd = -1;
            return;
        }
        m_hangupNotifier = new QSocketNotifier(m_hangupFd, QSocketNotifier::Read, this);
        connect(m_hangupNotifier, &QSocketNotifier::activated, this, [this] { onHangupReady(); });
    }
    m_hangupNotifier->setEnabled(true);
}

bool TAsyncSocket::isWriteWatched() const { return m_writeNotifier && m_writeNotifier->isEnabled(); }

bool TAsyncSocket::isReadWatched() const { return m_readNotifier && m_readNotifier->isEnabled(); }

void TAsyncSocket::onReadReady() {
    QPointer<TAsyncSocket> alive(this);
    // The handler's reads re-arm the notifier; switching it off and on again for
    // every chunk would cost more than the read itself, so it is set once at the end.
    m_inReadEvent = true;
    guarded([this] {
        if (m_hSocket < 0 || m_paused)
            return;
        if (m_state == wsListening && !m_datagram) {
            m_readArmed = false;
            handleSelect(FdAccept, 0);
            return;
        }
        int waiting = 0;
        if (m_datagram || (ioctl(m_hSocket, FIONREAD, &waiting) == 0 && waiting > 0)) {
            m_readArmed = false;
            handleSelect(FdRead, 0);
            return;
        }
        // Readable with nothing waiting: the peer closed, or the connection failed.
        char probe;
        const ssize_t n = recv(m_hSocket, &probe, 1, MSG_PEEK);
        const int err = n < 0 ? errno : 0;
        if (n < 0 && (err == EAGAIN || err == EWOULDBLOCK || err == EINTR))
            return;
        m_readArmed = false;
        handleSelect(n > 0 ? FdRead : FdClose, WinsockErrorFromErrno(err));
    });
    if (alive) {
        m_inReadEvent = false;
        applyWatches();
    }
}

void TAsyncSocket::onWriteReady() {
    guarded([this] {
        if (m_hSocket < 0 || m_paused)
            return;
        m_writeWanted = false;
        if (m_connectPending) {
            m_connectPending = false;
            const int err = socketErrorOption(m_hSocket);
            if (m_race && err != 0) {
                applyWatches();
                // The other addresses have their turn; the race reports when all failed.
                m_race->firstFailed(err);
                return;
            }
            if (err == 0) {
                m_race.reset();
                m_tried.clear();
                m_readArmed = true;
                // The platform reports the new connection writable once, after the
                // connect event: OnDataSent(0) follows OnSessionConnected.
                postSelect(FdWrite);
            }
            applyWatches();
            handleSelect(FdConnect, err);
            return;
        }
        applyWatches();
        handleSelect(FdWrite, 0);
    });
}

void TAsyncSocket::onHangupReady() {
    guarded([this] {
        watchHangup(false);
        if (m_hSocket < 0 || m_paused)
            return;
        handleSelect(FdClose, socketErrorOption(m_hSocket));
    });
}

void TAsyncSocket::Pause() {
    m_paused = true;
    applyWatches();
}

void TAsyncSocket::Resume() {
    m_paused = false;
    applyWatches();
}

// ---- sending ----

qint64 TAsyncSocket::Send(const void* data, qint64 len) {
    if (m_state != wsConnected) {
        SocketError(QStringLiteral("Send"), WSAENOTCONN);
        return -1;
    }
    m_allSent = false;
    const char* p = static_cast<const char*>(data);
    const qint64 count = len;
    QPointer<TAsyncSocket> alive(this);
    const qintptr serial = m_handleSerial;
    if (m_tls) {
        const qint64 taken = tlsSendDirect(p, len);
        if (!alive || serial != m_handleSerial || m_hSocket < 0)
            return count;
        p += taken;
        len -= taken;
    }
    while (len > 0) {
        if (m_queue.back()->full())
            m_queue.push_back(std::make_unique<TBuffer>(BufferSize));
        const qint64 n = m_queue.back()->write(p, len);
        p += n;
        len -= n;
    }
    TryToSend();
    // OnDataSent must come from the event loop, never from inside Send.
    if (alive && m_allSent && m_hSocket >= 0 && serial == m_handleSerial)
        postSelect(FdWrite);
    return count;
}

void TAsyncSocket::TryToSend() {
    if (m_hSocket < 0)
        return;
    if (m_tls)
        return tlsTryToSend();
    QPointer<TAsyncSocket> alive(this);
    for (;;) {
        while (m_queue.size() > 1 && m_queue.front()->unread() == 0)
            m_queue.pop_front();
        if (m_queue.front()->unread() == 0) {
            m_allSent = true;
            setWriteWatched(false);
            return;
        }
        iovec iov[MaxGather];
        int blocks = 0;
        qint64 total = 0;
        for (const auto& b : m_queue) {
            qint64 l = 0;
            const char* p = b->peek(l);
            if (l > 0) {
                iov[blocks].iov_base = const_cast<char*>(p);
                iov[blocks].iov_len = size_t(l);
                total += l;
                ++blocks;
            }
            // A datagram is one block; a stream takes several blocks per call.
            if (blocks == MaxGather || (m_datagram && blocks == 1))
                break;
        }
        const int flags = MSG_NOSIGNAL | (m_sendFlags == wsSendUrgent ? MSG_OOB : 0);
        ssize_t n;
        if (m_datagram) {
            n = ::sendto(m_hSocket, iov[0].iov_base, iov[0].iov_len, flags, m_remote.data(), m_remote.length());
        } else {
            msghdr mh{};
            mh.msg_iov = iov;
            mh.msg_iovlen = size_t(blocks);
            n = ::sendmsg(m_hSocket, &mh, flags);
        }
        if (n < 0) {
            const int err = platformError();
            if (err == WSAEINTR)
                continue;
            if (err == WSAEWOULDBLOCK) {
                setWriteWatched(true);
                return;
            }
            if (isConnectionLoss(err)) {
                m_closeEventFired = true;
                Close();
                if (alive)
                    fire(OnSessionClosed, quint16(err));
                return;
            }
            SocketError(QStringLiteral("TryToSend failed"), err);
            return;
        }
        if (n == 0) {
            setWriteWatched(true);
            return;
        }
        qint64 left = n;
        for (const auto& b : m_queue) {
            const qint64 take = std::min(b->unread(), left);
            b->remove(take);
            left -= take;
            if (left == 0)
                break;
        }
        if (!fire(OnSendData, qint64(n)) || m_hSocket < 0)
            return;
        if (n < total) {
            // The kernel is full; the rest goes out on the next write event.
            setWriteWatched(true);
            return;
        }
    }
}

qint64 TAsyncSocket::SendTo(const sockaddr_in& dest, const void* data, qint64 len) {
    const ssize_t n = ::sendto(m_hSocket, data, size_t(std::max<qint64>(0, len)), MSG_NOSIGNAL,
                               reinterpret_cast<const sockaddr*>(&dest), sizeof dest);
    if (n < 0) {
        m_lastError = platformError();
        return -1;
    }
    fire(OnSendData, qint64(n));
    return n;
}

// ---- receiving ----

qint64 TAsyncSocket::doRecv(void* buffer, qint64 size, int flags, sockaddr_in* from) {
    ++m_recvCalls;
    ssize_t n;
    if (from) {
        socklen_t len = sizeof *from;
        n = ::recvfrom(m_hSocket, buffer, size_t(std::max<qint64>(0, size)), flags, reinterpret_cast<sockaddr*>(from),
                       &len);
    } else {
        n = ::recv(m_hSocket, buffer, size_t(std::max<qint64>(0, size)), flags);
    }
    if (n < 0)
        m_lastError = platformError();
    rearmRead();
    return n;
}

void TAsyncSocket::rearmRead() {
    // A read lets the next read notification come.
    if (!m_readArmed && m_hSocket >= 0) {
        m_readArmed = true;
        watchHangup(false);
        if (!m_inReadEvent)
            applyWatches();
    }
}

qint64 TAsyncSocket::Receive(void* buffer, qint64 size) {
    const qint64 n = m_tls ? tlsReceive(buffer, size) : doRecv(buffer, size, 0, nullptr);
    if (n > 0)
        m_readCount += n;
    return n;
}

qint64 TAsyncSocket::ReceiveFrom(void* buffer, qint64 size, sockaddr_in& from) {
    const qint64 n = doRecv(buffer, size, 0, &from);
    if (n > 0)
        m_readCount += n;
    return n;
}

qint64 TAsyncSocket::RcvdCount() {
    if (m_tls)
        return tlsRcvdCount();
    int waiting = 0;
    if (ioctl(m_hSocket, FIONREAD, &waiting) != 0) {
        SocketError(QStringLiteral("ioctlSocket"), platformError());
        return -1;
    }
    return waiting;
}

QByteArray TAsyncSocket::ReceiveStr() {
    const qint64 waiting = RcvdCount();
    if (waiting <= 0)
        return {};
    QByteArray bytes(waiting, Qt::Uninitialized);
    const qint64 n = Receive(bytes.data(), waiting);
    bytes.resize(std::max<qint64>(0, n));
    return bytes;
}

qint64 TAsyncSocket::bytesWaiting() {
    if (m_tls) {
        if (const std::optional<qint64> held = tlsWaiting())
            return *held;
    }
    int waiting = 0;
    if (ioctl(m_hSocket, FIONREAD, &waiting) != 0) {
        m_lastError = platformError();
        return -1;
    }
    return waiting;
}

void TAsyncSocket::readLoop(int error, bool fair) {
    // Decryption costs far more than a copy: a fair loop hands out this much per read
    // event and lets the event loop serve others before the rest.
    constexpr qint64 FairTurn = 1024 * 1024;
    QPointer<TAsyncSocket> alive(this);
    const qint64 readBefore = m_readCount;
    try {
        for (;;) {
            m_lastError = 0;
            const qint64 recvCallsBefore = m_recvCalls;
            if (OnDataAvailable) {
                if (!fire(OnDataAvailable, quint16(error)))
                    return;
            } else {
                // Nobody reads: drain and discard.
                char discard[1024];
                const qint64 n = Receive(discard, sizeof discard);
                if (n < 0 && m_lastError == WSAEWOULDBLOCK)
                    m_lastError = 0;
                if (n <= 0)
                    break;
            }
            if (m_lastError != 0 || m_hSocket < 0)
                break;
            // A handler that did not read would be called forever: stop and wait until
            // something reads.
            if (m_recvCalls == recvCallsBefore)
                break;
            if (bytesWaiting() <= 0)
                break;
            if (fair && m_readCount - readBefore >= FairTurn) {
                postSelect(FdRead);
                break;
            }
        }
    } catch (...) {
        // Exceptions from the data handler are absorbed: they end this read and
        // nothing is reported; the connection stays as it is.
        if (!alive)
            return;
    }
    if (alive && m_hSocket >= 0 && !m_readArmed && m_state == wsConnected)
        watchHangup(true);
}

void TAsyncSocket::Shutdown(int how) {
    if (m_hSocket < 0)
        return;
    // Over TLS our sending ends with close_notify before the FIN, as a peer that tells a
    // whole upload from a cut one needs; the reading goes on until the peer ends.
    if (m_tls && how != SHUT_RD)
        tlsSendCloseNotify();
    ::shutdown(m_hSocket, how);
}
