#pragma once

#include <QtGlobal>
#include <deque>

// A download's byte count at each of its last watchdog ticks, and when each was taken:
// its average rate over a window of ticks, for the lowest-speed rule.
class SpeedWindow {
public:
    // Notes the count at this tick (`ms` on a steady clock), keeping what a window of
    // `ticks` ticks needs.
    void add(qint64 ms, qint64 received, int ticks);
    // Bytes a second over the last `ticks` ticks; -1 while the download is younger.
    qint64 rate(int ticks) const;

private:
    struct Sample {
        qint64 ms;
        qint64 received;
    };
    std::deque<Sample> m_samples;
};
