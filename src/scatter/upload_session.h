#pragma once

#include "ftp/ftp_types.h"

#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class TFtpClient;
class UploadDriver;
class UrlCheck;
struct UrlCheckOutcome;

// The request-done lines of the FTP log ("Request 17 Done.", "StatusCode = 226", the
// last response, the error). The current end of a store (not a late one) gives the row
// in the client's Tag the reply code as Status.
void LogRequestDone(TFtpClient& client, TFtpRequest request, quint16 error, bool current,
                    const std::function<void(const QString&)>& log,
                    const std::function<void(int row, const QString& status)>& setStatus);

// One part's way to its account, as a small state machine driven by its client's
// completions: connect and log in (tried again after a wait until connected or
// aborted), TYPE I twice, STOR, SIZE, QUIT; after a store that broke off, FEAT (once)
// and a new session whose SIZE and REST resume it where the server offers that. Each request is bounded by the client's Timeout
// (counted from the last progress of a transfer); the waits between attempts are
// timers. The session runs one row at a time and tells the driver when it is done.
class UploadSession {
public:
    UploadSession(UploadDriver& run, TFtpClient& client);
    ~UploadSession();
    UploadSession(const UploadSession&) = delete;
    UploadSession& operator=(const UploadSession&) = delete;

    TFtpClient& client() const { return m_client; }
    bool idle() const { return m_step == Step::Idle; }
    int row() const { return m_row; }
    const QString& account() const { return m_account; }
    const QString& password() const { return m_password; }

    // Sends the row's part; the log lines of this session begin with `prefix`.
    void start(int row, const QString& account, const QString& prefix);
    void requestDone(TFtpRequest request, quint16 error);
    // The part's bytes sent so far (what was already on the server included).
    qint64 progress();
    void bgException() { log(QStringLiteral("BGException")); }
    void abort();

private:
    enum class Step {
        Idle, Connecting, RetryWait, TypeBinary, Type, Feat, SizeBefore, Store, FeatAfterBreak, SizeAfter, Quit,
        Verify
    };

    void connect();
    void run(Step step, const std::function<void()>& start);
    void stepDone(bool ok);
    void connectDone(bool ok);
    void waitAndConnect(int ms);
    void beforeStore();
    void startStore(qint64 resumeAt);
    void storeDone(bool ok);
    void sizeDone(bool ok);
    void quit();
    void quitDone();
    void verifyDone(const UrlCheckOutcome& outcome);
    bool storeBroke() const;
    void finish();
    void timeLimitReached();
    void log(const QString& line);

    UploadDriver& m_run;
    TFtpClient& m_client;
    Step m_step = Step::Idle;
    int m_row = -1;
    QString m_account;
    QString m_password;
    QString m_prefix;
    qint64 m_partSize = 0;
    int m_attempt = 0;
    int m_failures = 0;
    int m_busyFailures = 0;
    int m_brokenStores = 0;
    // The request whose end the session waits for (its client's RequestSerial).
    bool m_waiting = false;
    quint32 m_serial = 0;
    bool m_timedOut = false;
    // The bound of the request in progress, counted from its start or last progress.
    qint64 m_limitMs = 0;
    bool m_transferBegan = false;
    qint64 m_lastSent = 0;  // bytes the last store handed to the network
    // The outcome of the row so far.
    bool m_stored = false;
    bool m_confirmed = false;
    bool m_broken = false;
    bool m_resumable = false;
    bool m_restKnown = false;  // whether the server offers REST STREAM is known
    qint64 m_resumeAt = 0;
    std::unique_ptr<UrlCheck> m_check;
    QTimer m_wait;
    QTimer m_limit;
    QElapsedTimer m_sinceActivity;
};
