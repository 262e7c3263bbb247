// One part's session with its account, step by step from the client's completions.
#include "scatter/upload_session.h"

#include "common/text_table.h"
#include "ftp/ftp_client.h"
#include "ftp/password_mask.h"
#include "http/url_check.h"
#include "net/async_socket.h"
#include "net/tls_error.h"
#include "scatter/ftp_site_address.h"
#include "scatter/split_source.h"
#include "scatter/upload_driver.h"
#include "scatter/upload_table.h"

namespace {


bool confirmsStore(int statusCode) { return statusCode == 226 || statusCode == 250; }

// Socket error numbers (10054 for a reset) and the TLS layer's are above every reply code.
constexpr int kFirstSocketError = 10000;

// After an abort the request's failing end comes from the event loop at once; this
// bounds the wait for it all the same.
constexpr int kAbortEndMs = 2000;

}  // namespace

UploadSession::UploadSession(UploadDriver& run, TFtpClient& client) : m_run(run), m_client(client) {
    m_wait.setSingleShot(true);
    QObject::connect(&m_wait, &QTimer::timeout, [this] { connect(); });
    m_limit.setSingleShot(true);
    QObject::connect(&m_limit, &QTimer::timeout, [this] {
        // Progress only moves the deadline: the timer looks at the clock when it fires.
        const qint64 left = m_limitMs - m_sinceActivity.elapsed();
        if (m_waiting && left > 0)
            m_limit.start(int(qMin<qint64>(left, 24LL * 3600 * 1000)));
        else if (m_waiting)
            timeLimitReached();
    });
}

UploadSession::~UploadSession() = default;

void UploadSession::start(int row, const QString& account, const QString& prefix) {
    m_row = row;
    m_account = account;
    m_prefix = prefix;
    m_attempt = m_failures = m_busyFailures = m_brokenStores = 0;
    m_stored = m_confirmed = m_broken = m_resumable = m_restKnown = false;
    bool isNumber = false;
    m_partSize = m_run.cell(row, UploadColumn::Size).toLongLong(&isNumber);
    if (!isNumber)
        m_partSize = -1;
    const FtpSiteAddress address = SplitFtpSite(m_run.cell(row, UploadColumn::FtpSite));
    m_client.SetHostName(address.host);
    m_client.SetPort(address.port);
    m_client.SetUserName(m_run.cell(row, UploadColumn::UserName));
    m_password = m_run.cell(row, UploadColumn::Password);
    m_client.SetPassWord(m_password);
    m_client.SetPassive(m_run.m_run.passive);
    m_client.SetTlsMode(m_run.m_run.tlsMode);
    // From the connection on: the log shows every session's login, the first one's too,
    // and with it what became of TLS.
    m_client.OnDisplay = [this](TCustomFtpClient*, QString& msg) { log(msg); };
    connect();
}

// Tries until connected or aborted, without a limit: a server that is down now may be
// up in a minute.
void UploadSession::connect() {
    if (m_run.m_aborted)
        return finish();
    log(QStringLiteral("Connect Attempt # ") + QString::number(++m_attempt));
    run(Step::Connecting, [this] { m_client.StartConnect(); });
}

// Starts a request; one that cannot start (the connection is gone) ends at once.
void UploadSession::run(Step step, const std::function<void()>& start) {
    m_step = step;
    m_timedOut = false;
    try {
        start();
    } catch (const std::exception&) {
        m_waiting = false;
        return stepDone(false);
    }
    m_waiting = true;
    m_serial = m_client.RequestSerial();
    m_sinceActivity.restart();
    m_limitMs = qint64(m_client.Timeout()) * 1000;
    if (m_limitMs > 0)
        m_limit.start(int(qMin<qint64>(m_limitMs, 24LL * 3600 * 1000)));
}

void UploadSession::requestDone(TFtpRequest request, quint16 error) {
    const bool current = m_waiting && m_client.DoneSerial() == m_serial;
    LogRequestDone(m_client, request, error, current, [this](const QString& line) { log(line); },
                   [this](int row, const QString& status) { m_run.setCell(row, UploadColumn::Status, status); });
    // A late end of a request the session has given up on (its time ran out) is only logged.
    if (!current)
        return;
    m_waiting = false;
    m_limit.stop();
    stepDone(error == 0);
}

