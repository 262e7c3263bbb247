#pragma once

#include "http/http_client.h"
#include "support/event_wait.h"

#include <QBuffer>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <functional>

// The blank line that ends a request's header, where a scripted server stops reading.
inline const QByteArray kHeaderEnd = "\r\n\r\n";

// Lets the event loop run for a bounded time, so that an event that must not come has
// had its chance.
inline void settle(int ms = 100) { runLoopFor(ms); }

// A client with every event recorded in order and the body collected in memory.
struct ClientHarness {
    // Null once a handler deleted the client.
    QPointer<THttpClient> client{new THttpClient};
    QBuffer body;
    QStringList events;
    int doneCount = 0;
    quint16 doneError = 0xFFFF;
    THttpRequest doneType = hrNone;
    int locationChanges = 0;
    std::function<void(THttpClient*)> onDone;

    ClientHarness() {
        body.open(QIODevice::ReadWrite);
        client->SetRcvdStream(&body);
        auto note = [this](const char* name) { return [this, name](THttpClient*) { events << name; }; };
        client->OnSessionConnected = note("SessionConnected");
        client->OnHeaderBegin = note("HeaderBegin");
        client->OnHeaderData = note("HeaderData");
        client->OnHeaderEnd = note("HeaderEnd");
        client->OnRequestHeaderBegin = note("RequestHeaderBegin");
        client->OnRequestHeaderEnd = note("RequestHeaderEnd");
        client->OnDocBegin = note("DocBegin");
        client->OnDocEnd = note("DocEnd");
        client->OnDocData = [this](THttpClient*, const char*, qint64) {
            if (events.isEmpty() || events.last() != "DocData")
                events << "DocData";
        };
        client->OnCommand = [this](THttpClient*, const QString& s) { events << "Command:" + s.section(' ', 0, 0); };
        client->OnStateChange = [this](THttpClient* c) { events << "State:" + HttpClientStateName(c->State()); };
        client->OnLocationChange = [this](THttpClient*) {
            events << "LocationChange";
            ++locationChanges;
        };
        client->OnRequestDone = [this](THttpClient* c, THttpRequest type, quint16 error) {
            events << "RequestDone";
            ++doneCount;
            doneError = error;
            doneType = type;
            if (onDone)
                onDone(c);
        };
    }
    ~ClientHarness() { delete client.data(); }

    bool waitDone(int count = 1, int timeoutMs = 10000) {
        return waitUntil([&] { return doneCount >= count; }, timeoutMs);
    }
    QByteArray received() const { return body.data(); }
};
