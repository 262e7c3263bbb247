// The stall watchdog and ReStart: both abort a live download, and the completion
// handling and the next pass fetch the part again.
#include "common/text_table.h"
#include "gather/download_table.h"
#include "gather/gather_engine.h"
#include "gather/part_download.h"
#include "http/http_client.h"

#include <QTimer>

void GatherEngine::StallTick() {
    const GatherSettings s = settings();
    const qint64 now = m_clock.elapsed();
    // Abort returns before the client reports its end: the list holds still meanwhile.
    for (PartDownload* download : QList<PartDownload*>(m_live)) {
        const int row = download->row();
        // The row must hold the true count before it is compared with the last tick's.
        if (download->dataSeen)
            showProgress(download);
        const QString received = m_table.cell(row, DownloadColumn::Recvd);
        const qint64 idle = m_table.cell(row, DownloadColumn::LRcvd) != received
                                ? 0
                                : m_table.cell(row, DownloadColumn::IdleSeconds).toLongLong() + 1;
        m_table.setCell(row, DownloadColumn::IdleSeconds, QString::number(idle));
        m_table.setCell(row, DownloadColumn::LRcvd, received);
        download->speed.add(now, download->client->RcvdCount(), s.timeoutSeconds);
        const qint64 rate = download->speed.rate(s.timeoutSeconds);
        if (idle > s.timeoutSeconds) {
            download->client->Abort();
            m_table.setCell(row, DownloadColumn::IdleSeconds, "0");
        } else if (s.lowestSpeed > 0 && idle == 0 && rate >= 0 && rate < s.lowestSpeed) {
            // Only a download that received something since the last tick is judged by
            // its rate: one that receives nothing is the idle rule's, and ends at the
            // tick that rule gives.
            download->tooSlowRate = rate;
            download->client->Abort();
        }
    }
    tickRanged(s, now);
    if (liveCount() == 0)
        m_stallTimer->stop();
}

void GatherEngine::ReStart(int selectedRow) {
    if (selectedRow < 0)
        return;
    for (PartDownload* download : QList<PartDownload*>(m_live))
        if (download->client->Tag() == selectedRow + 1)
            download->client->Abort();
    abortRanged(selectedRow);
}

// The verdict of a download aborted for its rate names the cause where the part did not
// arrive and nothing more telling is known ("Error:" with the error number, "Error:CRC",
// "Error:ZeroSize"); the row stays a candidate of the next pass, as after an idle abort.
void GatherEngine::markTooSlow(int row, qint64 tooSlowRate) {
    if (tooSlowRate < 0)
        return;
    const QString status = m_table.cell(row, DownloadColumn::Status);
    bool isNumber = false;
    (void)status.mid(6).toInt(&isNumber);
    if (status.startsWith(QLatin1String("Error:")) &&
        (isNumber || status == QLatin1String("Error:CRC") || status == QLatin1String("Error:ZeroSize")))
        m_table.setCell(row, DownloadColumn::Status, QStringLiteral("Too slow: %1 B/s").arg(tooSlowRate));
}
