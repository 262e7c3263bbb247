#pragma once

#include <QHash>
#include <QHostInfo>
#include <QObject>

class NotificationTarget;

// Receives QHostInfo results for one socket and turns each into a posted
// NotifyHostByName notification, so that lookup results reach the socket like every
// other event: through its notification target, in order, guarded.
//
// A string-based slot, not a functor: Qt 6.4 leaks the functor of a lookup that is
// aborted before it starts, and lookups here are aborted often (every cancel and
// every replaced lookup).
class SocketLookup : public QObject {
    Q_OBJECT
public:
    SocketLookup(NotificationTarget* target, int notification);

    // fixed: the addresses the name stands for without asking the system (they still
    // arrive from the event loop, as every lookup's do).
    int start(const QString& name, const QStringList& fixed);
    // The result of a finished lookup, removed from the store.
    QHostInfo take(int lookupId);

public slots:
    void lookedUp(const QHostInfo& info);

private:
    NotificationTarget* m_target;
    int m_notification;
    QHash<int, QHostInfo> m_results;
};
