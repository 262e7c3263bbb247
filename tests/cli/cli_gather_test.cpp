// parcelwick-cli gather as a program: split and publish a file, gather it back from a
// manifest URL byte-identical; the ways a gather ends short of that; Ctrl-C; a gather
// killed half way and run again.
#include "support/cli_runner.h"
#include "support/event_wait.h"
#include "support/manifest_maker.h"
#include "support/nginx_server.h"
#include "support/part_server.h"
#include "support/test_bytes.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

TEST(CliGather, AFileSplitAndPublishedComesBackFromItsManifestUrl) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray original = SeededBytes(1500000 + 3, 4711);
    WriteFileBytes(dir.filePath("holiday.mov"), original);
    const QString www = dir.filePath("www");
    ASSERT_TRUE(QDir().mkpath(www));
    NginxServer server(www);
    ASSERT_TRUE(server.start()) << server.errorText().toStdString();

    const CliRun split = RunCli({"pwq", dir.filePath("holiday.mov"), "--site", server.url("/"), "--parts", "4",
                                 "--name", "hol", "--save-path", dir.filePath("send"), "-o", www + "/hol.pwq"});
    ASSERT_EQ(split.status, 0) << split.err.toStdString();
    const QDir uploads(dir.filePath("send/holiday.mov.uldir"));
    for (const QString& part : uploads.entryList(QDir::Files))
        ASSERT_TRUE(QFile::rename(uploads.filePath(part), www + "/" + part));

    const CliRun gather = RunCli({"gather", server.url("/hol.pwq"), "--save-path", dir.filePath("recv")});
    const QString output = dir.filePath("recv/holiday.mov.dir/holiday.mov");
    EXPECT_EQ(gather.status, 0) << gather.err.toStdString();
    EXPECT_EQ(gather.out, "Extracted " + output + " successfully!\n");
    EXPECT_TRUE(ReadFileBytes(output) == original) << "byte-identical";
    for (int part = 1; part <= 4; ++part) {
        EXPECT_TRUE(gather.err.contains(QString("part %1/4 started (attempt 1): %2").arg(part).arg(server.url(QString("/hol%1.bin").arg(part)))))
            << gather.err.toStdString();
        EXPECT_TRUE(gather.err.contains(QString("part %1/4: Done. (CRC good)").arg(part)));
    }
    EXPECT_FALSE(gather.err.contains('\r')) << "no redrawn line when standard error is no terminal";
}

struct EndCase {
    const char* name;
    QStringList options;
    int status;
    QString out;       // %1: the output file
    QStringList err;   // pieces standard error holds
};

