#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QtGlobal>

// One progress line on standard error, redrawn in place ("\r" and a cleared tail), as
// curl and rsync show theirs. It is drawn only when standard error is a terminal and the
// user did not ask for quiet: a script reading our stderr sees none of it. Redraws are
// limited to about ten a second, so a fast loop may call update() as often as it likes.
class ProgressLine {
public:
    // label: what is moving ("crc big.iso", "part 3/7"); total: bytes expected, -1 unknown.
    ProgressLine(const QString& label, qint64 total, bool quiet = false);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    bool active() const { return m_active; }
    void setLabel(const QString& label);
    void setTotal(qint64 total);
    // done: bytes so far; extra: a short text shown after the figures ("2/5 parts").
    void update(qint64 done, const QString& extra = QString());
    // Clears the line, so that the next message starts on an empty line.
    void finish();

    // The figures of one line, apart from the terminal: "1.2 GiB / 3.0 GiB  40%  512 MiB/s  ETA 0:04".
    static QString format(qint64 done, qint64 total, double bytesPerSecond);
    static QString formatBytes(qint64 bytes);
    static QString formatDuration(qint64 seconds);
    // True when standard error is a terminal.
    static bool stderrIsTerminal();

private:
    void draw(qint64 done, const QString& extra);

    QString m_label;
    qint64 m_total;
    bool m_active;
    bool m_drawn = false;
    int m_lastWidth = 0;
    QElapsedTimer m_clock;
    qint64 m_lastDrawMs = -1000;
};
