#include "scripted_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

ScriptStep ScriptStep::readUntil(const QByteArray& delimiter) {
    ScriptStep s;
    s.kind = ReadUntil;
    s.bytes = delimiter;
    return s;
}

ScriptStep ScriptStep::expect(const QByteArray& bytes) {
    ScriptStep s;
    s.kind = Expect;
    s.bytes = bytes;
    return s;
}

ScriptStep ScriptStep::send(const QByteArray& bytes) {
    ScriptStep s;
    s.kind = Send;
    s.bytes = bytes;
    return s;
}

ScriptStep ScriptStep::sendPieces(const QList<QByteArray>& pieces, int pauseMs) {
    ScriptStep s;
    s.kind = SendPieces;
    s.pieces = pieces;
    s.pauseMs = pauseMs;
    return s;
}

ScriptStep ScriptStep::stall() {
    ScriptStep s;
    s.kind = Stall;
    return s;
}

ScriptStep ScriptStep::close() { return ScriptStep(); }

ScriptStep ScriptStep::reset() {
    ScriptStep s;
    s.kind = Reset;
    return s;
}

ScriptedServer::ScriptedServer(QList<Dialogue> dialogues, bool repeatLast)
    : m_dialogues(std::move(dialogues)), m_repeatLast(repeatLast) {
    if (::pipe(m_stopPipe) != 0 || ::pipe(m_releasePipe) != 0)
        throw std::runtime_error("scripted server: pipe failed");
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (m_listenFd < 0 || ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(m_listenFd, 16) != 0 || ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("scripted server: cannot listen on loopback");
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] { run(); });
}

ScriptedServer::~ScriptedServer() {
    const char c = 0;
    (void)!::write(m_stopPipe[1], &c, 1);
    m_thread.join();
    for (int fd : {m_listenFd, m_stopPipe[0], m_stopPipe[1], m_releasePipe[0], m_releasePipe[1]})
        if (fd >= 0)
            ::close(fd);
}

QString ScriptedServer::url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path);
}

void ScriptedServer::release() {
    // Never drained: the pipe stays readable, so every later stall passes at once.
    const char c = 0;
    (void)!::write(m_releasePipe[1], &c, 1);
}

int ScriptedServer::connectionCount() const {
    std::lock_guard lock(m_mutex);
    return int(m_received.size());
}

QByteArray ScriptedServer::received(int connection) const {
    std::lock_guard lock(m_mutex);
    return connection < m_received.size() ? m_received.at(connection) : QByteArray();
}

QString ScriptedServer::failures() const {
    std::lock_guard lock(m_mutex);
    return m_failures.join('\n');
}

void ScriptedServer::record(int index, const char* data, qint64 count) {
    std::lock_guard lock(m_mutex);
    m_received[index].append(data, count);
}

void ScriptedServer::fail(const QString& line) {
    std::lock_guard lock(m_mutex);
    m_failures << line;
}

// Waits for the socket (or the end of the server); false when the server ends or the
// time runs out.
bool ScriptedServer::waitReadable(int fd, int timeoutMs) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
    for (;;) {
        const int n = ::poll(fds, 2, timeoutMs);
        if (n < 0 && errno == EINTR)
            continue;
        return n > 0 && !(fds[1].revents & POLLIN);
    }
}

bool ScriptedServer::stopWithin(int ms) {
    pollfd fd{m_stopPipe[0], POLLIN, 0};
    return ::poll(&fd, 1, ms) > 0;
}

void ScriptedServer::run() {
    for (int index = 0;; ++index) {
        if (!waitReadable(m_listenFd, -1))
            return;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        {
            std::lock_guard lock(m_mutex);
            m_received.append(QByteArray());
        }
        if (index < m_dialogues.size())
            play(fd, m_dialogues.at(index), index);
        else if (m_repeatLast && !m_dialogues.isEmpty())
            play(fd, m_dialogues.last(), index);
        else
            drainAndClose(fd, index);
    }
}

bool ScriptedServer::readUntil(int fd, int index, const QByteArray& delimiter, qint64 minimum) {
    // Reads one byte at a time so that nothing behind the delimiter is consumed: the
    // next step may expect it.
    QByteArray got;
    while (!(minimum >= 0 ? got.size() >= minimum : got.endsWith(delimiter))) {
        if (!waitReadable(fd, 10000))
            return false;
        char c;
        const ssize_t n = ::recv(fd, &c, 1, 0);
        if (n <= 0)
            return false;
        got.append(c);
        record(index, &c, 1);
    }
    return true;
}

void ScriptedServer::play(int fd, const Dialogue& dialogue, int index) {
    for (const ScriptStep& step : dialogue) {
        switch (step.kind) {
        case ScriptStep::ReadUntil:
            if (!readUntil(fd, index, step.bytes, -1)) {
                fail(QStringLiteral("connection %1: ended before %2").arg(index).arg(QString::fromLatin1(step.bytes.toPercentEncoding())));
                ::close(fd);
                return;
            }
            break;
        case ScriptStep::Expect: {
            const qint64 before = received(index).size();
            const bool complete = readUntil(fd, index, {}, step.bytes.size());
            const QByteArray got = received(index).mid(before);
            if (!complete || got != step.bytes)
                fail(QStringLiteral("connection %1: expected \"%2\", got \"%3\"")
                         .arg(index).arg(QString::fromLatin1(step.bytes), QString::fromLatin1(got)));
            if (!complete) {
                ::close(fd);
                return;
            }
            break;
        }
        case ScriptStep::Send:
            (void)!::send(fd, step.bytes.constData(), size_t(step.bytes.size()), MSG_NOSIGNAL);
            break;
        case ScriptStep::SendPieces:
            for (qsizetype i = 0; i < step.pieces.size(); ++i) {
                if (i > 0 && stopWithin(step.pauseMs))
                    break;
                (void)!::send(fd, step.pieces[i].constData(), size_t(step.pieces[i].size()), MSG_NOSIGNAL);
            }
            break;
        case ScriptStep::Stall: {
            pollfd fds[2] = {{m_releasePipe[0], POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
            while (::poll(fds, 2, -1) < 0 && errno == EINTR) {
            }
            break;
        }
        case ScriptStep::Close:
            drainAndClose(fd, index);
            return;
        case ScriptStep::Reset: {
            const linger hard{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            ::close(fd);
            return;
        }
        }
    }
    drainAndClose(fd, index);
}

// A close with unread bytes pending would send a reset and could destroy the reply in
// flight; so: half-close, read what the client still sends until it closes too.
void ScriptedServer::drainAndClose(int fd, int index) {
    ::shutdown(fd, SHUT_WR);
    char buffer[4096];
    while (waitReadable(fd, 5000)) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        record(index, buffer, n);
    }
    ::close(fd);
}
