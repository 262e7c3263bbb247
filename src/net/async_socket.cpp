#include "net/async_socket.h"

#include "net/connect_race.h"
#include "net/notification_target.h"
#include "net/socket_buffer.h"
#include "net/socket_lookup.h"
#include "net/socket_private.h"
#include "net/tls_channel.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <arpa/inet.h>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

TAsyncSocket::TAsyncSocket(QObject* owner) : QObject(owner) {
    m_target = new NotificationTarget([this](int msg, qintptr wParam, qintptr lParam) {
        handleNotification(msg, wParam, lParam);
    });
    m_lookup = new SocketLookup(m_target, NotificationTarget::FirstNotification + NotifyHostByName);
    m_queue.push_back(std::make_unique<TBuffer>(BufferSize));
    ResetToDefaults();
}

TAsyncSocket::~TAsyncSocket() {
    // Nothing is fired from here: the owner may be half destroyed already.
    m_destroying = true;
    cancelLookupSilently();
    closeHandleSilently();
    m_target->release();
}

// ---- properties ----

void TAsyncSocket::SetAddr(const QString& value) {
    if (m_state != wsClosed) {
        RaiseException(QStringLiteral("Cannot change Addr if not closed"));
        return;
    }
    const QString v = value.trimmed();
    if (m_addrAssigned && v == m_addrStr)
        return;
    m_addrStr = v;
    m_addrAssigned = !v.isEmpty();
    m_addrResolved = false;
}

void TAsyncSocket::SetPort(const QString& value) {
    if (m_state != wsClosed) {
        RaiseException(QStringLiteral("Cannot change Port if not closed"));
        return;
    }
    const QString v = value.trimmed();
    if (m_portAssigned && v == m_portStr)
        return;
    m_portStr = v;
    m_portAssigned = !v.isEmpty();
    m_portResolved = false;
}

void TAsyncSocket::SetProto(const QString& value) {
    if (m_state != wsClosed) {
        RaiseException(QStringLiteral("Cannot change Proto if not closed"));
        return;
    }
    const QString v = value.trimmed();
    if (m_protoAssigned && v == m_protoStr)
        return;
    m_protoStr = v;
    m_protoAssigned = !v.isEmpty();
    m_protoResolved = false;
}

void TAsyncSocket::SetLocalAddr(const QString& value) {
    if (m_state != wsClosed) {
        RaiseException(QStringLiteral("Cannot change LocalAddr if not closed"));
        return;
    }
    QString v = value.trimmed();
    if (v.isEmpty())
        v = QStringLiteral("0.0.0.0");
    in_addr a{};
    const std::optional<TSocketAddress> v6 = TSocketAddress::fromIPv6Text(v);
    if (v6) {
        m_local = *v6;
    } else if (IsDottedAddress(v) && inet_aton(v.toLatin1().constData(), &a) != 0) {
        m_local = TSocketAddress::fromIPv4(a.s_addr);
    } else {
        RaiseException(QStringLiteral("SetLocalAddr(): Invalid IP address"));
        return;
    }
    m_localAddr = m_local.addressText();
}

void TAsyncSocket::SetLocalPort(const QString& value) {
    if (m_state != wsClosed) {
        RaiseException(QStringLiteral("Cannot change LocalPort if not closed"));
        return;
    }
    m_localPortStr = value.trimmed();
    m_localPortResolved = false;
}

void TAsyncSocket::SetSendFlags(int value) {
    if (value != wsSendNormal && value != wsSendUrgent) {
        RaiseException(QStringLiteral("Invalid SendFlags"));
        return;
    }
    m_sendFlags = TSocketSendFlags(value);
}

namespace {

TSocketAddress peerOf(int handle) {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (getpeername(handle, reinterpret_cast<sockaddr*>(&ss), &len) != 0)
        return TSocketAddress();
    return TSocketAddress::fromPlatform(reinterpret_cast<sockaddr*>(&ss), len);
}

}  // namespace

QString TAsyncSocket::PeerAddr() const {
    const TSocketAddress peer = m_state == wsConnected ? peerOf(m_hSocket) : TSocketAddress();
    return peer.isValid() ? peer.addressText() : QStringLiteral("error");
}

QString TAsyncSocket::PeerPort() const {
    const TSocketAddress peer = m_state == wsConnected ? peerOf(m_hSocket) : TSocketAddress();
    return peer.isValid() ? QString::number(peer.port()) : QStringLiteral("error");
}

