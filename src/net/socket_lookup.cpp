#include "net/socket_lookup.h"

#include "net/notification_target.h"

SocketLookup::SocketLookup(NotificationTarget* target, int notification)
    : QObject(target), m_target(target), m_notification(notification) {}

int SocketLookup::start(const QString& name) {
    return QHostInfo::lookupHost(name, this, SLOT(lookedUp(QHostInfo)));
}

QHostInfo SocketLookup::take(int lookupId) { return m_results.take(lookupId); }

void SocketLookup::lookedUp(const QHostInfo& info) {
    m_results.insert(info.lookupId(), info);
    m_target->post(m_notification, info.lookupId());
}
