#pragma once

#include <QObject>
#include <QString>
#include <vector>

class TextTable;

// Whether a scheduling pass starts a row with this Status: "Idle" and every "Error..."
// (the first four characters in lower case are "idle" or "erro"), and a download the
// watchdog found too slow ("Too slow: N B/s"), which is fetched again like an idle one.
bool IsPassCandidate(const QString& status);

// What the scheduling passes and the completions need to know of the download table
// without walking it: which rows a pass may start, in row order, and how many rows are
// "Done." and how many have CRC OK "G". It follows the table's own change signals, so
// every writer of a cell counts (a pass, a completion, the window, a test), and each
// change costs the same whatever the number of rows.
class DownloadRowIndex {
public:
    explicit DownloadRowIndex(const TextTable& table);
    DownloadRowIndex(const DownloadRowIndex&) = delete;
    DownloadRowIndex& operator=(const DownloadRowIndex&) = delete;

    // The first row at or after `from` that a pass may start; -1 when there is none.
    int nextCandidate(int from);
    qint64 doneRows() const { return m_done; }
    qint64 goodRows() const { return m_good; }

private:
    enum : quint8 { Candidate = 1, Done = 2, Good = 4 };
    void rebuild();
    void appendRows(int first, int last);
    void reclassify(int row);
    void setCandidate(int row, bool on);

    const TextTable& m_table;
    // Receives the table's signals; the connections end with it.
    QObject m_context;
    std::vector<quint8> m_flags;
    std::vector<quint64> m_candidates;
    // No row below this one is a candidate.
    int m_lowest = 0;
    qint64 m_done = 0;
    qint64 m_good = 0;
};
