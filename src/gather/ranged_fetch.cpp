#include "gather/ranged_fetch.h"

#include "common/safe_folder.h"
#include "common/system_error.h"
#include "common/user_error.h"
#include "gather/range_writer.h"
#include "gather/speed_window.h"
#include "http/http_client.h"
#include "http/http_response_parser.h"
#include "net/notification_target.h"
#include "net/socket_error.h"
#include "net/tls_error.h"

#include <QFile>
#include <QTimer>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum : int { NotifyEnded = 1 };

// How long a host that refused a connection or answered 503 is left alone.
constexpr int HoldMs = 1000;

}  // namespace

struct RangedFetch::Connection {
    int range = 0;
    qint64 askedBegin = 0;
    qint64 askedLast = -1;  // -1: to the end of the document
    std::unique_ptr<THttpClient> client;
    std::unique_ptr<RangeWriter> writer;
    HostSlot slot;
    // The watchdog's view of this connection.
    qint64 lastGot = 0;
    int idle = 0;
    SpeedWindow speed;
    // This side ended the request, and why (the watchdog, an answer it would not take).
    QString cause;
    bool stopped = false;
    // The server's answer was judged: its end is no failure of the connection. Its
    // status, which an abort would overwrite.
    bool answered = false;
    int answerCode = 0;
};

RangedFetch::RangedFetch(const SafeFolder& folder, Plan plan, HostCaps& hosts)
    : m_plan(std::move(plan)),
      m_hosts(hosts),
      m_host(HostCaps::HostOf(m_plan.url)),
      m_ranges(m_plan.ranges),
      m_journal(folder.fd(), m_plan.partName),
      m_hold(std::make_unique<QTimer>()) {
    m_target = new NotificationTarget([this](int msg, qintptr, qintptr) {
        if (msg == NotifyEnded && onEnded)
            onEnded();
    });
    m_hold->setSingleShot(true);
    QObject::connect(m_hold.get(), &QTimer::timeout, [this] { grow(); });
}

RangedFetch::~RangedFetch() {
    // Freeing a client drops whatever it had still to report.
    m_connections.clear();
    m_target->release();
}

