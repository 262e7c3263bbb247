#include "net/socket_lookup.h"

#include "net/notification_target.h"

#include <QHostAddress>

#include <atomic>

SocketLookup::SocketLookup(NotificationTarget* target, int notification)
    : QObject(target), m_target(target), m_notification(notification) {}

int SocketLookup::start(const QString& name, const QStringList& fixed) {
    if (fixed.isEmpty())
        return QHostInfo::lookupHost(name, this, SLOT(lookedUp(QHostInfo)));
    // Numbers of their own, far above those QHostInfo counts up from 1.
    static std::atomic<int> nextFixedId{1 << 30};
    QHostInfo info(++nextFixedId);
    info.setHostName(name);
    QList<QHostAddress> addresses;
    for (const QString& a : fixed)
        addresses << QHostAddress(a);
    info.setAddresses(addresses);
    lookedUp(info);
    return info.lookupId();
}

QHostInfo SocketLookup::take(int lookupId) { return m_results.take(lookupId); }

void SocketLookup::lookedUp(const QHostInfo& info) {
    m_results.insert(info.lookupId(), info);
    m_target->post(m_notification, info.lookupId());
}
