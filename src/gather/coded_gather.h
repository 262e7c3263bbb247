#pragma once

#include "common/manifest_v2.h"
#include "gather/part_digest.h"

#include <QObject>
#include <QString>
#include <map>
#include <memory>
#include <vector>

class FileHasher;
class GatherEngine;
struct FileHash;
struct GatherSettings;
struct ReconstructionResult;

// What a gather of a version-2 manifest adds to the engine: every part is good only by
// its SHA-256 as well, and recovery parts stand in for data parts that are lost.
//
// SHA-256. Hashing gigabytes would stall the window, so it runs beside the event loop: a
// download's hash follows its writes (PartFile), a part already on disk or written out of
// order is read back (FileHasher), and the row shows "Checking..." until its verdict.
// The rebuild's read behind the join takes the file's SHA-256.
//
// Recovery. The table starts with the k data rows. A data part counts as failing once it
// has failed three attempts in a row (a dead host's hundred attempts would take most of an
// hour), and as lost once it ends for good ("404 Error", "Too many attempts Error.", a
// part still wrong that is not fetched again). For each data part failing or lost, one
// recovery part gets a row of its own at the end of the table, fetched like any part (a
// recovery part failing in its turn is not counted on, so the next one comes beside it);
// never more than that, and a recovery part no longer needed before it started stands by
// ("Not needed."). A failing data part is still fetched again, but only with a slot that
// nothing else wants: whichever comes first wins. Once k parts are good and every data
// part that is not is failing or lost, the missing ones are rebuilt from them into their
// part files (PartReconstruction, on a thread of its own), checked by CRC-32 and SHA-256,
// and the rebuild follows as for any gather. More parts lost than there are recovery
// parts: the gather stops with a message that counts them, and every good part stays.
//
// Without recovery parts (m = 0) the gather is that of version 1 with the SHA-256 added.
class CodedGather {
public:
    CodedGather(GatherEngine& engine, ManifestV2 manifest);
    ~CodedGather();
    CodedGather(const CodedGather&) = delete;
    CodedGather& operator=(const CodedGather&) = delete;

    int dataRows() const { return m_k; }
    bool recovers() const { return m_m > 0; }
    // Part files being checked or rebuilt: their verdicts are still to come.
    bool busy() const;

    // ---- the pass ----
    // Before the walk: recovery rows added or stood by, lost parts rebuilt. False when more
    // parts are lost than recovery parts can replace: the gather has stopped.
    bool plan();
    // The row waits for the second round of the walk (a part failing while recovery
    // parts stand in for it).
    bool holdsBack(int row) const;
    // The second round: held-back rows, in row order, in the slots left.
    void startHeldBack(const GatherSettings& settings, QString& failure);
    // "Check if on HD first": true when the row's file on disk is being checked (or waits
    // for a check), false when the row is to be fetched (no file, or found wrong before).
    bool checkOnDisk(int row);
    // The data rows' counts for the gauge and the rebuild decision: rows "Done." (with
    // recovery parts, every good row counts as done), rows good, and k.
    void countDataRows(qint64& done, qint64& good, qint64& rows) const;

    // ---- verdicts ----
    enum class Sha256Check { Good, Wrong, Pending };
    // A part right by size and CRC-32: its SHA-256 from the digest, else from `behind`
    // (finished now) or a read of its file. Pending: the row shows "Checking..." and
    // gets its verdict later.
    Sha256Check checkSha256(int row, const PartDigest& digest, std::unique_ptr<FileHasher> behind);
    // Counts failed attempts in a row; with recovery parts, a row past the attempts
    // limit ends as "Too many attempts Error." whatever its bytes.
    void noteVerdict(int row, const GatherSettings& settings);

private:
    struct Check;
    struct Reconstruction;
    struct Tally;

    const ManifestV2Part& partOf(int row) const;
    QString localName(int row) const;
    void ensureRows();
    Tally tally() const;
    bool rowBusy(int row) const;
    void addRecoveryRow();
    void standDown(int row);
    void reportLoss(const Tally& tally);
    void startReconstruction(const std::vector<int>& present);
    void reconstructed(const ReconstructionResult& result);
    void failReconstruction(const QString& message);
    quint64 startCheck(int row, std::unique_ptr<FileHasher> hasher, bool onDisk);
    void checked(quint64 id, const FileHash& hash);
    void dropChecksOf(int row);
    void note(const QString& line) const;

    // First: the queued results of the hashing and coding threads go to it, and its end
    // drops those still queued, after the threads are stopped.
    QObject m_context;
    GatherEngine& m_engine;
    const ManifestV2 m_manifest;
    const int m_k;
    const int m_m;
    // Per row: failed attempts in a row, a check under way, a part file found wrong on
    // disk (fetched from then on), a part being rebuilt.
    std::vector<int> m_failedInARow;
    std::vector<char> m_checking;
    std::vector<char> m_diskChecked;
    std::vector<char> m_rebuilding;
    std::map<quint64, std::unique_ptr<Check>> m_checks;
    quint64 m_nextCheck = 0;
    int m_diskChecks = 0;
    std::unique_ptr<Reconstruction> m_reconstruction;
};
