#pragma once

#include "common/manifest_format.h"
#include "common/safe_folder.h"
#include "gather/check_and_fill.h"
#include "gather/download_row_index.h"
#include "gather/gather_settings.h"
#include "gather/host_caps.h"
#include "gather/part_digest.h"
#include "gather/part_joiner.h"
#include "gather/ranged_fetch.h"
#include "gather/rebuild.h"
#include "net/tls_trust_question.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>
#include <functional>
#include <memory>

class CodedGather;
class FileHasher;
class PartFile;
struct RangedDownload;
class QTimer;
class TextTable;
class UserPrompt;
struct PartDownload;

// The receiving side at work: from a loaded manifest to a rebuilt file. It fills the
// download table, starts the part downloads a few at a time (one HTTP client each),
// follows them in the table, verifies each finished part by size and CRC, fetches
// wrong and failed parts again, aborts stalled downloads, and rebuilds the file when
// every part is done. A version-2 manifest adds the SHA-256 of every part and the
// recovery parts that stand in for lost data parts (CodedGather). The window and parcelwick-cli drive the same engine: it never
// sees a widget, only the table, the manifest lines and the prompt interface, and it
// reads its settings through a callback at every step.
//
// Nothing is thrown out of it: every failure is reported through the prompt, so the
// handlers that the event loop calls (completions, ticks) never let one escape.
class GatherEngine {
public:
    using SettingsSource = std::function<GatherSettings()>;

    GatherEngine(TextTable& downloadTable, ManifestLines& mempwq, UserPrompt& prompt, SettingsSource settings);
    // Live downloads are dropped: their sockets close and nothing more is reported.
    ~GatherEngine();
    GatherEngine(const GatherEngine&) = delete;
    GatherEngine& operator=(const GatherEngine&) = delete;

    // ---- what the front ends hear (each optional) ----
    // The completion percentage, at every pass and rebuild.
    std::function<void(int percent)> onGauge;
    // A download of the row (from 0) started.
    std::function<void(int row)> onPartStarted;
    // The row got its verdict: a download ended, or the part was found on disk.
    std::function<void(int row)> onPartFinished;
    // The rebuild's join moved on.
    JoinProgress onRebuildProgress;
    // A rebuild ran to this end.
    std::function<void(RebuildOutcome)> onRebuilt;
    // Nothing is live and nothing will start by itself: the gather waits for the user
    // (parts in error, a refused confirmation, Abort, the attempts limit, a limit of 0).
    std::function<void()> onRest;
    // A line for the log: what the recovery parts did ("part 3 rebuilt from recovery
    // parts 1 and 2").
    std::function<void(const QString&)> onNote;
    // A line about a download of the row for a log: "resuming at byte N", a range asked
    // again and why, a server that sends no ranges, a host's lowered cap.
    std::function<void(int row, const QString& note)> onPartNote;

    // ---- loading a manifest ----
    // Open/Download after the dialog: reads the file into the manifest lines, then
    // Check and fill.
    FillOutcome OpenManifestFile(const QString& path);
    // Check and fill (`btnldpwq2`): checks the manifest lines, refills the table and, with
    // automatic merge, runs the first pass. Downloads of an earlier manifest still live
    // are dropped first, so none of them ever reports into the new table's rows. A
    // refused manifest leaves the table and the live downloads as they were.
    FillOutcome CheckAndFill();

    // ---- scheduling ----
    // Download!: one scheduling pass.
    void Download();
    // Abort: sets the stop flag and aborts every live download; each then reports its
    // end as an error and nothing new starts.
    void Abort();
    // Resume: clears the stop flag and runs a pass.
    void Resume();

    // ---- watchdog ----
    // One tick of the stall timer: counts idle seconds per live download and aborts the
    // ones idle for longer than the time-out, and the ones that received less than the
    // lowest speed over the time-out's last ticks; switches the timer off when nothing
    // is live.
    void StallTick();
    // ReStart: aborts the live download of the selected row (from 0; -1 for none).
    void ReStart(int selectedRow);

    // Rebuild (`btnReBuild`) of the manifest that filled the table.
    RebuildOutcome Rebuild();

    bool stopFlag() const { return m_stopFlag; }
    void setStopFlag(bool stop) { m_stopFlag = stop; }
    int liveCount() const { return static_cast<int>(m_live.size() + m_ranged.size()); }
    // Downloads live, or part files being checked or rebuilt: something will still report.
    bool busy() const { return !idle(); }
    // The rows of data parts: the first ones; recovery rows of a version-2 manifest follow.
    int dataRows() const;
    // The stall timer: 1000 ms, off until the first pass.
    QTimer* stallTimer() const { return m_stallTimer.get(); }

private:
    FillOutcome afterFill(FillOutcome outcome);
    void dropLiveDownloads();
    void showGauge();
    GatherSettings settings() const { return m_settings(); }
    QString partPath(const GatherSettings& settings, int row) const;