TEST(CliGather, EveryOtherEndIsNonZeroWithItsMessage) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray part = "the part as the manifest knows it";
    // Of a file in 3 data parts and 2 recovery parts, data part 3 and recovery part 2 are
    // served; the others are not found.
    const QByteArray coded = SeededBytes(3000, 5);
    const QStringList codedPaths = {"/c1.bin", "/c2.bin", "/c3.bin", "/cr1.bin", "/cr2.bin"};
    const QList<QByteArray> codedParts = CodedManifestFor("c.dat", coded, 3, 2, codedPaths).parts;
    PartServer server({{"/w.bin", {PartReply::ok("something else entirely, same len")}},
                       {"/m.pwq", {PartReply::status(404, "<html>gone</html>")}},
                       {"/c3.bin", {PartReply::ok(codedParts[2])}},
                       {"/cr2.bin", {PartReply::ok(codedParts[4])}}});
    const QString manifest = dir.filePath("w.pwq");
    WriteFileBytes(manifest, ManifestFileText(ManifestLinesFor("w.dat", {part}, {server.url("/w.bin")})));
    QStringList codedUrls;
    for (const QString& p : codedPaths)
        codedUrls << server.url(p);
    WriteFileBytes(dir.filePath("c.pwq"), ManifestFileText(CodedManifestFor("c.dat", coded, 3, 2, codedUrls).lines));
    WriteFileBytes(dir.filePath("not.pwq"), "<html>hello</html>\r\n");
    const QString output = dir.filePath("recv/w.dat.dir/w.dat");
    const QString question = "There is an error in one of the parts.  Shall we still try to build the final file?";
    const EndCase rows[] = {
        {"a part that stays wrong, the question refused", {manifest, "--no-crc-retry"}, 1, "",
         {question + " No", "The gather stopped: 0 of 1 parts done", "part 1/1: Done. " + server.url("/w.bin")}},
        {"a part that stays wrong, built with --yes", {manifest, "--no-crc-retry", "--yes"}, 1,
         "CRC Error on " + output + "\n", {question + " Yes"}},
        {"a manifest URL answered 404", {server.url("/m.pwq")}, 1, "",
         {"Cannot fetch " + server.url("/m.pwq") + ": Not Found"}},
        {"not a manifest", {dir.filePath("not.pwq")}, 1, "", {"Not a Parcelwick file!"}},
        {"more parts lost than recovery parts", {dir.filePath("c.pwq"), "--no-crc-retry"}, 1,
         "2 of 3 data parts and 1 of 2 recovery parts are lost: cannot rebuild\n",
         {"The gather stopped: 1 of 3 parts done", "part 1/3: 404 Error"}},
        {"too many at once", {manifest, "--simultaneous", "17"}, 2, "", {"--simultaneous takes a number from 0 to 16"}},
        {"no connection per part", {manifest, "--connections-per-part", "0"}, 2, "",
         {"--connections-per-part takes a number from 1 to 16"}},
        {"a time-out below the least", {manifest, "--timeout", "4"}, 2, "", {"--timeout takes a number from 5 to 1000"}},
    };
    for (const EndCase& row : rows) {
        SCOPED_TRACE(row.name);
        const CliRun run = RunCli(QStringList{"gather"} + row.options + QStringList{"--save-path", dir.filePath("recv")});
        EXPECT_EQ(run.status, row.status) << run.err.toStdString();
        EXPECT_EQ(run.out, row.out);
        for (const QString& piece : row.err)
            EXPECT_TRUE(run.err.contains(piece)) << piece.toStdString() << "\nin:\n" << run.err.toStdString();
    }
}

TEST(CliGather, CtrlCAbortsTheDownloadsAndKeepsTheFinishedParts) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QList<QByteArray> parts = {QByteArray(70000, 'a'), QByteArray(90000, 'b')};
    PartServer server({{"/c1.bin", {PartReply::ok(parts[0])}}, {"/c2.bin", {PartReply::stallAfter(parts[1], 1000)}}});
    const QString manifest = dir.filePath("c.pwq");
    WriteFileBytes(manifest, ManifestFileText(ManifestLinesFor("c.dat", parts, {server.url("/c1.bin"), server.url("/c2.bin")})));

    QProcess cli;
    cli.start(QStringLiteral(PW_BIN_DIR "/parcelwick-cli"), {"gather", manifest, "--save-path", dir.filePath("recv")});
    QByteArray err;
    ASSERT_TRUE(waitUntil([&] {
        err += cli.readAllStandardError();
        return err.contains("part 1/2: Done.") && err.contains("part 2/2 started");
    })) << err.toStdString();
    ::kill(static_cast<pid_t>(cli.processId()), SIGINT);
    ASSERT_TRUE(cli.waitForFinished(10000));
    err += cli.readAllStandardError();
    EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit) << "the interrupt is handled, not fatal";
    EXPECT_EQ(cli.exitCode(), 130);
    EXPECT_TRUE(err.contains("Aborted: 1 of 2 parts done")) << err.toStdString();
    EXPECT_TRUE(err.contains("part 2/2: Error:CRC")) << err.toStdString();
    EXPECT_TRUE(ReadFileBytes(dir.filePath("recv/c.dat.dir/parts/c1.bin")) == parts[0]) << "the finished part stays";
    EXPECT_TRUE(waitUntil([&] { return server.openNow() == 0; })) << "the stalled download was closed";
}

