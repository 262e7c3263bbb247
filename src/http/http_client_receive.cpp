// THttpClient: what the server sends back. Header lines through the bounded line
// buffer, the document in large reads (unframed when it came chunked), fair shares of
// the event loop, relocations, and the end of the connection.
#include "http/http_client.h"

#include "net/async_socket.h"
#include "net/notification_target.h"
#include "net/socket_error.h"

#include <QIODevice>

namespace {

// Large enough that a loopback download costs few system calls per GiB; the header
// phase still goes through the 8192-byte line buffer, which bounds a header line.
constexpr qint64 kBodyChunk = 256 * 1024;
// What one read event may take before the event loop gets its turn back.
constexpr qint64 kFairShare = 1024 * 1024;
constexpr qint64 kMaxHeaderLines = 100;
constexpr qint64 kMaxHeaderBytes = 64 * 1024;

QString latin1(const QByteArray& bytes) { return QString::fromLatin1(bytes); }

}  // namespace

void THttpClient::socketDataAvailable() {
    if (yieldRead())
        return;
    if (m_state == hsWaitingBody && m_nextLineHandler == LineHandler::Body && m_lineBuffer.size() == 0) {
        if (!m_bodyBuffer)
            m_bodyBuffer.reset(new char[kBodyChunk]);
        const qint64 count = receive(m_bodyBuffer.get(), kBodyChunk);
        if (count > 0)
            bodyBytes(m_bodyBuffer.get(), count);
        return;
    }
    const qint64 count = receive(m_lineBuffer.writePtr(), m_lineBuffer.room());
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
    // A full buffer without a line end can only hold an over-long line. It ends the
    // request now: a server that sent just that much and then went quiet would
    // otherwise hold it until it closed.
    if (m_lineBuffer.full()) {
        if (m_state == hsWaitingHead)
            endOnResponseFault(404, QStringLiteral("HTTP line too long"), heHeaderTooLarge);
        m_lineBuffer.clear();
    }
}

qint64 THttpClient::receive(char* buffer, qint64 size) {
    const qint64 count = m_socket->Receive(buffer, size);
    if (count > 0)
        m_readSinceYield += count;
    else if (count < 0 && m_socket->LastError() != WSAEWOULDBLOCK && m_socket->LastError() != WSAEINTR &&
             m_closeError == 0)
        // A reset met by the read; the close event that follows may no longer carry it.
        m_closeError = quint16(m_socket->LastError());
    return count;
}

// After its fair share the client stops reading and pauses its socket, so that neither
// a read nor a close event comes for it, until a notification queued behind whatever
// else waits in the event loop resumes it.
bool THttpClient::yieldRead() {
    if (m_readPaused || m_readSinceYield < kFairShare)
        return false;
    m_readPaused = true;
    m_socket->Pause();
    m_target->post(NotifyResumeRead, m_requestSerial);
    return true;
}

void THttpClient::resumeRead() {
    m_readPaused = false;
    m_readSinceYield = 0;
    m_socket->Resume();
    if (m_socket->State() != wsConnected || (m_state != hsWaitingHead && m_state != hsWaitingBody))
        return;
    // The socket announces more bytes only after a read: this one goes on where the
    // read event stopped.
    try {
        socketDataAvailable();
    } catch (...) {
        // The socket's read loop would have absorbed it: the same rule holds for its
        // continuation here (a handler's exception ends this read, nothing more).
    }
}

void THttpClient::dispatchLine(const QByteArray& line, const QByteArray& ending) {
    m_lastResponse = line;
    switch (m_nextLineHandler) {
    case LineHandler::Header:
        headerLine(line, ending);
        break;
    case LineHandler::Body:
        bodyBytes(line.constData(), line.size());
        break;
    case LineHandler::None:
        m_target->post(NotifyReady, m_requestSerial);
        break;
    }
}

// No more lines or body bytes are handled; the socket's close event runs the
// connection-closed routine.
void THttpClient::stopReading() {
    m_nextLineHandler = LineHandler::None;
    m_lineBuffer.clear();
    m_socket->Close();
}

// Ends the request for a response it cannot take.
void THttpClient::endOnResponseFault(int statusCode, const QString& reason, quint16 error) {
    fail(statusCode, reason, error);
    stopReading();
}