void UploadSession::stepDone(bool ok) {
    switch (m_step) {
    case Step::Connecting:
        return connectDone(ok);
    case Step::TypeBinary:
        // The type's outcome is not used: a store that cannot follow fails on its own.
        return run(Step::Type, [this] { m_client.TypeStep(); });
    case Step::Type:
        // A part whose store broke where FEAT could not be asked asks it now.
        if (m_brokenStores > 0 && !m_restKnown)
            return run(Step::Feat, [this] { m_client.FeatStep(); });
        return beforeStore();
    case Step::Feat:
        m_restKnown = true;
        m_resumable = m_client.OffersRestStream();
        return beforeStore();
    case Step::FeatAfterBreak:
        m_restKnown = true;
        m_resumable = m_client.OffersRestStream();
        return quit();
    case Step::SizeBefore: {
        const qint64 held = ok ? m_client.ReplySize() : 0;
        if (held > m_partSize)
            log(QStringLiteral("! The server holds %1 bytes, more than the part: it is sent from byte 0").arg(held));
        return startStore(held > 0 && held <= m_partSize ? held : 0);
    }
    case Step::Store:
        return storeDone(ok);
    case Step::SizeAfter:
        return sizeDone(ok);
    case Step::Quit:
        return quitDone();
    case Step::Idle:
    case Step::RetryWait:
    case Step::Verify:
        return;
    }
}

// False from the connection means: aborted; busy (wait longer, then again); a login
// the server refused, or one that could not start (an empty user name or password), or,
// with TLS required, a session that could not be protected (the session ends with QUIT,
// nothing more goes to that server, and the row's Status has the code); a TLS handshake
// that failed after the server agreed to it, or a server certificate the user does not
// trust (which no further attempt would change); else a connection that failed, tried
// again after a growing wait.
void UploadSession::connectDone(bool ok) {
    if (ok)
        return run(Step::TypeBinary, [this] { m_client.TypeBinaryStep(); });
    const int status = m_client.StatusCode();
    if (!m_run.m_aborted && IsBusyRefusal(status, m_client.LastResponse())) {
        if (m_client.Connected())
            m_client.Abort();
        const int ms = BusyWaitMs(++m_busyFailures, m_run.m_run);
        log(QStringLiteral("! %1 has no room for another session: the part waits %2 ms").arg(m_account).arg(ms));
        return waitAndConnect(ms);
    }
    if (m_client.Connected()) {
        m_run.setCell(m_row, UploadColumn::Status, QString::number(status));
        return quit();
    }
    if (m_client.RequestResult() == TLS_ERR_HANDSHAKE) {
        m_run.setCell(m_row, UploadColumn::Status, QStringLiteral("Error:TLS"));
        log(QStringLiteral("Error:TLS: ") + m_client.ErrorMessage() + QStringLiteral(" (part not sent)"));
        return finish();
    }
    switch (m_run.m_certificateQuestions.AskAbout(m_run.m_prompt, m_client.ControlSocket()->TlsHostPort())) {
    case TlsTrustQuestions::Verdict::Refused:
        m_run.setCell(m_row, UploadColumn::Status, QStringLiteral("Error:certificate"));
        log(QStringLiteral("Error:certificate: ") + m_client.ErrorMessage() + QStringLiteral(" (part not sent)"));
        return finish();
    case TlsTrustQuestions::Verdict::Trusted:
        return connect();  // at once, without a wait
    case TlsTrustQuestions::Verdict::NothingRefused:
        break;
    }
    if (m_run.m_aborted)
        return finish();
    waitAndConnect(RetryWaitMs(++m_failures, m_run.m_run));
}

void UploadSession::waitAndConnect(int ms) {
    m_step = Step::RetryWait;
    m_wait.start(qMax(0, ms));
}

// A part sent again after a broken store asks what the server holds, where the server
// can resume (REST STREAM).
void UploadSession::beforeStore() {
    m_client.SetHostFileName(FileNameOfPath(m_run.cell(m_row, UploadColumn::Filename)));
    if (m_brokenStores > 0 && m_resumable)
        return run(Step::SizeBefore, [this] { m_client.SizeStep(); });
    startStore(0);
}

