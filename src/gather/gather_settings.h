#pragma once

#include <QString>

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
};
