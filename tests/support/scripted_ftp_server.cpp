#include "scripted_ftp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace {

FtpStep make(FtpStep::Kind kind, const QByteArray& bytes = {}, int ms = 0) {
    FtpStep s;
    s.kind = kind;
    s.bytes = bytes;
    s.ms = ms;
    return s;
}

int listenLoopback(quint16& port, const char* address) {
    const int fd = ListenOn(address, 0, &port);
    if (fd < 0)
        throw std::runtime_error("scripted FTP server: cannot listen on loopback");
    return fd;
}

}  // namespace

FtpStep FtpStep::reply(const QByteArray& bytes) { return make(Reply, bytes); }
FtpStep FtpStep::replyPieces(const QList<QByteArray>& pieces, int pauseMs) {
    FtpStep s = make(ReplyPieces, {}, pauseMs);
    s.pieces = pieces;
    return s;
}
FtpStep FtpStep::expect(const QByteArray& line) { return make(Expect, line); }
FtpStep FtpStep::connectToPort() { return make(DataConnect); }
FtpStep FtpStep::listenPassive() { return make(DataListen); }
FtpStep FtpStep::acceptData() { return make(DataAccept); }
FtpStep FtpStep::receiveData() { return make(DataReceive); }
FtpStep FtpStep::sendData(const QByteArray& bytes) { return make(DataSend, bytes); }
FtpStep FtpStep::closeData() { return make(DataClose); }
FtpStep FtpStep::pause(int ms) { return make(Pause, {}, ms); }
FtpStep FtpStep::stall() { return make(Stall); }
FtpStep FtpStep::close() { return make(Close); }
FtpStep FtpStep::cutDataAfter(qint64 bytes) { return make(DataCut, {}, int(bytes)); }
FtpStep FtpStep::nextConnection() { return make(NextConnection); }

ScriptedFtpServer::ScriptedFtpServer(QList<FtpStep> dialogue, const char* address)
    : m_dialogue(std::move(dialogue)), m_address(address) {
    if (::pipe(m_stopPipe) != 0 || ::pipe(m_releasePipe) != 0)
        throw std::runtime_error("scripted FTP server: pipe failed");
    m_listenFd = listenLoopback(m_port, m_address);
    m_thread = std::thread([this] { run(); });
}

ScriptedFtpServer::~ScriptedFtpServer() {
    const char c = 0;
    (void)!::write(m_stopPipe[1], &c, 1);
    m_thread.join();
    for (int* fd : {&m_listenFd, &m_passiveFd, &m_dataFd, &m_stopPipe[0], &m_stopPipe[1], &m_releasePipe[0],
                    &m_releasePipe[1]})
        closeFd(*fd);
}

void ScriptedFtpServer::closeFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void ScriptedFtpServer::release() {
    const char c = 0;
    (void)!::write(m_releasePipe[1], &c, 1);
}

QByteArray ScriptedFtpServer::received() const {
    std::lock_guard lock(m_mutex);
    return m_received;
}

QByteArray ScriptedFtpServer::dataReceived() const {
    std::lock_guard lock(m_mutex);
    return m_dataReceived;
}

QString ScriptedFtpServer::portAddress() const {
    std::lock_guard lock(m_mutex);
    return m_portAddress;
}

QString ScriptedFtpServer::failures() const {
    std::lock_guard lock(m_mutex);
    return m_failures.join('\n');
}

bool ScriptedFtpServer::finished() const {
    std::lock_guard lock(m_mutex);
    return m_finished;
}

void ScriptedFtpServer::fail(const QString& line) {
    std::lock_guard lock(m_mutex);
    m_failures << line;
}

void ScriptedFtpServer::run() {
    if (!waitReadable(m_listenFd, -1))
        return;
    int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    play(fd);
    endConnection(fd);
    std::lock_guard lock(m_mutex);
    m_finished = true;
}

// Half-close, then wait for the client's own close, so no reply in flight is lost to a
// reset.
void ScriptedFtpServer::endConnection(int& fd) {
    if (fd < 0)
        return;
    ::shutdown(fd, SHUT_WR);
    char buffer[4096];
    while (waitReadable(fd, 5000)) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        std::lock_guard lock(m_mutex);
        m_received.append(buffer, n);
    }
    closeFd(fd);
    closeFd(m_dataFd);
}

// One byte at a time, so that nothing behind the line is consumed.
bool ScriptedFtpServer::readLine(int fd, QByteArray& line) {
    line.clear();
    while (!line.endsWith("\r\n")) {
        if (!waitReadable(fd, 10000))
            return false;
        char c;
        if (::recv(fd, &c, 1, 0) <= 0)
            return false;
        line.append(c);
        std::lock_guard lock(m_mutex);
        m_received.append(c);
    }
    line.chop(2);
    return true;
}

