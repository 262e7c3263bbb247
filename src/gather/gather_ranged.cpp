// Downloads that keep bytes or fetch a part in ranges: how a pass chooses the way a row
// is fetched, and the figures, watchdog and verdict of a download in ranges.
#include "common/text_table.h"
#include "crc/crc32.h"
#include "gather/download_table.h"
#include "gather/file_hasher.h"
#include "gather/gather_engine.h"
#include "gather/gather_paths.h"
#include "gather/part_digest.h"
#include "gather/part_file.h"
#include "gather/progress_figure.h"
#include "gather/ranged_download.h"

#include <QTimer>
#include <sys/stat.h>

bool GatherEngine::startFetch(int row, const QString& path, const GatherSettings& s, QString& failure) {
    m_hosts.setCap(s.perHost);
    if (!m_hosts.hasRoom(HostCaps::HostOf(m_table.cell(row, DownloadColumn::Filename)))) {
        m_hostSkipped = true;
        return false;
    }
    const QString name = LocalPartName(path);
    ResumeNote note = m_resume.value(row);
    bool isNumber = false;
    const qint64 partSize = m_table.cell(row, DownloadColumn::PartSize).toLongLong(&isNumber);
    const int connections = qBound(1, s.connectionsPerPart, GatherSettings::MaxConnectionsPerPart);
    const bool inRanges = isNumber && connections > 1 && partSize > s.rangedPartSize && !note.noRanges;

    RangedFetch::Plan plan;
    plan.url = m_table.cell(row, DownloadColumn::Filename);
    plan.partName = name;
    plan.path = path;
    plan.connections = inRanges ? connections : 1;
    plan.minPiece = qMax<qint64>(s.rangedPartSize / connections, 1);
    plan.timeoutSeconds = s.timeoutSeconds;
    plan.fresh = !(s.resume && !note.startOver && isNumber && keptBytes(row, name, partSize, plan.ranges));
    // The file is made anew or goes on from here: what was known of it is no longer so.
    if (m_resume.contains(row)) {
        m_resume[row].prefixSize = -1;
        m_resume[row].startOver = false;
    }
    if (plan.fresh && !inRanges) {
        // A plain download from byte 0 replaces the file; a list of its ranges would lie.
        PartJournal(m_partsFolder.fd(), name).remove();
        startDownload(row, path, failure);
        return true;
    }
    if (plan.fresh)
        plan.ranges = PartRanges(partSize);
    if (inRanges)
        plan.ranges.spread(connections, plan.minPiece);
    startRangedDownload(row, std::move(plan), failure);
    return true;
}

// What the part file holds that a download may keep: the ranges its list names whose
// bytes are still there, or a plain prefix of the part (its CRC from what is known, else
// read once).
bool GatherEngine::keptBytes(int row, const QString& name, qint64 partSize, PartRanges& ranges) const {
    QString error;
    const UniqueFd in = m_partsFolder.openForReading(name, error);
    struct stat info {};
    if (!in.valid() || ::fstat(in.get(), &info) != 0)
        return false;
    if (std::optional<PartRanges> listed = PartJournal(m_partsFolder.fd(), name).load(partSize, info.st_size)) {
        // The list is written after the bytes it counts, but the system may put it on the
        // disk before them, and a crash or power cut then leaves a list that claims bytes
        // the file lost. A range keeps its bytes only when the file holds them by the CRC
        // the list gives; any other range is fetched again from its start.
        for (int i = 0; i < listed->count(); ++i) {
            ByteRange& range = listed->at(i);
            uint32_t crc = 0;
            if (range.got > 0 && (!DescriptorRangeCrc32(in.get(), uint64_t(range.begin), uint64_t(range.got), crc) ||
                                  crc != range.crc)) {
                range.got = 0;
                range.crc = 0;
            }
        }
        if (listed->received() == 0 || listed->complete())
            return false;
        ranges = std::move(*listed);
        return true;
    }
    if (info.st_size <= 0 || info.st_size >= partSize)
        return false;
    const ResumeNote note = m_resume.value(row);
    uint32_t crc = note.prefixCrc;
    if (note.prefixSize != info.st_size && !DescriptorCrc32(in.get(), crc))
        return false;
    ranges = PartRanges(partSize, info.st_size, crc);
    return true;
}

void GatherEngine::startRangedDownload(int row, RangedFetch::Plan plan, QString& failure) {
    m_table.setCell(row, DownloadColumn::Status, "Starting...");
    m_table.setCell(row, DownloadColumn::Attempts,
                    QString::number(m_table.cell(row, DownloadColumn::Attempts).toLongLong() + 1));
    // How much of the part is kept, for the log: a prefix, or ranges of a list.
    const qint64 prefix = plan.fresh || plan.ranges.count() > 1 ? -1 : plan.ranges.received();
    auto download = std::make_unique<RangedDownload>();
    download->row = row;
    download->fetch = std::make_unique<RangedFetch>(m_partsFolder, std::move(plan), m_hosts);
    RangedDownload* d = download.get();
    RangedFetch& fetch = *d->fetch;
    fetch.onAnswer = [this, d] {
        m_table.setCell(d->row, DownloadColumn::Size, QString::number(d->fetch->announced()));
        m_table.setCell(d->row, DownloadColumn::Code, QString::number(d->fetch->statusCode()));
        m_table.setCell(d->row, DownloadColumn::Content, d->fetch->contentType());
    };
    fetch.onProgress = [this, d] {
        if (!d->shown.isValid() || d->shown.elapsed() >= RowRefreshMs)
            showRangedProgress(d);
    };
    // Every range asked again is a download of the part, held to the attempts limit.
    fetch.onRestart = [this, d](const QString&) {
        const qint64 attempts = m_table.cell(d->row, DownloadColumn::Attempts).toLongLong();
        if (attempts >= settings().attemptsLimit)
            return false;
        m_table.setCell(d->row, DownloadColumn::Attempts, QString::number(attempts + 1));
        return true;
    };
    fetch.onNote = [this, d](const QString& note) {
        if (onPartNote)
            onPartNote(d->row, note);
    };
    fetch.onEnded = [this, d] { rangedDone(d); };

    QString error;
    if (!fetch.openFile(m_partsFolder, error))
        return markStartFailure(row, "Error:File", error, failure);
    if (!fetch.start(error))
        return markStartFailure(row, "Error:URL", error, failure);
    m_ranged.append(download.release());
    m_shownFailures.remove(row);
    // The kept bytes count as received from the start; the Status waits for new ones.
    const qint64 kept = fetch.received();
    m_table.setCell(row, DownloadColumn::Recvd, QString::number(kept));
    if (onPartStarted)
        onPartStarted(row);
    // A kept file that proved unfit was made anew: nothing is kept then.
    if (kept > 0 && onPartNote)
        onPartNote(row, prefix >= 0 ? QStringLiteral("resuming at byte %1").arg(prefix)
                                    : QStringLiteral("resuming with %1 bytes kept").arg(kept));
}

