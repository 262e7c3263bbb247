// Whole gathers from a real HTTP server (nginx on loopback): byte identity with at most
// `sdl` downloads at once, everything fetched again when the disk is not looked at,
// parts already on disk accepted without a request, a limit of 0 starting nothing, a
// fast download that does not flood its row, and a large part fetched in ranges.
#include "common/manifest_format.h"
#include "crc/crc32.h"
#include "gather_harness.h"
#include "support/event_wait.h"
#include "support/manifest_maker.h"
#include "support/nginx_server.h"
#include "support/test_bytes.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QTimer>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

class GatherFromNginx : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_www.isValid());
        m_server = std::make_unique<NginxServer>(m_www.path());
        m_server->keepAccessLog();
        ASSERT_TRUE(m_server->start()) << m_server->errorText().toStdString();
    }
    // Serves the parts and returns the manifest lines that fetch them.
    QStringList publish(const QString& fileName, const QList<QByteArray>& parts) {
        QStringList urls;
        for (int i = 0; i < parts.size(); ++i) {
            const QString name = QString("%1.%2").arg(fileName).arg(i + 1, 3, 10, QChar('0'));
            WriteFileBytes(m_www.filePath(name), parts[i]);
            urls << m_server->url("/" + name);
        }
        return ManifestLinesFor(fileName, parts, urls);
    }

    QTemporaryDir m_www;
    std::unique_ptr<NginxServer> m_server;
};

TEST_F(GatherFromNginx, FivePartsTwoAtATimeThenFromDiskThenNothingWithALimitOfZero) {
    QList<QByteArray> parts;
    for (int i = 0; i < 5; ++i)
        parts << SeededBytes(300 * 1024 + 17 * i, 100 + i);
    const QStringList manifest = publish("movie.avi", parts);
    GatherHarness h;
    ASSERT_EQ(h.load(manifest), FillOutcome::StartFirstPass);
    EXPECT_EQ(h.engine.liveCount(), 2);
    EXPECT_TRUE(h.engine.stallTimer()->isActive());
    ASSERT_TRUE(h.waitEnd());

    EXPECT_EQ(h.rebuilt, QList<RebuildOutcome>{RebuildOutcome::Extracted});
    EXPECT_TRUE(h.readOutput() == parts.join()) << "byte-identical";
    EXPECT_EQ(h.mostLive, 2) << "never more than sdl live, and sdl reached";
    EXPECT_EQ(h.gauge, 100);
    EXPECT_EQ(h.prompt.messages(), QStringList{"Extracted " + h.outputPath() + " successfully!"});
    EXPECT_EQ(h.prompt.openedUrls(), QList<QUrl>{QUrl::fromLocalFile(h.settings.savePath + "movie.avi.dir/")});
    for (int row = 0; row < 5; ++row) {
        const QString size = QString::number(parts[row].size());
        EXPECT_EQ(h.table.rowCells(row).mid(DownloadColumn::Status),
                  QStringList({"Done.", CrcTextOf(parts[row]), size, "G", "G", size, h.cell(row, DownloadColumn::LRcvd),
                               h.cell(row, DownloadColumn::IdleSeconds), "200", "application/octet-stream", size, "1"}))
            << row;
        EXPECT_TRUE(h.statuses.value(row).contains("100%")) << row;
    }

    // Without "Check if on HD first" every part is fetched again and overwritten.
    h.settings.checkOnDisk = false;
    h.statuses.clear();
    h.load(manifest);
    ASSERT_TRUE(h.waitEnd());
    EXPECT_EQ(h.rebuilt.size(), 2);
    for (int row = 0; row < 5; ++row) {
        EXPECT_EQ(h.cell(row, DownloadColumn::Attempts), "1") << row;
        EXPECT_EQ(h.statuses.value(row).value(0), "Starting...") << row;
    }

    // Every part lies on disk with its CRC: nothing is fetched (the server is gone).
    h.settings.checkOnDisk = true;
    m_server.reset();
    QFile::remove(h.outputPath());
    h.prompt.forget();
    h.load(manifest);
    EXPECT_EQ(h.engine.liveCount(), 0);
    EXPECT_EQ(h.rebuilt.size(), 3) << "straight to the rebuild";
    EXPECT_EQ(h.rebuilt.last(), RebuildOutcome::Extracted);
    EXPECT_TRUE(h.readOutput() == parts.join());
    for (int row = 0; row < 5; ++row)
        EXPECT_EQ(QStringList({h.cell(row, DownloadColumn::Status), h.cell(row, DownloadColumn::CrcOk),
                               h.cell(row, DownloadColumn::SizeOk), h.cell(row, DownloadColumn::Attempts)}),
                  QStringList({"Done.", "G", "G", "0"}))
            << row;

    // A limit of 0 ends the walk before the first row: not even the disk is looked at.
    h.settings.simultaneous = 0;
    const int restsBefore = h.rests;
    h.load(manifest);
    EXPECT_EQ(h.rests, restsBefore + 1);
    EXPECT_EQ(h.rebuilt.size(), 3);
    for (int row = 0; row < 5; ++row)
        EXPECT_EQ(h.cell(row, DownloadColumn::Status) + h.cell(row, DownloadColumn::Attempts), "Idle0") << row;
}

