#pragma once

#include "gather/ranged_fetch.h"

#include <QElapsedTimer>
#include <memory>

// One live download of a part in ranges, or resumed: the fetch and the row it reports
// into (from 0).
struct RangedDownload {
    int row = -1;
    std::unique_ptr<RangedFetch> fetch;
    // Since the row last showed this download's progress.
    QElapsedTimer shown;
    // As for a download over one connection: the completion handler waits for a message
    // box to close, and the table was replaced meanwhile.
    bool inCompletion = false;
    bool dropped = false;
};
