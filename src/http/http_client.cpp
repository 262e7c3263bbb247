#include "http/http_client.h"

#include "net/async_socket.h"
#include "http/http_request.h"
#include "net/notification_target.h"
#include "http/parse_url.h"
#include "net/socket_error.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QIODevice>
#include <QPointer>

namespace {

// Large enough that a loopback download costs few system calls per GiB; the header
// phase still goes through the 8192-byte line buffer, which bounds a header line.
constexpr qint64 kBodyChunk = 256 * 1024;
constexpr qint64 kSendBlock = 8193;

QString latin1(const QByteArray& bytes) { return QString::fromLatin1(bytes); }

}  // namespace

QString HttpClientStateName(int state) {
    static const char* const names[] = {"ready",         "not connected", "connected", "dnslookup",
                                        "dnslookupdone", "waitonhead",    "waitonbody", "aborting"};
    if (state < 0 || state > 7)
        return QStringLiteral("unknown");
    return QString::fromLatin1(names[state]);
}

THttpClient::THttpClient(QObject* owner)
    : QObject(owner),
      m_proxyPort(QStringLiteral("80")),
      m_agent(QStringLiteral("Mozilla/3.0 (compatible)")),
      m_accept(QStringLiteral("image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*")),
      m_contentTypePost(QStringLiteral("application/x-www-form-urlencoded")) {
    m_socket = new TAsyncSocket(this);
    m_target = new NotificationTarget([this](int msg, qintptr w, qintptr l) { handleNotification(msg, w, l); });
    m_socket->OnSessionConnected = [this](TAsyncSocket*, quint16 error) { socketSessionConnected(error); };
    m_socket->OnSessionClosed = [this](TAsyncSocket*, quint16) { socketSessionClosed(); };
    m_socket->OnDataAvailable = [this](TAsyncSocket*, quint16) { socketDataAvailable(); };
    m_socket->OnDataSent = [this](TAsyncSocket*, quint16) { socketDataSent(); };
    m_socket->OnDnsLookupDone = [this](TAsyncSocket*, quint16 error) { socketDnsLookupDone(error); };
}

THttpClient::~THttpClient() {
    // The socket closes without events; its handlers point at this half-destroyed client.
    delete m_socket;
    m_socket = nullptr;
    // Possibly called from inside our own OnRequestDone: the target frees itself later.
    m_target->release();
}

void THttpClient::SetMultiThreaded(bool v) {
    m_multiThreaded = v;
    m_socket->SetMultiThreaded(v);
}

void THttpClient::setState(THttpClientState state) {
    if (state == m_state)
        return;
    m_state = state;
    fire(OnStateChange);
    if (state == hsReady)
        m_target->post(NotifyRequestDone, m_requestType, m_requestDoneError);
}

void THttpClient::handleNotification(int msg, qintptr wParam, qintptr lParam) {
    switch (msg) {
    case NotifyRequestDone:
        // The values were taken when the request ended: a request started since then
        // must not lend its own. Nothing of the client is touched after the handler.
        if (OnRequestDone)
            OnRequestDone(this, THttpRequest(wParam), quint16(lParam));
        return;
    case NotifyReady:
        if (wParam == m_requestSerial)
            setState(hsReady);
        return;
    case NotifyReconnect:
        if (wParam != m_requestSerial || !m_reconnectPending)
            return;
        m_reconnectPending = false;
        try {
            connectStep();
        } catch (const ESocketException&) {
            // A relocation to an empty host: end the request as a failed lookup rather
            // than let the exception out of the event loop.
            fail(404, QStringLiteral("can't resolve hostname to IP address"), WSAEINVAL);
            connectionClosed();
        }
        return;
    }
}

void THttpClient::GetAsync() { startRequest(hrGet); }
void THttpClient::HeadAsync() { startRequest(hrHead); }
void THttpClient::PostAsync() { startRequest(hrPost); }

