// THttpClient: the bounds on its waits. A silent server, or one that accepts and never
// answers the TLS handshake, would otherwise hold a request (and a synchronous Get) for
// ever; each wait ends the request after Timeout seconds, saying which wait it was.
#include "http/http_client.h"

#include "net/async_socket.h"

#include <QTimer>

#include <limits>

namespace {

// The socket tells nothing between the end of its TCP connect and the end of the TLS
// handshake; while an https connection is being made the client looks, a tenth of the
// bound apart but at least once a second, whether the handshake has begun, which then
// gets a bound of its own.
constexpr qint64 kHandshakeLookMs = 1000;

}  // namespace

int THttpClient::waitBound() const { return m_waitPhase == WaitPhase::Body ? m_bodyIdleTimeout : m_timeout; }

void THttpClient::startWait(WaitPhase phase) {
    m_waitPhase = phase;
    if (phase == WaitPhase::None || waitBound() == 0) {
        m_waitTimer->stop();
        return;
    }
    m_waitClock.start();
    armWait();
}

void THttpClient::armWait() {
    qint64 left = qint64(waitBound()) * 1000 - m_waitClock.elapsed();
    if (m_waitPhase == WaitPhase::Connect && m_tls)
        left = qMin(left, qMin(qint64(m_timeout) * 100, kHandshakeLookMs));
    // A bound past what one timer holds (about 24 days) is looked at again when it fires.
    m_waitTimer->start(int(qMin(qMax(left, qint64(0)), qint64(std::numeric_limits<int>::max()))));
}

void THttpClient::waitTimerFired() {
    if (m_waitPhase == WaitPhase::None)
        return;
    if (m_waitPhase == WaitPhase::Connect && m_tls && m_socket->TlsActive()) {
        startWait(WaitPhase::Handshake);
        return;
    }
    // A document's bytes restart its clock as they come; the timer only looks again.
    if (m_waitClock.elapsed() < qint64(waitBound()) * 1000) {
        armWait();
        return;
    }
    timeOut();
}

// Ends the request as a failure of this side: the connection (or the lookup) is given
// up, and the request ends as any failed one does, from the connection-closed routine.
void THttpClient::timeOut() {
    static const char* const waits[] = {"", "no connection", "no TLS handshake", "no response header"};
    const QString reason =
        m_waitPhase == WaitPhase::Body
            ? QStringLiteral("no data for %1 s after %2 bytes").arg(m_bodyIdleTimeout).arg(m_rcvdCount)
            : QStringLiteral("%1 within %2 s").arg(QLatin1String(waits[int(m_waitPhase)])).arg(m_timeout);
    m_waitPhase = WaitPhase::None;
    fail(404, reason, heTimeout);
    m_closedRoutine = ClosedRoutine::ConnectionClosed;
    if (m_state == hsDnsLookup) {
        // Its answer must not start a connection for a request that has ended.
        connectionClosed();
        try {
            m_socket->CancelDnsLookup();
        } catch (const std::exception&) {
            // A lookup that cannot be cancelled is forgotten; its answer finds the request ended.
        }
        return;
    }
    stopReading();
    connectionClosed();
}
