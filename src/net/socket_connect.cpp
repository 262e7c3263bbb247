// Opening handles: Connect, Listen, Accept, Dup, binding and socket options.
#include "net/async_socket.h"

#include "net/socket_private.h"

#include <arpa/inet.h>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Sets one integer option; returns the Winsock error, or 0.
int setIntOption(int fd, int level, int name, int value) {
    return setsockopt(fd, level, name, &value, sizeof value) == 0 ? 0 : WinsockErrorFromErrno(errno);
}

} // namespace

bool TAsyncSocket::resolveAll(const QString& prefix) {
    try {
        if (!m_protoResolved) {
            m_proto = SocketResolveProto(m_protoStr);
            m_datagram = m_proto == IPPROTO_UDP;
            m_protoResolved = true;
        }
        const QString protoName = m_datagram ? QStringLiteral("udp") : QStringLiteral("tcp");
        if (!m_portResolved) {
            m_sin.sin_port = htons(SocketResolvePort(m_portStr, protoName));
            m_portResolved = true;
        }
        if (!m_localPortResolved) {
            m_localPort = SocketResolvePort(m_localPortStr, protoName);
            m_localPortResolved = true;
        }
        if (!m_addrResolved) {
            m_sin.sin_family = AF_INET;
            m_sin.sin_addr.s_addr = SocketResolveHost(m_addrStr);
            m_addrResolved = true;
        }
    } catch (const ESocketException& e) {
        RaiseException(prefix + e.text());
        return false;
    }
    return true;
}

bool TAsyncSocket::openHandle(const QString& failName) {
    clearQueue();
    const int type = (m_datagram ? SOCK_DGRAM : SOCK_STREAM) | SOCK_NONBLOCK | SOCK_CLOEXEC;
    const int fd = ::socket(AF_INET, type, m_datagram ? IPPROTO_UDP : IPPROTO_TCP);
    if (fd < 0) {
        SocketError(failName, platformError());
        return false;
    }
    m_hSocket = fd;
    ++m_handleSerial;
    m_readArmed = false;
    m_writeWanted = false;
    m_recvCalls = 0;
    return true;
}