void TAsyncSocket::ResetToDefaults() {
    // Addr and Port keep their texts but must be set again before the next Connect.
    m_addrAssigned = false;
    m_addrResolved = false;
    m_portAssigned = false;
    m_portResolved = false;
    m_protoStr = QStringLiteral("tcp");
    m_protoAssigned = true;
    m_protoResolved = true;
    m_proto = 6;
    m_datagram = false;
    m_localAddr = QStringLiteral("0.0.0.0");
    m_local = TSocketAddress::fromIPv4(INADDR_ANY);
    m_localPortStr = QStringLiteral("0");
    m_localPort = 0;
    m_localPortResolved = false;
    m_candidates.clear();
    m_remote = TSocketAddress::fromIPv4(INADDR_ANY);
    m_remotePort = 0;
    m_tried.clear();
    m_dnsResult.clear();
    m_dnsResultList.clear();
    m_hSocket = -1;
    m_lastError = 0;
    m_multiThreaded = false;
    m_flushTimeout = 60;
    m_sendFlags = wsSendNormal;
    m_lingerOnOff = wsLingerOn;
    m_lingerTimeout = 0;
    m_allSent = true;
    m_closeEventFired = false;
    m_paused = false;
    m_readCount = 0;
}

void TAsyncSocket::changeState(TSocketState newState) {
    const TSocketState old = m_state;
    m_state = newState;
    fire(OnChangeState, old, newState);
}

// ---- notifications ----

void TAsyncSocket::postSelect(int events, int error) {
    m_target->post(NotificationTarget::FirstNotification + NotifyAsyncSelect, m_handleSerial,
                   qintptr(events) | (qintptr(error) << 16));
}

void TAsyncSocket::guarded(const std::function<void()>& work) {
    QPointer<TAsyncSocket> alive(this);
    try {
        work();
    } catch (const std::exception& e) {
        if (alive)
            handleBackgroundException(e);
    } catch (...) {
        // Nothing may unwind into the Qt event loop, whatever its type.
        if (alive)
            handleBackgroundException(std::runtime_error("Unknown exception"));
    }
}

void TAsyncSocket::handleBackgroundException(const std::exception& e) {
    QPointer<TAsyncSocket> alive(this);
    bool canClose = true;
    try {
        fire(OnBgException, e, canClose);
    } catch (...) {
        // An exception inside the background-exception handler is ignored.
    }
    if (!alive || !canClose)
        return;
    try {
        Abort();
    } catch (...) {
        // Likewise for the abort that follows it.
    }
}

void TAsyncSocket::handleNotification(int msg, qintptr wParam, qintptr lParam) {
    guarded([&] {
        switch (msg - NotificationTarget::FirstNotification) {
        case NotifyAsyncSelect:
            if (wParam == m_handleSerial && m_hSocket >= 0 && !m_paused)
                handleSelect(int(lParam & 0xffff), int(lParam >> 16));
            break;
        case NotifyHostByName:
            lookupFinished(int(wParam));
            break;
        case NotifyCloseDelayed:
            Close();
            break;
        case NotifyRelease:
            delete this;
            break;
        case NotifyTestException:
            throw ESocketException(QStringLiteral("Test exception in AsyncSocket"));
        default:
            break;
        }
    });
}

void TAsyncSocket::handleSelect(int events, int error) {
    QPointer<TAsyncSocket> alive(this);
    const qintptr serial = m_handleSerial;
    // Later steps of one notification belong to the same handle; a handler that closed
    // the socket ends them.
    auto sameHandle = [&] { return alive && m_handleSerial == serial && m_hSocket >= 0; };
    if (m_tls && !m_tls->established()) {
        tlsSelect(events, error);
        return;
    }
    if (events & FdConnect) {
        if (error == 0 && m_tlsOnConnect) {
            tlsBegin(true);
            return;
        }
        changeState(wsConnected);
        if (!alive || !fire(OnSessionConnected, quint16(error)))
            return;
        if (error != 0 && m_state != wsClosed)
            Close();
        if (!sameHandle())
            return;
    }
    if (events & FdRead) {
        readLoop(error, m_tls != nullptr);
        if (!sameHandle())
            return;
    }
    if (events & FdWrite) {
        TryToSend();
        if (!sameHandle())
            return;
        if (m_allSent && !fire(OnDataSent, quint16(error)))
            return;
        if (!sameHandle())
            return;
    }
    if (events & FdAccept) {
        if (!fire(OnSessionAvailable, quint16(error)) || !sameHandle())
            return;
    }
    if ((events & FdClose) && m_state != wsConnecting) {
        readLoop(0);
        if (!sameHandle())
            return;
        if (m_tls)
            error = tlsClosingError(error);
        if (!m_closeEventFired) {
            m_closeEventFired = true;
            if (!fire(OnSessionClosed, quint16(error)))
                return;
        }
        if (m_state != wsClosed)
            Close();
    }
}

