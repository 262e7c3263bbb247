#include "gather/host_caps.h"

#include "http/http_request.h"
#include "http/parse_url.h"
#include "net/socket_error.h"

#include <QTimer>
#include <utility>

HostSlot::HostSlot(HostSlot&& other) noexcept
    : m_caps(std::exchange(other.m_caps, nullptr)), m_host(std::move(other.m_host)) {}

HostSlot& HostSlot::operator=(HostSlot&& other) noexcept {
    if (this != &other) {
        reset();
        m_caps = std::exchange(other.m_caps, nullptr);
        m_host = std::move(other.m_host);
    }
    return *this;
}

void HostSlot::reset() {
    if (HostCaps* caps = std::exchange(m_caps, nullptr))
        caps->release(m_host);
}

HostCaps::HostCaps() = default;

QString HostCaps::HostOf(const QString& url) {
    const ParsedUrl parts = ParseURL(url);
    const QString scheme = parts.scheme.isEmpty() ? QStringLiteral("http") : parts.scheme;
    return parts.host.toLower() + ':' + (parts.port.isEmpty() ? QString::number(HttpDefaultPort(scheme)) : parts.port);
}

int HostCaps::capOf(const QString& host) const { return qMax(m_cap - m_lowered.value(host), 1); }

HostSlot HostCaps::acquire(const QString& host) {
    if (!hasRoom(host))
        return HostSlot();
    ++m_open[host];
    return HostSlot(this, host);
}

bool HostCaps::noteAnswer(const QString& host, quint16 error, int statusCode) {
    if (error != WSAECONNREFUSED && !(error == 0 && statusCode == 503))
        return false;
    if (capOf(host) <= 1)
        return false;
    m_lowered[host] = m_cap - capOf(host) + 1;
    return true;
}

void HostCaps::release(const QString& host) {
    if (--m_open[host] <= 0)
        m_open.remove(host);
    if (m_freedPosted || !onFreed)
        return;
    m_freedPosted = true;
    QTimer::singleShot(0, &m_context, [this] {
        m_freedPosted = false;
        if (onFreed)
            onFreed();
    });
}
