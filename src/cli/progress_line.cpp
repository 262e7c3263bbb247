#include "cli/progress_line.h"

#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr qint64 kRedrawMs = 100;
// The first moments of a transfer give wild rates; before this much time only the
// final figures (done) show a rate.
constexpr qint64 kSteadyRateNs = 200'000'000;
// A pseudo-terminal that was never given a size reports 0 columns.
constexpr int kDefaultColumns = 80;

int terminalColumns() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return kDefaultColumns;
}

// A file name may hold control characters: written to the terminal as they stand, an
// escape sequence would act on it and a line end would break the redraw in place.
QString printable(QString text) {
    for (QChar& c : text) {
        if (c.category() == QChar::Other_Control)
            c = '?';
    }
    return text;
}

// A label cut to `room` characters keeps its end, where a path has its file name.
QString fitted(const QString& label, qsizetype room) {
    if (label.size() <= room)
        return label;
    if (room <= 3)
        return QString();
    return "..." + label.right(room - 3);
}

}  // namespace

ProgressLine::ProgressLine(const QString& label, qint64 total, bool quiet)
    : m_label(printable(label)), m_total(total), m_active(!quiet && stderrIsTerminal()) {
    m_clock.start();
}

ProgressLine::~ProgressLine() { finish(); }

bool ProgressLine::stderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

void ProgressLine::setLabel(const QString& label) { m_label = printable(label); }
void ProgressLine::setTotal(qint64 total) { m_total = total; }

void ProgressLine::update(qint64 done, const QString& extra) {
    if (!m_active)
        return;
    const qint64 now = m_clock.elapsed();
    // The last figure is always drawn, so a finished transfer shows its 100 %.
    if (now - m_lastDrawMs < kRedrawMs && !(m_total >= 0 && done >= m_total))
        return;
    m_lastDrawMs = now;
    draw(done, extra);
}

void ProgressLine::draw(qint64 done, const QString& extra) {
    const qint64 ns = m_clock.nsecsElapsed();
    const bool finished = m_total >= 0 && done >= m_total;
    const double rate = ns >= kSteadyRateNs || (finished && ns > 0) ? double(done) * 1e9 / double(ns) : 0.0;
    QString figures = format(done, m_total, rate);
    if (!extra.isEmpty())
        figures += "  " + extra;
    // Writing into the last column makes some terminals wrap, and a wrapped line is no
    // longer redrawn in place by "\r": the label gives way first, then the line's end.
    const int width = terminalColumns() - 1;
    const QString label = fitted(m_label, width - figures.size() - 2);
    QString text = (label.isEmpty() ? figures : label + "  " + figures).left(width);
    const int drawn = int(text.size());
    // Blanks over what a longer earlier line left behind.
    if (drawn < m_lastWidth)
        text += QString(m_lastWidth - drawn, ' ');
    m_lastWidth = drawn;
    std::fputs(("\r" + text).toUtf8().constData(), stderr);
    std::fflush(stderr);
    m_drawn = true;
}

void ProgressLine::finish() {
    if (!m_active || !m_drawn)
        return;
    std::fputs(("\r" + QString(m_lastWidth, ' ') + "\r").toUtf8().constData(), stderr);
    std::fflush(stderr);
    m_drawn = false;
    m_lastWidth = 0;
}

QString ProgressLine::formatBytes(qint64 bytes) {
    static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
    double value = double(bytes);
    int unit = 0;
    while (value >= 1024.0 && unit < 5) {
        value /= 1024.0;
        ++unit;
    }
    if (unit == 0)
        return QString::number(bytes) + " B";
    return QString::number(value, 'f', value < 10 ? 2 : value < 100 ? 1 : 0) + ' ' + units[unit];
}

QString ProgressLine::formatDuration(qint64 seconds) {
    if (seconds < 0)
        return QStringLiteral("--:--");
    const qint64 h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    if (h > 0)
        return QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, QChar('0')).arg(s, 2, 10, QChar('0'));
    return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QChar('0'));
}

QString ProgressLine::format(qint64 done, qint64 total, double bytesPerSecond) {
    QString text = formatBytes(done);
    if (total >= 0) {
        text += " / " + formatBytes(total);
        // Whole per cent, truncated; the product cannot overflow below 92 PB, and above
        // it the divisor is taken apart instead.
        const qint64 percent = total == 0 || done >= total      ? 100
                               : done <= INT64_MAX / 100        ? done * 100 / total
                                                                : done / (total / 100);
        text += QStringLiteral("  %1%").arg(percent, 3);
    }
    if (bytesPerSecond > 0) {
        text += "  " + formatBytes(qint64(bytesPerSecond)) + "/s";
        if (total >= 0)
            text += "  ETA " + formatDuration(done >= total ? 0 : qint64(double(total - done) / bytesPerSecond + 0.5));
    }
    return text;
}