void TAsyncSocket::bindSocket() {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = m_localIp;
    local.sin_port = htons(m_localPort);
    if (::bind(m_hSocket, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        RaiseException(QStringLiteral("winsock.bind failed, error #%1").arg(platformError()));
        return;
    }
    socklen_t len = sizeof local;
    if (getsockname(m_hSocket, reinterpret_cast<sockaddr*>(&local), &len) != 0) {
        RaiseException(QStringLiteral("winsock.getsockname failed, error #%1").arg(platformError()));
        return;
    }
    m_localPort = ntohs(local.sin_port);
    m_localPortStr = QString::number(m_localPort);
}

void TAsyncSocket::SetLingerOption() {
    if (m_lingerOnOff == wsLingerNoSet)
        return;
    if (m_hSocket < 0) {
        RaiseException(QStringLiteral("Cannot set linger option at this time"));
        return;
    }
    // Linger on with a time of 0 would turn every Close into a reset that throws away
    // whatever the peer has not read yet; it closes gracefully instead. A positive
    // time lingers for that many seconds.
    linger l{};
    l.l_onoff = (m_lingerOnOff == wsLingerOn && m_lingerTimeout > 0) ? 1 : 0;
    l.l_linger = m_lingerTimeout;
    if (setsockopt(m_hSocket, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0)
        SocketError(QStringLiteral("setsockopt(SO_LINGER)"), platformError());
}

void TAsyncSocket::Connect() {
    if (m_hSocket >= 0 && m_state != wsClosed) {
        RaiseException(QStringLiteral("Connect: Socket already in use"));
        return;
    }
    if (!m_portAssigned) {
        RaiseException(QStringLiteral("Connect: No Port Specified"));
        return;
    }
    if (!m_addrAssigned) {
        RaiseException(QStringLiteral("Connect: No IP Address Specified"));
        return;
    }
    if (!m_protoAssigned) {
        RaiseException(QStringLiteral("Connect: No Protocol Specified"));
        return;
    }
    if (!resolveAll(QStringLiteral("connect: ")) || !openHandle(QStringLiteral("Connect (socket)")))
        return;
    QPointer<TAsyncSocket> alive(this);
    changeState(wsOpened);
    if (!alive)
        return;
    if (m_datagram) {
        bindSocket();
        if (m_sin.sin_addr.s_addr == INADDR_BROADCAST) {
            if (const int err = setIntOption(m_hSocket, SOL_SOCKET, SO_BROADCAST, 1))
                return SocketError(QStringLiteral("setsockopt(SO_BROADCAST)"), err);
        }
    } else {
        if (m_localPort != 0 || m_localIp != INADDR_ANY)
            bindSocket();
        SetLingerOption();
        if (const int err = setIntOption(m_hSocket, SOL_SOCKET, SO_KEEPALIVE, 1))
            return SocketError(QStringLiteral("setsockopt(SO_KEEPALIVE)"), err);
        if (const int err = setIntOption(m_hSocket, SOL_SOCKET, SO_REUSEADDR, 1))
            return SocketError(QStringLiteral("setsockopt(SO_REUSEADDR)"), err);
    }
    watchHandle(false);
    if (m_datagram) {
        changeState(wsConnected);
        if (alive)
            fire(OnSessionConnected, quint16(0));
        return;
    }
    if (::connect(m_hSocket, reinterpret_cast<sockaddr*>(&m_sin), sizeof m_sin) != 0 && errno != EINPROGRESS) {
        const int err = platformError();
        m_lastError = err;
        SocketError(QStringLiteral("Connect"), err);
        return;
    }
    // Success or in progress alike: the connect event comes from the loop, once the
    // handle reports writable.
    m_connectPending = true;
    m_readArmed = false;
    setWriteWatched(true);
    changeState(wsConnecting);
}

void TAsyncSocket::Listen() {
    const char* missing = !m_portAssigned    ? "listen: port not assigned"
                          : !m_protoAssigned ? "listen: protocol not assigned"
                          : !m_addrAssigned  ? "listen: address not assigned"
                                             : nullptr;
    if (missing) {
        m_lastError = WSAEINVAL;
        SocketError(QString::fromLatin1(missing), WSAEINVAL);
        return;
    }
    if (!resolveAll(QStringLiteral("listen: ")) || !openHandle(QStringLiteral("socket")))
        return;
    QPointer<TAsyncSocket> alive(this);
    changeState(wsOpened);
    if (!alive)
        return;
    if (::bind(m_hSocket, reinterpret_cast<sockaddr*>(&m_sin), sizeof m_sin) != 0) {
        const int err = platformError();
        // The handle is released before the report, so a raised error leaks nothing; a
        // socket that never connected has no session to close, so no OnSessionClosed
        // comes before (or after) the error.
        m_closeEventFired = true;
        Close();
        if (alive)
            SocketError(QStringLiteral("Bind"), err);
        return;
    }
    changeState(wsBound);
    if (!alive)
        return;
    if (!m_datagram) {
        if (::listen(m_hSocket, 5) != 0)
            return SocketError(QStringLiteral("Listen"), platformError());
        changeState(wsListening);
    } else {
        changeState(wsListening);
        if (!alive)
            return;
        changeState(wsConnected);
        if (!alive || !fire(OnSessionConnected, quint16(0)))
            return;
    }
    if (alive && m_hSocket >= 0)
        watchHandle(!m_datagram);
}

int TAsyncSocket::Accept() {
    if (m_state != wsListening) {
        m_lastError = WSAEINVAL;
        SocketError(QStringLiteral("not a listening socket"), WSAEINVAL);
        return -1;
    }
    const int fd = ::accept4(m_hSocket, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    const int err = fd < 0 ? platformError() : 0;
    // Taking a connection lets the next accept notification come.
    m_readArmed = true;
    applyWatches();
    if (fd < 0) {
        SocketError(QStringLiteral("Accept"), err);
        return -1;
    }
    m_lastAccepted = fd;
    return fd;
}

void TAsyncSocket::Dup(int newHSocket) {
    if (newHSocket == 0 || newHSocket == -1) {
        m_lastError = WSAEINVAL;
        SocketError(QStringLiteral("Dup"), WSAEINVAL);
        return;
    }
    QPointer<TAsyncSocket> alive(this);
    if (m_state != wsClosed) {
        unwatchHandle();
        if (m_hSocket >= 0 && ::close(m_hSocket) != 0)
            return SocketError(QStringLiteral("Dup (closesocket)"), platformError());
        m_hSocket = -1;
        changeState(wsClosed);
        if (!alive)
            return;
    }
    m_hSocket = newHSocket;
    ++m_handleSerial;
    m_recvCalls = 0;
    m_closeEventFired = false;
    m_datagram = false;
    SetLingerOption();
    watchHandle(false);
    // Asking for write notifications on a connected handle reports it writable once.
    postSelect(FdWrite);
    changeState(wsConnected);
}

int TAsyncSocket::GetSockName(sockaddr_in& saddr) {
    socklen_t len = sizeof saddr;
    if (getsockname(m_hSocket, reinterpret_cast<sockaddr*>(&saddr), &len) != 0) {
        m_lastError = platformError();
        return -1;
    }
    return 0;
}

int TAsyncSocket::GetPeerName(sockaddr_in& saddr) {
    socklen_t len = sizeof saddr;
    if (m_state != wsConnected || getpeername(m_hSocket, reinterpret_cast<sockaddr*>(&saddr), &len) != 0) {
        if (m_state == wsConnected)
            m_lastError = platformError();
        return -1;
    }
    return 0;
}

QString TAsyncSocket::GetXPort() {
    sockaddr_in sa{};
    if ((m_state == wsBound || m_state == wsConnected || m_state == wsListening) && GetSockName(sa) == 0)
        return QString::number(ntohs(sa.sin_port));
    return QStringLiteral("error");
}
