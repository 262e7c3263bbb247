// The upload run: one session per row still to be sent.
#include "scatter/upload_driver.h"

#include "common/text_table.h"
#include "common/user_prompt.h"
#include "ftp/ftp_client.h"
#include "net/async_socket.h"
#include "net/tls_error.h"
#include "scatter/ftp_site_address.h"
#include "ftp/password_mask.h"
#include "scatter/split_source.h"
#include "scatter/upload_table.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace {

const QString kSent = QStringLiteral("100%");

bool confirmsStore(int statusCode) { return statusCode == 226 || statusCode == 250; }

}  // namespace

UploadDriver::UploadDriver(TextTable& uploadTable, TFtpClient& client, UserPrompt& prompt, Log log,
                           SettingsSource settings)
    : m_table(uploadTable), m_client(client), m_prompt(prompt), m_log(std::move(log)),
      m_settings(std::move(settings)) {
    m_client.SetTag(-1);
}

void UploadDriver::BindClientEvents() {
    m_client.OnRequestDone = [this](TCustomFtpClient*, TFtpRequest request, quint16 error) {
        RequestDone(request, error);
    };
    m_client.OnProgress = [this](TCustomFtpClient*, qint64, bool&) { Progress(); };
    m_client.OnBgException = [this](TCustomFtpClient*, const std::exception&, bool&) { BgException(); };
}

bool UploadDriver::Send() {
    if (m_running)
        return false;
    const UploadSettings settings = m_settings ? m_settings() : UploadSettings();
    setRunning(true);
    m_aborted = false;
    m_certificateQuestions.Forget();
    try {
        for (int row = 0; row < m_table.rows() && !m_aborted; ++row)
            if (cell(row, UploadColumn::Progress) != kSent)
                sendRow(row, settings);
    } catch (...) {
        // An error that ends the run still ends it as every run ends: an abort is
        // reported and Send File comes back.
        endRun();
        throw;
    }
    return endRun();
}

void UploadDriver::sendRow(int row, const UploadSettings& settings) {
    const FtpSiteAddress address = SplitFtpSite(cell(row, UploadColumn::FtpSite));
    m_client.SetHostName(address.host);
    m_client.SetPort(address.port);
    m_client.SetUserName(cell(row, UploadColumn::UserName));
    m_password = cell(row, UploadColumn::Password);
    m_client.SetPassWord(m_password);
    m_client.SetPassive(settings.passive);
    m_client.SetTlsMode(settings.tlsMode);
    // From the connection on: the log shows every session's login, the first one's too,
    // and with it what became of TLS.
    m_client.OnDisplay = [this](TCustomFtpClient*, QString& msg) { log(msg); };
    if (!openSession(row, settings))
        return;
    m_client.SendTypeBinary();
    m_client.SendType();

    const QString path = cell(row, UploadColumn::Filename);
    m_client.SetTag(row);
    m_client.SetLocalFileName(path);
    m_client.SetHostFileName(FileNameOfPath(path));
    setCell(row, UploadColumn::Progress, QStringLiteral("Starting..."));
    const bool stored = m_client.Put() && confirmsStore(m_client.StatusCode());
    takeStoreOutcome(row);
    const bool confirmed = stored && !m_aborted && storedSizeMatches(row);
    m_client.Quit();
    // Only a store the server confirmed leaves the row at "100%": a part whose every
    // byte went out but whose store failed must be sent again by the next Send File.
    if (confirmed)
        setCell(row, UploadColumn::Progress, kSent);
    else if (cell(row, UploadColumn::Progress) == kSent)
        setCell(row, UploadColumn::Progress, QStringLiteral("?"));
}

// Tries until connected or aborted, without a limit: a server that is down now may be
// up in a minute. The waits between attempts grow, and Abort ends a wait at once. False
// when the row is not to be sent in this run: aborted; a login the server refused, or
// one that could not start (an empty user name or password), or, with TLS required, a
// session that could not be protected (the session ends with QUIT, nothing more goes to
// that server, and the row's Status has the code); a TLS handshake that failed after
// the server agreed to it, or a server certificate the user does not trust (which no
// further attempt would change).
bool UploadDriver::openSession(int row, const UploadSettings& settings) {
    int failures = 0;
    int attempt = 0;
    while (!m_aborted) {
        log(QStringLiteral("Connect Attempt # ") + QString::number(++attempt));
        if (m_client.Connect())
            return true;
        if (m_client.Connected()) {
            setCell(row, UploadColumn::Status, QString::number(m_client.StatusCode()));
            m_client.Quit();
            return false;
        }
        if (m_client.RequestResult() == TLS_ERR_HANDSHAKE) {
            setCell(row, UploadColumn::Status, QStringLiteral("Error:TLS"));
            log(QStringLiteral("Error:TLS: ") + m_client.ErrorMessage() + QStringLiteral(" (part not sent)"));
            return false;
        }
        switch (m_certificateQuestions.AskAbout(m_prompt, m_client.ControlSocket()->TlsHostPort())) {
        case TlsTrustQuestions::Verdict::Refused:
            setCell(row, UploadColumn::Status, QStringLiteral("Error:certificate"));
            log(QStringLiteral("Error:certificate: ") + m_client.ErrorMessage() + QStringLiteral(" (part not sent)"));
            return false;
        case TlsTrustQuestions::Verdict::Trusted:
            continue;  // at once, without a wait
        case TlsTrustQuestions::Verdict::NothingRefused:
            break;
        }
        waitBeforeRetry(RetryWaitMs(++failures, settings));
    }
    return false;
}

