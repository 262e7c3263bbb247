#include "cli/gather_report.h"

#include "cli/cli_command.h"
#include "common/text_table.h"
#include "gather/download_table.h"

GatherReport::GatherReport(const TextTable& table, bool quiet)
    : m_table(table), m_line("gather", -1, quiet), m_eventLines(!quiet && !ProgressLine::stderrIsTerminal()) {
    if (!m_line.active())
        return;
    QObject::connect(&m_redraw, &QTimer::timeout, [this] { redraw(); });
    m_redraw.start(100);
}

QString GatherReport::partLabel(int row) const {
    return QStringLiteral("part %1/%2").arg(row + 1).arg(m_table.rows());
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

void GatherReport::clearLine() {
    m_line.finish();
    if (m_rebuildLine)
        m_rebuildLine->finish();
}

void GatherReport::redraw() {
    if (m_rebuildLine)
        return;
    qint64 total = 0, done = 0;
    int good = 0;
    for (int row = 0; row < m_table.rows(); ++row) {
        const qint64 size = m_table.cell(row, DownloadColumn::PartSize).toLongLong();
        total += size;
        if (m_table.cell(row, DownloadColumn::CrcOk) == QLatin1String("G")) {
            ++good;
            done += size;
        } else if (!m_table.cell(row, DownloadColumn::Status).startsWith(QLatin1String("Error"))) {
            done += m_table.cell(row, DownloadColumn::Recvd).toLongLong();
        }
    }
    m_line.setTotal(total);
    m_line.update(done, QStringLiteral("%1/%2 parts").arg(good).arg(m_table.rows()));
}

void GatherReport::rebuildProgress(qint64 done, qint64 total) {
    if (!m_rebuildLine) {
        m_line.finish();
        m_rebuildLine = std::make_unique<ProgressLine>("rebuild", total, !m_line.active());
    }
    m_rebuildLine->update(done);
}

QString GatherReport::summary() const {
    QStringList lines;
    int done = 0;
    for (int row = 0; row < m_table.rows(); ++row) {
        const QString status = m_table.cell(row, DownloadColumn::Status);
        if (status == QLatin1String("Done.") && m_table.cell(row, DownloadColumn::CrcOk) == QLatin1String("G"))
            ++done;
        else
            lines << "  " + partLabel(row) + ": " + status + " " + m_table.cell(row, DownloadColumn::Filename);
    }
    lines.prepend(QStringLiteral("%1 of %2 parts done").arg(done).arg(m_table.rows()));
    return lines.join('\n');
}
