#include "gather/coded_gather.h"

#include "common/text_table.h"
#include "common/user_prompt.h"
#include "gather/download_row_index.h"
#include "gather/download_table.h"
#include "gather/file_hasher.h"
#include "gather/gather_engine.h"
#include "gather/gather_paths.h"
#include "gather/manifest_parts.h"
#include "gather/part_download.h"
#include "gather/part_reconstruction.h"
#include "gather/ranged_download.h"
#include "gather/parts_on_disk.h"

#include <QMetaObject>
#include <atomic>
#include <thread>

namespace {

// Failed attempts in a row after which a data part counts as failing: a recovery part is
// fetched for it while it is still tried.
constexpr int FailuresBeforeRecovery = 3;
// Parts on disk checked at once: each keeps a core busy while it is read.
constexpr int MostDiskChecks = 2;

const QString Checking = QStringLiteral("Checking...");
const QString Rebuilding = QStringLiteral("Rebuilding...");
const QString NotNeeded = QStringLiteral("Not needed.");

}  // namespace

struct CodedGather::Check {
    int row = 0;
    QString statusBefore;  // what the row shows again when its file is not taken
    bool onDisk = false;   // "Check if on HD first", else a finished download
    std::unique_ptr<FileHasher> hasher;
};

struct CodedGather::Reconstruction {
    quint64 id = 0;
    std::vector<int> present;
    std::vector<int> missing;
    ReconstructionFiles files;
    std::atomic<bool> cancel{false};
    std::thread thread;
    ~Reconstruction() {
        cancel = true;
        if (thread.joinable())
            thread.join();
    }
};

struct CodedGather::Tally {
    int goodData = 0, lostData = 0, failingData = 0, pendingData = 0;
    int goodRecovery = 0, lostRecovery = 0, activeRecovery = 0;
    std::vector<int> good;          // good rows, data rows first
    std::vector<int> standby;       // recovery rows standing by
    std::vector<int> notStarted;    // recovery rows wanted, not started yet
};

CodedGather::CodedGather(GatherEngine& engine, ManifestV2 manifest)
    : m_engine(engine), m_manifest(std::move(manifest)), m_k(m_manifest.layout.dataParts),
      m_m(m_manifest.layout.recoveryParts) {
    ensureRows();
}

CodedGather::~CodedGather() = default;

bool CodedGather::busy() const { return !m_checks.empty() || m_reconstruction; }

const ManifestV2Part& CodedGather::partOf(int row) const {
    return row < m_k ? m_manifest.data[row] : m_manifest.recovery[row - m_k];
}

QString CodedGather::localName(int row) const { return LocalPartName(partOf(row).url); }

void CodedGather::ensureRows() {
    const auto rows = static_cast<std::size_t>(m_engine.m_table.rows());
    m_failedInARow.resize(rows, 0);
    m_checking.resize(rows, 0);
    m_diskChecked.resize(rows, 0);
    m_rebuilding.resize(rows, 0);
}

bool CodedGather::rowBusy(int row) const {
    if (m_checking[row] || m_rebuilding[row])
        return true;
    for (const PartDownload* download : m_engine.m_live)
        if (download->row() == row)
            return true;
    for (const RangedDownload* download : m_engine.m_ranged)
        if (download->row == row)
            return true;
    return false;
}

void CodedGather::note(const QString& line) const {
    if (m_engine.onNote)
        m_engine.onNote(line);
}

void CodedGather::countDataRows(qint64& done, qint64& good, qint64& rows) const {
    done = good = 0;
    rows = m_k;
    const TextTable& table = m_engine.m_table;
    for (int row = 0; row < m_k; ++row) {
        const bool isGood = table.cell(row, DownloadColumn::CrcOk) == QLatin1String("G");
        const QString status = table.cell(row, DownloadColumn::Status);
        good += isGood;
        done += status == QLatin1String("Done.") || (recovers() && isGood);
    }
}

// ---- the pass ----

