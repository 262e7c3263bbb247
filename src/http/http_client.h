#pragma once

#include "common/user_error.h"
#include "http/http_chunked_decoder.h"
#include "http/http_response_parser.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>
#include <memory>

class NotificationTarget;
class QIODevice;
class QTimer;
class TAsyncSocket;

// Misuse of the HTTP client (busy, nothing to post), or the failure of a synchronous
// Get: the text is shown to the user as it stands; ErrorCode is 1, 2 or 4, or for a
// failed Get the status code when it is 400 or more, else the request's error number.
class EHttpException : public UserError {
public:
    EHttpException(const QString& text, int errorCode) : UserError(text), m_errorCode(errorCode) {}
    int ErrorCode() const { return m_errorCode; }

private:
    int m_errorCode;
};

enum THttpClientState {
    hsReady,          // 0
    hsNotConnected,   // 1
    hsConnected,      // 2
    hsDnsLookup,      // 3
    hsDnsLookupDone,  // 4
    hsWaitingHead,    // 5
    hsWaitingBody,    // 6
    hsAborting        // 7
};

enum THttpRequest { hrNone, hrGet, hrPost, hrHead };

// Error numbers of OnRequestDone for failures the client finds itself. The socket
// layer's numbers (10000 and up, socket_error.h) pass through as they are; 0 is success.
// A failure found before the document starts sets StatusCode to 404, one found in the
// document keeps the server's StatusCode; ReasonPhrase holds the text either way.
enum THttpError : quint16 {
    heAborted = 3,            // "Connection aborted on request"
    heShortBody = 20,         // "connection closed after N of M bytes" (orderly close or reset); over
                              // TLS also a document without a length that ends without close_notify;
                              // "connection closed before the end of the response header"
    heRelocationLimit = 21,   // "more than 20 relocations"
    heUnsupportedScheme = 22, // "unsupported URL scheme " + the scheme in quotes (direct connections
                              // speak http and https)
    heHeaderTooLarge = 23,    // "HTTP header too large", "HTTP line too long"
    heBadChunk = 24,          // "malformed chunked body"
    heWriteFailed = 25,       // "can't write document: " + the stream's reason
    heTimeout = 26,           // "no connection within N s" (name lookup and TCP connect), "no TLS
                              // handshake within N s", "no response header within N s" (Timeout),
                              // "no data for N s after M bytes" (BodyIdleTimeout)
    heBadLength = 27,         // "invalid Content-Length: V", "Content-Length fields disagree: A and B"
    heBodyTooLong = 28        // "server sent more than the N bytes it announced"
};

// Relocations one request follows; the next one ends it with heRelocationLimit.
constexpr int kHttpMaxRelocations = 20;

// "ready", "not connected", ..., "aborting"; "unknown" for anything else.
QString HttpClientStateName(int state);

class THttpClient;

using THttpNotifyEvent = std::function<void(THttpClient* sender)>;
// Buffer and Len are valid only during the call.
using TDocDataEvent = std::function<void(THttpClient* sender, const char* buffer, qint64 len)>;
using TOnCommand = std::function<void(THttpClient* sender, const QString& s)>;
using THttpRequestDone = std::function<void(THttpClient* sender, THttpRequest rqType, quint16 error)>;
using TCookieRcvdEvent = std::function<void(THttpClient* sender, const QString& data, bool& accept)>;

