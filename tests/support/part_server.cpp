#include "part_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace {

QByteArray header(int code, const char* reason, qint64 length) {
    QByteArray text = "HTTP/1.0 " + QByteArray::number(code) + ' ' + reason + "\r\nContent-Type: application/octet-stream\r\n";
    if (length >= 0)
        text += "Content-Length: " + QByteArray::number(length) + "\r\n";
    return text + "\r\n";
}

}  // namespace

PartReply PartReply::delayed(int ms) const {
    PartReply reply = *this;
    reply.delayMs = ms;
    return reply;
}

PartReply PartReply::cut(qint64 sent, After then) const {
    PartReply reply = *this;
    reply.bodyLimit = sent;
    reply.after = then;
    return reply;
}

PartReply PartReply::slowly(int msPerByte) const {
    PartReply reply = *this;
    reply.trickleMs = msPerByte;
    return reply;
}

PartReply PartReply::ranged(const QByteArray& document, RangeAnswer answer) {
    PartReply reply;
    reply.ranges = answer;
    reply.document = document;
    return reply;
}

PartReply PartReply::ok(const QByteArray& body) { return {header(200, "OK", body.size()) + body, Close}; }

PartReply PartReply::withoutLength(const QByteArray& body) { return {header(200, "OK", -1) + body, Close}; }

PartReply PartReply::status(int code, const QByteArray& body) {
    return {header(code, code == 404 ? "Not Found" : "Status", body.size()) + body, Close};
}

PartReply PartReply::stallAfter(const QByteArray& body, qint64 sent) {
    return {header(200, "OK", body.size()) + body.left(sent), StallUntilClientCloses};
}

PartReply PartReply::silent() { return {QByteArray(), StallUntilClientCloses}; }

PartReply PartReply::shortBody(const QByteArray& body, qint64 sent) {
    return {header(200, "OK", body.size()) + body.left(sent), Close};
}

PartReply PartReply::trickle(const QByteArray& body, int msPerByte) {
    PartReply reply = ok(body);
    reply.trickleMs = msPerByte;
    reply.trickleFrom = reply.bytes.size() - body.size();
    return reply;
}

PartServer::PartServer(QMap<QString, QList<PartReply>> replies) : m_replies(std::move(replies)) {
    if (::pipe(m_stopPipe) != 0)
        throw std::runtime_error("part server: pipe failed");
    m_listenFd = ListenOn(INADDR_LOOPBACK, 0, &m_port);
    if (m_listenFd < 0)
        throw std::runtime_error("part server: cannot listen on loopback");
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

PartServer::~PartServer() {
    const char c = 0;
    (void)!::write(m_stopPipe[1], &c, 1);
    m_acceptThread.join();
    // No new connection threads once the accept loop is over.
    for (std::thread& t : m_connections)
        t.join();
    for (int fd : {m_listenFd, m_stopPipe[0], m_stopPipe[1]})
        if (fd >= 0)
            ::close(fd);
}

namespace {

// "Range: bytes=A-B" or "bytes=A-" of a request: A and B (B -1 for none); A -1 for no field.
std::pair<qint64, qint64> askedRange(const QByteArray& request, QByteArray& field) {
    const qsizetype at = request.toLower().indexOf("\r\nrange: ");
    if (at < 0)
        return {-1, -1};
    field = request.mid(at + 9, request.indexOf("\r\n", at + 2) - at - 9).trimmed();
    const QByteArray range = field.mid(field.indexOf('=') + 1);
    const qsizetype dash = range.indexOf('-');
    const QByteArray last = range.mid(dash + 1);
    return {range.left(dash).toLongLong(), last.isEmpty() ? -1 : last.toLongLong()};
}

// The reply to a request for a document served with ranges: its header and body bytes,
// and where the body begins.
PartReply answerFor(const PartReply& reply, const QByteArray& request, QByteArray& field) {
    PartReply out = reply;
    const QByteArray& doc = reply.document;
    const auto [first, asked] = askedRange(request, field);
    if (first < 0 || reply.ranges == PartReply::Whole) {
        out.bytes = header(200, "OK", doc.size());
        out.trickleFrom = out.bytes.size();
        out.bytes += doc;
    } else {
        const qint64 last = asked < 0 ? doc.size() - 1 : qMin<qint64>(asked, doc.size() - 1);
        const qint64 from = reply.ranges == PartReply::WrongStart ? first / 2 : first;
        const qint64 total = doc.size() + (reply.ranges == PartReply::WrongTotal ? 1 : 0);
        const QByteArray body = doc.mid(from, last - from + 1);
        out.bytes = "HTTP/1.0 206 Partial Content\r\nContent-Type: application/octet-stream\r\nContent-Range: bytes " +
                    QByteArray::number(from) + '-' + QByteArray::number(last) + '/' + QByteArray::number(total) +
                    "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n";
        out.trickleFrom = out.bytes.size();
        out.bytes += body;
    }
    if (reply.bodyLimit >= 0)
        out.bytes.truncate(out.trickleFrom + reply.bodyLimit);
    return out;
}

}  // namespace

QString PartServer::url(const QString& path) const { return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path); }

