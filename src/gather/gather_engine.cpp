// The engine's life and its manifest: construction, loading, dropping the downloads of
// an earlier table, and the rebuild.
#include "gather/gather_engine.h"

#include "common/text_table.h"
#include "gather/coded_gather.h"
#include "gather/download_table.h"
#include "gather/gather_paths.h"
#include "gather/manifest_parts.h"
#include "gather/part_download.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <utility>

namespace {

// How long the rebuild's join works between two turns of the event loop.
constexpr qint64 RebuildEventSliceMs = 10;

}  // namespace

GatherEngine::GatherEngine(TextTable& downloadTable, ManifestLines& mempwq, UserPrompt& prompt,
                           SettingsSource settings)
    : m_table(downloadTable),
      m_mempwq(mempwq),
      m_prompt(prompt),
      m_settings(std::move(settings)),
      m_index(downloadTable),
      m_stallTimer(std::make_unique<QTimer>()) {
    m_clock.start();
    m_stallTimer->setObjectName("StallTimer");
    m_stallTimer->setInterval(1000);
    QObject::connect(m_stallTimer.get(), &QTimer::timeout, [this] { StallTick(); });
    m_hosts.onFreed = [this] { slotsFreed(); };
}

GatherEngine::~GatherEngine() {
    dropLiveDownloads();
    m_coded.reset();
}

FillOutcome GatherEngine::OpenManifestFile(const QString& path) {
    return afterFill(::OpenManifestFile(path, m_mempwq, m_table, m_prompt));
}

FillOutcome GatherEngine::CheckAndFill() { return afterFill(::CheckAndFill(m_mempwq, m_table, m_prompt)); }

FillOutcome GatherEngine::afterFill(FillOutcome outcome) {
    if (outcome == FillOutcome::StartFirstPass) {
        // The table was refilled just now, and no event ran since: the old downloads have
        // had no chance to report into the new rows.
        dropLiveDownloads();
        m_filled = m_mempwq;
        m_loaded = true;
        m_coded.reset();
        ManifestV2 coded;
        if (IsManifestV2(m_filled) && ParseManifestV2(m_filled.lines(), coded).isEmpty())
            m_coded = std::make_unique<CodedGather>(*this, std::move(coded));
        m_shownFailures.clear();
        // A stop for a disk that failed the earlier table; the user's own Abort stays.
        if (std::exchange(m_localFailure, false))
            m_stopFlag = false;
        m_certificateQuestions.Forget();
        m_resume.clear();
        m_hosts.forget();
    }
    showGauge();
    if (outcome == FillOutcome::StartFirstPass && settings().autoMerge)
        Download();
    return outcome;
}

void GatherEngine::dropLiveDownloads() {
    const QList<PartDownload*> live = m_live;
    m_live.clear();
    for (PartDownload* download : live) {
        // A handler waiting for a message box to close frees its own client afterwards.
        if (download->inCompletion)
            download->dropped = true;
        else
            delete download;
    }
    dropRanged();
}

void GatherEngine::showGauge() {
    if (!onGauge)
        return;
    qint64 done = m_index.doneRows(), good = m_index.goodRows(), rows = m_table.rows();
    if (m_coded)
        m_coded->countDataRows(done, good, rows);
    onGauge(CompletionPercentage(good, rows));
}

int GatherEngine::dataRows() const { return m_coded ? m_coded->dataRows() : m_table.rows(); }

bool GatherEngine::idle() const { return liveCount() == 0 && !(m_coded && m_coded->busy()); }

void GatherEngine::rowFinished(int row) {
    if (m_coded)
        m_coded->noteVerdict(row, settings());
    if (onPartFinished)
        onPartFinished(row);
}

void GatherEngine::carryOn() {
    if (!m_stopFlag)
        Download();
    else if (idle())
        rest();
}

QString GatherEngine::partPath(const GatherSettings& settings, int row) const {
    return GatherPaths(settings.savePath, m_filled.fileNameLine())
        .partFile(m_table.cell(row, DownloadColumn::Filename));
}

RebuildOutcome GatherEngine::Rebuild() {
    // A join of gigabytes takes a while: between its blocks the event loop repaints and
    // runs its timers, so the window never freezes. User input waits for the end: a
    // click must not replace the table or start downloads under the join.
    QElapsedTimer sinceEvents;
    sinceEvents.start();
    const auto progress = [this, &sinceEvents](qint64 done, qint64 total) {
        if (onRebuildProgress)
            onRebuildProgress(done, total);
        if (sinceEvents.elapsed() >= RebuildEventSliceMs) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            sinceEvents.restart();
        }
    };
    // The manifest is copied: nothing that runs between the blocks can change it.
    const ManifestLines filled = m_filled;
    const RebuildOutcome outcome =
        ::Rebuild(filled, settings().savePath, m_table, m_prompt, [this](int) { showGauge(); }, progress);
    if (onRebuilt)
        onRebuilt(outcome);
    return outcome;
}

void GatherEngine::rest() {
    if (onRest)
        onRest();
}