// One HTTP/1.0 request per TCP connection, the server's close ending the document.
// Runs on the event loop of its thread, driven by the events of its TAsyncSocket.
//
// OnRequestDone always comes from a deferred notification, after every other event of
// the request, and the client touches nothing of itself after the handler returns: the
// handler may delete the client (or start the next request on it).
//
// RcvdStream and SendStream are QIODevice objects the caller owns and opens (a QFile,
// a QBuffer); the client never opens, closes or frees them. Every body byte is written
// to RcvdStream as it arrives (a chunked body without its framing).
//
// A document is complete only when it has every byte its Content-Length announced (or
// the last chunk of a chunked body); a connection that ends sooner, and a reset in a
// document without a length, end the request with a non-zero error (THttpError).
//
// One read event takes at most about 1 MiB and then gives the event loop back, so
// other downloads, timers and the window keep their turn during a fast transfer.
//
// An https URL or relocation goes over TLS (port 443 unless the URL names one): the
// server's name is sent (SNI) and checked against its certificate, with what the
// process's TlsConfiguration trusts. A refused certificate ends the request with
// TLS_ERR_CERTIFICATE and is noted in that configuration, for whoever asks the user.
// Over TLS a document without a length is complete only when the server ended it with
// close_notify: a bare close could be a cut made by anyone on the way.
//
// What a response says of its own length binds it: a Content-Length that is no plain
// count, two that disagree, and a byte beyond the announced length end the request with
// an error (the stream gets at most the announced bytes), as does a connection that
// closes inside the header. An error response (400 and up) is not checked: its status
// already says that there is no document.
//
// With a Timeout of N seconds, each wait of each hop is bounded by N: the connection
// (name lookup and TCP connect), the TLS handshake, and the response header (from the
// request sent to the header's end). The document itself is bounded only with a
// BodyIdleTimeout: a request then ends when no byte of it came for that long. Part
// downloads leave it at 0, their own watchdog watches them.
class THttpClient : public QObject {
public:
    explicit THttpClient(QObject* owner = nullptr);
    ~THttpClient() override;
    THttpClient(const THttpClient&) = delete;
    THttpClient& operator=(const THttpClient&) = delete;

    // ---- published properties ----
    QString URL() const { return m_url; }
    void SetURL(const QString& v) { m_url = v; }
    QString Proxy() const { return m_proxy; }
    void SetProxy(const QString& v) { m_proxy = v; }
    QString ProxyPort() const { return m_proxyPort; }
    void SetProxyPort(const QString& v) { m_proxyPort = v; }
    QString Sender() const { return m_sender; }
    void SetSender(const QString& v) { m_sender = v; }
    QString Agent() const { return m_agent; }
    void SetAgent(const QString& v) { m_agent = v; }
    QString Accept() const { return m_accept; }
    void SetAccept(const QString& v) { m_accept = v; }
    QString Reference() const { return m_reference; }
    void SetReference(const QString& v) { m_reference = v; }
    QString Username() const { return m_username; }
    void SetUsername(const QString& v) { m_username = v; }
    QString Password() const { return m_password; }
    void SetPassword(const QString& v) { m_password = v; }
    QString ProxyUsername() const { return m_proxyUsername; }
    void SetProxyUsername(const QString& v) { m_proxyUsername = v; }
    QString ProxyPassword() const { return m_proxyPassword; }
    void SetProxyPassword(const QString& v) { m_proxyPassword = v; }
    bool NoCache() const { return m_noCache; }
    void SetNoCache(bool v) { m_noCache = v; }
    // Not valid (the default) means none.
    QDateTime ModifiedSince() const { return m_modifiedSince; }
    void SetModifiedSince(const QDateTime& v) { m_modifiedSince = v; }
    QString Cookie() const { return m_cookie; }
    void SetCookie(const QString& v) { m_cookie = v; }
    QString ContentTypePost() const { return m_contentTypePost; }
    void SetContentTypePost(const QString& v) { m_contentTypePost = v; }
    QString ContentRangeBegin() const { return m_contentRangeBegin; }
    void SetContentRangeBegin(const QString& v) { m_contentRangeBegin = v; }
    QString ContentRangeEnd() const { return m_contentRangeEnd; }
    void SetContentRangeEnd(const QString& v) { m_contentRangeEnd = v; }
    QString AcceptRanges() const { return m_acceptRanges; }
    // The whole value of the last Content-Range field of this response, empty when it had
    // none: a ranged download checks it with ParseByteContentRange.
    QString ContentRange() const { return m_contentRange; }
    bool MultiThreaded() const { return m_multiThreaded; }
    void SetMultiThreaded(bool v);
    qint64 Tag() const { return m_tag; }
    void SetTag(qint64 v) { m_tag = v; }
    // Seconds each wait of a request may take (see above); 0, the default, is no bound.
    int Timeout() const { return m_timeout; }
    void SetTimeout(int seconds) { m_timeout = qMax(seconds, 0); }
    // Seconds the document may go without a byte; 0, the default, is no bound.
    int BodyIdleTimeout() const { return m_bodyIdleTimeout; }
    void SetBodyIdleTimeout(int seconds) { m_bodyIdleTimeout = qMax(seconds, 0); }