// The event loop runs on while waiting (the window stays usable, Abort FTP works). It is
// pumped here rather than by a nested QEventLoop, which would return at once for good
// once the application has been told to quit and turn the retries into a busy loop.
void UploadDriver::waitBeforeRetry(int ms) {
    bool due = false;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, [&due] { due = true; });
    timer.start(qMax(0, ms));
    while (!due && !m_aborted)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// A store whose completion has not come by the time Put returns (its time limit ran out,
// or it could not start) takes its outcome from the client now: the completion that
// comes later finds no row and cannot overwrite another row's Status.
void UploadDriver::takeStoreOutcome(int row) {
    if (m_client.Tag() < 0)
        return;
    setCell(row, UploadColumn::Status, QString::number(m_client.StatusCode()));
    m_client.SetTag(-1);
}

// Asks the server what it holds (SIZE on the same session). A server without SIZE (or
// any answer but 213) leaves the store as the server confirmed it.
bool UploadDriver::storedSizeMatches(int row) {
    if (!m_client.Size())
        return true;
    bool isNumber = false;
    const qint64 partSize = cell(row, UploadColumn::Size).toLongLong(&isNumber);
    if (!isNumber || m_client.ReplySize() == partSize)
        return true;
    setCell(row, UploadColumn::Status, QStringLiteral("Error:size"));
    log(QStringLiteral("Error:size: the server holds %1 bytes of %2, the part has %3 bytes")
            .arg(m_client.ReplySize())
            .arg(m_client.HostFileName())
            .arg(partSize));
    return false;
}

bool UploadDriver::endRun() {
    const bool aborted = m_aborted;
    m_aborted = false;
    bool allSent = !aborted;
    for (int row = 0; row < m_table.rows() && allSent; ++row)
        allSent = cell(row, UploadColumn::Progress) == kSent;
    setRunning(false);
    if (aborted)
        m_prompt.information(QStringLiteral("FTP-Aborted"));
    return allSent;
}

void UploadDriver::setRunning(bool running) {
    m_running = running;
    if (onRunning)
        onRunning(running);
}

void UploadDriver::Abort() {
    m_aborted = true;
    m_client.Abort();
}

void UploadDriver::RequestDone(TFtpRequest request, quint16 error) {
    log(QStringLiteral("Request %1 Done.").arg(int(request)));
    log(QStringLiteral("StatusCode = %1").arg(m_client.StatusCode()));
    // Only the store's own completion writes Status: the codes of connect, type, quit
    // and size go to the log alone, also when one of them completes late.
    if (request == rqPut && m_client.Tag() >= 0) {
        setCell(int(m_client.Tag()), UploadColumn::Status, QString::number(m_client.StatusCode()));
        m_client.SetTag(-1);
    }
    log(QStringLiteral("LastResponse was : '") + m_client.LastResponse() + '\'');
    if (error == 0)
        log(QStringLiteral("No error"));
    else
        log(QStringLiteral("Error = %1 (").arg(error) + m_client.ErrorMessage() + ')');
}

qint64 UploadDriver::Progress() {
    const qint64 sent = m_client.TransferCount();
    const int row = int(m_client.Tag());
    if (row < 0 || row >= m_table.rows())
        return sent;
    bool isNumber = false;
    const qint64 size = cell(row, UploadColumn::Size).toLongLong(&isNumber);
    if (isNumber)
        setCell(row, UploadColumn::Progress, UploadPercent(sent, size));
    if (onProgress)
        onProgress(row, sent);
    return sent;
}

void UploadDriver::BgException() { log(QStringLiteral("BGException")); }

void UploadDriver::log(const QString& line) {
    if (m_log)
        m_log(MaskPassword(line, m_password));
}

QString UploadDriver::cell(int row, int column) const { return m_table.cell(row, column); }

// The table may have been split anew by a handler that ran inside the run: a row that
// is gone is not written.
void UploadDriver::setCell(int row, int column, const QString& text) {
    if (row >= 0 && row < m_table.rows())
        m_table.setCell(row, column, text);
}