void THttpClient::headerLine(const QByteArray& line, const QByteArray& ending) {
    if (!line.isEmpty())
        ++m_headerLineTotal;
    m_headerByteTotal += line.size() + ending.size();
    if (m_headerLineTotal > kMaxHeaderLines || m_headerByteTotal > kMaxHeaderBytes) {
        endOnResponseFault(404, QStringLiteral("HTTP header too large"), heHeaderTooLarge);
        return;
    }
    const HttpHeaderLine parsed = ParseHttpHeaderLine(line);
    if (skipInterim(parsed))
        return;
    if (m_headerLines == 0)
        fire(OnHeaderBegin);
    ++m_headerLines;
    switch (parsed.kind) {
    case HttpHeaderLine::Html:
        // A document without a header: this line is its start, with its own line end,
        // and whatever was read behind it follows unchanged.
        if (m_contentType.isEmpty())
            m_contentType = QStringLiteral("text/html");
        startWait(WaitPhase::None);
        setState(hsWaitingBody);
        startWait(WaitPhase::Body);
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
    if (m_nextLineHandler != LineHandler::Header)
        return;  // the field ended the request
    fire(OnHeaderData);
    if (m_statusCode >= 400)
        m_socket->Close();
}

// An interim response ("100 Continue", "102 Processing") says nothing about the
// document: its status line and header are skipped, and the next status line is the
// answer.
bool THttpClient::skipInterim(const HttpHeaderLine& parsed) {
    if (m_interim) {
        if (parsed.kind == HttpHeaderLine::End)
            m_interim = false;
        return true;
    }
    if (m_headerLines == 0 && parsed.kind == HttpHeaderLine::Status && parsed.statusCode >= 100 &&
        parsed.statusCode < 200) {
        m_interim = true;
        return true;
    }
    return false;
}

void THttpClient::headerField(const HttpHeaderLine& field) {
    const QByteArray& name = field.name;
    if (name == "location") {
        relocate(latin1(field.value));
    } else if (name == "content-length") {
        contentLengthField(field.value);
    } else if (name == "transfer-encoding") {
        m_chunked = IsChunkedTransferEncoding(field.value);
    } else if (name == "content-range") {
        const HttpContentRange range = ParseContentRange(field.value);
        m_contentRangeBegin = latin1(range.begin);
        m_contentRangeEnd = latin1(range.end);
        m_contentRange = latin1(field.value);
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

// Without a trustworthy length the end of the document is a guess (RFC 9112, 6.3): the
// response is refused rather than cut or run on. Repeated fields may repeat the count.
void THttpClient::contentLengthField(const QByteArray& value) {
    const std::optional<qint64> length = ParseContentLength(value);
    if (!lengthBinds()) {
        if (length)
            m_contentLength = *length;
    } else if (!length) {
        endOnResponseFault(404, QStringLiteral("invalid Content-Length: ") + latin1(value.left(40)), heBadLength);
    } else if (m_contentLength >= 0 && *length != m_contentLength) {
        endOnResponseFault(
            404, QStringLiteral("Content-Length fields disagree: %1 and %2").arg(m_contentLength).arg(*length),
            heBadLength);
    } else {
        m_contentLength = *length;
    }
}

// Whether the response's length is held against it: not for a HEAD, which has no body,
// nor for an error response, whose status already fails the request.
bool THttpClient::lengthBinds() const { return m_requestType != hrHead && m_statusCode < 400; }

void THttpClient::headerEnd() {
    startWait(WaitPhase::None);
    if (m_relocationPending) {
        fire(OnHeaderEnd);
        // The body of a relocation is not wanted.
        m_lineBuffer.clear();
        m_headerLines = 0;
        m_bodyChunks = 0;
        if (refuseRelocation())
            return;
        ++m_relocations;
        m_closedRoutine = ClosedRoutine::Relocation;
        m_socket->Close();
        return;
    }
    if (m_docName.toLower().endsWith(QLatin1String(".exe")) && m_contentType == QLatin1String("text/html")) {
        const qsizetype dot = m_docName.lastIndexOf('.');
        m_docName = m_docName.left(dot) + QStringLiteral(".htm");
    }
    m_chunkDecoder.reset();
    setState(hsWaitingBody);
    startWait(WaitPhase::Body);
    m_nextLineHandler = LineHandler::Body;
    fire(OnHeaderEnd);
    if (m_lineBuffer.size() > 0 && m_nextLineHandler == LineHandler::Body) {
        const QByteArray rest = m_lineBuffer.takeAll();
        m_lastResponse = rest;
        bodyBytes(rest.constData(), rest.size());
    }
}

// Received document bytes: as they are, or through the chunk decoder when the server
// framed them. Once the last chunk is in, the document is complete and the connection
// is closed from this side (a server that keeps it open must not hold the request).
void THttpClient::bodyBytes(const char* data, qint64 len) {
    if (!m_chunked) {
        bodyData(data, len);
        return;
    }
    const HttpChunkedDecoder::Result result = m_chunkDecoder.feed(data, len, [this](const char* run, qint64 size) {
        if (m_nextLineHandler == LineHandler::Body)
            bodyData(run, size);
    });
    if (m_nextLineHandler != LineHandler::Body)
        return;  // a write failed on the way
    if (result == HttpChunkedDecoder::Result::Error)
        endOnResponseFault(m_statusCode, QStringLiteral("malformed chunked body"), heBadChunk);
    else if (result == HttpChunkedDecoder::Result::Ok)
        stopReading();
}

// A chunked body is framed by its chunks (a length beside them is not counted); any
// other stops at its announced length: a byte beyond it never reaches the stream.
void THttpClient::bodyData(const char* data, qint64 len) {
    if (m_waitPhase == WaitPhase::Body)
        m_waitClock.start();
    const bool beyond = !m_chunked && m_contentLength >= 0 && lengthBinds() && len > m_contentLength - m_rcvdCount;
    if (beyond)
        len = qMax<qint64>(m_contentLength - m_rcvdCount, 0);
    if (len > 0 && !bodyRun(data, len))
        return;
    if (beyond)
        endOnResponseFault(m_statusCode,
                           QStringLiteral("server sent more than the %1 bytes it announced").arg(m_contentLength),
                           heBodyTooLong);
}

bool THttpClient::bodyRun(const char* data, qint64 len) {
    if (m_bodyChunks == 0)
        fire(OnDocBegin);
    ++m_bodyChunks;
    m_rcvdCount += len;
    if (m_rcvdStream && m_rcvdStream->write(data, len) != len) {
        // A document with a hole must not end as a success: stop the request here.
        endOnResponseFault(404, QStringLiteral("can't write document: ") + m_rcvdStream->errorString(),
                           heWriteFailed);
        return false;
    }
    if (OnDocData) {
        m_lastResponse = QByteArray::fromRawData(data, len);
        OnDocData(this, data, len);
        m_lastResponse.clear();
    }
    // A handler may have ended the request (Abort) meanwhile.
    return m_nextLineHandler == LineHandler::Body && m_state == hsWaitingBody;
}

void THttpClient::socketSessionClosed(quint16 error) {
    if (m_closeError == 0)
        m_closeError = error;
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
    startWait(WaitPhase::None);
    checkDocumentComplete();
    if (m_bodyChunks > 0)
        fire(OnDocEnd);
    m_target->post(NotifyReady, m_requestSerial);
}

// The server's close ends the document, but only a document with every byte its header
// announced is whole; anything shorter fails the request, its status left as it came.
void THttpClient::checkDocumentComplete() {
    if (m_requestDoneError != 0 || m_statusCode >= 400)
        return;
    // A close before any byte of a response stays as it was: no status, no error.
    if (m_state == hsWaitingHead && (m_headerByteTotal > 0 || m_lineBuffer.size() > 0)) {
        fail(404, QStringLiteral("connection closed before the end of the response header"), heShortBody);
        return;
    }
    if (m_requestType == hrHead || m_statusCode == 204 || m_statusCode == 304)
        return;
    if (m_chunked && m_state == hsWaitingBody) {
        if (m_chunkDecoder.result() != HttpChunkedDecoder::Result::Ok)
            fail(m_statusCode, QStringLiteral("connection closed after %1 bytes of a chunked body").arg(m_rcvdCount),
                 heShortBody);
    } else if (m_contentLength >= 0 && m_rcvdCount < m_contentLength) {
        fail(m_statusCode, QStringLiteral("connection closed after %1 of %2 bytes").arg(m_rcvdCount).arg(m_contentLength),
             heShortBody);
    } else if (m_contentLength < 0 && m_state == hsWaitingBody) {
        // Without a length only the way the connection ended tells a cut document: a
        // reset, or over TLS a close that the server did not announce with close_notify.
        if (m_closeError != 0)
            fail(m_statusCode,
                 socketErrorText(m_closeError) +
                     QStringLiteral(" (Error #%1) after %2 bytes").arg(m_closeError).arg(m_rcvdCount),
                 m_closeError);
        else if (m_tls && !m_socket->TlsCloseNotifyReceived())
            fail(m_statusCode,
                 QStringLiteral("connection closed without TLS close_notify after %1 bytes").arg(m_rcvdCount),
                 heShortBody);
    }
}
