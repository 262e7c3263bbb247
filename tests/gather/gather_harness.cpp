#include "gather_harness.h"

#include "gather/gather_paths.h"
#include "support/event_wait.h"
#include "support/test_bytes.h"

#include <QTimer>

GatherHarness::GatherHarness() : engine(table, mempwq, prompt, [this] { return settings; }) {
    settings.savePath = dir.path() + "/save/";
    engine.onGauge = [this](int percent) { gauge = percent; };
    engine.onPartStarted = [this](int) { mostLive = std::max(mostLive, engine.liveCount()); };
    engine.onRest = [this] { ++rests; };
    engine.onPartNote = [this](int row, const QString& note) { notes[row] << note; };
    engine.onRebuilt = [this](RebuildOutcome outcome) { rebuilt << outcome; };
    engine.onNote = [this](const QString& line) { log << line; };
    QObject::connect(&table, &QAbstractItemModel::dataChanged, [this](const QModelIndex& index) {
        const QString text = table.cell(index.row(), index.column());
        if (index.column() == DownloadColumn::Status)
            statuses[index.row()] << text;
        if (index.column() == DownloadColumn::IdleSeconds)
            mostIdle[index.row()] = std::max(mostIdle.value(index.row()), text.toInt());
    });
}

FillOutcome GatherHarness::load(const QStringList& manifestLines) {
    mempwq.replace(manifestLines);
    return engine.CheckAndFill();
}

bool GatherHarness::waitEnd(int timeoutMs) {
    const auto ends = [this] { return rests + rebuilt.size(); };
    if (!waitUntil([&] { return ends() > m_endsWaited; }, timeoutMs))
        return false;
    m_endsWaited = ends();
    return true;
}

void GatherHarness::tickEvery(int ms) { engine.stallTimer()->setInterval(ms); }

QString GatherHarness::partPath(int row) const {
    return GatherPaths(settings.savePath, mempwq.fileNameLine()).partFile(table.cell(row, DownloadColumn::Filename));
}

QString GatherHarness::outputPath() const { return GatherPaths(settings.savePath, mempwq.fileNameLine()).outputFile(); }

QByteArray GatherHarness::readOutput() const { return ReadFileBytes(outputPath()); }
