#include "ftp/ftp_client.h"

#include "net/async_socket.h"
#include "net/notification_target.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QPointer>

namespace {

qint64 steadyMs() { return QDeadlineTimer::current().deadline(); }

}  // namespace

TFtpClient::TFtpClient(QObject* owner) : TCustomFtpClient(owner) {
    m_wake.setSingleShot(true);
    // The timer only wakes the wait so that it looks at the clock.
    connect(&m_wake, &QTimer::timeout, this, [] {});
}

bool TFtpClient::Connect() { return Synchronize(&TCustomFtpClient::StartConnect); }
bool TFtpClient::SendTypeBinary() { return Synchronize(&TCustomFtpClient::TypeBinaryStep); }
bool TFtpClient::SendType() { return Synchronize(&TCustomFtpClient::TypeStep); }
bool TFtpClient::Put() { return Synchronize(&TCustomFtpClient::StartPut); }
bool TFtpClient::Append() { return Synchronize(&TCustomFtpClient::StartAppend); }
bool TFtpClient::Get() { return Synchronize(&TCustomFtpClient::StartGet); }
bool TFtpClient::Dir() { return Synchronize(&TCustomFtpClient::StartList); }
bool TFtpClient::Ls() { return Synchronize(&TCustomFtpClient::StartNlst); }
bool TFtpClient::Pwd() { return Synchronize(&TCustomFtpClient::PwdStep); }
bool TFtpClient::Cwd() { return Synchronize(&TCustomFtpClient::CwdStep); }
bool TFtpClient::Size() { return Synchronize(&TCustomFtpClient::SizeStep); }
bool TFtpClient::Quit() { return Synchronize(&TCustomFtpClient::QuitStep); }

bool TFtpClient::Abort() {
    AbortNow();
    return true;
}

void TFtpClient::AbortForTimeout() {
    AbortNow();
    setErrorState(426, QStringLiteral("426 Timeout"));
}

bool TFtpClient::Progress() {
    const bool goOn = TCustomFtpClient::Progress();
    // A transfer that keeps moving never times out: the limit counts from the last chunk.
    if (m_timeout > 0)
        m_deadline = steadyMs() + qint64(m_timeout) * 1000;
    return goOn;
}

bool TFtpClient::Synchronize(void (TCustomFtpClient::*start)()) {
    try {
        (this->*start)();
    } catch (const std::exception&) {
        return false;
    }
    return WaitUntilReady();
}

// A progress report only moves the deadline later: the timer may fire at the old one,
// and the wait then sets it again for what is left. So it is set once per deadline
// reached, not once per block moved.
void TFtpClient::rearm() {
    if (m_timeout <= 0 || m_wake.isActive())
        return;
    const qint64 left = qMax<qint64>(0, m_deadline - steadyMs());
    m_wake.start(int(qMin<qint64>(left + 1, 24LL * 3600 * 1000)));
}

bool TFtpClient::WaitUntilReady() {
    m_deadline = steadyMs() + qint64(m_timeout) * 1000;
    m_wake.stop();
    QPointer<TFtpClient> alive(this);
    for (;;) {
        if (State() == fcReady) {
            const bool ok = RequestResult() == 0;
            m_wake.stop();
            // The request's completion event is already queued: it runs inside this
            // call, so the caller sees its effects when the call returns.
            QCoreApplication::sendPostedEvents(Target());
            return ok;
        }
        if (QCoreApplication::closingDown() || (m_timeout > 0 && steadyMs() > m_deadline)) {
            m_wake.stop();
            AbortForTimeout();
            return false;
        }
        rearm();
        if (m_multiThreaded)
            ControlSocket()->ProcessMessages();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (!alive)
            return false;
    }
}
