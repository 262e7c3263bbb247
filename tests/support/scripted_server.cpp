#include "scripted_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

}  // namespace

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
    : ScriptedServer(std::move(dialogues), repeatLast, INADDR_LOOPBACK, 0) {}

ScriptedServer::ScriptedServer(QList<Dialogue> dialogues, bool repeatLast, quint32 address, quint16 port)
    : m_dialogues(std::move(dialogues)), m_repeatLast(repeatLast) {
    m_listenFd = ListenOn(address, port, &m_port);
    if (m_listenFd < 0)
        throw std::runtime_error("scripted server: cannot listen on loopback");
    if (::pipe(m_stopPipe) != 0 || ::pipe(m_releasePipe) != 0)
        throw std::runtime_error("scripted server: pipe failed");
    in_addr dotted{htonl(address)};
    m_host = QString::fromLatin1(::inet_ntoa(dotted));
    m_thread = std::thread([this] { run(); });
}

std::unique_ptr<ScriptedServer> ScriptedServer::onDefaultHttpPort(QList<Dialogue> dialogues) {
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<quint32> pick(1, 254);
    for (int attempt = 0; attempt < 20; ++attempt) {
        const quint32 address = (127u << 24) | (pick(random) << 16) | (pick(random) << 8) | pick(random);
        try {
            return std::unique_ptr<ScriptedServer>(new ScriptedServer(dialogues, false, address, 80));
        } catch (const std::runtime_error&) {
            // Taken by another run: try another address.
        }
    }
    throw std::runtime_error("scripted server: no loopback address with a free port 80");
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
    return QStringLiteral("http://%1:%2%3").arg(m_host).arg(m_port).arg(path);
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
            (void)SendAll(fd, step.bytes);
            break;
        case ScriptStep::SendPieces:
            for (qsizetype i = 0; i < step.pieces.size(); ++i) {
                if (i > 0 && stopWithin(step.pauseMs))
                    break;
                (void)SendAll(fd, step.pieces[i]);
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

// ---- ParallelSender ----

namespace {

constexpr qint64 kPatternPeriod = 251;  // prime: a shifted or repeated block shows
constexpr qint64 kSendChunk = 256 * 1024;

const QByteArray& pattern() {
    static const QByteArray bytes = [] {
        QByteArray b(kSendChunk + kPatternPeriod, Qt::Uninitialized);
        for (qint64 i = 0; i < b.size(); ++i)
            b[i] = char(i % kPatternPeriod);
        return b;
    }();
    return bytes;
}

}  // namespace

ParallelSender::ParallelSender(int connections, qint64 bodySize) : m_connections(connections), m_bodySize(bodySize) {
    m_listenFd = ListenOn(INADDR_LOOPBACK, 0, &m_port);
    if (m_listenFd < 0 || ::pipe(m_stopPipe) != 0)
        throw std::runtime_error("parallel sender: cannot listen on loopback");
    m_thread = std::thread([this] { run(); });
}

ParallelSender::~ParallelSender() {
    const char c = 0;
    (void)!::write(m_stopPipe[1], &c, 1);
    m_thread.join();
    for (int fd : {m_listenFd, m_stopPipe[0], m_stopPipe[1]})
        if (fd >= 0)
            ::close(fd);
}

QString ParallelSender::url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path);
}

bool ParallelSender::matchesPattern(const char* data, qint64 size, qint64 offset) {
    for (qint64 done = 0; done < size;) {
        const qint64 n = qMin(size - done, kSendChunk);
        if (std::memcmp(data + done, pattern().constData() + (offset + done) % kPatternPeriod, size_t(n)) != 0)
            return false;
        done += n;
    }
    return true;
}

QString ParallelSender::failures() const {
    std::lock_guard lock(m_mutex);
    return m_failures.join('\n');
}

void ParallelSender::run() {
    auto fail = [this](const QString& line) {
        std::lock_guard lock(m_mutex);
        m_failures << line;
    };
    std::vector<pollfd> fds;
    std::vector<qint64> sent;
    auto closeAll = [&] {
        for (const pollfd& p : fds)
            ::close(p.fd);
    };
    // Accept every connection and read its request header before any answer goes out,
    // so that the downloads run side by side from their first byte.
    while (int(fds.size()) < m_connections) {
        pollfd wait[2] = {{m_listenFd, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
        if (::poll(wait, 2, 10000) <= 0 || (wait[1].revents & POLLIN)) {
            fail(QStringLiteral("only %1 of %2 connections came").arg(fds.size()).arg(m_connections));
            closeAll();
            return;
        }
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        QByteArray request;
        char c;
        while (!request.endsWith("\r\n\r\n") && ::recv(fd, &c, 1, 0) == 1)
            request.append(c);
        const QByteArray header = "HTTP/1.0 200 OK\r\nContent-Length: " + QByteArray::number(m_bodySize) + "\r\n\r\n";
        if (::send(fd, header.constData(), size_t(header.size()), MSG_NOSIGNAL) != header.size())
            fail(QStringLiteral("connection %1: the header did not go out").arg(fds.size()));
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        fds.push_back({fd, POLLOUT, 0});
        sent.push_back(0);
    }
    fds.push_back({m_stopPipe[0], POLLIN, 0});
    int open = m_connections;
    while (open > 0) {
        if (::poll(fds.data(), nfds_t(fds.size()), 30000) <= 0 || (fds.back().revents & POLLIN)) {
            fail(QStringLiteral("stopped with %1 connections still sending").arg(open));
            break;
        }
        for (int i = 0; i < m_connections; ++i) {
            if (fds[i].events == 0 || !(fds[i].revents & (POLLOUT | POLLERR | POLLHUP)))
                continue;
            const qint64 n = qMin(kSendChunk, m_bodySize - sent[i]);
            const ssize_t done = ::send(fds[i].fd, pattern().constData() + sent[i] % kPatternPeriod, size_t(n), MSG_NOSIGNAL);
            if (done < 0 && errno != EAGAIN && errno != EINTR) {
                fail(QStringLiteral("connection %1: send failed after %2 bytes").arg(i).arg(sent[i]));
                fds[i].events = 0;
                --open;
                continue;
            }
            sent[i] += qMax<ssize_t>(done, 0);
            if (sent[i] == m_bodySize) {
                ::shutdown(fds[i].fd, SHUT_WR);
                fds[i].events = 0;
                --open;
            }
        }
    }
    fds.pop_back();
    closeAll();
}
