// Opening handles: Connect, Listen, Accept, Dup, binding and socket options.
#include "net/async_socket.h"

#include "net/connect_race.h"
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
            m_remotePort = SocketResolvePort(m_portStr, protoName);
            m_portResolved = true;
        }
        if (!m_localPortResolved) {
            m_localPort = SocketResolvePort(m_localPortStr, protoName);
            m_localPortResolved = true;
        }
        if (!m_addrResolved) {
            m_candidates = addressesToTry();
            m_addrResolved = true;
        }
    } catch (const ESocketException& e) {
        RaiseException(prefix + e.text());
        return false;
    }
    for (TSocketAddress& a : m_candidates)
        a.setPort(m_remotePort);
    m_remote = m_candidates.front();
    return true;
}

std::vector<TSocketAddress> TAsyncSocket::addressesToTry() const {
    std::vector<TSocketAddress> found;
    // Addr as this socket's last lookup left it stands for every address of that lookup.
    if (!m_lookupReverse && m_addrStr == m_dnsResult)
        for (const QString& a : m_dnsResultList)
            for (const TSocketAddress& numeric : SocketResolveHostAddresses(a))
                found.push_back(numeric);
    if (found.empty())
        found = SocketResolveHostAddresses(m_addrStr);
    // A local address of one family leaves the other family's addresses unreachable.
    std::vector<TSocketAddress> reachable;
    for (const TSocketAddress& a : found)
        if (m_local.isAny() || a.family() == m_local.family())
            reachable.push_back(a);
    return AlternateFamilies(reachable.empty() ? found : reachable);
}