CodedGather::Tally CodedGather::tally() const {
    Tally t;
    const TextTable& table = m_engine.m_table;
    for (int row = 0; row < table.rows(); ++row) {
        const QString status = table.cell(row, DownloadColumn::Status);
        const bool good = table.cell(row, DownloadColumn::CrcOk) == QLatin1String("G");
        const bool busy = rowBusy(row);
        const bool standby = status == NotNeeded;
        const bool lost = !good && !busy && !standby && status != Rebuilding && !IsPassCandidate(status);
        if (good)
            t.good.push_back(row);
        if (row < m_k) {
            t.goodData += good;
            t.lostData += lost;
            const bool failing = !good && !lost && m_failedInARow[row] >= FailuresBeforeRecovery;
            t.failingData += failing;
            t.pendingData += !good && !lost && !failing;
        } else if (standby) {
            t.standby.push_back(row);
        } else {
            t.goodRecovery += good;
            t.lostRecovery += lost;
            // A recovery part failing as a data part fails is not counted on: the next
            // one is fetched beside it, as for a data part.
            const bool counted = !good && !lost && m_failedInARow[row] < FailuresBeforeRecovery;
            t.activeRecovery += counted;
            if (counted && !busy)
                t.notStarted.push_back(row);
        }
    }
    return t;
}

bool CodedGather::plan() {
    if (!recovers() || m_reconstruction)
        return true;
    ensureRows();
    const Tally t = tally();
    TextTable& table = m_engine.m_table;
    if (t.goodData == m_k) {
        // Nothing left to stand in for: recovery parts still coming would only hold up
        // the rebuild.
        for (int row = m_k; row < table.rows(); ++row)
            if (table.cell(row, DownloadColumn::CrcOk) != QLatin1String("G") && table.cell(row, DownloadColumn::Status) != NotNeeded)
                standDown(row);
        return true;
    }
    if (t.lostData + t.lostRecovery > m_m) {
        reportLoss(t);
        return false;
    }
    // One recovery part for each data part failing or lost, counting those good or under way.
    const int need = t.failingData + t.lostData;
    int have = t.goodRecovery + t.activeRecovery;
    for (const int row : t.standby) {
        if (have >= need)
            break;
        table.setCell(row, DownloadColumn::Status, "Idle");
        ++have;
    }
    for (; have < need && table.rows() < m_k + m_m; ++have)
        addRecoveryRow();
    // A failing data part came back: the recovery parts not started yet wait.
    for (auto row = t.notStarted.rbegin(); row != t.notStarted.rend() && have > need; ++row, --have)
        table.setCell(*row, DownloadColumn::Status, NotNeeded);
    if (t.pendingData == 0 && t.goodData + t.goodRecovery >= m_k)
        startReconstruction(std::vector<int>(t.good.begin(), t.good.begin() + m_k));
    return true;
}

void CodedGather::addRecoveryRow() {
    TextTable& table = m_engine.m_table;
    const int recovery = table.rows() - m_k;
    table.addRow(DownloadRowCells(ManifestPartOf(m_manifest.recovery[recovery])));
    ensureRows();
    note(QString("recovery part %1 is fetched for a data part that is failing or lost").arg(recovery + 1));
}

void CodedGather::standDown(int row) {
    // A handler waiting for a message box to close frees its own download afterwards.
    for (PartDownload* download : QList<PartDownload*>(m_engine.m_live)) {
        if (download->row() != row)
            continue;
        m_engine.m_live.removeOne(download);
        if (download->inCompletion)
            download->dropped = true;
        else
            delete download;
    }
    for (RangedDownload* download : QList<RangedDownload*>(m_engine.m_ranged)) {
        if (download->row != row)
            continue;
        m_engine.m_ranged.removeOne(download);
        if (download->inCompletion)
            download->dropped = true;
        else
            delete download;
    }
    dropChecksOf(row);
    m_engine.m_table.setCell(row, DownloadColumn::Status, NotNeeded);
}

void CodedGather::reportLoss(const Tally& t) {
    // Once per stop: a Resume that finds the same loss says it again.
    if (m_engine.m_stopFlag)
        return;
    m_engine.m_stopFlag = true;
    const QString message = PartsLostMessage(t.lostData, m_k, t.lostRecovery, m_m);
    note(message);
    m_engine.m_prompt.information(message);
}

bool CodedGather::holdsBack(int row) const {
    return recovers() && row < static_cast<int>(m_failedInARow.size()) && m_failedInARow[row] >= FailuresBeforeRecovery;
}

void CodedGather::startHeldBack(const GatherSettings& settings, QString& failure) {
    const TextTable& table = m_engine.m_table;
    for (int row = 0; row < table.rows() && m_engine.liveCount() < settings.simultaneous; ++row) {
        if (!holdsBack(row) || !IsPassCandidate(table.cell(row, DownloadColumn::Status)) || rowBusy(row))
            continue;
        const QString path = m_engine.partPath(settings, row);
        if (settings.checkOnDisk && m_engine.acceptFromDisk(row, path))
            continue;
        m_engine.startFetch(row, path, settings, failure);
    }
}