void GatherEngine::showRangedProgress(RangedDownload* d) {
    const qint64 received = d->fetch->received();
    m_table.setCell(d->row, DownloadColumn::Recvd, QString::number(received));
    m_table.setCell(d->row, DownloadColumn::Status, ProgressFigure(received, m_table.cell(d->row, DownloadColumn::Size)));
    d->shown.start();
}

// The verdict of a download in ranges, as for one over a single connection: the same
// statuses, attempts limit, checks and next pass; the part's digest comes from the ranges.
void GatherEngine::rangedDone(RangedDownload* d) {
    const GatherSettings s = settings();
    const int row = d->row;
    const RangedFetch::End end = d->fetch->end();
    if (d->fetch->received() > 0)
        showRangedProgress(d);
    showEndStatus(row, end.error, end.statusCode);
    if (!applyAttemptsLimit(row, d->inCompletion, d->dropped, s)) {
        delete d;
        return;
    }
    m_ranged.removeOne(d);
    // Written out of order or after kept bytes: no SHA-256 was taken behind the writes,
    // so a version-2 part is read back for it.
    const PartDigest digest = d->fetch->finish();
    const bool waiting = verify(row, digest, s, {}, end.cause);
    if (m_table.cell(row, DownloadColumn::CrcOk) == QLatin1String("G")) {
        m_resume.remove(row);
    } else {
        ResumeNote& note = m_resume[row];
        // All of it came and it is wrong, or the server's answers cannot be trusted.
        note.startOver = end.startOver || digest.crcKnown;
        note.noRanges = note.noRanges || end.noRanges;
        note.prefixSize = d->fetch->keptPrefix();
        note.prefixCrc = d->fetch->keptCrc();
    }
    const QString fileName = d->fetch->path();
    delete d;
    afterVerdict(row, waiting, end.writeError, fileName, end.error);
}

void GatherEngine::tickRanged(const GatherSettings& s, qint64 now) {
    for (RangedDownload* d : QList<RangedDownload*>(m_ranged)) {
        const RangedFetch::Idle idle = d->fetch->tick(now, s.timeoutSeconds, s.lowestSpeed);
        showRangedProgress(d);
        m_table.setCell(d->row, DownloadColumn::IdleSeconds, QString::number(idle.counted));
        m_table.setCell(d->row, DownloadColumn::IdleSeconds, QString::number(idle.left));
        m_table.setCell(d->row, DownloadColumn::LRcvd, m_table.cell(d->row, DownloadColumn::Recvd));
    }
}

// Abort and ReStart (the row, from 0; -1 for every row). Each download reports its end
// later, from the event loop.
void GatherEngine::abortRanged(int row) {
    for (RangedDownload* d : QList<RangedDownload*>(m_ranged))
        if (row < 0 || d->row == row)
            d->fetch->abort();
}

void GatherEngine::dropRanged() {
    const QList<RangedDownload*> ranged = m_ranged;
    m_ranged.clear();
    for (RangedDownload* d : ranged) {
        if (d->inCompletion)
            d->dropped = true;
        else
            delete d;
    }
}

// Connections closed: downloads under way take the room first (their parts end sooner),
// then the rows a pass left for a host at its cap.
void GatherEngine::slotsFreed() {
    for (RangedDownload* d : QList<RangedDownload*>(m_ranged))
        d->fetch->grow();
    if (m_hostSkipped && !m_stopFlag && !m_asking && liveCount() > 0)
        Download();
}

void GatherEngine::rememberOnDisk(int row, qint64 size, uint32_t crc) {
    ResumeNote& note = m_resume[row];
    note.prefixSize = size;
    note.prefixCrc = crc;
}

// What a download over one connection leaves: the bytes of one that ended short are a
// prefix of the part, known with their CRC; those of a whole answer that was wrong are not.
void GatherEngine::noteSequentialEnd(int row, quint16 error, const PartFile& file) {
    if (m_table.cell(row, DownloadColumn::CrcOk) == QLatin1String("G")) {
        m_resume.remove(row);
        return;
    }
    const bool short_ = error != 0 && file.writeError() == 0 && !file.overLimit() && file.closedSize() == file.written();
    ResumeNote& note = m_resume[row];
    note.startOver = !short_;
    note.prefixSize = short_ ? file.written() : -1;
    note.prefixCrc = file.crc();
}
