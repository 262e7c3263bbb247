// Download!, Abort and Resume: the scheduling pass over the download table.
#include "common/text_table.h"
#include "common/user_prompt.h"
#include "crc/crc32.h"
#include "gather/coded_gather.h"
#include "gather/download_table.h"
#include "gather/gather_engine.h"
#include "gather/gather_paths.h"
#include "gather/part_download.h"
#include "http/http_client.h"

#include <QCoreApplication>
#include <QTimer>
#include <sys/stat.h>

void GatherEngine::Download() {
    // Before any manifest there is nothing to fetch and no folder to make; while the user
    // is asked about a certificate, the pass after the answer does the work.
    if (!m_loaded || m_asking)
        return;
    const quint64 pass = ++m_passes;
    const GatherSettings s = settings();
    showGauge();
    if (!makeDirectories(s))
        return;
    // Recovery parts for lost data parts: rows to add, parts to rebuild, or too many lost.
    if (m_coded && !m_coded->plan()) {
        if (idle())
            rest();
        return;
    }
    QString failure;
    // The rows a pass may start, in row order; the others are left alone (starting,
    // transferring, done, "404 Error", "Too many attempts Error."). A row whose host is
    // at its cap waits for a later pass; the walk stops after a few such rows, so a pass
    // costs the same whatever the number of rows.
    constexpr int MostRowsLeft = 64;
    int row = -1;
    int left = 0;
    m_hostSkipped = false;
    while (liveCount() < s.simultaneous && (row = m_index.nextCandidate(row + 1)) >= 0) {
        if (m_coded && m_coded->holdsBack(row))
            continue;
        const QString path = partPath(s, row);
        if (s.checkOnDisk && acceptFromDisk(row, path))
            continue;
        if (!startFetch(row, path, s, failure) && ++left >= MostRowsLeft)
            break;
    }
    if (m_coded)
        m_coded->startHeldBack(s, failure);
    if (!failure.isEmpty())
        m_prompt.error(failure);
    // Switched on, not restarted: passes come at every finished download, and a timer
    // restarted each time would never tick while short parts keep finishing.
    if (!m_stallTimer->isActive())
        m_stallTimer->start();
    if (idle() && s.autoMerge)
        decideRebuild(pass);
}

bool GatherEngine::makeDirectories(const GatherSettings& s) {
    QString error;
    m_partsFolder = GatherPaths(s.savePath, m_filled.fileNameLine()).openPartsFolder(error);
    if (m_partsFolder.valid())
        return true;
    // Nothing could be written: the gather stops here instead of waiting for ever, and
    // Resume tries again. Stopped before the message, which the window shows modally.
    m_localFailure = true;
    m_stopFlag = true;
    m_prompt.error(error);
    if (idle())
        rest();
    return false;
}

bool GatherEngine::acceptFromDisk(int row, const QString& path) {
    // A version-2 part is hashed beside the event loop; the row waits for its verdict.
    if (m_coded)
        return m_coded->checkOnDisk(row);
    // Not through a link planted in the parts folder: whatever it points to would be
    // taken for the part and copied into the file.
    QString notAFile;
    const UniqueFd in = m_partsFolder.openForReading(LocalPartName(path), notAFile);
    struct stat info {};
    if (!in.valid() || ::fstat(in.get(), &info) != 0)
        return false;
    bool satisfied = false;
    uint32_t crc = 0;
    const bool read = DescriptorCrc32(in.get(), crc);
    if (read && QString::fromStdString(Crc32Text(crc)) == m_table.cell(row, DownloadColumn::CrcPwq)) {
        m_table.setCell(row, DownloadColumn::Status, "Done.");
        m_table.setCell(row, DownloadColumn::CrcOk, "G");
        satisfied = true;
    } else if (read) {
        // Read once: a download that keeps these bytes need not read them again.
        rememberOnDisk(row, info.st_size, crc);
    }
    // A size line that is no number simply does not match.
    bool isNumber = false;
    const qint64 partSize = m_table.cell(row, DownloadColumn::PartSize).toLongLong(&isNumber);
    if (isNumber && partSize == info.st_size)
        m_table.setCell(row, DownloadColumn::SizeOk, "G");
    if (satisfied)
        rowFinished(row);
    return satisfied;
}