// ---- the reconstruction ----

void CodedGather::startReconstruction(const std::vector<int>& present) {
    std::vector<int> missing;
    for (int row = 0; row < m_k; ++row)
        if (std::find(present.begin(), present.end(), row) == present.end())
            missing.push_back(row);
    TextTable& table = m_engine.m_table;
    for (const int row : missing) {
        standDown(row);  // its download and its check, if any: the rebuilt part replaces them
        table.setCell(row, DownloadColumn::Status, Rebuilding);
        table.setCell(row, DownloadColumn::CrcOk, "Y");
        m_rebuilding[row] = 1;
    }
    QStringList names;
    for (int row = 0; row < m_k + m_m; ++row)
        names << LocalPartName(row < m_k ? m_manifest.data[row].url : m_manifest.recovery[row - m_k].url);
    auto run = std::make_unique<Reconstruction>();
    static std::atomic<quint64> ids{0};
    run->id = ++ids;
    run->present = present;
    run->missing = missing;
    QString error;
    if (!OpenReconstructionFiles(m_engine.m_partsFolder, present, missing, names, run->files, error)) {
        m_reconstruction = std::move(run);
        return failReconstruction(error);
    }
    Reconstruction* r = run.get();
    const CodingLayout layout = m_manifest.layout;
    r->thread = std::thread([this, r, layout] {
        ReconstructionResult result;
        try {
            result = ReconstructParts(layout, r->files, &r->cancel);
        } catch (const std::exception& e) {
            result.error = QString::fromLocal8Bit(e.what());
        }
        if (r->cancel)
            return;
        QMetaObject::invokeMethod(
            &m_context,
            [this, id = r->id, result] {
                if (m_reconstruction && m_reconstruction->id == id)
                    reconstructed(result);
            },
            Qt::QueuedConnection);
    });
    m_reconstruction = std::move(run);
}

void CodedGather::failReconstruction(const QString& message) {
    for (const int row : m_reconstruction->missing) {
        m_rebuilding[row] = 0;
        m_engine.m_table.setCell(row, DownloadColumn::Status, "Error:Rebuild");
        m_engine.m_table.setCell(row, DownloadColumn::CrcOk, "R");
    }
    m_reconstruction.reset();
    // Trying again cannot help until the user has seen why: Resume tries again.
    m_engine.m_localFailure = true;
    m_engine.m_stopFlag = true;
    note(message);
    m_engine.m_prompt.error(message);
}

void CodedGather::reconstructed(const ReconstructionResult& result) {
    if (!result.error.isEmpty())
        return failReconstruction(result.error);
    TextTable& table = m_engine.m_table;
    const std::unique_ptr<Reconstruction> run = std::move(m_reconstruction);
    const QString from = RebuiltFromText(run->present, m_k);
    QString wrong;
    for (const RebuiltPart& part : result.parts) {
        const ManifestV2Part& expected = m_manifest.data[part.part];
        const bool good = part.size == expected.size && part.crc == expected.crc && part.sha256 == expected.sha256;
        const QString what = QString("part %1 rebuilt from %2").arg(part.part + 1).arg(from);
        m_rebuilding[part.part] = 0;
        table.setCell(part.part, DownloadColumn::Status, good ? "Rebuilt from " + from : QStringLiteral("Error:SHA-256"));
        table.setCell(part.part, DownloadColumn::CrcOk, good ? "G" : "R");
        table.setCell(part.part, DownloadColumn::SizeOk, good ? "G" : "R");
        note(good ? what : what + " does not match its CRC-32 and SHA-256");
        if (!good && wrong.isEmpty())
            wrong = what + " does not match its CRC-32 and SHA-256: the gather stops.";
        m_engine.rowFinished(part.part);
    }
    if (!wrong.isEmpty()) {
        // Parts that passed their checks gave a wrong part: rebuilding again would only
        // repeat it.
        m_engine.m_stopFlag = true;
        m_engine.m_prompt.error(wrong);
    }
    m_engine.carryOn();
}

// ---- checks ----