bool TAsyncSocket::openHandle(const QString& failName) {
    clearQueue();
    const int type = (m_datagram ? SOCK_DGRAM : SOCK_STREAM) | SOCK_NONBLOCK | SOCK_CLOEXEC;
    const int fd = ::socket(m_remote.family(), type, m_datagram ? IPPROTO_UDP : IPPROTO_TCP);
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

namespace {

// The local address a handle of the family binds to: LocalAddr when it is of that
// family, else that family's any-address.
TSocketAddress localFor(const TSocketAddress& local, int family, quint16 port) {
    TSocketAddress a = local.family() == family ? local
                       : family == AF_INET6     ? *TSocketAddress::fromIPv6Text(QStringLiteral("::"))
                                                : TSocketAddress::fromIPv4(INADDR_ANY);
    a.setPort(port);
    return a;
}

}  // namespace

void TAsyncSocket::bindSocket() {
    TSocketAddress local = localFor(m_local, m_remote.family(), m_localPort);
    if (::bind(m_hSocket, local.data(), local.length()) != 0) {
        RaiseException(QStringLiteral("winsock.bind failed, error #%1").arg(platformError()));
        return;
    }
    if (GetSockName(local) != 0) {
        RaiseException(QStringLiteral("winsock.getsockname failed, error #%1").arg(platformError()));
        return;
    }
    m_localPort = local.port();
    m_localPortStr = QString::number(m_localPort);
}

// The options of an outgoing stream handle; the Winsock error of the first that fails.
int TAsyncSocket::applyStreamOptions(int handle, int family) {
    if (m_localPort != 0 || !m_local.isAny()) {
        const TSocketAddress local = localFor(m_local, family, m_localPort);
        if (::bind(handle, local.data(), local.length()) != 0)
            return platformError();
    }
    if (const int err = lingerTo(handle))
        return err;
    if (const int err = setIntOption(handle, SOL_SOCKET, SO_KEEPALIVE, 1))
        return err;
    return setIntOption(handle, SOL_SOCKET, SO_REUSEADDR, 1);
}

// One more address of a race: a handle of its own with the options of the first.
int TAsyncSocket::openAttempt(const TSocketAddress& to, int& error) {
    m_tried << to.endpointText();
    const int fd = ::socket(to.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        error = platformError();
        return -1;
    }
    error = applyStreamOptions(fd, to.family());
    if (error == 0 && ::connect(fd, to.data(), to.length()) != 0 && errno != EINPROGRESS)
        error = platformError();
    if (error != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// An attempt of the race connected first: its handle takes the place of the socket's
// own, and the connect event comes as for the socket's own attempt.
void TAsyncSocket::raceWon(int handle, const TSocketAddress& to) {
    guarded([&] {
        m_race.reset();
        unwatchHandle();
        ::close(m_hSocket);
        m_hSocket = handle;
        ++m_handleSerial;
        m_recvCalls = 0;
        m_remote = to;
        m_tried.clear();
        watchHandle(false);
        postSelect(FdWrite);
        handleSelect(FdConnect, 0);
    });
}

QString TAsyncSocket::TriedAddressesText() const {
    return m_tried.size() > 1 ? m_tried.join(QStringLiteral(", ")) : QString();
}

void TAsyncSocket::SetLingerOption() {
    if (m_lingerOnOff == wsLingerNoSet)
        return;
    if (m_hSocket < 0) {
        RaiseException(QStringLiteral("Cannot set linger option at this time"));
        return;
    }
    if (const int err = lingerTo(m_hSocket))
        SocketError(QStringLiteral("setsockopt(SO_LINGER)"), err);
}

int TAsyncSocket::lingerTo(int handle) const {
    if (m_lingerOnOff == wsLingerNoSet)
        return 0;
    // Linger on with a time of 0 would turn every Close into a reset that throws away
    // whatever the peer has not read yet; it closes gracefully instead. A positive
    // time lingers for that many seconds.
    linger l{};
    l.l_onoff = (m_lingerOnOff == wsLingerOn && m_lingerTimeout > 0) ? 1 : 0;
    l.l_linger = m_lingerTimeout;
    return setsockopt(handle, SOL_SOCKET, SO_LINGER, &l, sizeof l) == 0 ? 0 : WinsockErrorFromErrno(errno);
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
        if (m_remote.family() == AF_INET && m_remote.ipv4() == INADDR_BROADCAST) {
            if (const int err = setIntOption(m_hSocket, SOL_SOCKET, SO_BROADCAST, 1))
                return SocketError(QStringLiteral("setsockopt(SO_BROADCAST)"), err);
        }
    } else {
        if (m_localPort != 0 || !m_local.isAny())
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
    m_tried = QStringList{m_remote.endpointText()};
    int err = 0;
    if (::connect(m_hSocket, m_remote.data(), m_remote.length()) != 0 && errno != EINPROGRESS)
        err = platformError();
    if (err != 0 && m_candidates.size() == 1) {
        m_lastError = err;
        SocketError(QStringLiteral("Connect"), err);
        return;
    }
    // Success or in progress alike: the connect event comes from the loop, once the
    // handle reports writable.
    m_connectPending = err == 0;
    m_readArmed = false;
    setWriteWatched(err == 0);
    changeState(wsConnecting);
    if (!alive || m_candidates.size() == 1 || m_state != wsConnecting)
        return;
    // The outcome of a race that every address lost comes from the loop, as a connect
    // event of the socket's own handle.
    m_race = std::make_unique<ConnectRace>(
        std::vector<TSocketAddress>(m_candidates.begin() + 1, m_candidates.end()), err,
        [this](const TSocketAddress& to, int& error) { return openAttempt(to, error); },
        [this](int handle, const TSocketAddress& to) { raceWon(handle, to); },
        [this](int error) { postSelect(FdConnect, error); });
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
    if (::bind(m_hSocket, m_remote.data(), m_remote.length()) != 0) {
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

int TAsyncSocket::GetSockName(TSocketAddress& saddr) {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (getsockname(m_hSocket, reinterpret_cast<sockaddr*>(&ss), &len) != 0) {
        m_lastError = platformError();
        return -1;
    }
    saddr = TSocketAddress::fromPlatform(reinterpret_cast<sockaddr*>(&ss), len);
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

int TAsyncSocket::GetPeerName(TSocketAddress& saddr) {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (m_state != wsConnected || getpeername(m_hSocket, reinterpret_cast<sockaddr*>(&ss), &len) != 0) {
        if (m_state == wsConnected)
            m_lastError = platformError();
        return -1;
    }
    saddr = TSocketAddress::fromPlatform(reinterpret_cast<sockaddr*>(&ss), len);
    return 0;
}

QString TAsyncSocket::GetXPort() {
    TSocketAddress sa;
    if ((m_state == wsBound || m_state == wsConnected || m_state == wsListening) && GetSockName(sa) == 0)
        return QString::number(sa.port());
    return QStringLiteral("error");
}
