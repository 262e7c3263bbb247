#include "cli/gather_report.h"

#include "cli/cli_command.h"
#include "common/text_table.h"
#include "gather/download_table.h"

GatherReport::GatherReport(const TextTable& table, bool quiet)
    : m_table(table), m_line("gather", -1, quiet), m_eventLines(!quiet && !ProgressLine::stderrIsTerminal()) {
    if (!m_line.active())
        return;
    // The line's figures follow the table's changes, so a redraw costs the same for a
    // table of 100 000 rows as for one of 3.
    QObject::connect(&table, &QAbstractItemModel::dataChanged, &m_redraw,
                     [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                         if (topLeft.column() <= DownloadColumn::Recvd && bottomRight.column() >= DownloadColumn::Status)
                             for (int row = topLeft.row(); row <= bottomRight.row(); ++row)
                                 recount(row);
                     });
    QObject::connect(&table, &QAbstractItemModel::modelReset, &m_redraw, [this] { recountAll(); });
    QObject::connect(&table, &QAbstractItemModel::rowsInserted, &m_redraw, [this] { recountAll(); });
    QObject::connect(&table, &QAbstractItemModel::rowsRemoved, &m_redraw, [this] { recountAll(); });
    recountAll();
    QObject::connect(&m_redraw, &QTimer::timeout, [this] { redraw(); });
    m_redraw.start(100);
}

void GatherReport::recountAll() {
    m_rows.assign(m_table.rows(), RowFigures());
    m_total = m_done = 0;
    m_good = 0;
    for (int row = 0; row < m_table.rows(); ++row) {
        m_rows[row].size = m_table.cell(row, DownloadColumn::PartSize).toLongLong();
        m_total += m_rows[row].size;
        recount(row);
    }
}

// A good part counts whole; one in error counts nothing; any other its bytes so far.
void GatherReport::recount(int row) {
    if (row < 0 || row >= static_cast<int>(m_rows.size()))
        return;
    RowFigures& figures = m_rows[row];
    const bool good = m_table.cell(row, DownloadColumn::CrcOk) == QLatin1String("G");
    const qint64 done = good ? figures.size
                        : m_table.cell(row, DownloadColumn::Status).startsWith(QLatin1String("Error"))
                            ? 0
                            : m_table.cell(row, DownloadColumn::Recvd).toLongLong();
    m_good += int(good) - int(figures.good);
    m_done += done - figures.done;
    figures.good = good;
    figures.done = done;
}

int GatherReport::dataRows() const { return m_dataRows ? m_dataRows() : m_table.rows(); }

QString GatherReport::partLabel(int row) const {
    const int data = dataRows();
    return row < data ? QStringLiteral("part %1/%2").arg(row + 1).arg(data)
                      : QStringLiteral("recovery part %1").arg(row - data + 1);
}

void GatherReport::partStarted(int row) {
    if (!m_eventLines)
        return;
    CliErr(partLabel(row) + " started (attempt " + m_table.cell(row, DownloadColumn::Attempts) + "): " +
           m_table.cell(row, DownloadColumn::Filename));
}

void GatherReport::partFinished(int row) {
    if (!m_eventLines)
        return;
    CliErr(partLabel(row) + ": " + m_table.cell(row, DownloadColumn::Status) + " (CRC " +
           (m_table.cell(row, DownloadColumn::CrcOk) == QLatin1String("G") ? "good" : "not good") + ")");
}

void GatherReport::partNote(int row, const QString& note) {
    if (m_eventLines)
        CliErr(partLabel(row) + ": " + note);
}

void GatherReport::clearLine() {
    m_line.finish();
    if (m_rebuildLine)
        m_rebuildLine->finish();
}

void GatherReport::redraw() {
    if (m_rebuildLine)
        return;
    m_line.setTotal(m_total);
    m_line.update(m_done, QStringLiteral("%1/%2 parts").arg(m_good).arg(m_table.rows()));
}

void GatherReport::rebuildProgress(qint64 done, qint64 total) {
    if (!m_rebuildLine) {
        m_line.finish();
        m_rebuildLine = std::make_unique<ProgressLine>("rebuild", total, !m_line.active());
    }
    m_rebuildLine->update(done);
}

QString GatherReport::summary() const {
    // A manifest of many parts stopped early would list them all: the first ones tell
    // what went wrong, a count the rest.
    constexpr int MostListed = 100;
    QStringList lines;
    int done = 0;
    int notListed = 0;
    const int data = dataRows();
    for (int row = 0; row < m_table.rows(); ++row) {
        const QString status = m_table.cell(row, DownloadColumn::Status);
        const bool good = m_table.cell(row, DownloadColumn::CrcOk) == QLatin1String("G");
        if (good && (status == QLatin1String("Done.") || status.startsWith(QLatin1String("Rebuilt from ")))) {
            done += row < data;
        } else if (status == QLatin1String("Not needed.")) {
            continue;
        } else if (lines.size() < MostListed)
            lines << "  " + partLabel(row) + ": " + status + " " + m_table.cell(row, DownloadColumn::Filename);
        else
            ++notListed;
    }
    if (notListed > 0)
        lines << QStringLiteral("  and %1 more parts not done").arg(notListed);
    lines.prepend(QStringLiteral("%1 of %2 parts done").arg(done).arg(data));
    return lines.join('\n');
}