bool CodedGather::checkOnDisk(int row) {
    ensureRows();
    if (m_diskChecked[row])
        return false;
    QString notAFile;
    UniqueFd in = m_engine.m_partsFolder.openForReading(localName(row), notAFile);
    if (!in.valid()) {
        m_diskChecked[row] = 1;
        return false;
    }
    // The row stays a candidate: a later pass checks it.
    if (m_diskChecks >= MostDiskChecks)
        return true;
    m_diskChecked[row] = 1;
    ++m_diskChecks;
    startCheck(row, std::make_unique<FileHasher>(std::move(in), true), true);
    return true;
}

CodedGather::Sha256Check CodedGather::checkSha256(int row, const PartDigest& digest, std::unique_ptr<FileHasher> behind) {
    ensureRows();
    const ManifestV2Part& part = partOf(row);
    if (digest.size != part.size)
        return Sha256Check::Wrong;
    if (digest.sha256)
        return *digest.sha256 == part.sha256 ? Sha256Check::Good : Sha256Check::Wrong;
    if (!behind) {
        QString notAFile;
        UniqueFd in = m_engine.m_partsFolder.openForReading(localName(row), notAFile);
        if (!in.valid())
            return Sha256Check::Wrong;
        behind = std::make_unique<FileHasher>(std::move(in), false);
    }
    startCheck(row, std::move(behind), false);
    return Sha256Check::Pending;
}

quint64 CodedGather::startCheck(int row, std::unique_ptr<FileHasher> hasher, bool onDisk) {
    auto check = std::make_unique<Check>();
    check->row = row;
    check->statusBefore = m_engine.m_table.cell(row, DownloadColumn::Status);
    check->onDisk = onDisk;
    check->hasher = std::move(hasher);
    const quint64 id = ++m_nextCheck;
    check->hasher->finish(&m_context, [this, id](const FileHash& hash) { checked(id, hash); });
    m_checks.emplace(id, std::move(check));
    m_checking[row] = 1;
    m_engine.m_table.setCell(row, DownloadColumn::Status, Checking);
    m_engine.m_table.setCell(row, DownloadColumn::CrcOk, "Y");
    return id;
}

void CodedGather::checked(quint64 id, const FileHash& hash) {
    const auto found = m_checks.find(id);
    if (found == m_checks.end())
        return;
    const std::unique_ptr<Check> check = std::move(found->second);
    m_checks.erase(found);
    const int row = check->row;
    m_checking[row] = 0;
    TextTable& table = m_engine.m_table;
    const ManifestV2Part& part = partOf(row);
    const bool rightSize = hash.error == 0 && hash.bytes == part.size;
    // A finished download's CRC-32 was taken as it was written; a part on disk has only
    // this read.
    const bool good = rightSize && (!check->onDisk || hash.crc == part.crc) && hash.sha256 == part.sha256;
    if (check->onDisk) {
        --m_diskChecks;
        if (rightSize)
            table.setCell(row, DownloadColumn::SizeOk, "G");
        table.setCell(row, DownloadColumn::Status, good ? QStringLiteral("Done.") : check->statusBefore);
        table.setCell(row, DownloadColumn::CrcOk, good ? "G" : "Y");
        if (good)
            m_engine.rowFinished(row);
    } else {
        const bool retry = m_engine.settings().retryOnCrcError;
        table.setCell(row, DownloadColumn::CrcOk, good ? "G" : "R");
        table.setCell(row, DownloadColumn::Status, good || !retry ? check->statusBefore : QStringLiteral("Error:SHA-256"));
        m_engine.rowFinished(row);
    }
    m_engine.carryOn();
}

void CodedGather::dropChecksOf(int row) {
    for (auto it = m_checks.begin(); it != m_checks.end();) {
        if (it->second->row != row) {
            ++it;
            continue;
        }
        if (it->second->onDisk)
            --m_diskChecks;
        m_engine.m_table.setCell(row, DownloadColumn::Status, it->second->statusBefore);
        it = m_checks.erase(it);
    }
    m_checking[row] = 0;
}

void CodedGather::noteVerdict(int row, const GatherSettings& settings) {
    ensureRows();
    const TextTable& table = m_engine.m_table;
    const bool good = table.cell(row, DownloadColumn::CrcOk) == QLatin1String("G");
    m_failedInARow[row] = good ? 0 : m_failedInARow[row] + 1;
    if (recovers() && !good && table.cell(row, DownloadColumn::Attempts).toLongLong() >= settings.attemptsLimit)
        m_engine.m_table.setCell(row, DownloadColumn::Status, "Too many attempts Error.");
}
