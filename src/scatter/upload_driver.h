#pragma once

#include "ftp/ftp_types.h"
#include "net/tls_trust_question.h"
#include "scatter/upload_settings.h"

#include <QString>
#include <functional>

class TFtpClient;
class TextTable;
class UserPrompt;

// Send File and Abort FTP: uploads, one after another, every part of the upload table
// that is not at "100%" to the account of its row, each over a session of its own
// (connect and log in, binary type twice, store under the part's own name, quit),
// through the one FTP client it is given. Progress and the store's reply code go into
// the row, every protocol line and result into the log. A connection that fails is
// tried again until Abort; a row that cannot be sent as it stands is given up for the
// run at once, and the run goes on: a login the server refused or that could not start
// (Status: the code), a TLS handshake that failed after the server agreed to it
// ("Error:TLS"), a certificate the user does not trust ("Error:certificate"). The
// window and parcelwick-cli drive the same run: it never sees a widget, only the table,
// the client, the prompt and a log callback.
//
// The run is one call that waits inside the client's synchronous calls, so the client's
// events, Abort and every other handler run nested inside it.
class UploadDriver {
public:
    using Log = std::function<void(const QString& line)>;
    using SettingsSource = std::function<UploadSettings()>;

    // Sets the client's Tag to -1: no row's store is in progress.
    UploadDriver(TextTable& uploadTable, TFtpClient& client, UserPrompt& prompt, Log log, SettingsSource settings);
    UploadDriver(const UploadDriver&) = delete;
    UploadDriver& operator=(const UploadDriver&) = delete;

    // ---- what the front ends hear (each optional) ----
    // A run started (true) or ended (false), however it ended.
    std::function<void(bool running)> onRunning;
    // The row's part has this many bytes sent.
    std::function<void(int row, qint64 sent)> onProgress;

    // Points the client's completion, progress and background-error events at this
    // driver. (The window points them at its own handlers, which call the ones below.)
    void BindClientEvents();

    // Send File: one upload run. Does nothing while a run is in progress. True when the
    // run was not aborted and every row ends at "100%" (sent, or not to be sent).
    bool Send();
    // Abort FTP: ends the pending call of a run at once, and with it the run (after the
    // current row's remaining steps, which fail on the closed connection). Outside a run
    // the flag stays until the next run clears it; nothing is shown.
    void Abort();

    // ---- the client's events ----
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
    void sendRow(int row, const UploadSettings& settings);
    bool openSession(int row, const UploadSettings& settings);
    void waitBeforeRetry(int ms);
    void takeStoreOutcome(int row);
    bool storedSizeMatches(int row);
    bool endRun();
    void setRunning(bool running);
    void log(const QString& line);
    QString cell(int row, int column) const;
    void setCell(int row, int column, const QString& text);

    TextTable& m_table;
    TFtpClient& m_client;
    UserPrompt& m_prompt;
    Log m_log;
    SettingsSource m_settings;
    bool m_running = false;
    bool m_aborted = false;  // ftpAborted
    // A certificate the user declined is not asked about again in the same run.
    TlsTrustQuestions m_certificateQuestions;
    // The account of the session in progress: its password never reaches the log.
    QString m_password;
};