    // ---- published events ----
    THttpNotifyEvent OnTrace;  // never fired
    THttpNotifyEvent OnSessionConnected;
    THttpNotifyEvent OnHeaderData;
    TOnCommand OnCommand;
    THttpNotifyEvent OnHeaderBegin;
    THttpNotifyEvent OnHeaderEnd;
    THttpNotifyEvent OnRequestHeaderBegin;
    THttpNotifyEvent OnRequestHeaderEnd;
    THttpNotifyEvent OnDocBegin;
    TDocDataEvent OnDocData;
    THttpNotifyEvent OnDocEnd;
    THttpNotifyEvent OnSendBegin;
    TDocDataEvent OnSendData;
    THttpNotifyEvent OnSendEnd;
    THttpNotifyEvent OnStateChange;
    THttpRequestDone OnRequestDone;
    THttpNotifyEvent OnLocationChange;
    TCookieRcvdEvent OnCookie;

    // ---- run-time properties ----
    THttpClientState State() const { return m_state; }
    int StatusCode() const { return m_statusCode; }
    QString ReasonPhrase() const { return m_reasonPhrase; }
    qint64 ContentLength() const { return m_contentLength; }
    QString ContentType() const { return m_contentType; }
    qint64 RcvdCount() const { return m_rcvdCount; }
    qint64 SentCount() const { return m_sentCount; }
    QIODevice* RcvdStream() const { return m_rcvdStream; }
    void SetRcvdStream(QIODevice* v) { m_rcvdStream = v; }
    QIODevice* SendStream() const { return m_sendStream; }
    void SetSendStream(QIODevice* v) { m_sendStream = v; }
    QString Location() const { return m_location; }
    QString DocName() const { return m_docName; }
    QStringList RcvdHeader() const { return m_rcvdHeader; }
    QStringList AuthChallenges() const { return m_authChallenges; }
    // The line or data chunk being processed; valid inside OnHeaderData and OnDocData.
    QByteArray LastResponse() const { return m_lastResponse; }
    THttpRequest RequestType() const { return m_requestType; }
    quint16 RequestDoneError() const { return m_requestDoneError; }
    TAsyncSocket* CtrlSocket() const { return m_socket; }

    // ---- operations ----
    void GetAsync();
    void HeadAsync();
    void PostAsync();
    // Starts a GET and pumps the event loop until the state is hsReady again; raises
    // EHttpException with ReasonPhrase when the status is 400 or more or the request
    // ended with an error (a short document among them).
    void Get();
    void Abort();
    void Close();

private:
    enum class LineHandler { None, Header, Body };
    enum class ClosedRoutine { ConnectionClosed, Relocation };
    enum class WaitPhase { None, Connect, Handshake, Header, Body };
    enum Notification { NotifyRequestDone = 1, NotifyReady = 2, NotifyReconnect = 3, NotifyResumeRead = 4 };

    void startRequest(THttpRequest type);
    void startResponse();
    void setTargets();
    void connectStep();
    void reconnect();
    void setState(THttpClientState state);
    void handleNotification(int msg, qintptr wParam, qintptr lParam);

    void socketDnsLookupDone(quint16 error);
    void socketSessionConnected(quint16 error);
    void socketSessionClosed(quint16 error);
    void socketDataAvailable();
    bool yieldRead();
    void resumeRead();
    qint64 receive(char* buffer, qint64 size);
    void socketDataSent();

    void sendRequestHeader();
    void command(const QString& line, QByteArray& stream);
    void dispatchLine(const QByteArray& line, const QByteArray& ending);
    void headerLine(const QByteArray& line, const QByteArray& ending);
    bool skipInterim(const HttpHeaderLine& parsed);
    void headerField(const HttpHeaderLine& field);
    void contentLengthField(const QByteArray& value);
    bool lengthBinds() const;
    void headerEnd();
    void bodyBytes(const char* data, qint64 len);
    void bodyData(const char* data, qint64 len);
    bool bodyRun(const char* data, qint64 len);
    void relocate(const QString& value);
    void relocateDirect(const QString& value);
    bool refuseRelocation();
    QString refusedSchemeText() const;
    void connectionClosed();
    void checkDocumentComplete();
    void relocationClosed();
    void stopReading();
    void endOnResponseFault(int statusCode, const QString& reason, quint16 error);
    void sendBodyStep();
    void fail(int statusCode, const QString& reason, quint16 error);
    void startWait(WaitPhase phase);
    // The bound of the wait in progress, in seconds (0: none).
    int waitBound() const;
    void armWait();
    void waitTimerFired();
    void timeOut();
    QString socketErrorText(int error) const;

