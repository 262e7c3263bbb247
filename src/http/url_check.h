#pragma once

#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <functional>

class NotificationTarget;
class THttpClient;

// How a published part's web address is checked: not at all, by the length a HEAD
// announces, or by the CRC-32 of what a GET brings.
enum class UrlCheckMode { Off, Length, Crc };

struct UrlCheckOutcome {
    bool ok = false;      // the URL serves the part: status 2xx and the length (and, for Crc, the CRC-32) as expected
    int statusCode = 0;   // the last response's status (0: no response)
    qint64 length = -1;   // Length: the Content-Length the server announced (-1 none); Crc: the bytes received
    QString crc;          // Crc: 8 upper-case hex digits of the bytes received; empty otherwise
    QString reason;       // empty when ok; else what came back: "404 Not Found", "length 10 instead of 12",
                          // "CRC 1234ABCD instead of 89ABCDEF", "no response header within 30 s", ...
};

// One check of a published part's URL at a time, on the event loop of its thread through
// THttpClient (http and https, with the process's TLS settings; relocations followed as
// the client follows them). Nothing received is kept: a GET's bytes pass through the
// CRC and are dropped, so checking a part of any size holds only the client's read buffer.
//
// Each wait is bounded by timeoutSeconds (at least 1): the connection, the TLS handshake
// and the response header, and each wait for more of a GET's body (the client's
// BodyIdleTimeout), so a server that goes quiet mid-body ends the check ("no data for 30 s
// after 1048576 bytes").
//
// A HEAD that announces no Content-Length says nothing of the part, and taking that for
// a failure would condemn a server that serves it well (dynamic hosting front ends leave
// the length out of HEAD replies). The check then asks again with a GET that counts the
// bytes without keeping them; `length` is that count. A wrong announced length ends a
// GET at its header (a 1 GiB download is not needed to learn that); `length` is then the
// announced one and `crc` stays empty. A body that runs past the expected size ends the
// check at once. A negative expectedSize is no expectation: the length is not judged.
class UrlCheck {
public:
    UrlCheck();
    ~UrlCheck();  // an unfinished check is dropped without onDone
    UrlCheck(const UrlCheck&) = delete;
    UrlCheck& operator=(const UrlCheck&) = delete;

    // Starts one check (HEAD for Length, GET for Crc); the outcome arrives through onDone
    // from the event loop, never inside start(). Mode Off reports ok at once (through the
    // event loop too). A check still under way is dropped first, without onDone.
    void start(const QString& url, UrlCheckMode mode, qint64 expectedSize, const QString& expectedCrc,
               int timeoutSeconds);
    void abort();  // no onDone after it
    bool busy() const { return m_busy; }
    std::function<void(const UrlCheckOutcome&)> onDone;

private:
    enum Notification { NotifyDone = 1, NotifyRetryWithGet = 2 };

    void request(bool head);
    void headerSeen(THttpClient* client);
    void headerEnd(THttpClient* client);
    void docData(const char* data, qint64 len);
    void requestDone(THttpClient* client, quint16 error);
    void judgeLength(qint64 length);
    void judgeBody();
    void conclude(bool ok, const QString& reason);
    void handleNotification(int msg, qintptr serial);
    void dropClient();

    QString m_url;
    UrlCheckMode m_mode = UrlCheckMode::Off;
    qint64 m_expectedSize = -1;
    QString m_expectedCrc;
    int m_timeoutSeconds = 1;

    bool m_busy = false;
    // The outcome is decided and on its way; whatever the client still reports is late.
    bool m_decided = false;
    bool m_head = false;
    UrlCheckOutcome m_outcome;
    qint64 m_announced = -1;
    qint64 m_received = 0;
    uint32_t m_crcRegister = 0xFFFFFFFFu;
    // Notifications of an earlier check must not end a later one.
    qintptr m_serial = 0;

    THttpClient* m_client = nullptr;
    NotificationTarget* m_target = nullptr;
};