    // The pass.
    bool makeDirectories(const GatherSettings& settings);
    bool acceptFromDisk(int row, const QString& path);
    void startDownload(int row, const QString& path, QString& failure);
    void markStartFailure(int row, const QString& status, const QString& message, QString& failure);
    void decideRebuild(quint64 pass);
    void rest();
    void askAboutCertificates();

    // The handlers of a download.
    void headerEnd(PartDownload* download);
    void docData(PartDownload* download);
    void requestDone(PartDownload* download, quint16 error);
    void showProgress(PartDownload* download);
    // The verdict on a finished download's part file: size, CRC-32 and, for a version-2
    // part, SHA-256 (from the digest, from `behind`, the hasher that read the file behind
    // its writes, or else by reading the file back). `cause`: what ended the download
    // when its bytes cannot tell ("Error:" + cause). True when the verdict waits for the
    // SHA-256: the row shows "Checking..." and gets it later, with rowFinished() and the
    // next pass; false when the row has it now and the caller goes on.
    bool verify(int row, const PartDigest& digest, const GatherSettings& settings,
                std::unique_ptr<FileHasher> behind = {}, const QString& cause = {});
    // The row got its verdict.
    void rowFinished(int row);
    // After a verdict that came later: the next pass, or the rest once nothing reports.
    void carryOn();
    bool idle() const;
    // A fast download reports many chunks a second; its row is redrawn at most this often.
    static constexpr qint64 RowRefreshMs = 100;
    void markTooSlow(int row, qint64 tooSlowRate);
    // What the end of either kind of download shares.
    void showEndStatus(int row, quint16 error, int statusCode);
    bool applyAttemptsLimit(int row, bool& inCompletion, const bool& dropped, const GatherSettings& settings);
    void afterVerdict(int row, bool waiting, int writeError, const QString& fileName, quint16 error);

    // Downloads in ranges and resumed downloads (gather_ranged.cpp).
    bool startFetch(int row, const QString& path, const GatherSettings& settings, QString& failure);
    bool keptBytes(int row, const QString& name, qint64 partSize, PartRanges& ranges) const;
    void startRangedDownload(int row, RangedFetch::Plan plan, QString& failure);
    void showRangedProgress(RangedDownload* download);
    void rangedDone(RangedDownload* download);
    void tickRanged(const GatherSettings& settings, qint64 now);
    void abortRanged(int row);
    void dropRanged();
    void slotsFreed();
    void rememberOnDisk(int row, qint64 size, uint32_t crc);
    void noteSequentialEnd(int row, quint16 error, const PartFile& file);

    TextTable& m_table;
    ManifestLines& m_mempwq;
    UserPrompt& m_prompt;
    SettingsSource m_settings;
    // Which rows a pass may start, and the counts of rows done and good.
    DownloadRowIndex m_index;
    // The watchdog's clock for the rate of a download.
    QElapsedTimer m_clock;
    // The manifest that filled the table. Paths and the rebuild follow it, not the
    // manifest lines, which a later refused load or "Make PWQ" replaces.
    ManifestLines m_filled;
    bool m_loaded = false;
    bool m_stopFlag = false;
    QList<PartDownload*> m_live;
    std::unique_ptr<QTimer> m_stallTimer;
    // Counts passes, so a pass that let the event loop run sees whether another pass
    // has decided meanwhile.
    quint64 m_passes = 0;
    // The start failure last shown per row: a part that cannot be started is tried again
    // at every pass, but its message is shown once.
    QHash<int, QString> m_shownFailures;
    // A download refused a server's certificate: the user decides (once per server, while
    // no pass starts anything); a declined one makes the gather rest, and Resume or a new
    // manifest asks again.
    TlsTrustQuestions m_certificateQuestions;
    bool m_asking = false;
    // The parts directory of the current pass, opened so that no part is written or
    // read through a link.
    SafeFolder m_partsFolder;
    // The folders could not be made, or a part file refused a write (the disk is full,
    // the file system refuses): the gather stops, since fetching again cannot help, and
    // a refused write is shown once. Resume and a new manifest try again.
    bool m_localFailure = false;

    // Parts that keep bytes between downloads, per row: whether the bytes on disk failed
    // a check (the next download starts at byte 0), whether the server answers ranges
    // wrongly (one plain download), and the length and CRC of the plain prefix the part
    // file is known to hold, so it need not be read again.
    struct ResumeNote {
        bool startOver = false;
        bool noRanges = false;
        qint64 prefixSize = -1;
        uint32_t prefixCrc = 0;
    };
    QHash<int, ResumeNote> m_resume;
    QList<RangedDownload*> m_ranged;
    // Connections per host over every download; a pass that left a row for a host at its
    // cap starts it when a connection closes.
    HostCaps m_hosts;
    bool m_hostSkipped = false;

    // The SHA-256 checks and the recovery parts of a version-2 manifest; null for version 1.
    friend class CodedGather;
    std::unique_ptr<CodedGather> m_coded;
};
