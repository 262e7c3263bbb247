// The user's hands on a running gather: Abort and Resume, ReStart, a new manifest
// loaded over live downloads, a part file that cannot be made, and a manifest with
// nothing to fetch.
#include "gather_harness.h"
#include "gather/gather_paths.h"
#include "support/event_wait.h"
#include "support/manifest_maker.h"
#include "support/part_server.h"
#include "support/test_bytes.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTimer>

namespace {

QStringList Urls(const PartServer& server, const QStringList& paths) {
    QStringList urls;
    for (const QString& path : paths)
        urls << server.url(path);
    return urls;
}

bool ShowsProgress(const GatherHarness& h, int row) { return h.cell(row, DownloadColumn::Status).endsWith('%'); }

TEST(GatherControl, AbortStopsBothLiveDownloadsAndResumeFetchesThemAgain) {
    const QList<QByteArray> parts = {SeededBytes(20000, 1), SeededBytes(20000, 2), SeededBytes(5000, 3)};
    PartServer server({{"/a1", {PartReply::stallAfter(parts[0], 4000), PartReply::ok(parts[0])}},
                       {"/a2", {PartReply::stallAfter(parts[1], 6000), PartReply::ok(parts[1])}},
                       {"/a3", {PartReply::ok(parts[2])}}});
    GatherHarness h;
    h.load(ManifestLinesFor("abort.bin", parts, Urls(server, {"/a1", "/a2", "/a3"})));
    ASSERT_TRUE(waitUntil([&] { return ShowsProgress(h, 0) && ShowsProgress(h, 1); }));
    EXPECT_EQ(h.cell(0, DownloadColumn::Status), "20%");
    EXPECT_EQ(h.cell(2, DownloadColumn::Status), "Idle") << "two live: the third waits";

    h.engine.Abort();
    EXPECT_TRUE(h.engine.stopFlag());
    ASSERT_TRUE(h.waitEnd());
    for (int row : {0, 1})
        EXPECT_EQ(h.cell(row, DownloadColumn::Status), "Error:CRC") << row;
    EXPECT_EQ(h.cell(2, DownloadColumn::Status), "Idle") << "nothing new starts after Abort";
    EXPECT_EQ(server.requests("/a3"), 0);
    EXPECT_EQ(h.engine.liveCount(), 0);
    // The aborted downloads have reported: the next tick switches the timer off.
    ASSERT_TRUE(h.engine.stallTimer()->isActive());
    h.engine.StallTick();
    EXPECT_FALSE(h.engine.stallTimer()->isActive());

    h.engine.Resume();
    EXPECT_FALSE(h.engine.stopFlag());
    ASSERT_TRUE(h.waitEnd());
    EXPECT_EQ(h.rebuilt, QList<RebuildOutcome>{RebuildOutcome::Extracted});
    EXPECT_EQ(h.readOutput(), parts.join());
    EXPECT_EQ(QStringList({h.cell(0, DownloadColumn::Attempts), h.cell(1, DownloadColumn::Attempts),
                           h.cell(2, DownloadColumn::Attempts)}),
              QStringList({"2", "2", "1"}));
    EXPECT_EQ(h.mostLive, 2);
}

TEST(GatherControl, ReStartAbortsOnlyALiveRow) {
    const QList<QByteArray> parts = {SeededBytes(3000, 4), SeededBytes(30000, 5)};
    PartServer server({{"/r1", {PartReply::ok(parts[0])}},
                       {"/r2", {PartReply::stallAfter(parts[1], 3000), PartReply::ok(parts[1])}}});
    GatherHarness h;
    h.load(ManifestLinesFor("restart.bin", parts, Urls(server, {"/r1", "/r2"})));
    ASSERT_TRUE(waitUntil([&] { return h.cell(0, DownloadColumn::Status) == "Done." && ShowsProgress(h, 1); }));

    for (int row : {0, -1, 7}) {  // a done row, no selection, a row that does not exist
        h.engine.ReStart(row);
        runLoopFor(50);
        EXPECT_EQ(h.engine.liveCount(), 1) << row;
        EXPECT_EQ(h.cell(1, DownloadColumn::Status), "10%") << row;
    }
    EXPECT_EQ(server.requests("/r1"), 1);

    h.engine.ReStart(1);
    ASSERT_TRUE(h.waitEnd());
    EXPECT_EQ(h.rebuilt, QList<RebuildOutcome>{RebuildOutcome::Extracted});
    EXPECT_EQ(h.cell(1, DownloadColumn::Attempts), "2");
    EXPECT_TRUE(h.statuses.value(1).contains("Error:CRC"));
    EXPECT_EQ(h.cell(0, DownloadColumn::Attempts), "1");
}

TEST(GatherControl, TheWatchdogTicksWhileOtherPartsKeepFinishing) {
    // Row 1 stalls in one slot while rows 2.. finish one after another in the other,
    // each within a tick: the passes they start must not hold the timer back.
    QList<QByteArray> parts = {SeededBytes(20000, 30)};
    QMap<QString, QList<PartReply>> replies = {{"/s0", {PartReply::stallAfter(parts[0], 2000), PartReply::ok(parts[0])}}};
    QStringList paths = {"/s0"};
    for (int i = 1; i <= 30; ++i) {
        parts << SeededBytes(500, 30 + i);
        paths << QString("/s%1").arg(i);
        replies.insert(paths.last(), {PartReply::ok(parts.last()).delayed(20)});
    }
    PartServer server(replies);
    GatherHarness h;
    h.settings.timeoutSeconds = 5;
    h.tickEvery(50);
    int doneWhenAborted = -1;
    QObject::connect(&h.table, &QAbstractItemModel::dataChanged, [&](const QModelIndex& index) {
        if (index.row() == 0 && index.column() == DownloadColumn::Status && doneWhenAborted < 0 &&
            h.cell(0, DownloadColumn::Status).startsWith("Error")) {
            doneWhenAborted = 0;
            for (int row = 1; row < h.table.rows(); ++row)
                doneWhenAborted += h.cell(row, DownloadColumn::Status) == "Done." ? 1 : 0;
        }
    });
    h.load(ManifestLinesFor("ticks.bin", parts, Urls(server, paths)));
    ASSERT_TRUE(h.waitEnd());
    EXPECT_EQ(h.rebuilt, QList<RebuildOutcome>{RebuildOutcome::Extracted});
    EXPECT_EQ(h.cell(0, DownloadColumn::Attempts), "2");
    EXPECT_GE(doneWhenAborted, 0);
    EXPECT_LT(doneWhenAborted, 30) << "the stalled download was aborted while the others still ran";
}

TEST(GatherControl, ANewManifestDropsTheLiveDownloadsOfTheOldOne) {
    const QList<QByteArray> oldParts = {SeededBytes(40000, 6), SeededBytes(40000, 7)};
    PartServer oldServer({{"/o1", {PartReply::stallAfter(oldParts[0], 10000)}},
                          {"/o2", {PartReply::stallAfter(oldParts[1], 20000)}}});
    const QList<QByteArray> newParts = {SeededBytes(7000, 8), SeededBytes(9000, 9)};
    PartServer newServer({{"/n1", {PartReply::ok(newParts[0])}}, {"/n2", {PartReply::ok(newParts[1])}}});
    GatherHarness h;
    h.load(ManifestLinesFor("old.bin", oldParts, Urls(oldServer, {"/o1", "/o2"})));
    ASSERT_TRUE(waitUntil([&] { return ShowsProgress(h, 0) && ShowsProgress(h, 1); }));
    const QString oldPart = h.partPath(0);

    h.statuses.clear();
    h.load(ManifestLinesFor("new.bin", newParts, Urls(newServer, {"/n1", "/n2"})));
    ASSERT_TRUE(h.waitEnd());
    EXPECT_EQ(h.rebuilt, QList<RebuildOutcome>{RebuildOutcome::Extracted});
    EXPECT_EQ(h.readOutput(), newParts.join());
    for (int row : {0, 1}) {
        EXPECT_EQ(h.cell(row, DownloadColumn::Attempts), "1") << row;
        EXPECT_EQ(h.cell(row, DownloadColumn::Recvd), QString::number(newParts[row].size())) << row;
        for (const QString& status : h.statuses.value(row))
            EXPECT_FALSE(status.startsWith("Error")) << "the old download reported into row " << row;
    }
    EXPECT_FALSE(h.engine.stopFlag()) << "dropping the old downloads is no Abort";
    EXPECT_TRUE(waitUntil([&] { return oldServer.openNow() == 0; })) << "the old connections were closed";
    QFile kept(oldPart);
    EXPECT_EQ(kept.size(), 10000) << "what the old download wrote stays on disk";
}

TEST(GatherControl, APartFileThatCannotBeMadeHoldsNoSlotAndIsReportedOnce) {
    const QList<QByteArray> parts = {SeededBytes(1000, 10), SeededBytes(2000, 11)};
    PartServer server({{"/c1", {PartReply::ok(parts[0])}}, {"/c2", {PartReply::ok(parts[1])}}});
    GatherHarness h;
    h.settings.simultaneous = 1;
    const QStringList urls = Urls(server, {"/c1", "/c2"});
    // A directory stands where the first part file would go.
    ASSERT_TRUE(QDir().mkpath(GatherPaths(h.settings.savePath, "blocked.bin").partFile(urls[0])));
    h.load(ManifestLinesFor("blocked.bin", parts, urls));
    ASSERT_TRUE(h.waitEnd());
    EXPECT_EQ(h.cell(0, DownloadColumn::Status), "Error:File");
    EXPECT_EQ(h.cell(0, DownloadColumn::Attempts), "2") << "tried at the first pass and at the pass after part 2";
    EXPECT_EQ(h.cell(1, DownloadColumn::Status), "Done.") << "the failure held no download slot";
    EXPECT_EQ(server.requests("/c1"), 0);
    EXPECT_EQ(h.engine.liveCount(), 0);
    EXPECT_EQ(h.rests, 1);
    ASSERT_EQ(h.prompt.messages().size(), 1) << h.prompt.messages().join('|').toStdString();
    EXPECT_TRUE(h.prompt.messages()[0].startsWith("Cannot create " + h.partPath(0) + ": "));
    EXPECT_EQ(h.prompt.shown()[0].kind, ScriptedPrompt::Kind::Error);
}

TEST(GatherControl, AManifestWithoutPartsGoesStraightToTheRebuild) {
    for (const char* fileCrc : {"00000000", "1234ABCD"}) {
        GatherHarness h;
        h.load(ManifestLinesFor("empty.bin", {}, {}, fileCrc));
        // No download, so the pass decided at once.
        ASSERT_EQ(h.rebuilt.size(), 1) << fileCrc;
        const bool good = QString(fileCrc) == "00000000";
        EXPECT_EQ(h.rebuilt[0], good ? RebuildOutcome::Extracted : RebuildOutcome::CrcError);
        EXPECT_EQ(h.readOutput(), QByteArray());
        EXPECT_EQ(h.prompt.messages(), QStringList(good ? "Extracted " + h.outputPath() + " successfully!"
                                                        : "CRC Error on " + h.outputPath()));
    }
}

TEST(GatherControl, TheEventLoopRunsWhileALongRebuildJoins) {
    const QList<QByteArray> parts = {QByteArray(32 << 20, 'x'), QByteArray(32 << 20, 'y'), QByteArray(32 << 20, 'z')};
    GatherHarness h;
    const QStringList lines = ManifestLinesFor("long.bin", parts, {"http://127.0.0.1:9/l1", "http://127.0.0.1:9/l2",
                                                                   "http://127.0.0.1:9/l3"});
    const GatherPaths paths(h.settings.savePath, "long.bin");
    ASSERT_TRUE(QDir().mkpath(paths.partsDirectory()));
    for (int i = 0; i < 3; ++i) {
        QFile part(paths.partFile(lines[5 + 3 * i]));
        ASSERT_TRUE(part.open(QIODevice::WriteOnly));
        part.write(parts[i]);
    }
    // Every part lies on disk: the load goes straight to the rebuild, and a timer
    // ticks while the parts are being joined, not only after.
    bool firedDuringRebuild = false;
    int progressCalls = 0;
    h.engine.onRebuildProgress = [&](qint64, qint64) { ++progressCalls; };
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { firedDuringRebuild |= progressCalls > 0 && h.rebuilt.isEmpty(); });
    ticker.start(1);
    h.load(lines);
    ASSERT_EQ(h.rebuilt, QList<RebuildOutcome>{RebuildOutcome::Extracted});
    EXPECT_TRUE(firedDuringRebuild);
}