TEST_F(GatherFromNginx, AFastDownloadRedrawsItsRowAboutTenTimesASecond) {
    const QByteArray big = SeededBytes(48 * 1024 * 1024, 7);
    const QStringList manifest = publish("big.bin", {big});
    GatherHarness h;
    QElapsedTimer clock;
    clock.start();
    h.load(manifest);
    ASSERT_TRUE(h.waitEnd(60000));
    const qint64 elapsedMs = clock.elapsed();
    ASSERT_EQ(h.rebuilt, QList<RebuildOutcome>{RebuildOutcome::Extracted});
    // 192 chunks of 256 KiB, or far more on a busy machine: one redraw each would
    // exceed this many times over.
    const QStringList shown = h.statuses.value(0);
    EXPECT_LE(shown.size(), elapsedMs / 100 + 4) << shown.join(' ').toStdString() << " in " << elapsedMs << " ms";
    EXPECT_EQ(shown.last(), "Done.");
    EXPECT_EQ(shown.value(shown.size() - 2), "100%") << "the last figure is always shown";
}

// 300 MiB mostly of holes, with marked blocks at the start, around each quarter and at
// the end, so a range written at the wrong place shows. Four ranges wanted, two
// connections allowed; nginx answers 503 beyond three at once from this address (one
// spare: nginx counts a connection until it has handled its close, which can come a
// moment after the gather has opened the next).
TEST_F(GatherFromNginx, ALargePartInFourRangesEqualsTheFile) {
    m_server = std::make_unique<NginxServer>(m_www.path());
    m_server->keepAccessLog();
    m_server->setConnectionLimit(3);
    ASSERT_TRUE(m_server->start()) << m_server->errorText().toStdString();
    constexpr qint64 Size = qint64(300) << 20;
    const QString source = m_www.filePath("big.bin");
    {
        QFile file(source);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.resize(Size));
        for (qint64 at : {qint64(0), Size / 4 - 4096, Size / 2 - 1, 3 * Size / 4 + 7, Size - (1 << 20)}) {
            ASSERT_TRUE(file.seek(at));
            ASSERT_EQ(file.write(SeededBytes(1 << 20, quint32(at))), 1 << 20);
        }
    }
    uint32_t crc = 0;
    ASSERT_TRUE(FileCrc32(source.toStdString(), crc));
    const QString crcText = QString::fromStdString(Crc32Text(crc));
    GatherHarness h;
    h.settings.connectionsPerPart = 4;
    h.settings.perHost = 2;
    ASSERT_EQ(h.load({ManifestSignature, ManifestVersion, "big.bin", crcText, "1", m_server->url("/big.bin"),
                      QString::number(Size), crcText, "tester", "one large part"}),
              FillOutcome::StartFirstPass);
    ASSERT_TRUE(h.waitEnd(240000));
    EXPECT_EQ(h.rebuilt, QList<RebuildOutcome>{RebuildOutcome::Extracted}) << h.prompt.messages().join('|').toStdString();
    EXPECT_EQ(h.cell(0, DownloadColumn::Status), "Done.");
    EXPECT_EQ(h.cell(0, DownloadColumn::Recvd), QString::number(Size));
    QFile in(h.outputPath()), original(source);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly) && original.open(QIODevice::ReadOnly));
    ASSERT_EQ(in.size(), Size);
    for (qint64 at = 0; at < Size; at += 8 << 20)
        ASSERT_TRUE(in.read(8 << 20) == original.read(8 << 20)) << "differs in the 8 MiB from byte " << at;

    // Every request a range, each answered 206 (none beyond the cap), four or more
    // connections; nothing twice.
    QSet<QString> connections;
    qint64 sent = 0;
    for (const QString& line : m_server->accessLog()) {
        const QStringList f = line.split(' ');
        ASSERT_EQ(f.value(1), "206") << line.toStdString();
        EXPECT_TRUE(f.value(3).startsWith("bytes=")) << line.toStdString();
        connections << f.value(0);
        sent += f.value(2).toLongLong();
    }
    EXPECT_GE(connections.size(), 4);
    EXPECT_GE(sent, Size);
    EXPECT_LE(sent, Size + Size / 20) << "bytes sent past a split stay few";
}

}  // namespace
