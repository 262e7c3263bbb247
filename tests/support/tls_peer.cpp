#include "support/tls_peer.h"

#include "support/loopback_port.h"

#include <QFile>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>
#include <stdexcept>

namespace {

// No step of a script waits longer than this: a broken test fails, it does not hang.
constexpr int StepTimeoutSeconds = 30;

void setTimeouts(int fd) {
    timeval tv{StepTimeoutSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

sockaddr_in loopback(quint16 port, quint32 address = INADDR_LOOPBACK) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(address);
    a.sin_port = htons(port);
    return a;
}

} // namespace

// ---- one connection ----

TlsPeerConnection::TlsPeerConnection(int fd, SSL_CTX* ctx, int releaseFd) : m_fd(fd), m_releaseFd(releaseFd) {
    m_ssl = SSL_new(ctx);
    SSL_set_fd(m_ssl, fd);
}

TlsPeerConnection::~TlsPeerConnection() {
    SSL_free(m_ssl);
    if (m_fd >= 0)
        ::close(m_fd);
}

bool TlsPeerConnection::handshake() {
    const bool ok = SSL_accept(m_ssl) == 1;
    ERR_clear_error();
    return ok;
}

bool TlsPeerConnection::sessionReused() const { return SSL_session_reused(m_ssl) == 1; }

QString TlsPeerConnection::protocol() const { return QString::fromLatin1(SSL_get_version(m_ssl)); }

QString TlsPeerConnection::serverName() const {
    return QString::fromUtf8(SSL_get_servername(m_ssl, TLSEXT_NAMETYPE_host_name));
}

void TlsPeerConnection::send(const QByteArray& bytes) {
    qint64 off = 0;
    while (off < bytes.size()) {
        size_t n = 0;
        if (SSL_write_ex(m_ssl, bytes.constData() + off, size_t(bytes.size() - off), &n) != 1)
            return;
        off += qint64(n);
    }
}

QByteArray TlsPeerConnection::readExactly(qint64 count) {
    QByteArray got;
    char buf[65536];
    while (got.size() < count) {
        size_t n = 0;
        if (SSL_read_ex(m_ssl, buf, size_t(std::min<qint64>(sizeof buf, count - got.size())), &n) != 1)
            break;
        got.append(buf, qint64(n));
    }
    return got;
}

QByteArray TlsPeerConnection::readUntil(const QByteArray& marker) {
    QByteArray got;
    char c;
    size_t n = 0;
    while (!got.endsWith(marker) && SSL_read_ex(m_ssl, &c, 1, &n) == 1)
        got.append(c);
    ERR_clear_error();
    return got;
}

QByteArray TlsPeerConnection::readToEnd() {
    QByteArray got;
    char buf[65536];
    for (;;) {
        size_t n = 0;
        if (SSL_read_ex(m_ssl, buf, sizeof buf, &n) != 1) {
            m_closeNotify = SSL_get_error(m_ssl, 0) == SSL_ERROR_ZERO_RETURN;
            ERR_clear_error();
            return got;
        }
        got.append(buf, qint64(n));
    }
}

qint64 TlsPeerConnection::echo() {
    qint64 total = 0;
    char buf[65536];
    for (;;) {
        size_t n = 0;
        if (SSL_read_ex(m_ssl, buf, sizeof buf, &n) != 1) {
            m_closeNotify = SSL_get_error(m_ssl, 0) == SSL_ERROR_ZERO_RETURN;
            ERR_clear_error();
            return total;
        }
        send(QByteArray::fromRawData(buf, qint64(n)));
        total += qint64(n);
    }
}

void TlsPeerConnection::closeNotify() { SSL_shutdown(m_ssl); }

void TlsPeerConnection::stall() {
    pollfd p{m_releaseFd, POLLIN, 0};
    ::poll(&p, 1, StepTimeoutSeconds * 1000);
}

void TlsPeerConnection::rawSend(const QByteArray& bytes) {
    (void)!::send(m_fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL);
}

QByteArray TlsPeerConnection::rawReadLine() {
    QByteArray line;
    char c;
    while (::recv(m_fd, &c, 1, 0) == 1) {
        line.append(c);
        if (c == '\n')
            break;
    }
    return line;
}

QByteArray TlsPeerConnection::rawReadSome() {
    char buf[65536];
    const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
    return n > 0 ? QByteArray(buf, n) : QByteArray();
}

void TlsPeerConnection::reset() {
    linger l{1, 0};
    setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(m_fd);
    m_fd = -1;
    SSL_set_fd(m_ssl, -1);
}

// ---- the server ----

TlsPeer::TlsPeer(const Options& options, QList<Script> scripts) : m_options(options), m_scripts(std::move(scripts)) {
    if (::pipe(m_stopPipe) != 0 || ::pipe(m_releasePipe) != 0)
        throw std::runtime_error("tls peer: pipe failed");
    m_ctx = SSL_CTX_new(TLS_server_method());
    if (options.minVersion != 0 && options.minVersion < TLS1_2_VERSION)
        SSL_CTX_set_security_level(m_ctx, 0);
    if (options.minVersion)
        SSL_CTX_set_min_proto_version(m_ctx, options.minVersion);
    if (options.maxVersion)
        SSL_CTX_set_max_proto_version(m_ctx, options.maxVersion);
    static const unsigned char sid[] = "parcelwick-tests";
    SSL_CTX_set_session_id_context(m_ctx, sid, sizeof sid - 1);
    if (SSL_CTX_use_certificate_chain_file(m_ctx, QFile::encodeName(options.cert).constData()) != 1 ||
        SSL_CTX_use_PrivateKey_file(m_ctx, QFile::encodeName(options.key).constData(), SSL_FILETYPE_PEM) != 1) {
        SSL_CTX_free(m_ctx);
        m_ctx = nullptr;
    }
    ERR_clear_error();
    m_listenFd = ListenOn(options.listenAddress, options.listenPort, &m_port);
    if (m_listenFd < 0) {
        for (int fd : {m_stopPipe[0], m_stopPipe[1], m_releasePipe[0], m_releasePipe[1]})
            if (fd >= 0)
                ::close(fd);
        SSL_CTX_free(m_ctx);
        throw std::runtime_error("tls peer: cannot listen on loopback");
    }
    m_threads.append(std::make_shared<std::thread>([this] { acceptLoop(); }));
}

std::unique_ptr<TlsPeer> TlsPeer::onDefaultHttpsPort(Options options, QList<Script> scripts) {
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<quint32> pick(1, 254);
    options.listenPort = 443;
    for (int attempt = 0; attempt < 20; ++attempt) {
        options.listenAddress = (127u << 24) | (pick(random) << 16) | (pick(random) << 8) | pick(random);
        try {
            return std::make_unique<TlsPeer>(options, scripts);
        } catch (const std::runtime_error&) {
            // Taken by another run: try another address.
        }
    }
    throw std::runtime_error("tls peer: no loopback address with a free port 443");
}

QString TlsPeer::host() const {
    const quint32 a = m_options.listenAddress;
    return QStringLiteral("%1.%2.%3.%4").arg(a >> 24).arg((a >> 16) & 0xff).arg((a >> 8) & 0xff).arg(a & 0xff);
}

TlsPeer::~TlsPeer() {
    const char c = 0;
    (void)!::write(m_stopPipe[1], &c, 1);
    release();
    for (;;) {
        std::shared_ptr<std::thread> t;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_threads.isEmpty())
                break;
            t = m_threads.takeFirst();
        }
        t->join();
    }
    for (int fd : {m_listenFd, m_stopPipe[0], m_stopPipe[1], m_releasePipe[0], m_releasePipe[1]})
        if (fd >= 0)
            ::close(fd);
    SSL_CTX_free(m_ctx);
}

void TlsPeer::release() {
    const char c = 0;
    (void)!::write(m_releasePipe[1], &c, 1); // stays readable: every stall ends
}

void TlsPeer::acceptLoop() {
    while (WaitReadableUnlessStopped(m_listenFd, m_stopPipe[0], -1)) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_threads.append(std::make_shared<std::thread>([this, fd] { play(fd); }));
    }
}

void TlsPeer::connectTo(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in addr = loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        throw std::runtime_error("tls peer: cannot connect");
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_threads.append(std::make_shared<std::thread>([this, fd] { play(fd); }));
}

void TlsPeer::play(int fd) {
    setTimeouts(fd);
    Script script;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const int index = m_next++;
        if (index < m_scripts.size())
            script = m_scripts[index];
    }
    if (m_ctx && script) {
        TlsPeerConnection connection(fd, m_ctx, m_releasePipe[0]);
        script(connection);
    } else {
        ::close(fd);
    }
    ++m_finished;
}
