#include "support/loopback_port.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

bool SendAll(int fd, const QByteArray& bytes) {
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

quint16 FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    quint16 port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

namespace {

// A new TCP handle for a numeric address of either family, and that address with the
// port as the socket calls take it; -1 when the text is no such address.
int handleFor(const char* address, quint16 port, sockaddr_storage& addr, socklen_t& len) {
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(address, QByteArray::number(port).constData(), &hints, &found) != 0)
        return -1;
    std::memcpy(&addr, found->ai_addr, len = found->ai_addrlen);
    freeaddrinfo(found);
    return ::socket(addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

}  // namespace

int ListenOn(const char* address, quint16 port, quint16* bound, int backlog) {
    sockaddr_storage addr{};
    socklen_t len = 0;
    const int fd = handleFor(address, port, addr, len);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || (backlog >= 0 && ::listen(fd, backlog) != 0) ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    // The port lies at the same place in the address records of both families.
    *bound = ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
    return fd;
}

int ListenOn(quint32 address, quint16 port, quint16* bound) {
    const in_addr a{htonl(address)};
    char text[INET_ADDRSTRLEN];
    return ListenOn(inet_ntop(AF_INET, &a, text, sizeof text), port, bound);
}

bool WaitReadableUnlessStopped(int fd, int stopFd, int timeoutMs) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    for (;;) {
        const int n = ::poll(fds, 2, timeoutMs);
        if (n < 0 && errno == EINTR)
            continue;
        return n > 0 && !(fds[1].revents & POLLIN);
    }
}

bool LoopbackPortAnswers(quint16 port, const char* address) {
    sockaddr_storage addr{};
    socklen_t len = 0;
    const int fd = handleFor(address, port, addr, len);
    const bool ok = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok;
}

bool WaitUntilServerAnswers(const QProcess& process, quint16 port, int timeoutMs, const char* address) {
    const QDeadlineTimer deadline(timeoutMs);
    QEventLoop loop;
    QTimer tick;
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
    tick.start();
    while (!deadline.hasExpired() && process.state() == QProcess::Running) {
        if (LoopbackPortAnswers(port, address))
            return true;
        loop.exec();
    }
    return false;
}