void UploadSession::startStore(qint64 resumeAt) {
    const QString path = m_run.cell(m_row, UploadColumn::Filename);
    m_client.SetTag(m_row);
    const auto range = m_run.m_rangeStarts.constFind(m_row);
    if (range != m_run.m_rangeStarts.cend()) {
        m_client.SetLocalFileName(m_run.m_rangeFile);
        m_client.SetLocalFileStart(*range);
        m_client.SetLocalFileLength(qMax<qint64>(0, m_partSize));
    } else {
        m_client.SetLocalFileName(path);
        m_client.SetLocalFileStart(0);
        m_client.SetLocalFileLength(-1);
    }
    m_client.SetHostFileName(FileNameOfPath(path));
    m_run.setCell(m_row, UploadColumn::Progress, QStringLiteral("Starting..."));
    m_resumeAt = resumeAt;
    m_client.SetResumeAt(resumeAt);
    m_stored = m_confirmed = m_broken = false;
    m_transferBegan = false;
    if (resumeAt > 0) {
        log(QStringLiteral("! Resuming part at byte %1").arg(resumeAt));
        return run(Step::Store, [this] { m_client.StartResumePut(); });
    }
    run(Step::Store, [this] { m_client.StartPut(); });
}

void UploadSession::storeDone(bool ok) {
    m_lastSent = m_client.TransferCount();
    m_stored = ok && confirmsStore(m_client.StatusCode());
    // A store that ended without its completion (its time ran out, or it could not
    // start) takes its outcome from the client now: the completion that comes later
    // finds no row and cannot overwrite another row's Status.
    if (m_client.Tag() >= 0) {
        m_run.setCell(int(m_client.Tag()), UploadColumn::Status, QString::number(m_client.StatusCode()));
        m_client.SetTag(-1);
    }
    m_broken = !m_stored && storeBroke();
    if (m_stored && !m_run.m_aborted)
        return run(Step::SizeAfter, [this] { m_client.SizeStep(); });
    // FEAT only where it matters, once: after a store that broke, on its own session
    // while it is open, or else on the next one.
    m_restKnown = false;
    if (m_broken && m_client.Connected())
        return run(Step::FeatAfterBreak, [this] { m_client.FeatStep(); });
    quit();
}

// A store that broke off in the middle, which the same run tries again: the transfer had
// begun, and then the data connection was lost, the time ran out or the server said 426.
bool UploadSession::storeBroke() const {
    if (!m_run.m_run.resume || m_run.m_aborted || !m_transferBegan ||
        m_brokenStores >= m_run.m_run.brokenStoreAttempts)
        return false;
    const int status = m_client.StatusCode();
    return m_timedOut || status == 426 || status == 451 || m_client.RequestResult() >= kFirstSocketError;
}

// Asks the server what it holds (SIZE on the same session). A server without SIZE (or
// any answer but 213) leaves the store as the server confirmed it.
void UploadSession::sizeDone(bool ok) {
    m_confirmed = true;
    if (ok && m_partSize >= 0 && m_client.ReplySize() != m_partSize) {
        m_confirmed = false;
        m_run.setCell(m_row, UploadColumn::Status, QStringLiteral("Error:size"));
        log(QStringLiteral("Error:size: the server holds %1 bytes of %2, the part has %3 bytes")
                .arg(m_client.ReplySize())
                .arg(m_client.HostFileName())
                .arg(m_partSize));
    }
    quit();
}

void UploadSession::quit() { run(Step::Quit, [this] { m_client.QuitStep(); }); }

