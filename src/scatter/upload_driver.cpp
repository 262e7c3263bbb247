// The upload run: which row goes next, to which session, and how a run ends.
#include "scatter/upload_driver.h"

#include "common/text_table.h"
#include "common/user_prompt.h"
#include "ftp/ftp_client.h"
#include "scatter/ftp_site_address.h"
#include "scatter/upload_session.h"
#include "scatter/upload_table.h"

#include <QSet>

#include <algorithm>

namespace {

constexpr int kMostSessions = 8;

}  // namespace

UploadDriver::UploadDriver(TextTable& uploadTable, TFtpClient& client, UserPrompt& prompt, Log log,
                           SettingsSource settings)
    : m_table(uploadTable), m_client(client), m_prompt(prompt), m_log(std::move(log)),
      m_settings(std::move(settings)) {
    m_client.SetTag(-1);
    m_sessions.push_back(std::make_unique<UploadSession>(*this, m_client));
}

UploadDriver::~UploadDriver() {
    // The sessions' timers go before the clients they point at.
    m_sessions.clear();
}

void UploadDriver::BindClientEvents() {
    m_client.OnRequestDone = [this](TCustomFtpClient*, TFtpRequest request, quint16 error) {
        RequestDone(request, error);
    };
    m_client.OnProgress = [this](TCustomFtpClient*, qint64, bool&) { Progress(); };
    m_client.OnBgException = [this](TCustomFtpClient*, const std::exception&, bool&) { BgException(); };
}

void UploadDriver::SendRowsFromRanges(const QString& path, const QHash<int, qint64>& rowStarts) {
    m_rangeFile = path;
    m_rangeStarts = rowStarts;
}

bool UploadDriver::Send() {
    if (m_running)
        return false;
    m_run = m_settings ? m_settings() : UploadSettings();
    setRunning(true);
    m_aborted = false;
    m_webFailures = 0;
    m_certificateQuestions.Forget();
    m_taken.assign(size_t(m_table.rows()), false);
    QSet<QString> accounts;
    QHash<QString, QSet<QString>> usersOfSite;
    for (int row = 0; row < m_table.rows(); ++row) {
        if (cell(row, UploadColumn::Progress) == kUploadSent)
            continue;
        accounts << accountOf(row);
        usersOfSite[cell(row, UploadColumn::FtpSite)] << cell(row, UploadColumn::UserName);
    }
    m_accountsOfSite.clear();
    for (auto it = usersOfSite.cbegin(); it != usersOfSite.cend(); ++it)
        m_accountsOfSite[it.key()] = int(it.value().size());
    m_sessionLimit = std::clamp(std::min(m_run.sessions, int(accounts.size())), 1, kMostSessions);
    while (int(m_sessions.size()) < m_sessionLimit) {
        auto& client = m_ownClients.emplace_back(std::make_unique<TFtpClient>());
        client->SetTimeout(m_client.Timeout());
        client->SetTag(-1);
        auto session = std::make_unique<UploadSession>(*this, *client);
        UploadSession* s = session.get();
        client->OnRequestDone = [s](TCustomFtpClient*, TFtpRequest request, quint16 error) {
            s->requestDone(request, error);
        };
        client->OnProgress = [s](TCustomFtpClient*, qint64, bool&) { s->progress(); };
        client->OnBgException = [s](TCustomFtpClient*, const std::exception&, bool&) { s->bgException(); };
        m_sessions.push_back(std::move(session));
    }
    schedule();
    return true;
}

// Gives every idle session of the run the next row it may take; ends the run when no
// session has anything left. A session that ends at once while it is given its row
// (Abort came first) asks again, and the loop goes round once more instead.
void UploadDriver::schedule() {
    if (m_scheduling) {
        m_scheduleAgain = true;
        return;
    }
    m_scheduling = true;
    do {
        m_scheduleAgain = false;
        for (int i = 0; i < m_sessionLimit && !m_aborted; ++i) {
            UploadSession& session = *m_sessions[size_t(i)];
            if (!session.idle())
                continue;
            const int row = nextRow();
            if (row < 0)
                break;
            m_taken[size_t(row)] = true;
            session.start(row, accountOf(row), prefixOf(row));
        }
    } while (m_scheduleAgain);
    m_scheduling = false;
    if (m_running && std::all_of(m_sessions.begin(), m_sessions.end(), [](const auto& s) { return s->idle(); }))
        endRun();
}