bool RangedFetch::openFile(const SafeFolder& folder, QString& failure) {
    if (!m_plan.fresh) {
        // Never through a link, nor into a file that a hard link shares with a place
        // outside the parts folder.
        UniqueFd file(::openat(folder.fd(), QFile::encodeName(m_plan.partName).constData(),
                               O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
        struct stat info {};
        if (file.valid() && ::fstat(file.get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1) {
            // A plain prefix keeps its first bytes and loses the rest; a file with a list
            // keeps everything within the part.
            const bool prefix = m_ranges.count() == 1;
            const qint64 keep = prefix ? m_ranges.at(0).got : m_ranges.size();
            if ((prefix ? info.st_size == keep : info.st_size <= keep) || (info.st_size > keep && ::ftruncate(file.get(), keep) == 0)) {
                m_file = std::move(file);
                return true;
            }
        }
        m_ranges.restart();
    }
    m_journal.remove();
    m_file = folder.createFile(m_plan.partName, failure);
    return m_file.valid();
}

bool RangedFetch::start(QString& failure) {
    // Gaps only where a list says which bytes are there: without one, the next download
    // would take the file for a prefix of the part.
    if (m_ranges.count() > 1 && !m_journal.save(m_ranges))
        m_noJournal = true;
    const int first = pendingRange();
    if (first < 0) {
        endWith({});
        return true;
    }
    return open(first, m_hosts.acquire(m_host), failure);
}

bool RangedFetch::open(int range, HostSlot slot, QString& failure) {
    ByteRange& r = m_ranges.at(range);
    auto owned = std::make_unique<Connection>();
    Connection* c = owned.get();
    c->range = range;
    c->askedBegin = r.next();
    c->askedLast = r.end == m_ranges.size() ? -1 : r.end - 1;
    c->lastGot = r.got;
    c->slot = std::move(slot);
    c->writer = std::make_unique<RangeWriter>(m_file.get(), r, c->askedLast < 0 ? m_ranges.size() : c->askedLast + 1);
    c->client = std::make_unique<THttpClient>();
    THttpClient* client = c->client.get();
    client->SetURL(m_plan.url);
    client->SetReference(m_plan.url);
    client->SetTimeout(m_plan.timeoutSeconds);
    const auto askRange = [c] {
        c->client->SetContentRangeBegin(QString::number(c->askedBegin));
        c->client->SetContentRangeEnd(c->askedLast < 0 ? QString() : QString::number(c->askedLast));
    };
    askRange();
    // The client asks for a range once; the request after a relocation must ask again.
    client->OnLocationChange = [askRange](THttpClient*) { askRange(); };
    client->OnHeaderEnd = [this, c](THttpClient*) { headerEnd(c); };
    client->OnDocData = [this, c](THttpClient*, const char*, qint64) { docData(c); };
    client->OnRequestDone = [this, c](THttpClient*, THttpRequest, quint16 error) { requestDone(c, error); };
    client->SetRcvdStream(c->writer.get());
    m_connections.push_back(std::move(owned));
    try {
        client->GetAsync();
    } catch (const std::exception& e) {
        // A URL without a host: no request of this part can start.
        const auto* text = dynamic_cast<const UserError*>(&e);
        failure = "Cannot download " + m_plan.url + ": " + (text ? text->text() : QString::fromLocal8Bit(e.what()));
        m_connections.pop_back();
        return false;
    }
    return true;
}

int RangedFetch::pendingRange() const {
    int best = -1;
    for (int i = 0; i < m_ranges.count(); ++i) {
        const ByteRange& r = m_ranges.at(i);
        const bool busy = std::any_of(m_connections.begin(), m_connections.end(),
                                      [i](const std::unique_ptr<Connection>& c) { return c->range == i; });
        if (!r.complete() && !busy && (best < 0 || r.begin < m_ranges.at(best).begin))
            best = i;
    }
    return best;
}

// The upper half of the largest rest of a range under way, for a connection of its own.
int RangedFetch::splitRange() {
    int largest = -1;
    for (const auto& c : m_connections)
        if (!c->stopped && (largest < 0 || m_ranges.at(c->range).remaining() > m_ranges.at(largest).remaining()))
            largest = c->range;
    if (largest < 0)
        return -1;
    const int upper = m_ranges.split(largest, m_plan.minPiece);
    // Listed before a byte lands in the new range. A list that cannot be written leaves
    // the upper half to be fetched after the lower one, so no gap is ever made.
    if (upper >= 0 && !m_journal.save(m_ranges)) {
        m_noJournal = true;
        note("the list of ranges cannot be written beside the part: one connection");
        return -1;
    }
    return upper;
}

int RangedFetch::limit() const { return m_confirmed && !m_wholeOnly && !m_noJournal ? m_plan.connections : 1; }

void RangedFetch::grow() {
    if (m_ending || !m_file.valid() || m_hold->isActive())
        return;
    while (true) {
        const auto running = std::count_if(m_connections.begin(), m_connections.end(),
                                           [](const std::unique_ptr<Connection>& c) { return !c->stopped; });
        if (running >= limit() || !m_hosts.hasRoom(m_host))
            return;
        int range = pendingRange();
        if (range < 0 && limit() > 1)
            range = splitRange();
        if (range < 0)
            return;
        QString failure;
        if (!open(range, m_hosts.acquire(m_host), failure)) {
            endWith({0, m_statusCode, failure});
            return;
        }
    }
}

void RangedFetch::abort() { endWith({heAborted, m_statusCode}); }

QString RangedFetch::rangeText(qint64 first, qint64 last) const { return QStringLiteral("bytes %1-%2").arg(first).arg(last); }

void RangedFetch::note(const QString& text) const {
    if (onNote)
        onNote(text);
}

// No more bytes of this request reach the file; its end is reported as usual. An
// answer that was judged ends the range for good (`cause`, when not empty, says why).
void RangedFetch::stop(Connection* c, bool answered, const QString& cause) {
    c->stopped = true;
    c->answered = c->answered || answered;
    if (c->cause.isEmpty())
        c->cause = cause;
    c->client->SetRcvdStream(nullptr);
    c->client->Abort();
}

void RangedFetch::headerEnd(Connection* c) {
    if (c->stopped || m_ending)
        return;
    const THttpClient& client = *c->client;
    const int code = client.StatusCode();
    c->answerCode = code;
    const qint64 last = c->askedLast >= 0 ? c->askedLast : m_ranges.size() - 1;
    if (code == 206) {
        const std::optional<HttpByteRange> sent = ParseByteContentRange(client.ContentRange().toLatin1());
        if (!sent || sent->first != c->askedBegin || sent->last != last || sent->total != m_ranges.size()) {
            const QString cause = QStringLiteral("Content-Range \"%1\" for %2/%3")
                                      .arg(client.ContentRange().left(80), rangeText(c->askedBegin, last))
                                      .arg(m_ranges.size());
            stop(c, true, cause);
            endWith({0, code, cause, 0, true, true});
            return;
        }
        if (!m_confirmed) {
            m_confirmed = true;
            m_announced = sent->total;
            m_statusCode = code;
            m_contentType = client.ContentType();
            if (onAnswer)
                onAnswer();
            grow();
        }
        return;
    }
    // An error status speaks for itself in the verdict: the client has closed the
    // connection already and ends the request with it; its page stays out of the file.
    if (code >= 400) {
        c->client->SetRcvdStream(nullptr);
        return;
    }
    // Anything else that is no 2xx (a relocation that was not followed) is named.
    if (code < 200 || code >= 300) {
        stop(c, true, QStringLiteral("HTTP %1 %2").arg(code).arg(client.ReasonPhrase()));
        return;
    }
    if (!m_confirmed && m_connections.size() == 1) {
        takeWholeDocument(c);
        return;
    }
    const QString cause = QStringLiteral("HTTP %1 to a request for %2").arg(code).arg(rangeText(c->askedBegin, last));
    stop(c, true, cause);
    endWith({0, code, cause, 0, true, true});
}

// The server sends whole documents only: the part from its first byte, over this one
// connection, as a download that never asked for a range.
void RangedFetch::takeWholeDocument(Connection* c) {
    const THttpClient& client = *c->client;
    if (::ftruncate(m_file.get(), 0) != 0) {
        const int error = errno;
        stop(c, true, SystemReason(error));
        endWith({heWriteFailed, client.StatusCode(), SystemReason(error), error});
        return;
    }
    const bool kept = m_ranges.received() > 0;
    // This connection is the only one: no other writer holds a range.
    m_ranges.restart();
    m_journal.remove();
    m_wholeOnly = true;
    c->range = 0;
    c->askedBegin = 0;
    c->askedLast = -1;
    c->lastGot = 0;
    c->writer = std::make_unique<RangeWriter>(m_file.get(), m_ranges.at(0), m_ranges.size());
    c->client->SetRcvdStream(c->writer.get());
    m_announced = client.ContentLength();
    m_statusCode = client.StatusCode();
    m_contentType = client.ContentType();
    if (onAnswer)
        onAnswer();
    note(QStringLiteral("the server sends the whole part (HTTP %1): fetched from byte 0%2")
             .arg(m_statusCode)
             .arg(kept ? QString() : QStringLiteral(" over one connection")));
}

void RangedFetch::docData(Connection* c) {
    if (c->stopped)
        return;
    m_journalDirty = true;
    // The rest belongs to a range split off since the request was made.
    const ByteRange& r = m_ranges.at(c->range);
    if (c->writer->reachedEnd() && r.end - 1 != (c->askedLast < 0 ? m_ranges.size() - 1 : c->askedLast))
        stop(c, false, QString());
    if (onProgress)
        onProgress();
}

void RangedFetch::requestDone(Connection* c, quint16 error) {
    // Out of the list now, freed when this handler returns: a client may be freed in its
    // own completion handler.
    std::unique_ptr<Connection> owned;
    for (auto it = m_connections.begin(); it != m_connections.end(); ++it)
        if (it->get() == c) {
            owned = std::move(*it);
            m_connections.erase(it);
            break;
        }
    c->slot.reset();
    m_journalDirty = true;
    const int code = c->answered ? c->answerCode : c->client->StatusCode();
    const ByteRange& r = m_ranges.at(c->range);
    if (m_ending) {
        if (m_connections.empty())
            m_target->post(NotifyEnded);
        return;
    }
    if (c->writer->writeError() != 0) {
        endWith({heWriteFailed, code, SystemReason(c->writer->writeError()), c->writer->writeError()});
        return;
    }
    if (c->writer->overAsked()) {
        endWith({error, code, c->writer->errorString(), 0, true});
        return;
    }
    if (!r.complete()) {
        if (error == TLS_ERR_CERTIFICATE) {
            endWith({error, code, SocketErrorDesc(error)});
            return;
        }
        if ((error == 0 || c->answered) && code != 503) {
            // The answer is over and the range is not: a short document, an error page, an
            // answer this side would not take. Its bytes are not trusted any more.
            QString cause = c->cause;
            if (cause.isEmpty() && code < 400)
                cause = QStringLiteral("the server ended %1 after %2 bytes")
                            .arg(rangeText(c->askedBegin, r.end - 1))
                            .arg(r.next() - c->askedBegin);
            endWith({0, code, cause, 0, true});
            return;
        }
        restart(*c, error, code);
        if (m_ending)
            return;
    }
    if (m_ranges.complete()) {
        endWith({0, m_statusCode});
        return;
    }
    grow();
}

// A connection that ended short: its range is asked again for what it still lacks.
void RangedFetch::restart(const Connection& c, quint16 error, int statusCode) {
    if (m_hosts.noteAnswer(m_host, error, statusCode))
        note(QStringLiteral("at most %1 connections to %2 from now on").arg(m_hosts.capOf(m_host)).arg(m_host));
    const QString cause = !c.cause.isEmpty() ? c.cause
                          : error == 0       ? QStringLiteral("HTTP %1 %2").arg(statusCode).arg(c.client->ReasonPhrase())
                                             : c.client->ReasonPhrase();
    if (!onRestart || !onRestart(cause)) {
        endWith({error, statusCode, error == 0 ? cause : QString()});
        return;
    }
    const ByteRange& r = m_ranges.at(c.range);
    note(rangeText(r.next(), r.end - 1) + " asked again: " + cause);
    if (error == WSAECONNREFUSED || statusCode == 503)
        m_hold->start(HoldMs);
}

void RangedFetch::endWith(End end) {
    if (m_ending)
        return;
    m_ending = true;
    m_end = std::move(end);
    m_hold->stop();
    for (const auto& c : m_connections)
        if (!c->stopped)
            stop(c.get(), false, QString());
    if (m_connections.empty())
        m_target->post(NotifyEnded);
}

RangedFetch::Idle RangedFetch::tick(qint64 nowMs, int timeoutSeconds, qint64 lowestSpeed) {
    Idle longest;
    for (const auto& owned : m_connections) {
        Connection* c = owned.get();
        if (c->stopped)
            continue;
        const qint64 got = m_ranges.at(c->range).got;
        c->idle = got != c->lastGot ? 0 : c->idle + 1;
        c->lastGot = got;
        c->speed.add(nowMs, got, timeoutSeconds);
        const qint64 rate = c->speed.rate(timeoutSeconds);
        longest.counted = std::max(longest.counted, c->idle);
        // The same two rules as for a download over one connection; the restart follows
        // from the connection's end.
        if (c->idle > timeoutSeconds) {
            c->cause = QStringLiteral("nothing received for %1 s").arg(timeoutSeconds);
            c->client->Abort();
            c->idle = 0;
        } else if (lowestSpeed > 0 && c->idle == 0 && rate >= 0 && rate < lowestSpeed) {
            c->cause = QStringLiteral("Too slow: %1 B/s").arg(rate);
            c->client->Abort();
        }
        longest.left = std::max(longest.left, c->idle);
    }
    if (m_journalDirty && m_ranges.count() > 1 && !m_noJournal && !m_wholeOnly && !m_ending) {
        m_journalDirty = false;
        (void)m_journal.save(m_ranges);
    }
    return longest;
}

PartDigest RangedFetch::finish() {
    m_connections.clear();
    PartDigest digest;
    if (!m_file.valid())
        return digest;
    const bool complete = m_ranges.complete();
    const qint64 prefix = m_ranges.prefixLength();
    if (complete || m_end.startOver) {
        m_journal.remove();
    } else if (prefix >= 0) {
        // What the file holds is a plain prefix: the next download needs no list, and
        // nothing beyond the prefix may pass for a part of it.
        if (::ftruncate(m_file.get(), prefix) == 0) {
            m_journal.remove();
            m_keptPrefix = prefix;
            m_keptCrc = m_ranges.crc();
        }
    } else if (!m_noJournal) {
        (void)m_journal.save(m_ranges);
    }
    struct stat info {};
    digest.size = ::fstat(m_file.get(), &info) == 0 ? qint64(info.st_size) : -1;
    digest.crcKnown = complete && digest.size == m_ranges.size();
    digest.crc32 = m_ranges.crc();
    // A late failure of the close shows in the next check of the file.
    m_file.close();
    return digest;
}