QByteArray ScriptedFtpServer::substitute(QByteArray bytes) const {
    return bytes.replace("{port}", QByteArray::number(m_passivePort))
        .replace("{p1}", QByteArray::number(m_passivePort >> 8))
        .replace("{p2}", QByteArray::number(m_passivePort & 0xff));
}

void ScriptedFtpServer::play(int& fd) {
    QByteArray lastPort;
    for (const FtpStep& step : m_dialogue) {
        switch (step.kind) {
        case FtpStep::Reply:
            (void)SendAll(fd, substitute(step.bytes));
            break;
        case FtpStep::ReplyPieces:
            for (qsizetype i = 0; i < step.pieces.size(); ++i) {
                if (i > 0) {
                    pollfd stop{m_stopPipe[0], POLLIN, 0};
                    if (::poll(&stop, 1, step.ms) > 0)
                        return;
                }
                (void)SendAll(fd, substitute(step.pieces[i]));
            }
            break;
        case FtpStep::Expect: {
            QByteArray line;
            if (!readLine(fd, line)) {
                fail(QStringLiteral("the client ended before \"%1\"").arg(QString::fromLatin1(step.bytes)));
                return;
            }
            const bool prefix = step.bytes.endsWith('*');
            if (prefix ? !line.startsWith(step.bytes.chopped(1)) : line != step.bytes)
                fail(QStringLiteral("expected \"%1\", got \"%2\"")
                         .arg(QString::fromLatin1(step.bytes), QString::fromLatin1(line)));
            if (line.startsWith("PORT "))
                lastPort = line.mid(5);
            break;
        }
        case FtpStep::DataConnect: {
            const QList<QByteArray> n = lastPort.split(',');
            if (n.size() != 6) {
                fail(QStringLiteral("no PORT command to connect to"));
                return;
            }
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_addr.s_addr = htonl((n[0].toUInt() << 24) | (n[1].toUInt() << 16) | (n[2].toUInt() << 8) |
                                         n[3].toUInt());
            addr.sin_port = htons(quint16(n[4].toUInt() * 256 + n[5].toUInt()));
            {
                std::lock_guard lock(m_mutex);
                m_portAddress = QStringLiteral("%1.%2.%3.%4:%5")
                                    .arg(n[0].toUInt())
                                    .arg(n[1].toUInt())
                                    .arg(n[2].toUInt())
                                    .arg(n[3].toUInt())
                                    .arg(ntohs(addr.sin_port));
            }
            closeFd(m_dataFd);
            m_dataFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (::connect(m_dataFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
                fail(QStringLiteral("cannot connect to the PORT address"));
                return;
            }
            break;
        }
        case FtpStep::DataListen:
            closeFd(m_passiveFd);
            m_passiveFd = listenLoopback(m_passivePort, m_address);
            break;
        case FtpStep::DataAccept:
            closeFd(m_dataFd);
            if (m_passiveFd < 0 || !waitReadable(m_passiveFd, 10000) ||
                (m_dataFd = ::accept4(m_passiveFd, nullptr, nullptr, SOCK_CLOEXEC)) < 0) {
                fail(QStringLiteral("the client did not open the passive data connection"));
                return;
            }
            break;
        case FtpStep::DataReceive: {
            char buffer[65536];
            for (;;) {
                if (!waitReadable(m_dataFd, 10000)) {
                    fail(QStringLiteral("the client did not close the data connection"));
                    return;
                }
                const ssize_t n = ::recv(m_dataFd, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                std::lock_guard lock(m_mutex);
                m_dataReceived.append(buffer, n);
            }
            break;
        }
        case FtpStep::DataSend:
            (void)SendAll(m_dataFd, step.bytes);
            break;
        case FtpStep::DataClose:
            closeFd(m_dataFd);
            break;
        case FtpStep::DataCut: {
            char buffer[65536];
            qint64 got = 0;
            while (got < step.ms && waitReadable(m_dataFd, 10000)) {
                const ssize_t n = ::recv(m_dataFd, buffer, size_t(qMin<qint64>(sizeof buffer, step.ms - got)), 0);
                if (n <= 0)
                    break;
                got += n;
                std::lock_guard lock(m_mutex);
                m_dataReceived.append(buffer, n);
            }
            const linger reset{1, 0};
            ::setsockopt(m_dataFd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            closeFd(m_dataFd);
            break;
        }
        case FtpStep::NextConnection:
            endConnection(fd);
            if (!waitReadable(m_listenFd, 10000) || (fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC)) < 0) {
                fail(QStringLiteral("the client did not connect again"));
                return;
            }
            break;
        case FtpStep::Pause: {
            pollfd stop{m_stopPipe[0], POLLIN, 0};
            if (::poll(&stop, 1, step.ms) > 0)
                return;
            break;
        }
        case FtpStep::Stall: {
            pollfd fds[2] = {{m_releasePipe[0], POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
            while (::poll(fds, 2, -1) < 0 && errno == EINTR) {
            }
            break;
        }
        case FtpStep::Close:
            return;
        }
    }
}
