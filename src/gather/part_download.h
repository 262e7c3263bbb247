#pragma once

#include "gather/host_caps.h"
#include "gather/part_file.h"
#include "gather/speed_window.h"

#include <QElapsedTimer>
#include <memory>

class THttpClient;

// One live download: the HTTP client fetching a part and the part file it writes into.
// The client carries the row number (from 1) in its Tag, by which its handlers find
// their row.
struct PartDownload {
    explicit PartDownload(const QString& partPath);
    // Frees the client (its socket closes, nothing more is reported) and closes the file.
    ~PartDownload();
    PartDownload(const PartDownload&) = delete;
    PartDownload& operator=(const PartDownload&) = delete;

    // The row from 0.
    int row() const;
    // Frees the client now (its deferred notifications are dropped with it) and closes
    // the file; inside the client's own completion handler this is allowed too.
    void release();

    PartFile file;
    THttpClient* client = nullptr;
    // The client's connection, counted against its host's cap while it lives.
    HostSlot slot;
    // Since the row last showed this download's progress.
    QElapsedTimer shown;
    bool dataSeen = false;
    // What the watchdog saw of the rate; the rate it found too low when it aborted
    // this download for it, else -1.
    SpeedWindow speed;
    qint64 tooSlowRate = -1;
    // The completion handler is on the stack, waiting for a message box to close: only
    // that handler may free the client.
    bool inCompletion = false;
    // The table was replaced meanwhile: nothing of this download may touch it again.
    bool dropped = false;
};
