#pragma once

#include "common/unique_fd.h"
#include "gather/host_caps.h"
#include "gather/part_digest.h"
#include "gather/part_journal.h"
#include "gather/part_ranges.h"

#include <QString>
#include <functional>
#include <memory>
#include <vector>

class NotificationTarget;
class QTimer;
class SafeFolder;

// A part downloaded as byte ranges into its file: a large part over several connections
// at once, or a part that keeps the bytes an earlier download left and asks for the rest.
//
// The first request asks for the first range not yet complete, and the answer tells
// whether the server sends ranges: a 206 whose Content-Range is the range asked, of a
// document of the part's size. Only then may more connections open, each taking the
// upper half of the largest rest (so every connection stays busy to the end), as the
// limit and the host's cap allow. A 200 to that first request is a server that sends
// whole documents only: the part file is emptied and the body taken from its start over
// that one connection. Any other 206, or a 200 once ranges were sent, ends the download:
// bytes whose place in the file is not certain must not stay there.
//
// Each connection is watched on its own (idle ticks, lowest speed). One that ends short
// (aborted by the watchdog, cut, reset, refused, answered 503) is asked again for the
// rest of its range, after its owner agrees (the attempts limit), while the others go on;
// a refusal or a 503 also lowers the host's cap and holds new connections for a second.
//
// While the file has gaps, the list of ranges is kept beside it (PartJournal), so a
// download stopped at any moment goes on from what the file holds.
class RangedFetch {
public:
    struct Plan {
        QString url;
        QString partName;   // the part file's name in the folder
        QString path;       // the part file's path, for messages
        PartRanges ranges;  // what the file holds already
        bool fresh = true;  // a new, empty file; else the file as it is (its ranges, or a prefix cut to its length)
        int connections = 1;  // the most at once, once the server is known to send ranges
        qint64 minPiece = 1;  // a split leaves no range smaller
        int timeoutSeconds = 0;  // each wait of each connection (THttpClient::SetTimeout)
    };
    // How the download ended.
    struct End {
        quint16 error = 0;  // 0 (the server's answer, or complete), heAborted, or the error that ended it
        int statusCode = 0;
        QString cause;      // the real cause where the number does not tell it; empty otherwise
        int writeError = 0;  // the errno of a write the file system refused
        bool startOver = false;  // the bytes kept cannot be trusted: the next download starts at byte 0
        bool noRanges = false;   // the server answers ranges wrongly: one plain download next time
    };

    // `folder`: the parts folder, where the part file and its list of ranges lie.
    RangedFetch(const SafeFolder& folder, Plan plan, HostCaps& hosts);
    // Frees every connection (nothing more is reported) and closes the file.
    ~RangedFetch();
    RangedFetch(const RangedFetch&) = delete;
    RangedFetch& operator=(const RangedFetch&) = delete;

    // Opens the part file as the plan says (a kept file that is no longer fit to keep
    // is made anew). False, with the reason, when it cannot be had.
    bool openFile(const SafeFolder& folder, QString& failure);
    // Sends the first request, on a slot of the host that the caller made sure is free.
    // False, with the reason, when the request cannot start.
    bool start(QString& failure);
    // Opens more connections where the limit and the host's cap leave room.
    void grow();
    // Ends the download (heAborted) once every connection has closed.
    void abort();
    // One watchdog tick: the idle count and rate of every connection, the list of ranges
    // kept up to date. The longest idle count, before and after the aborts of the tick
    // (an aborted connection starts counting again from 0).
    struct Idle {
        int counted = 0;
        int left = 0;
    };
    Idle tick(qint64 nowMs, int timeoutSeconds, qint64 lowestSpeed);

    // The bytes of the part in the file, kept ones included.
    qint64 received() const { return m_ranges.received(); }
    // What the answer said: the document's size (Content-Range total, or Content-Length
    // of a whole document), -1 before; its status and content type.
    qint64 announced() const { return m_announced; }
    int statusCode() const { return m_statusCode; }
    QString contentType() const { return m_contentType; }
    const End& end() const { return m_end; }
    const QString& path() const { return m_plan.path; }

    // After the end: closes the file and keeps (or removes) the list of ranges. What the
    // file holds: the part's digest, and for a part not complete the length and CRC of
    // the plain prefix it holds (-1 when it holds gaps, kept by the list).
    PartDigest finish();
    qint64 keptPrefix() const { return m_keptPrefix; }
    uint32_t keptCrc() const { return m_keptCrc; }

    // Told what the answer said (announced(), statusCode(), contentType()).
    std::function<void()> onAnswer;
    // Told that bytes arrived.
    std::function<void()> onProgress;
    // Asked before a range is requested again; false ends the download (the attempts
    // are used up).
    std::function<bool(const QString& cause)> onRestart;
    // A line for the log ("bytes 100-199 asked again: ...").
    std::function<void(const QString& note)> onNote;
    // The download is over (end() says how); from the event loop, never from inside a
    // call to the fetch, so the handler may free it.
    std::function<void()> onEnded;

private:
    struct Connection;

    bool open(int range, HostSlot slot, QString& failure);
    int pendingRange() const;
    int splitRange();
    int limit() const;
    void headerEnd(Connection* c);
    void docData(Connection* c);
    void requestDone(Connection* c, quint16 error);
    void restart(const Connection& c, quint16 error, int statusCode);
    void takeWholeDocument(Connection* c);
    void stop(Connection* c, bool answered, const QString& cause);
    void endWith(End end);
    void note(const QString& text) const;
    QString rangeText(qint64 first, qint64 last) const;

    Plan m_plan;
    HostCaps& m_hosts;
    QString m_host;
    PartRanges& m_ranges;
    UniqueFd m_file;
    PartJournal m_journal;
    std::vector<std::unique_ptr<Connection>> m_connections;
    // The server answered a range with the range asked: more connections may open.
    bool m_confirmed = false;
    // The server sends whole documents only: one connection, no list of ranges.
    bool m_wholeOnly = false;
    // The list of ranges could not be written: no more gaps may be made.
    bool m_noJournal = false;
    bool m_journalDirty = false;
    bool m_ending = false;
    End m_end;
    qint64 m_announced = -1;
    int m_statusCode = 0;
    QString m_contentType;
    qint64 m_keptPrefix = -1;
    uint32_t m_keptCrc = 0;
    // No new connection before this (on the steady clock of m_hold): the host just
    // refused one or answered 503.
    std::unique_ptr<QTimer> m_hold;
    NotificationTarget* m_target = nullptr;
};