void TAsyncSocket::PostTestException() {
    m_target->post(NotificationTarget::FirstNotification + NotifyTestException);
}

void TAsyncSocket::CloseDelayed() {
    m_target->post(NotificationTarget::FirstNotification + NotifyCloseDelayed);
}

void TAsyncSocket::Release() {
    m_target->post(NotificationTarget::FirstNotification + NotifyRelease);
}

// ---- errors ----

int TAsyncSocket::platformError() const { return WinsockErrorFromErrno(errno); }

void TAsyncSocket::SocketError(const QString& sockFunc, int errorCode) {
    if (errorCode == WSAECONNRESET || errorCode == WSAENOTCONN) {
        // The connection is gone: drop the handle without an OnSessionClosed.
        unwatchHandle();
        if (m_hSocket >= 0)
            ::close(m_hSocket);
        m_hSocket = -1;
        if (m_state != wsClosed) {
            QPointer<TAsyncSocket> alive(this);
            changeState(wsClosed);
            if (!alive)
                return;
        }
    }
    m_lastError = errorCode;
    RaiseException(QStringLiteral("Error ") + QString::number(errorCode) + QStringLiteral(" in function ") + sockFunc +
                   QStringLiteral("\r\n") + SocketErrorDesc(errorCode));
}

void TAsyncSocket::RaiseException(const QString& msg) {
    if (OnError) {
        fire(OnError);
        return;
    }
    throw ESocketException(msg);
}

// ---- close and abort ----

void TAsyncSocket::Close() { internalClose(true, 0); }

void TAsyncSocket::internalClose(bool shutdownFirst, int error) {
    if (m_state == wsClosed && m_hSocket < 0)
        return;
    QPointer<TAsyncSocket> alive(this);
    if (m_hSocket >= 0 && m_state != wsClosed) {
        if (m_tls)
            tlsEnd(shutdownFirst);
        if (shutdownFirst)
            ::shutdown(m_hSocket, SHUT_WR); // fails harmlessly on listeners and unconnected handles
        unwatchHandle();
        // Linux close() never asks to be retried on a non-blocking socket; EINTR still
        // releases the descriptor, so the handle is gone either way.
        ::close(m_hSocket);
        m_hSocket = -1;
        clearQueue();
        changeState(wsClosed);
        if (!alive)
            return;
        if (!m_destroying && !m_closeEventFired) {
            m_closeEventFired = true;
            if (!fire(OnSessionClosed, quint16(error)))
                return;
        }
        if (m_state == wsClosed && m_hSocket < 0)
            ResetToDefaults();
        return;
    }
    if (m_hSocket >= 0) {
        unwatchHandle();
        ::close(m_hSocket);
        m_hSocket = -1;
    }
    if (m_state != wsClosed) {
        changeState(wsClosed);
        if (!alive)
            return;
    }
    ResetToDefaults();
}

void TAsyncSocket::Abort() {
    CancelDnsLookup();
    clearQueue();
    if (m_state == wsConnected && !m_datagram && m_hSocket >= 0) {
        m_lingerOnOff = wsLingerOff;
        SetLingerOption();
    }
    internalClose(false, 0);
}

void TAsyncSocket::closeHandleSilently() {
    unwatchHandle();
    if (m_hSocket >= 0)
        ::close(m_hSocket);
    m_hSocket = -1;
    m_state = wsClosed;
    clearQueue();
}

void TAsyncSocket::clearQueue() {
    while (m_queue.size() > 1)
        m_queue.pop_back();
    m_queue.front()->remove(m_queue.front()->unread());
    m_allSent = true;
}

// ---- waiting ----

void TAsyncSocket::MessagePump() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void TAsyncSocket::ProcessMessages() { MessagePump(); }

void TAsyncSocket::Flush() {
    QPointer<TAsyncSocket> alive(this);
    while (alive && m_hSocket >= 0 && !m_allSent) {
        TryToSend();
        if (alive && m_hSocket >= 0 && !m_allSent)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

void TAsyncSocket::WaitForClose() {
    QPointer<TAsyncSocket> alive(this);
    while (alive && m_hSocket >= 0 && m_state != wsClosed)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}
