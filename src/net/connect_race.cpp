#include "net/connect_race.h"

#include "net/socket_error.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <unistd.h>

ConnectRace::ConnectRace(std::vector<TSocketAddress> waiting, int firstError, Opener open, Won won, Lost lost)
    : m_waiting(std::move(waiting)), m_timer(new QTimer), m_firstPending(firstError == 0), m_lastError(firstError),
      m_open(std::move(open)), m_won(std::move(won)), m_lost(std::move(lost)) {
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setInterval(AttemptDelayMs);
    QObject::connect(m_timer, &QTimer::timeout, m_timer, [this] { startNext(); });
    if (m_firstPending)
        m_timer->start();
    else
        startNext();
}

ConnectRace::~ConnectRace() {
    // The race may end inside a signal of its own timer or notifier: they go later.
    m_timer->stop();
    m_timer->deleteLater();
    for (const Attempt& a : m_attempts) {
        a.notifier->setEnabled(false);
        a.notifier->deleteLater();
        ::close(a.handle);
    }
}

void ConnectRace::firstFailed(int error) {
    m_firstPending = false;
    failed(error);
}

bool ConnectRace::startNext() {
    while (m_next < m_waiting.size()) {
        const TSocketAddress to = m_waiting[m_next++];
        int error = 0;
        const int handle = m_open(to, error);
        if (handle >= 0) {
            auto* notifier = new QSocketNotifier(handle, QSocketNotifier::Write);
            QObject::connect(notifier, &QSocketNotifier::activated, notifier, [this, handle] { attemptReady(handle); });
            m_attempts.push_back({handle, to, notifier});
            m_timer->start();
            return true;
        }
        // Refused before it began (no route for that family, say): on to the next one.
        m_lastError = error;
    }
    m_timer->stop();
    if (!m_attempts.empty() || m_firstPending)
        return true;
    const Lost lost = m_lost;
    lost(m_lastError);
    return false;
}

void ConnectRace::attemptReady(int handle) {
    const auto it = std::find_if(m_attempts.begin(), m_attempts.end(), [handle](const Attempt& a) {
        return a.handle == handle;
    });
    if (it == m_attempts.end())
        return;
    int soError = 0;
    socklen_t len = sizeof soError;
    if (getsockopt(handle, SOL_SOCKET, SO_ERROR, &soError, &len) != 0)
        soError = errno;
    const Attempt attempt = *it;
    m_attempts.erase(it);
    attempt.notifier->setEnabled(false);
    attempt.notifier->deleteLater();
    if (soError == 0) {
        const Won won = m_won;
        won(attempt.handle, attempt.to);
        return;
    }
    ::close(attempt.handle);
    failed(WinsockErrorFromErrno(soError));
}

void ConnectRace::failed(int error) {
    m_lastError = error;
    startNext();
}