// Standard error on a terminal (a pseudo-terminal made by script(1)): one line redrawn
// in place, and nothing of it with --quiet.
TEST(CliGather, OnATerminalOneRedrawnLineUnlessQuiet) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray part(3 << 20, 'p');
    PartServer server({{"/t.bin", {PartReply::ok(part)}}});
    const QString manifest = dir.filePath("t.pwq");
    WriteFileBytes(manifest, ManifestFileText(ManifestLinesFor("t.dat", {part}, {server.url("/t.bin")})));
    const QString output = dir.filePath("recv/t.dat.dir/t.dat");
    struct Row {
        QStringList args;
        bool drawn;
    };
    const Row rows[] = {
        {{"gather", manifest}, true},  // the rebuild of a gather shows its line too
        {{"gather", "-q", manifest}, false},
        {{"rebuild", manifest}, true},
        {{"rebuild", manifest, "--quiet"}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        QStringList command = {QStringLiteral(PW_BIN_DIR "/parcelwick-cli")};
        command << row.args << "--save-path" << dir.filePath("recv");
        QProcess terminal;
        terminal.start("script", {"-qec", command.join(' '), "/dev/null"});
        ASSERT_TRUE(terminal.waitForFinished(60000));
        EXPECT_EQ(terminal.exitCode(), 0);
        const QByteArray seen = terminal.readAllStandardOutput();
        EXPECT_EQ(seen.contains("\rrebuild t.dat") || seen.contains("\rrebuild  "), row.drawn) << seen.toStdString();
        EXPECT_TRUE(seen.contains("Extracted " + output.toUtf8() + " successfully!"));
    }
}

// With its defaults (resume, four connections per part): killed when half the bytes are
// on disk, then run again, the gather asks nginx for about the other half only. What
// nginx sent is its own count, from its log.
TEST(CliGather, AGatherKilledHalfWayFetchesOnlyTheRestWhenRunAgain) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString www = dir.filePath("www");
    ASSERT_TRUE(QDir().mkpath(www));
    const QList<QByteArray> parts = {SeededBytes(9 << 20, 91), SeededBytes(9 << 20, 92)};  // above 8 MiB: in ranges
    const qint64 total = 18 << 20;
    WriteFileBytes(www + "/k1.bin", parts[0]);
    WriteFileBytes(www + "/k2.bin", parts[1]);
    NginxServer server(www);
    server.setLimitRate("512k");
    server.keepAccessLog();
    ASSERT_TRUE(server.start()) << server.errorText().toStdString();
    const QString manifest = dir.filePath("k.pwq");
    WriteFileBytes(manifest, ManifestFileText(ManifestLinesFor("k.dat", parts, {server.url("/k1.bin"), server.url("/k2.bin")})));
    const QString recv = dir.filePath("recv");
    const auto sent = [&server] {
        qint64 bytes = 0;
        for (const QString& line : server.accessLog())
            bytes += line.section(' ', 2, 2).toLongLong();
        return bytes;
    };
    // A part file in ranges has gaps: its blocks count, not its length.
    const auto onDisk = [&] {
        qint64 bytes = 0;
        for (const char* name : {"k1.bin", "k2.bin"}) {
            struct stat info {};
            if (::stat(QFile::encodeName(recv + "/k.dat.dir/parts/" + name).constData(), &info) == 0)
                bytes += qint64(info.st_blocks) * 512;
        }
        return bytes;
    };

    QProcess first;
    first.start(QStringLiteral(PW_BIN_DIR "/parcelwick-cli"), {"gather", manifest, "--save-path", recv});
    ASSERT_TRUE(waitUntil([&] { return onDisk() >= total / 2; }, 60000)) << onDisk();
    ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
    ASSERT_TRUE(first.waitForFinished(10000));
    // nginx logs a request once it has seen its connection close.
    qsizetype logged = -1;
    ASSERT_TRUE(waitUntil([&] {
        const qsizetype now = server.accessLog().size();
        if (std::exchange(logged, now) == now && now > 0)
            return true;
        runLoopFor(200);
        return false;
    }, 10000));
    const qint64 firstRun = sent();

    const CliRun again = RunCli({"gather", manifest, "--save-path", recv});
    EXPECT_EQ(again.status, 0) << again.err.toStdString();
    EXPECT_TRUE(ReadFileBytes(recv + "/k.dat.dir/k.dat") == parts.join()) << "byte-identical";
    EXPECT_TRUE(again.err.contains("resuming with")) << again.err.toStdString();
    const qint64 secondRun = sent() - firstRun;
    EXPECT_GE(firstRun, total / 2);
    EXPECT_LE(secondRun, total - total / 2 + total / 8)
        << "the rest, and what the first run wrote after it last listed its ranges; first " << firstRun
        << ", second " << secondRun;
    EXPECT_LE(firstRun + secondRun, total + total / 5);
}

}  // namespace
