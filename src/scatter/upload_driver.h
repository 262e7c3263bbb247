#pragma once

#include "ftp/ftp_types.h"
#include "net/tls_trust_question.h"
#include "scatter/upload_settings.h"

#include <QHash>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class TFtpClient;
class TextTable;
class UploadSession;
class UserPrompt;

// Send File and Abort FTP: uploads every part of the upload table that is not at
// "100%" to the account of its row, each over a session of its own (connect and log
// in, binary type twice, store under the part's own name, quit). Progress and the
// store's reply code go into the row, every protocol line and result into the log. A
// connection that fails is tried again until Abort; a row that cannot be sent as it
// stands is given up for the run at once, and the run goes on: a login the server
// refused or that could not start (Status: the code), a TLS handshake that failed after
// the server agreed to it ("Error:TLS"), a certificate the user does not trust
// ("Error:certificate"). The window and parcelwick-cli drive the same run: it never
// sees a widget, only the table, the clients, the prompt and a log callback.
//
// The run is driven by the clients' completion events and by timers: Send starts it
// and returns at once, and its end comes through onFinished. With one session at a time
// (the default) the rows go one after another in table order through the client the
// driver is given; with more, further sessions get clients of the driver's own, each
// takes the next row whose account has no session, and every log line names its site.
class UploadDriver {
public:
    using Log = std::function<void(const QString& line)>;
    using SettingsSource = std::function<UploadSettings()>;

    // Sets the client's Tag to -1: no row's store is in progress.
    UploadDriver(TextTable& uploadTable, TFtpClient& client, UserPrompt& prompt, Log log, SettingsSource settings);
    ~UploadDriver();
    UploadDriver(const UploadDriver&) = delete;
    UploadDriver& operator=(const UploadDriver&) = delete;

    // ---- what the front ends hear (each optional) ----
    // A run started (true) or ended (false), however it ended.
    std::function<void(bool running)> onRunning;
    // The row's part has this many bytes sent.
    std::function<void(int row, qint64 sent)> onProgress;
    // The run has ended (after onRunning(false) and an abort's "FTP-Aborted"): true when
    // it was not aborted, every row ends at "100%" (sent, or not to be sent) and no
    // checked web address failed its part ("Error:web"). It comes
    // from the event or the call that ended the last session: from Abort during a wait,
    // and from Send itself when nothing is to be sent.
    std::function<void(bool allSent)> onFinished;

    // Points the given client's completion, progress and background-error events at
    // this driver. (The window points them at its own handlers, which call the ones
    // below.) The driver's own clients are always bound to it.
    void BindClientEvents();

    // Parts that are byte ranges of one file instead of files of their own: the row's
    // part is sent from `path`, from its start here on, for the row's Size bytes. The
    // row's Filename still names the part (its file name is the name on the server).
    void SendRowsFromRanges(const QString& path, const QHash<int, qint64>& rowStarts);

    // Send File: starts one upload run. False, doing nothing, while a run is in progress.
    bool Send();
    // Abort FTP: ends every session of a run at once (a session in a request after the
    // request's failing end, which comes from the event loop); the run then ends with
    // "FTP-Aborted". Outside a run the flag stays until the next run clears it; nothing
    // is shown.
    void Abort();

    // ---- the given client's events ----
    // Logs the request's number, reply and error; the end of a store gives its row the
    // reply code as Status.
    void RequestDone(TFtpRequest request, quint16 error);
    // The row of the store in progress shows the share sent; returns the bytes sent.
    qint64 Progress();
    void BgException();

    bool running() const { return m_running; }
    bool aborted() const { return m_aborted; }
    void setAborted(bool aborted) { m_aborted = aborted; }

private:
    friend class UploadSession;

    UploadSession* sessionOf(const TFtpClient& client) const;
    void schedule();
    int nextRow() const;
    QString accountOf(int row) const;
    QString prefixOf(int row) const;
    void sessionEnded();
    void endRun();
    void setRunning(bool running);
    void log(const QString& line);
    QString cell(int row, int column) const;
    void setCell(int row, int column, const QString& text);

    TextTable& m_table;
    TFtpClient& m_client;
    UserPrompt& m_prompt;
    Log m_log;
    SettingsSource m_settings;
    UploadSettings m_run;
    bool m_running = false;
    bool m_aborted = false;  // ftpAborted
    int m_webFailures = 0;  // parts of this run whose web address does not serve them
    bool m_scheduling = false;
    bool m_scheduleAgain = false;
    // Rows taken by a session in this run.
    std::vector<bool> m_taken;
    // The clients of the sessions after the first, which runs on the given client; the
    // sessions go first.
    std::vector<std::unique_ptr<TFtpClient>> m_ownClients;
    std::vector<std::unique_ptr<UploadSession>> m_sessions;
    int m_sessionLimit = 1;
    // Several accounts on one host: the log names them by user too.
    QHash<QString, int> m_accountsOfSite;
    QString m_rangeFile;
    QHash<int, qint64> m_rangeStarts;
    // A certificate the user declined is not asked about again in the same run.
    TlsTrustQuestions m_certificateQuestions;
};