void THttpClient::Get() {
    startRequest(hrGet);
    QPointer<THttpClient> alive(this);
    // Waits for events instead of spinning: an idle wait costs no processor time.
    while (alive && m_state != hsReady) {
        if (m_multiThreaded)
            m_socket->MessagePump();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    if (!alive)
        return;
    if (m_statusCode >= 400)
        throw EHttpException(m_reasonPhrase, m_statusCode);
}

void THttpClient::startRequest(THttpRequest type) {
    if (m_state != hsReady)
        throw EHttpException(QStringLiteral("HTTP component is busy"), 1);
    if (type == hrPost && !m_sendStream)
        throw EHttpException(QStringLiteral("HTTP component has nothing to post"), 2);
    ++m_requestSerial;
    m_rcvdHeader.clear();
    m_requestType = type;
    m_requestDoneError = 0;
    m_closedRoutine = ClosedRoutine::ConnectionClosed;
    setState(hsNotConnected);
    m_docName.clear();
    m_statusCode = 0;
    m_rcvdCount = 0;
    m_sentCount = 0;
    m_headerLines = 0;
    m_bodyChunks = 0;
    m_contentLength = -1;
    m_contentType.clear();
    m_sending = false;
    m_relocationPending = false;
    m_reconnectPending = false;
    m_nextLineHandler = LineHandler::None;
    m_lineBuffer.clear();
    m_location = m_url;
    setTargets();
    connectStep();
}

void THttpClient::setTargets() {
    const ParsedUrl url = ParseURL(m_url);
    m_targetHost = url.host;
    if (!url.user.isEmpty())
        m_username = url.user;
    if (!url.password.isEmpty())
        m_password = url.password;
    QString docPath = url.path;
    if (m_proxy.isEmpty()) {
        m_requestPath = url.path;
        m_connectHost = url.host;
        m_connectPort = url.port.isEmpty() ? QStringLiteral("80") : url.port;
    } else {
        // A proxy takes the absolute URL as the request target.
        m_requestPath = (url.scheme.isEmpty() ? QStringLiteral("http") : url.scheme) + QStringLiteral("://") +
                        url.host + (url.port.isEmpty() ? QString() : ':' + url.port) + url.path;
        const ParsedUrl proxy = ParseURL(m_proxy);
        m_connectHost = proxy.host;
        m_connectPort = proxy.port.isEmpty() ? m_proxyPort : proxy.port;
    }
    if (m_requestPath.isEmpty())
        m_requestPath = QStringLiteral("/");

    if (docPath.isEmpty() || docPath == QLatin1String("/")) {
        m_docName = QStringLiteral("document.htm");
        return;
    }
    // The query goes first, so that a "/" inside it cannot pass for the last segment.
    docPath = docPath.left(docPath.indexOf('?'));
    if (docPath.endsWith('/'))
        docPath.chop(1);
    m_docName = docPath.mid(docPath.lastIndexOf('/') + 1).left(255);
    if (m_docName.isEmpty())
        m_docName = QStringLiteral("document.htm");
}

void THttpClient::connectStep() {
    m_dnsResult.clear();
    m_closeHandled = false;
    setState(hsDnsLookup);
    // A numeric host completes the lookup inside this call.
    m_socket->DnsLookup(m_connectHost);
}

void THttpClient::fail(int statusCode, const QString& reason, quint16 error) {
    m_requestDoneError = error;
    m_statusCode = statusCode;
    m_reasonPhrase = reason;
}

void THttpClient::socketDnsLookupDone(quint16 error) {
    if (error != 0) {
        if (m_state == hsAborting)
            return;
        fail(404, QStringLiteral("can't resolve hostname to IP address"), error);
        connectionClosed();
        return;
    }
    if (m_state != hsDnsLookup)
        return;
    m_dnsResult = m_socket->DnsResult();
    setState(hsDnsLookupDone);
    try {
        m_socket->SetAddr(m_dnsResult);
        m_socket->SetPort(m_connectPort);
        m_socket->SetProto(QStringLiteral("tcp"));
        m_socket->Connect();
    } catch (const ESocketException&) {
        // A resolver failure (a port that is no number and no service) records no
        // error number; the request must not end with 0, which reads as success.
        const int number = m_socket->LastError() != 0 ? m_socket->LastError() : WSAEINVAL;
        fail(404,
             QStringLiteral("can't connect: ") + SocketErrorDesc(number) + QStringLiteral(" (Error #") +
                 QString::number(number) + ')',
             quint16(number));
        m_socket->Close();
        connectionClosed();
    }
}

void THttpClient::socketSessionConnected(quint16 error) {
    if (error != 0) {
        fail(404, SocketErrorDesc(error) + QStringLiteral(" (Error #") + QString::number(error) + ')', error);
        // The socket closes itself after this event; the routine runs only once.
        connectionClosed();
        return;
    }
    m_connected = true;
    setState(hsConnected);
    fire(OnSessionConnected);
    m_nextLineHandler = LineHandler::Header;
    setState(hsWaitingHead);
    try {
        sendRequestHeader();
        if (m_requestType == hrPost) {
            fire(OnSendBegin);
            m_sending = true;
            sendBodyStep();
        }
    } catch (const std::exception&) {
        Close();
    }
}

void THttpClient::command(const QString& line, QByteArray& stream) {
    fire(OnCommand, line);
    stream += line.toUtf8();
    stream += "\r\n";
}

void THttpClient::sendRequestHeader() {
    static const char* const methods[] = {"GET", "GET", "POST", "HEAD"};
    HttpRequestHeaderInput in;
    in.method = QString::fromLatin1(methods[m_requestType]);
    in.requestPath = m_requestPath;
    in.sender = m_sender;
    in.accept = m_accept;
    in.reference = m_reference;
    in.contentTypePost = m_contentTypePost;
    in.agent = m_agent;
    in.targetHost = m_targetHost;
    in.noCache = m_noCache;
    if (m_requestType == hrPost)
        in.postSize = m_sendStream->size();
    in.modifiedSince = m_modifiedSince;
    in.username = m_username;
    in.password = m_password;
    in.viaProxy = !m_proxy.isEmpty();
    in.proxyUsername = m_proxyUsername;
    in.proxyPassword = m_proxyPassword;
    in.cookie = m_cookie;
    in.rangeBegin = m_contentRangeBegin;
    in.rangeEnd = m_contentRangeEnd;

    QByteArray stream;
    fire(OnRequestHeaderBegin);
    for (const QString& line : BuildHttpRequestLines(in))
        command(line, stream);
    if (!in.rangeBegin.isEmpty() || !in.rangeEnd.isEmpty()) {
        m_contentRangeBegin.clear();
        m_contentRangeEnd.clear();
    }
    m_acceptRanges.clear();
    fire(OnRequestHeaderEnd);
    command(QString(), stream);
    m_socket->Send(stream);
}

void THttpClient::socketDataAvailable() {
    if (m_state == hsWaitingBody && m_nextLineHandler == LineHandler::Body && m_lineBuffer.size() == 0) {
        if (!m_bodyBuffer)
            m_bodyBuffer.reset(new char[kBodyChunk]);
        const qint64 count = m_socket->Receive(m_bodyBuffer.get(), kBodyChunk);
        if (count <= 0)
            return;
        bodyData(m_bodyBuffer.get(), count);
        return;
    }
    if (m_lineBuffer.full()) {
        lineTooLong();
        return;
    }
    const qint64 count = m_socket->Receive(m_lineBuffer.writePtr(), m_lineBuffer.room());
    if (m_requestType == hrNone || count <= 0)
        return;
    m_lineBuffer.commit(count);

    if (m_state == hsWaitingBody) {
        const QByteArray chunk = m_lineBuffer.takeAll();
        dispatchLine(chunk, QByteArray());
        return;
    }
    QByteArray ending;
    while (m_lineBuffer.size() > 0) {
        std::optional<QByteArray> line = m_lineBuffer.takeLine(&ending);
        if (!line)
            break;
        // Lines after the end of the request (Abort, a closed connection) have no
        // reader left: they are dropped.
        if (m_state == hsWaitingHead || m_state == hsWaitingBody)
            dispatchLine(*line, ending);
    }
}

void THttpClient::dispatchLine(const QByteArray& line, const QByteArray& ending) {
    m_lastResponse = line;
    switch (m_nextLineHandler) {
    case LineHandler::Header:
        headerLine(line, ending);
        break;
    case LineHandler::Body:
        bodyData(line.constData(), line.size());
        break;
    case LineHandler::None:
        m_target->post(NotifyReady, m_requestSerial);
        break;
    }
}

void THttpClient::lineTooLong() {
    // Left unread, the waiting bytes would never be offered again and the request would
    // hang until the server gave up: a header line this long ends the request instead.
    m_lineBuffer.clear();
    fail(404, QStringLiteral("HTTP line too long"), 0);
    m_socket->Close();
}

void THttpClient::headerLine(const QByteArray& line, const QByteArray& ending) {
    if (m_headerLines == 0)
        fire(OnHeaderBegin);
    ++m_headerLines;
    const HttpHeaderLine parsed = ParseHttpHeaderLine(line);
    switch (parsed.kind) {
    case HttpHeaderLine::Html:
        // A document without a header: this line is its start, with its own line end,
        // and whatever was read behind it follows unchanged.
        if (m_contentType.isEmpty())
            m_contentType = QStringLiteral("text/html");
        setState(hsWaitingBody);
        m_nextLineHandler = LineHandler::Body;
        fire(OnHeaderEnd);
        bodyData(QByteArray(line + ending).constData(), line.size() + ending.size());
        if (m_lineBuffer.size() > 0 && m_nextLineHandler == LineHandler::Body) {
            const QByteArray rest = m_lineBuffer.takeAll();
            bodyData(rest.constData(), rest.size());
        }
        return;
    case HttpHeaderLine::End:
        headerEnd();
        return;
    case HttpHeaderLine::Status:
        m_rcvdHeader << latin1(line);
        // A status that is no number leaves the code as it was; the line is kept.
        if (parsed.statusCode >= 0) {
            m_statusCode = parsed.statusCode;
            m_reasonPhrase = latin1(parsed.reason);
        }
        break;
    case HttpHeaderLine::Field:
        m_rcvdHeader << latin1(line);
        headerField(parsed);
        break;
    case HttpHeaderLine::Other:
        m_rcvdHeader << latin1(line);
        break;
    }
    fire(OnHeaderData);
    if (m_statusCode >= 400)
        m_socket->Close();
}

void THttpClient::headerField(const HttpHeaderLine& field) {
    const QByteArray& name = field.name;
    if (name == "location") {
        relocate(latin1(field.value));
    } else if (name == "content-length") {
        if (const auto length = ParseContentLength(field.value))
            m_contentLength = *length;
    } else if (name == "content-range") {
        const HttpContentRange range = ParseContentRange(field.value);
        m_contentRangeBegin = latin1(range.begin);
        m_contentRangeEnd = latin1(range.end);
    } else if (name == "accept-ranges") {
        m_acceptRanges = latin1(field.value);
    } else if (name == "content-type") {
        m_contentType = latin1(field.value).toLower();
    } else if (name == "www-authenticate") {
        m_authChallenges << latin1(field.value);
    } else if (name == "set-cookie") {
        bool accept = true;
        fire(OnCookie, latin1(field.value), accept);
    }
}

void THttpClient::headerEnd() {
    if (m_relocationPending) {
        fire(OnHeaderEnd);
        // The body of a relocation is not wanted.
        m_lineBuffer.clear();
        m_headerLines = 0;
        m_bodyChunks = 0;
        m_closedRoutine = ClosedRoutine::Relocation;
        m_socket->Close();
        return;
    }
    if (m_docName.toLower().endsWith(QLatin1String(".exe")) && m_contentType == QLatin1String("text/html")) {
        const qsizetype dot = m_docName.lastIndexOf('.');
        m_docName = m_docName.left(dot) + QStringLiteral(".htm");
    }
    setState(hsWaitingBody);
    m_nextLineHandler = LineHandler::Body;
    fire(OnHeaderEnd);
    if (m_lineBuffer.size() > 0 && m_nextLineHandler == LineHandler::Body) {
        const QByteArray rest = m_lineBuffer.takeAll();
        m_lastResponse = rest;
        bodyData(rest.constData(), rest.size());
    }
}

void THttpClient::bodyData(const char* data, qint64 len) {
    if (m_bodyChunks == 0)
        fire(OnDocBegin);
    ++m_bodyChunks;
    m_rcvdCount += len;
    if (m_rcvdStream && m_rcvdStream->write(data, len) != len) {
        // A document with a hole must not end as a success: stop the request here.
        fail(404, QStringLiteral("can't write document: ") + m_rcvdStream->errorString(), 0);
        m_nextLineHandler = LineHandler::None;
        m_lineBuffer.clear();
        m_socket->Close();
        return;
    }
    if (OnDocData) {
        m_lastResponse = QByteArray::fromRawData(data, len);
        OnDocData(this, data, len);
        m_lastResponse.clear();
    }
}

void THttpClient::relocate(const QString& value) {
    m_relocationPending = true;
    if (!m_proxy.isEmpty()) {
        if (value.startsWith('/')) {
            const ParsedUrl current = ParseURL(m_requestPath);
            m_requestPath = (current.scheme.isEmpty() ? QStringLiteral("http") : current.scheme) +
                            QStringLiteral("://") + current.host +
                            (current.port.isEmpty() ? QString() : ':' + current.port) + value;
        } else {
            m_requestPath = value;
            m_targetHost = ParseURL(value).host;
        }
        m_location = m_requestPath;
        return;
    }
    // The port belongs in Location whenever it is not the default one, or the text
    // would name another server.
    const auto authority = [](const QString& host, const QString& port) {
        return port.isEmpty() || port == QLatin1String("80") ? host : host + ':' + port;
    };
    if (value.startsWith('/')) {
        m_requestPath = value;
        m_location = QStringLiteral("http://") + authority(m_connectHost, m_connectPort) + value;
        return;
    }
    const ParsedUrl url = ParseURL(value);
    m_connectHost = url.host;
    m_requestPath = url.path;
    if (!url.port.isEmpty())
        m_connectPort = url.port;
    if (!url.scheme.isEmpty() && !url.host.isEmpty()) {
        m_targetHost = url.host;
        // Another server without a port is reached on the default port, not on the
        // port of the server that sent us there.
        if (url.port.isEmpty())
            m_connectPort = QStringLiteral("80");
        m_location = url.scheme + QStringLiteral("://") + authority(url.host, url.port) + url.path;
        if (url.path.isEmpty())
            m_requestPath = QStringLiteral("/");
        return;
    }
    const QString scheme = url.scheme.isEmpty() ? QStringLiteral("http") : url.scheme;
    if (url.path.isEmpty()) {
        // A bare name ("page.htm"), which the split returns as the host.
        m_location = scheme + QStringLiteral("://") + authority(m_targetHost, m_connectPort) + '/' + url.host;
        m_requestPath = '/' + url.host;
        m_connectHost = m_targetHost;
    } else if (url.host.isEmpty()) {
        m_location = scheme + QStringLiteral("://") + authority(m_targetHost, m_connectPort) + url.path;
        m_connectHost = m_targetHost;
    } else {
        m_targetHost = url.host;
        m_location = scheme + QStringLiteral("://") + authority(url.host, m_connectPort) + url.path;
    }
}

void THttpClient::socketSessionClosed() {
    if (m_closedRoutine == ClosedRoutine::Relocation)
        relocationClosed();
    else
        connectionClosed();
}

void THttpClient::relocationClosed() {
    m_connected = false;
    m_relocationPending = false;
    m_closedRoutine = ClosedRoutine::ConnectionClosed;
    m_closeHandled = true;
    fire(OnLocationChange);
    m_reconnectPending = true;
    m_target->post(NotifyReconnect, m_requestSerial);
}

void THttpClient::connectionClosed() {
    if (m_closeHandled)
        return;
    m_closeHandled = true;
    m_connected = false;
    m_sending = false;
    if (m_bodyChunks > 0)
        fire(OnDocEnd);
    m_target->post(NotifyReady, m_requestSerial);
}

void THttpClient::Abort() {
    if (m_state == hsReady) {
        if (m_socket->State() != wsClosed)
            m_socket->Close();
        return;
    }
    const THttpClientState was = m_state;
    setState(hsAborting);
    if (was == hsDnsLookup) {
        try {
            m_socket->CancelDnsLookup();
        } catch (const std::exception&) {
            // A lookup that cannot be cancelled is forgotten; its answer finds hsReady.
        }
    }
    fail(404, QStringLiteral("Connection aborted on request"), 3);
    m_reconnectPending = false;
    m_closedRoutine = ClosedRoutine::ConnectionClosed;
    if (was == hsDnsLookup)
        connectionClosed();
    else
        m_socket->Close();
    setState(hsReady);
}

void THttpClient::Close() {
    m_socket->Close();
    m_connected = false;
}

void THttpClient::socketDataSent() {
    if (m_sending)
        sendBodyStep();
}

void THttpClient::sendBodyStep() {
    if (!m_sendBuffer)
        m_sendBuffer.reset(new char[kSendBlock]);
    const qint64 count = m_sendStream ? m_sendStream->read(m_sendBuffer.get(), kSendBlock) : 0;
    if (count > 0) {
        m_sentCount += count;
        fire(OnSendData, static_cast<const char*>(m_sendBuffer.get()), count);
        m_socket->Send(m_sendBuffer.get(), count);
        return;
    }
    m_sending = false;
    fire(OnSendEnd);
}
