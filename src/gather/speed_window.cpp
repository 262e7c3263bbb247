#include "gather/speed_window.h"

void SpeedWindow::add(qint64 ms, qint64 received, int ticks) {
    m_samples.push_back({ms, received});
    while (m_samples.size() > size_t(ticks) + 1)
        m_samples.pop_front();
}

qint64 SpeedWindow::rate(int ticks) const {
    if (ticks < 1 || m_samples.size() < size_t(ticks) + 1)
        return -1;
    const Sample& first = m_samples[m_samples.size() - 1 - size_t(ticks)];
    const Sample& last = m_samples.back();
    if (last.ms <= first.ms)
        return -1;
    return (last.received - first.received) * 1000 / (last.ms - first.ms);
}
