#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <functional>

class HostCaps;

// One open connection to a host, counted against its cap until reset or destroyed.
class HostSlot {
public:
    HostSlot() = default;
    ~HostSlot() { reset(); }
    HostSlot(HostSlot&& other) noexcept;
    HostSlot& operator=(HostSlot&& other) noexcept;
    HostSlot(const HostSlot&) = delete;
    HostSlot& operator=(const HostSlot&) = delete;

    bool valid() const { return m_caps != nullptr; }
    const QString& host() const { return m_host; }
    void reset();

private:
    friend class HostCaps;
    HostSlot(HostCaps* caps, QString host) : m_caps(caps), m_host(std::move(host)) {}
    HostCaps* m_caps = nullptr;
    QString m_host;
};

// The connections a gather has open to each host, over every part and every range, held
// below a cap: hosting accounts ban a client that opens too many at once. A host that
// answers 503 or refuses a connection keeps a cap one lower for the rest of the gather,
// never below 1.
class HostCaps {
public:
    HostCaps();
    // The host of a URL as it is counted: its name in lower case and its port.
    static QString HostOf(const QString& url);

    // The cap the user set, before any lowering; read afresh at every pass.
    void setCap(int cap) { m_cap = qMax(cap, 1); }
    int capOf(const QString& host) const;
    bool hasRoom(const QString& host) const { return m_open.value(host) < capOf(host); }
    // A slot, or an invalid one when the host is at its cap.
    HostSlot acquire(const QString& host);
    // After the host's answer to one connection: a refused connection or a 503 lowers
    // its cap. True when it did.
    bool noteAnswer(const QString& host, quint16 error, int statusCode);
    // A new gather: every host at the cap again.
    void forget() { m_lowered.clear(); }

    // Told, from the event loop and once for any number of slots given back meanwhile,
    // that connections closed: work waiting for a slot may start.
    std::function<void()> onFreed;

private:
    friend class HostSlot;
    void release(const QString& host);

    int m_cap = 4;
    QHash<QString, int> m_open;
    QHash<QString, int> m_lowered;
    QObject m_context;
    bool m_freedPosted = false;
};