int PartServer::requests(const QString& path) const {
    std::lock_guard lock(m_mutex);
    return m_requests.value(path);
}

int PartServer::openNow() const {
    std::lock_guard lock(m_mutex);
    return m_open;
}

int PartServer::mostOpen() const {
    std::lock_guard lock(m_mutex);
    return m_mostOpen;
}

QStringList PartServer::asked(const QString& path) const {
    std::lock_guard lock(m_mutex);
    return m_asked.value(path);
}

void PartServer::acceptLoop() {
    while (waitReadable(m_listenFd, -1)) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::lock_guard lock(m_mutex);
        ++m_open;
        int clientsOpen = 1;
        for (const int other : m_openFds) {
            pollfd p{other, POLLRDHUP, 0};
            clientsOpen += ::poll(&p, 1, 0) == 0;
        }
        m_mostOpen = std::max(m_mostOpen, clientsOpen);
        m_openFds.push_back(fd);
        m_connections.emplace_back([this, fd] { serve(fd); });
    }
}

bool PartServer::readRequest(int fd, QByteArray& request) {
    while (!request.contains("\r\n\r\n")) {
        if (!waitReadable(fd, 10000))
            return false;
        char buffer[1024];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        request.append(buffer, n);
    }
    return true;
}

void PartServer::serve(int fd) {
    QByteArray request;
    if (readRequest(fd, request)) {
        // "GET /path HTTP/1.0"
        const QString path = QString::fromLatin1(request.split(' ').value(1));
        PartReply reply = PartReply::status(404, "<html>no such part</html>");
        {
            std::lock_guard lock(m_mutex);
            const int n = m_requests[path]++;
            const QList<PartReply> replies = m_replies.value(path);
            if (!replies.isEmpty())
                reply = replies.value(n, replies.last());
            QByteArray field;
            if (reply.ranges != PartReply::NoRanges)
                reply = answerFor(reply, request, field);
            else
                askedRange(request, field);
            m_asked[path] << QString::fromLatin1(field);
        }
        pollfd stop{m_stopPipe[0], POLLIN, 0};
        if (reply.delayMs > 0)
            ::poll(&stop, 1, reply.delayMs);
        const qint64 atOnce = reply.trickleMs > 0 ? reply.trickleFrom : reply.bytes.size();
        bool sent = SendAll(fd, reply.bytes.left(atOnce));
        for (qint64 i = atOnce; sent && i < reply.bytes.size(); ++i)
            sent = ::poll(&stop, 1, reply.trickleMs) == 0 && SendAll(fd, reply.bytes.mid(i, 1));
        if (sent && reply.after == PartReply::StallUntilClientCloses) {
            char c;
            while (waitReadable(fd, -1) && ::recv(fd, &c, 1, 0) > 0) {
            }
        }
    }
    std::lock_guard lock(m_mutex);
    std::erase(m_openFds, fd);
    ::close(fd);
    --m_open;
}
