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
        if (idle > s.timeoutSeconds) {
            download->client->Abort();
            m_table.setCell(row, DownloadColumn::IdleSeconds, "0");
        }
    }
    if (m_live.isEmpty())
        m_stallTimer->stop();
}

void GatherEngine::ReStart(int selectedRow) {
    if (selectedRow < 0)
        return;
    for (PartDownload* download : QList<PartDownload*>(m_live))
        if (download->client->Tag() == selectedRow + 1)
            download->client->Abort();
}
