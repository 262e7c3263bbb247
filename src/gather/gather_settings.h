#pragma once

#include <QString>
#include <QtGlobal>

// The settings a gather reads, afresh at every pass and every completion: the window
// fills them from its controls (so a change takes effect at once), the command-line
// tool from its options.
struct GatherSettings {
    QString savePath;              // a plain prefix ending in "/" ("Save Path:")
    int simultaneous = 2;          // most live downloads at once ("Simultaneous Downloads:")
    bool checkOnDisk = true;       // accept a part already on disk with the right CRC ("Check if on HD first")
    bool retryOnCrcError = true;   // a part with a wrong CRC is fetched again ("Retry On CRC Error")
    int attemptsLimit = 100;       // downloads of one part before it gives up ("Download Attempts")
    int timeoutSeconds = 30;       // idle watchdog ticks before a download is aborted ("Timeout (secs)")
    bool autoMerge = true;         // a load starts the downloads and the last one the rebuild
    // A download that received less than this many bytes a second over the time-out's
    // last ticks is aborted and fetched again ("Minimum speed (bytes/s)"); 0: no floor.
    int lowestSpeed = DefaultLowestSpeed;
    // A part fetched again after a download that ended short keeps the bytes it has and
    // asks for the rest ("Resume broken downloads"); off: fetched again from the start.
    bool resume = false;
    // A part larger than rangedPartSize is fetched over up to this many connections at
    // once, each a range of its bytes ("Connections per part"); 1: one connection.
    int connectionsPerPart = 1;
    qint64 rangedPartSize = qint64(8) * 1024 * 1024;
    // Most connections open to one host, over every part and range ("Connections per
    // host"); a host that answers 503 or refuses a connection gets one fewer.
    int perHost = 4;

    static constexpr int DefaultLowestSpeed = 1024;
    // The highest floor the window and the command line take: 10 MiB/s.
    static constexpr int MaxLowestSpeed = 10 * 1024 * 1024;
    // The most the command line takes; the window's boxes stop lower.
    static constexpr int MaxSimultaneous = 16;
    static constexpr int MaxConnectionsPerPart = 16;
    static constexpr int MaxPerHost = 16;
};
