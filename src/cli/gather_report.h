#pragma once

#include "cli/progress_line.h"

#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

class TextTable;

// What parcelwick-cli gather tells while it works, on standard error: on a terminal one
// redrawn line (parts done, bytes, rate, ETA; then the rebuild's progress), otherwise
// one plain line per event (a download started, a note of the engine's, a part's verdict).
class GatherReport {
public:
    // quiet: no redrawn line, even on a terminal.
    GatherReport(const TextTable& table, bool quiet);

    // How many of the rows are data parts (those of a version-2 manifest come first and
    // recovery rows follow them); without it every row is a data part.
    void setDataRows(std::function<int()> dataRows) { m_dataRows = std::move(dataRows); }

    void partStarted(int row);
    void partFinished(int row);
    // A line of the engine's about a download ("resuming at byte N").
    void partNote(int row, const QString& note);
    void rebuildProgress(qint64 done, qint64 total);
    // Clears the redrawn line, so a message starts on an empty line.
    void clearLine();
    // "3 of 5 parts done" (data parts), then one line per part that is not (the first 100
    // of them; recovery parts not needed are left out).
    QString summary() const;

private:
    void redraw();
    void recountAll();
    void recount(int row);
    QString partLabel(int row) const;
    int dataRows() const;

    const TextTable& m_table;
    std::function<int()> m_dataRows;
    ProgressLine m_line;
    // One line per event: when standard error is no terminal, unless quiet.
    bool m_eventLines;
    QTimer m_redraw;
    // The rebuild's own line, with its own clock for the rate.
    std::unique_ptr<ProgressLine> m_rebuildLine;
    // What the redrawn line shows, kept per row as the table changes.
    struct RowFigures {
        qint64 size = 0;  // the part's size from the manifest
        qint64 done = 0;  // the bytes the line counts as done
        bool good = false;
    };
    std::vector<RowFigures> m_rows;
    qint64 m_total = 0;
    qint64 m_done = 0;
    int m_good = 0;
};