// Only a store the server confirmed leaves the row at "100%": a part whose every byte
// went out but whose store failed must be sent again.
void UploadSession::quitDone() {
    if (m_confirmed)
        m_run.setCell(m_row, UploadColumn::Progress, kUploadSent);
    else if (m_run.cell(m_row, UploadColumn::Progress) == kUploadSent)
        m_run.setCell(m_row, UploadColumn::Progress, QStringLiteral("?"));
    if (m_broken && !m_run.m_aborted) {
        ++m_brokenStores;
        log(QStringLiteral("! The store broke off after %1 bytes sent: %2")
                .arg(m_lastSent)
                .arg(m_resumable && m_restKnown ? QStringLiteral("the rest of the part follows")
                                                : QStringLiteral("the part is sent again from byte 0")));
        return waitAndConnect(RetryWaitMs(m_brokenStores, m_run.m_run));
    }
    if (!m_confirmed || m_run.m_run.verify == UrlCheckMode::Off || m_run.m_aborted)
        return finish();
    // The address the manifest will publish for the part.
    m_step = Step::Verify;
    if (!m_check) {
        m_check = std::make_unique<UrlCheck>();
        m_check->onDone = [this](const UrlCheckOutcome& outcome) { verifyDone(outcome); };
    }
    const QString url = m_run.cell(m_row, UploadColumn::Site) +
                        FileNameOfPath(m_run.cell(m_row, UploadColumn::Filename));
    m_check->start(url, m_run.m_run.verify, m_partSize, m_run.cell(m_row, UploadColumn::Crc),
                   qMax(1, m_client.Timeout()));
}

void UploadSession::verifyDone(const UrlCheckOutcome& outcome) {
    const QString url = m_run.cell(m_row, UploadColumn::Site) +
                        FileNameOfPath(m_run.cell(m_row, UploadColumn::Filename));
    if (outcome.ok) {
        log(QStringLiteral("! %1 serves the part (%2)").arg(url).arg(outcome.statusCode));
    } else if (outcome.statusCode == 0) {
        // No answer at all (no such host, no connection from here) proves nothing about
        // the address; a server that answers with anything but the part does.
        log(QStringLiteral("! %1 could not be checked: %2").arg(url, outcome.reason));
    } else {
        ++m_run.m_webFailures;
        m_run.setCell(m_row, UploadColumn::Status, QStringLiteral("Error:web"));
        log(QStringLiteral("Error:web: %1: %2").arg(url, outcome.reason));
    }
    finish();
}

void UploadSession::finish() {
    m_step = Step::Idle;
    m_waiting = false;
    m_wait.stop();
    m_limit.stop();
    m_run.sessionEnded();
}

void UploadSession::timeLimitReached() {
    m_waiting = false;
    m_timedOut = true;
    m_client.AbortForTimeout();
    stepDone(false);
}

qint64 UploadSession::progress() {
    const qint64 sent = m_client.TransferCount() + (m_step == Step::Store ? m_resumeAt : 0);
    m_sinceActivity.restart();
    const int row = int(m_client.Tag());
    if (m_step != Step::Store || row < 0 || row >= m_run.m_table.rows())
        return sent;
    m_transferBegan = true;
    if (m_partSize >= 0)
        m_run.setCell(row, UploadColumn::Progress, UploadPercent(sent, m_partSize));
    if (m_run.onProgress)
        m_run.onProgress(row, sent);
    return sent;
}

void UploadSession::abort() {
    switch (m_step) {
    case Step::Idle:
        return;
    case Step::RetryWait:
        return finish();
    case Step::Verify:
        m_check->abort();
        return finish();
    default:
        m_client.Abort();
        if (m_waiting) {
            m_limitMs = kAbortEndMs;
            m_sinceActivity.restart();
            m_limit.start(kAbortEndMs);
        }
        return;
    }
}

void UploadSession::log(const QString& line) { m_run.log(m_prefix + MaskPassword(line, m_password)); }

void LogRequestDone(TFtpClient& client, TFtpRequest request, quint16 error, bool current,
                    const std::function<void(const QString&)>& log,
                    const std::function<void(int row, const QString& status)>& setStatus) {
    log(QStringLiteral("Request %1 Done.").arg(int(request)));
    log(QStringLiteral("StatusCode = %1").arg(client.StatusCode()));
    // Only the store's own completion writes Status: the codes of connect, type, quit
    // and size go to the log alone, and so does the late end of an abandoned request.
    if (request == rqPut && current && client.Tag() >= 0) {
        setStatus(int(client.Tag()), QString::number(client.StatusCode()));
        client.SetTag(-1);
    }
    log(QStringLiteral("LastResponse was : '") + client.LastResponse() + '\'');
    if (error == 0)
        log(QStringLiteral("No error"));
    else
        log(QStringLiteral("Error = %1 (").arg(error) + client.ErrorMessage() + ')');
}
