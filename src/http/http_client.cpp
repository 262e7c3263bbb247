// THttpClient: its life, the start of a request, the connection and the request sent.
// Where a request goes (and goes on to) is in http_client_targets.cpp, what comes back
// in http_client_receive.cpp.
#include "http/http_client.h"

#include "http/http_request.h"
#include "net/async_socket.h"
#include "net/notification_target.h"
#include "net/socket_error.h"
#include "net/tls_configuration.h"
#include "net/tls_error.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QIODevice>
#include <QPointer>
#include <QTimer>

namespace {

constexpr qint64 kSendBlock = 8193;

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
    m_socket->OnSessionClosed = [this](TAsyncSocket*, quint16 error) { socketSessionClosed(error); };
    m_socket->OnDataAvailable = [this](TAsyncSocket*, quint16) { socketDataAvailable(); };
    m_socket->OnDataSent = [this](TAsyncSocket*, quint16) { socketDataSent(); };
    m_socket->OnDnsLookupDone = [this](TAsyncSocket*, quint16 error) { socketDnsLookupDone(error); };
    m_waitTimer = new QTimer(this);
    m_waitTimer->setSingleShot(true);
    QObject::connect(m_waitTimer, &QTimer::timeout, this, [this] { waitTimerFired(); });
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
        if (wParam == m_requestSerial && m_reconnectPending)
            reconnect();
        return;
    case NotifyResumeRead:
        if (wParam == m_requestSerial && m_readPaused)
            resumeRead();
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
    // A document cut short has a status of 200 and is no document either.
    if (m_statusCode >= 400 || m_requestDoneError != 0)
        throw EHttpException(m_reasonPhrase, m_statusCode >= 400 ? m_statusCode : m_requestDoneError);
}

void THttpClient::startRequest(THttpRequest type) {
    if (m_state != hsReady)
        throw EHttpException(QStringLiteral("HTTP component is busy"), 1);
    if (type == hrPost && !m_sendStream)
        throw EHttpException(QStringLiteral("HTTP component has nothing to post"), 2);
    ++m_requestSerial;
    m_requestType = type;
    m_requestDoneError = 0;
    m_closedRoutine = ClosedRoutine::ConnectionClosed;
    setState(hsNotConnected);
    startResponse();
    m_docName.clear();
    m_rcvdCount = 0;
    m_sentCount = 0;
    m_sending = false;
    m_reconnectPending = false;
    m_relocations = 0;
    m_nextLineHandler = LineHandler::None;
    m_location = m_url;
    setTargets();
    if (!m_refusedScheme.isEmpty()) {
        // Rather than fetch a secure address in clear text on port 80.
        fail(404, refusedSchemeText(), heUnsupportedScheme);
        m_closeHandled = false;
        connectionClosed();
        return;
    }
    connectStep();
}

// The state of one response; a relocation starts the next response from it, so nothing
// of the previous hop (its length, its Location) passes for the new one's.
void THttpClient::startResponse() {
    m_rcvdHeader.clear();
    m_statusCode = 0;
    m_contentLength = -1;
    m_contentType.clear();
    m_contentRange.clear();
    m_relocationPending = false;
    m_refusedScheme.clear();
    m_headerLines = 0;
    m_bodyChunks = 0;
    m_interim = false;
    m_headerLineTotal = 0;
    m_headerByteTotal = 0;
    m_chunked = false;
    m_lineBuffer.clear();
}

void THttpClient::connectStep() {
    m_dnsResult.clear();
    m_closeHandled = false;
    m_closeError = 0;
    m_readPaused = false;
    m_readSinceYield = 0;
    setState(hsDnsLookup);
    startWait(WaitPhase::Connect);
    try {
        // A numeric host completes the lookup inside this call.
        m_socket->DnsLookup(m_connectHost);
    } catch (const ESocketException&) {
        // A lookup that cannot start leaves the request to the caller's Abort.
        startWait(WaitPhase::None);
        throw;
    }
}

void THttpClient::reconnect() {
    m_reconnectPending = false;
    startResponse();
    m_reasonPhrase.clear();
    try {
        connectStep();
    } catch (const ESocketException&) {
        // A relocation to an empty host: end the request as a failed lookup rather
        // than let the exception out of the event loop.
        fail(404, QStringLiteral("can't resolve hostname to IP address"), WSAEINVAL);
        connectionClosed();
    }
}

// A TLS failure names the server and OpenSSL's reason; other errors have their short
// text, and a connect that tried several addresses names them.
QString THttpClient::socketErrorText(int error) const {
    if (error >= TLS_ERR_HANDSHAKE && error <= TLS_ERR_CONNECTION && !m_socket->TlsErrorText().isEmpty())
        return m_socket->TlsErrorText();
    const QString tried = m_socket->TriedAddressesText();
    return tried.isEmpty() ? SocketErrorDesc(error) : SocketErrorDesc(error) + QStringLiteral(" (tried ") + tried + ')';
}

void THttpClient::fail(int statusCode, const QString& reason, quint16 error) {
    m_requestDoneError = error;
    m_statusCode = statusCode;
    m_reasonPhrase = reason;
}

void THttpClient::socketDnsLookupDone(quint16 error) {
    // After Abort or a time-out the answer (or the cancel's error) has no request left.
    if (m_state == hsAborting || m_closeHandled)
        return;
    if (error != 0) {
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
        m_socket->SetTls(m_tls);
        if (m_tls) {
            // The certificate must name the host of the URL, not the address looked up.
            m_socket->SetTlsServer(m_connectHost, m_connectPort);
            m_socket->SetTlsContext(TlsConfiguration::Shared().Context());
        }
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
        if (error == TLS_ERR_CERTIFICATE)
            TlsConfiguration::Shared().NoteRefusal(*m_socket);
        fail(404, socketErrorText(error) + QStringLiteral(" (Error #") + QString::number(error) + ')', error);
        // The socket closes itself after this event; the routine runs only once.
        connectionClosed();
        return;
    }
    m_connected = true;
    startWait(WaitPhase::Header);
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
    in.targetPort = m_proxy.isEmpty() ? m_connectPort : m_targetPort;
    in.defaultPort = m_targetDefaultPort;
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

void THttpClient::Abort() {
    if (m_state == hsReady) {
        if (m_socket->State() != wsClosed)
            m_socket->Close();
        return;
    }
    const THttpClientState was = m_state;
    startWait(WaitPhase::None);
    setState(hsAborting);
    if (was == hsDnsLookup) {
        try {
            m_socket->CancelDnsLookup();
        } catch (const std::exception&) {
            // A lookup that cannot be cancelled is forgotten; its answer finds hsReady.
        }
    }
    fail(404, QStringLiteral("Connection aborted on request"), heAborted);
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
        // A POST body on its way is progress: the wait for the header starts again.
        if (m_state == hsWaitingHead)
            startWait(WaitPhase::Header);
        m_sentCount += count;
        fire(OnSendData, static_cast<const char*>(m_sendBuffer.get()), count);
        m_socket->Send(m_sendBuffer.get(), count);
        return;
    }
    m_sending = false;
    fire(OnSendEnd);
}