void GatherEngine::startDownload(int row, const QString& path, QString& failure) {
    m_table.setCell(row, DownloadColumn::Status, "Starting...");
    m_table.setCell(row, DownloadColumn::Attempts,
                    QString::number(m_table.cell(row, DownloadColumn::Attempts).toLongLong() + 1));
    auto download = std::make_unique<PartDownload>(path);
    // The file never grows past the part's size; a size line that is no number bounds
    // nothing (its part can still be right by its CRC).
    bool isNumber = false;
    const qint64 partSize = m_table.cell(row, DownloadColumn::PartSize).toLongLong(&isNumber);
    // A part file that cannot be made must not hold a download slot for good: the row
    // gets an error status and waits for a later pass like any failed download.
    if (!download->file.create(m_partsFolder, LocalPartName(path), isNumber && partSize >= 0 ? partSize : -1,
                               m_coded != nullptr))
        return markStartFailure(row, "Error:File", download->file.errorString(), failure);

    const QString url = m_table.cell(row, DownloadColumn::Filename);
    download->slot = m_hosts.acquire(HostCaps::HostOf(url));
    auto* client = new THttpClient;
    download->client = client;
    client->SetURL(url);
    client->SetReference(url);
    client->SetTag(row + 1);
    client->SetTimeout(settings().timeoutSeconds);
    PartDownload* d = download.get();
    client->OnRequestDone = [this, d](THttpClient*, THttpRequest, quint16 error) { requestDone(d, error); };
    client->OnHeaderEnd = [this, d](THttpClient*) { headerEnd(d); };
    client->OnDocData = [this, d](THttpClient*, const char*, qint64) { docData(d); };
    client->SetRcvdStream(&download->file);
    try {
        client->GetAsync();
    } catch (const std::exception& e) {
        // A URL without a host: the request cannot even start.
        const QString reason = dynamic_cast<const UserError*>(&e) ? static_cast<const UserError&>(e).text()
                                                                   : QString::fromLocal8Bit(e.what());
        return markStartFailure(row, "Error:URL", "Cannot download " + url + ": " + reason, failure);
    }
    m_live.append(download.release());
    m_shownFailures.remove(row);
    if (onPartStarted)
        onPartStarted(row);
}

void GatherEngine::markStartFailure(int row, const QString& status, const QString& message, QString& failure) {
    m_table.setCell(row, DownloadColumn::Status, status);
    if (m_shownFailures.value(row) != message && failure.isEmpty())
        failure = message;
    m_shownFailures.insert(row, message);
    rowFinished(row);
}

void GatherEngine::decideRebuild(quint64 pass) {
    // Lets what is already queued run once (a repaint, a click) before deciding.
    QCoreApplication::processEvents();
    // Meanwhile another pass may have started downloads or decided for itself.
    if (pass != m_passes || !idle())
        return;
    qint64 done = m_index.doneRows(), good = m_index.goodRows(), rows = m_table.rows();
    if (m_coded)
        m_coded->countDataRows(done, good, rows);
    const bool allDone = done == rows;
    const bool allGood = good == rows;
    if (allDone &&
        (allGood ||
         m_prompt.confirm("There is an error in one of the parts.  Shall we still try to build the final file?")))
        Rebuild();
    else
        rest();
}

void GatherEngine::Abort() {
    m_stopFlag = true;
    // Abort returns before the client reports its end: the list holds still meanwhile.
    for (PartDownload* download : QList<PartDownload*>(m_live))
        download->client->Abort();
    abortRanged(-1);
}

void GatherEngine::Resume() {
    m_stopFlag = false;
    m_localFailure = false;
    m_certificateQuestions.Forget();
    Download();
}
