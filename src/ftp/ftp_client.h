#pragma once

#include "ftp/custom_ftp_client.h"

#include <QTimer>

// The FTP client with synchronous calls: each starts one request and pumps the event
// loop until the client is ready again or Timeout seconds have passed without progress.
// The wait sleeps on the loop (an idle wait costs no processor time), so the window
// repaints, timers run and an Abort button works while a call waits. A call started
// from inside another call's wait finds the client busy and returns false at once.
class TFtpClient : public TCustomFtpClient {
public:
    explicit TFtpClient(QObject* owner = nullptr);

    int Timeout() const { return m_timeout; }  // 15 seconds; 0 or less: no limit
    void SetTimeout(int seconds) { m_timeout = seconds; }
    bool MultiThreaded() const { return m_multiThreaded; }  // false
    void SetMultiThreaded(bool v) { m_multiThreaded = v; }

    // Each returns true when the request ended without error.
    bool Connect();
    bool SendTypeBinary();
    bool SendType();
    bool Put();
    bool Append();
    bool Get();
    bool Dir();   // LIST
    bool Ls();    // NLST
    bool Pwd();
    bool Cwd();
    bool Size();
    bool Quit();
    bool Abort();
    // A request that has waited too long: aborted, with StatusCode 426 and ErrorMessage
    // "426 Timeout" (the abort's own OnRequestDone comes later and finds them). For
    // callers that start requests and bound the wait themselves.
    void AbortForTimeout();

protected:
    bool Progress() override;

private:
    bool Synchronize(void (TCustomFtpClient::*start)());
    bool WaitUntilReady();
    void rearm();

    int m_timeout = 15;
    bool m_multiThreaded = false;
    qint64 m_deadline = 0;  // milliseconds of the steady clock
    QTimer m_wake;
};
