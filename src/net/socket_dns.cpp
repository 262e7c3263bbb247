// Asynchronous name lookups of TAsyncSocket, on QHostInfo.
#include "net/async_socket.h"

#include "net/notification_target.h"
#include "net/socket_lookup.h"
#include "net/socket_private.h"

#include <QHash>
#include <QHostAddress>
#include <QHostInfo>

#include <arpa/inet.h>
#include <mutex>

namespace {

std::mutex g_overrideMutex;
QHash<QString, QStringList> g_overrides;

int lookupError(const QHostInfo& info) {
    switch (info.error()) {
    case QHostInfo::NoError: return 0;
    case QHostInfo::HostNotFound: return WSAHOST_NOT_FOUND;
    default: return WSATRY_AGAIN;
    }
}

} // namespace

bool TAsyncSocket::SetResolveOverride(const QString& name, const QStringList& addresses) {
    QStringList normalized;
    for (QString a : addresses) {
        a = a.trimmed();
        if (a.startsWith('[') && a.endsWith(']'))
            a = a.mid(1, a.size() - 2);
        const QHostAddress numeric(a);
        if (numeric.isNull())
            return false;
        normalized << numeric.toString();
    }
    const std::lock_guard lock(g_overrideMutex);
    if (normalized.isEmpty())
        g_overrides.remove(name.trimmed().toLower());
    else
        g_overrides.insert(name.trimmed().toLower(), normalized);
    return true;
}

QStringList TAsyncSocket::ResolveOverride(const QString& name) {
    const std::lock_guard lock(g_overrideMutex);
    return g_overrides.value(name.toLower());
}

bool TAsyncSocket::beginLookup(const QString& text) {
    if (text.isEmpty()) {
        RaiseException(QStringLiteral("DNS lookup: invalid host name."));
        fire(OnDnsLookupDone, quint16(WSAEINVAL));
        return false;
    }
    cancelLookupSilently();
    m_dnsResult.clear();
    m_dnsResultList.clear();
    return true;
}

void TAsyncSocket::DnsLookup(const QString& hostName) {
    const QString host = hostName.trimmed();
    if (!beginLookup(host))
        return;
    in_addr numeric{};
    const QByteArray latin = host.toLatin1();
    const std::optional<TSocketAddress> v6 = TSocketAddress::fromIPv6Text(host);
    if (v6 || inet_aton(latin.constData(), &numeric) != 0) {
        m_dnsResult = v6 ? v6->addressText() : QString::fromLatin1(inet_ntoa(numeric));
        m_dnsResultList << m_dnsResult;
        fire(OnDnsLookupDone, quint16(0));
        return;
    }
    startLookup(host, false);
}

void TAsyncSocket::ReverseDnsLookup(const QString& hostAddr) {
    const QString addr = hostAddr.trimmed();
    if (!beginLookup(addr))
        return;
    in_addr numeric{};
    const QByteArray latin = addr.toLatin1();
    const std::optional<TSocketAddress> v6 = TSocketAddress::fromIPv6Text(addr);
    if (!v6 && inet_aton(latin.constData(), &numeric) == 0) {
        RaiseException(QStringLiteral("%1: can't start DNS lookup, error #%2").arg(addr).arg(WSAEINVAL));
        return;
    }
    startLookup(v6 ? v6->addressText() : QString::fromLatin1(inet_ntoa(numeric)), true);
}

void TAsyncSocket::startLookup(const QString& text, bool reverse) {
    m_lookupReverse = reverse;
    m_lookupId = m_lookup->start(text, reverse ? QStringList() : ResolveOverride(text));
}

void TAsyncSocket::lookupFinished(int lookupId) {
    const QHostInfo info = m_lookup->take(lookupId);
    if (lookupId != m_lookupId)
        return;
    m_lookupId = -1;
    int error = lookupError(info);
    QStringList result;
    if (error == 0 && m_lookupReverse) {
        result << info.hostName();
    } else if (error == 0) {
        for (const QHostAddress& a : info.addresses())
            if (a.protocol() == QAbstractSocket::IPv4Protocol || a.protocol() == QAbstractSocket::IPv6Protocol)
                result << a.toString();
        if (result.isEmpty())
            error = WSANO_DATA;
    }
    if (error == 0) {
        m_dnsResultList = result;
        m_dnsResult = result.value(0);
    }
    fire(OnDnsLookupDone, quint16(error));
}

void TAsyncSocket::CancelDnsLookup() {
    if (m_lookupId < 0)
        return;
    cancelLookupSilently();
    if (!m_destroying)
        fire(OnDnsLookupDone, quint16(WSAEINTR));
}

void TAsyncSocket::cancelLookupSilently() {
    if (m_lookupId < 0)
        return;
    QHostInfo::abortHostLookup(m_lookupId);
    m_lookupId = -1;
}
