#include "http/url_check.h"

#include "common/user_error.h"
#include "crc/crc32.h"
#include "http/http_client.h"
#include "net/notification_target.h"

namespace {

bool isSuccess(int status) { return status >= 200 && status < 300; }

QString statusText(int status, const QString& reasonPhrase) {
    return (QString::number(status) + ' ' + reasonPhrase).trimmed();
}

QString lengthText(qint64 length, qint64 expected) {
    return QStringLiteral("length %1 instead of %2").arg(length).arg(expected);
}

}  // namespace

UrlCheck::UrlCheck() {
    m_target = new NotificationTarget([this](int msg, qintptr serial, qintptr) { handleNotification(msg, serial); });
}

UrlCheck::~UrlCheck() {
    dropClient();
    // Possibly called from inside onDone, which runs from the target's dispatch.
    m_target->release();
}

void UrlCheck::start(const QString& url, UrlCheckMode mode, qint64 expectedSize, const QString& expectedCrc,
                     int timeoutSeconds) {
    abort();
    m_url = url;
    m_mode = mode;
    m_expectedSize = expectedSize;
    m_expectedCrc = expectedCrc;
    m_timeoutSeconds = qMax(timeoutSeconds, 1);
    m_outcome = UrlCheckOutcome();
    m_busy = true;
    if (mode == UrlCheckMode::Off)
        conclude(true, QString());
    else
        request(mode == UrlCheckMode::Length);
}

void UrlCheck::abort() {
    ++m_serial;
    dropClient();
    m_busy = false;
    m_decided = false;
}

void UrlCheck::dropClient() {
    // Never called from inside one of the client's own handlers: its reports are only
    // noted there, and acted on from this check's notifications.
    delete m_client;
    m_client = nullptr;
}

void UrlCheck::request(bool head) {
    dropClient();
    m_head = head;
    m_decided = false;
    m_announced = -1;
    m_received = 0;
    m_crcRegister = 0xFFFFFFFFu;
    m_outcome.statusCode = 0;
    m_client = new THttpClient;
    m_client->SetURL(m_url);
    m_client->SetTimeout(m_timeoutSeconds);
    // A server that stops in the middle of a body ends the check too.
    m_client->SetBodyIdleTimeout(m_timeoutSeconds);
    m_client->OnHeaderData = [this](THttpClient* c) { headerSeen(c); };
    m_client->OnHeaderEnd = [this](THttpClient* c) { headerEnd(c); };
    m_client->OnDocData = [this](THttpClient*, const char* data, qint64 len) { docData(data, len); };
    m_client->OnRequestDone = [this](THttpClient* c, THttpRequest, quint16 error) { requestDone(c, error); };
    try {
        if (head)
            m_client->HeadAsync();
        else
            m_client->GetAsync();
    } catch (const UserError& e) {
        // An address without a host: the request cannot even start.
        conclude(false, e.text());
    }
}

// The client gives its own failures a status of 404: only a status the server sent in a
// status line counts as the last response's.
void UrlCheck::headerSeen(THttpClient* client) {
    if (!m_decided)
        m_outcome.statusCode = client->StatusCode();
}

void UrlCheck::headerEnd(THttpClient* client) {
    // A relocation's header ends too; the document's own header leaves the client
    // waiting for its body.
    if (m_decided || client->State() != hsWaitingBody)
        return;
    m_outcome.statusCode = client->StatusCode();
    if (m_outcome.statusCode == 0) {
        conclude(false, QStringLiteral("no HTTP status line in the response"));
        return;
    }
    if (!isSuccess(m_outcome.statusCode)) {
        conclude(false, statusText(m_outcome.statusCode, client->ReasonPhrase()));
        return;
    }
    m_announced = client->ContentLength();
    if (m_head) {
        judgeLength(m_announced);
        return;
    }
    if (m_announced >= 0 && m_expectedSize >= 0 && m_announced != m_expectedSize) {
        m_outcome.length = m_announced;
        conclude(false, lengthText(m_announced, m_expectedSize));
        return;
    }
    if (m_announced == 0)
        judgeBody();
}

// The length a HEAD announced: compared, or asked again by a GET when there is none.
void UrlCheck::judgeLength(qint64 length) {
    m_outcome.length = length;
    if (m_expectedSize < 0 || length == m_expectedSize) {
        conclude(true, QString());
    } else if (length >= 0) {
        conclude(false, lengthText(length, m_expectedSize));
    } else {
        m_decided = true;
        m_target->post(NotifyRetryWithGet, m_serial);
    }
}

void UrlCheck::docData(const char* data, qint64 len) {
    if (m_decided)
        return;
    m_received += len;
    if (m_mode == UrlCheckMode::Crc)
        m_crcRegister = Crc32Update(m_crcRegister, data, std::size_t(len));
    if (m_expectedSize >= 0 && m_received > m_expectedSize) {
        m_outcome.length = m_received;
        conclude(false, QStringLiteral("longer than %1 bytes").arg(m_expectedSize));
    } else if (m_announced >= 0 && m_received == m_announced) {
        // Whole: a server that keeps the connection open afterwards must not hold the check.
        judgeBody();
    }
}

void UrlCheck::requestDone(THttpClient* client, quint16 error) {
    if (m_decided)
        return;
    if (!m_head)
        m_outcome.length = m_received;
    if (error != 0)
        conclude(false, client->ReasonPhrase());
    else if (m_outcome.statusCode == 0)
        conclude(false, QStringLiteral("connection closed without a response"));
    else if (!isSuccess(m_outcome.statusCode))
        conclude(false, statusText(m_outcome.statusCode, client->ReasonPhrase()));
    else if (m_head)
        judgeLength(client->ContentLength());
    else
        judgeBody();
}

void UrlCheck::judgeBody() {
    m_outcome.length = m_received;
    if (m_mode == UrlCheckMode::Crc)
        m_outcome.crc = QString::fromStdString(Crc32Text(~m_crcRegister));
    if (m_expectedSize >= 0 && m_received != m_expectedSize)
        conclude(false, lengthText(m_received, m_expectedSize));
    else if (m_mode == UrlCheckMode::Crc && m_outcome.crc.compare(m_expectedCrc, Qt::CaseInsensitive) != 0)
        conclude(false, QStringLiteral("CRC %1 instead of %2").arg(m_outcome.crc, m_expectedCrc));
    else
        conclude(true, QString());
}

void UrlCheck::conclude(bool ok, const QString& reason) {
    m_decided = true;
    m_outcome.ok = ok;
    m_outcome.reason = ok ? QString() : reason;
    m_target->post(NotifyDone, m_serial);
}

void UrlCheck::handleNotification(int msg, qintptr serial) {
    if (serial != m_serial || !m_busy)
        return;
    if (msg == NotifyRetryWithGet) {
        request(false);
        return;
    }
    dropClient();
    m_busy = false;
    m_decided = false;
    // Copies: the handler may start the next check on this object, or delete it.
    const UrlCheckOutcome outcome = m_outcome;
    const auto done = onDone;
    if (done)
        done(outcome);
}