TEST(GatherControl, APassTakesItsRowsFromTheTableAsItStandsNow) {
    const QList<QByteArray> parts = {SeededBytes(1000, 12), SeededBytes(2000, 13)};
    PartServer server({{"/t1", {PartReply::ok(parts[0])}}, {"/t2", {PartReply::ok(parts[1])}}});
    GatherHarness h;
    h.settings.simultaneous = 0;
    h.settings.checkOnDisk = false;
    h.load(ManifestLinesFor("edited.bin", parts, Urls(server, {"/t1", "/t2"})));
    ASSERT_TRUE(h.waitEnd()) << "a limit of 0 starts nothing";
    // Written into the table from outside the engine, as the window or a user's action may.
    QFile first(h.partPath(0));
    ASSERT_TRUE(first.open(QIODevice::WriteOnly) && first.write(parts[0]) == parts[0].size());
    first.close();
    h.table.setCell(0, DownloadColumn::Status, "Done.");
    h.table.setCell(0, DownloadColumn::CrcOk, "G");
    h.settings.simultaneous = 2;
    h.engine.Resume();
    ASSERT_TRUE(h.waitEnd());
    EXPECT_EQ(server.requests("/t1"), 0) << "a row made done is not fetched";
    EXPECT_EQ(server.requests("/t2"), 1);
    ASSERT_EQ(h.rebuilt, QList<RebuildOutcome>{RebuildOutcome::Extracted}) << "every row counted as done and good";
    EXPECT_EQ(h.gauge, 100);

    h.table.setCell(1, DownloadColumn::Status, "Error:CRC");
    h.engine.Download();
    ASSERT_TRUE(h.waitEnd());
    EXPECT_EQ(server.requests("/t2"), 2) << "a row put in error is fetched again";
    EXPECT_EQ(server.requests("/t1"), 0);
}

TEST(GatherControl, NothingHappensBeforeAManifestIsLoaded) {
    GatherHarness h;
    h.engine.Resume();
    h.engine.Download();
    EXPECT_FALSE(QDir(h.settings.savePath).exists()) << "no folder for a manifest that is not there";
    EXPECT_TRUE(h.prompt.shown().isEmpty());
    EXPECT_TRUE(h.rebuilt.isEmpty());
}

}  // namespace