// The first row not yet taken in this run and not at "100%" whose account has no
// session now: with one session, the rows in table order.
int UploadDriver::nextRow() const {
    QSet<QString> busy;
    for (const auto& s : m_sessions)
        if (!s->idle())
            busy << s->account();
    for (int row = 0; row < m_table.rows(); ++row) {
        if ((size_t(row) < m_taken.size() && m_taken[size_t(row)]) || cell(row, UploadColumn::Progress) == kUploadSent)
            continue;
        if (!busy.contains(accountOf(row)))
            return row;
    }
    return -1;
}

// An account is a user at a host and port: shared-hosting accounts limit sessions per user.
QString UploadDriver::accountOf(int row) const {
    const FtpSiteAddress address = SplitFtpSite(cell(row, UploadColumn::FtpSite));
    return cell(row, UploadColumn::UserName) + '@' + address.host.toLower() + ':' + address.port;
}

// With more than one session at work, each log line says whose it is: the site, and the
// user where several accounts of the run share the site.
QString UploadDriver::prefixOf(int row) const {
    if (m_sessionLimit <= 1)
        return QString();
    const QString site = cell(row, UploadColumn::FtpSite);
    if (m_accountsOfSite.value(site) > 1)
        return '[' + cell(row, UploadColumn::UserName) + '@' + site + QStringLiteral("] ");
    return '[' + site + QStringLiteral("] ");
}

void UploadDriver::sessionEnded() { schedule(); }

void UploadDriver::endRun() {
    const bool aborted = m_aborted;
    m_aborted = false;
    bool allSent = !aborted && m_webFailures == 0;
    for (int row = 0; row < m_table.rows() && allSent; ++row)
        allSent = cell(row, UploadColumn::Progress) == kUploadSent;
    setRunning(false);
    if (aborted)
        m_prompt.information(QStringLiteral("FTP-Aborted"));
    if (onFinished)
        onFinished(allSent);
}

void UploadDriver::setRunning(bool running) {
    m_running = running;
    if (onRunning)
        onRunning(running);
}

void UploadDriver::Abort() {
    m_aborted = true;
    if (!m_running) {
        m_client.Abort();
        return;
    }
    // Sessions that end at once must not end the run before every session has heard.
    m_scheduling = true;
    for (const auto& session : m_sessions)
        session->abort();
    m_scheduling = false;
    schedule();
}

UploadSession* UploadDriver::sessionOf(const TFtpClient& client) const {
    for (const auto& s : m_sessions)
        if (&s->client() == &client)
            return s.get();
    return nullptr;
}

void UploadDriver::RequestDone(TFtpRequest request, quint16 error) {
    if (UploadSession* session = sessionOf(m_client); session && !session->idle())
        return session->requestDone(request, error);
    LogRequestDone(m_client, request, error, true, [this](const QString& line) { log(line); },
                   [this](int row, const QString& status) { setCell(row, UploadColumn::Status, status); });
}

qint64 UploadDriver::Progress() {
    if (UploadSession* session = sessionOf(m_client); session && !session->idle())
        return session->progress();
    return m_client.TransferCount();
}

void UploadDriver::BgException() { log(QStringLiteral("BGException")); }

void UploadDriver::log(const QString& line) {
    if (m_log)
        m_log(line);
}

QString UploadDriver::cell(int row, int column) const { return m_table.cell(row, column); }

// The table may have been split anew while the run goes on: a row that is gone is not
// written.
void UploadDriver::setCell(int row, int column, const QString& text) {
    if (row >= 0 && row < m_table.rows())
        m_table.setCell(row, column, text);
}