    template <typename F, typename... A>
    void fire(const F& handler, A&&... args) {
        if (handler)
            handler(this, std::forward<A>(args)...);
    }

    // published
    QString m_url, m_proxy, m_proxyPort, m_sender, m_agent, m_accept, m_reference;
    QString m_username, m_password, m_proxyUsername, m_proxyPassword, m_cookie, m_contentTypePost;
    QString m_contentRangeBegin, m_contentRangeEnd, m_acceptRanges, m_contentRange;
    QDateTime m_modifiedSince;
    bool m_noCache = false;
    bool m_multiThreaded = false;
    qint64 m_tag = 0;
    int m_timeout = 0;
    int m_bodyIdleTimeout = 0;

    // run-time
    THttpClientState m_state = hsReady;
    int m_statusCode = 0;
    QString m_reasonPhrase;
    qint64 m_contentLength = -1;
    QString m_contentType;
    qint64 m_rcvdCount = 0;
    qint64 m_sentCount = 0;
    QIODevice* m_rcvdStream = nullptr;
    QIODevice* m_sendStream = nullptr;
    QString m_location, m_docName;
    QStringList m_rcvdHeader, m_authChallenges;
    QByteArray m_lastResponse;
    THttpRequest m_requestType = hrNone;
    quint16 m_requestDoneError = 0;

    // working data
    // The target's port, for the Host field, is ConnectPort on a direct connection.
    QString m_connectHost, m_connectPort, m_targetHost, m_targetPort, m_requestPath, m_dnsResult;
    // The port the target's scheme means when the URL names none (80, or 443 for https).
    quint16 m_targetDefaultPort = 80;
    // The connection of this hop speaks TLS (a direct https request).
    bool m_tls = false;
    bool m_connected = false;
    bool m_relocationPending = false;
    bool m_reconnectPending = false;
    bool m_sending = false;
    // The connection-closed routine runs once per connection, whoever ends it first
    // (a failed connect, the socket's close event, Abort).
    bool m_closeHandled = false;
    ClosedRoutine m_closedRoutine = ClosedRoutine::ConnectionClosed;
    LineHandler m_nextLineHandler = LineHandler::None;
    qint64 m_headerLines = 0;
    qint64 m_bodyChunks = 0;
    int m_relocations = 0;
    // A relocation that must not be followed: its scheme, empty when there is none.
    QString m_refusedScheme;
    // The error that ended the connection (a reset), from the close event or a read.
    quint16 m_closeError = 0;
    // Inside the header of an interim (1xx) response, which is skipped.
    bool m_interim = false;
    // Lines and bytes of the header phase of this response, interim responses included.
    qint64 m_headerLineTotal = 0;
    qint64 m_headerByteTotal = 0;
    bool m_chunked = false;
    HttpChunkedDecoder m_chunkDecoder;
    // Bytes taken since the event loop last had its turn; the socket is paused while
    // a resume is on its way.
    qint64 m_readSinceYield = 0;
    bool m_readPaused = false;
    // Deferred notifications of an earlier request must not end a later one.
    qintptr m_requestSerial = 0;
    // The bounded wait under way, and since when.
    WaitPhase m_waitPhase = WaitPhase::None;
    QElapsedTimer m_waitClock;
    QTimer* m_waitTimer = nullptr;

    TAsyncSocket* m_socket = nullptr;
    NotificationTarget* m_target = nullptr;
    HttpLineBuffer m_lineBuffer;
    // Body bytes are read in large chunks straight into this buffer: one system call
    // and no copy per chunk on the way to RcvdStream.
    std::unique_ptr<char[]> m_bodyBuffer;
    std::unique_ptr<char[]> m_sendBuffer;
};
