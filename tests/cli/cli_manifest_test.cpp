// The manifest from both ends: what the writer makes the reader takes back part for
// part, and parcelwick-cli pwq / show / rebuild run as programs on real files.
#include "common/manifest_format.h"
#include "common/manifest_v2.h"
#include "crc/crc32.h"
#include "gather/check_and_fill.h"
#include "gather/download_table.h"
#include "gather/manifest_parts.h"
#include "gather/manifest_text.h"
#include "scatter/manifest_writer.h"
#include "scatter/upload_table.h"
#include "support/scripted_prompt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include "support/cli_runner.h"
#include "support/test_bytes.h"
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QString WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(bytes);
    return path;
}

struct RoundTripCase {
    const char* name;
    QString user;
    QString comment;
    QStringList sites;  // one per row
};

class ManifestRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(ManifestRoundTrip, TheReaderGetsBackEveryPartTheWriterWrote) {
    QTemporaryDir dir;
    const QString source = WriteFile(dir.filePath(QString::fromUtf8("f\xc3\xbcr you.avi")), "0123456789");
    TextTable uploads(UploadTableColumns());
    for (int i = 0; i < GetParam().sites.size(); ++i)
        uploads.addRow({dir.filePath(QString("uldir/part%1.bin").arg(i + 1)), GetParam().sites[i], QString::number(4 + i),
                        QString("0000000%1").arg(i), "f", "u", "p", "?", "?"});
    ManifestLines written;
    MakeManifestLines({source, 3, GetParam().user, GetParam().comment}, uploads, written);
    QString error;
    const QString path = dir.filePath("m.pwq");
    ASSERT_TRUE(WriteManifestFile(written.lines(), path, error)) << error.toStdString();

    ScriptedPrompt prompt;
    ManifestLines read;
    TextTable table(DownloadTableColumns());
    ASSERT_EQ(OpenManifestFile(path, read, table, prompt), FillOutcome::StartFirstPass)
        << prompt.messages().join('|').toStdString();
    EXPECT_EQ(read.fileNameLine(), QString::fromUtf8("f\xc3\xbcr you.avi"));
    EXPECT_EQ(read.fileCrcLine(), QString::fromStdString(Crc32Text(~Crc32Update(0xFFFFFFFFu, "0123456789", 10))));
    ASSERT_EQ(table.rows(), uploads.rows());
    for (int r = 0; r < table.rows(); ++r) {
        EXPECT_EQ(table.cell(r, DownloadColumn::Filename), GetParam().sites[r] + QString("part%1.bin").arg(r + 1));
        EXPECT_EQ(table.cell(r, DownloadColumn::PartSize), uploads.cell(r, UploadColumn::Size));
        EXPECT_EQ(table.cell(r, DownloadColumn::CrcPwq), uploads.cell(r, UploadColumn::Crc));
    }
    // Empty comment lines are dropped by the reader; nothing else is.
    const int emptyComments = int(GetParam().user.isEmpty()) + int(GetParam().comment.isEmpty());
    EXPECT_EQ(read.count(), written.count() - emptyComments);
}

INSTANTIATE_TEST_SUITE_P(
    Manifests, ManifestRoundTrip,
    ::testing::Values(
        RoundTripCase{"three parts one site", "Me", "My movie", {"http://w.example/d/", "http://w.example/d/", "http://w.example/d/"}},
        RoundTripCase{"empty comment lines", "", "", {"http://a/", "http://b/", "http://a/"}},
        RoundTripCase{"only the description", "", "desc", {"http://a/"}},
        RoundTripCase{"unassigned and not uploaded", "u", "", {"?", "Do Not Upload", "http://a/x/"}},
        RoundTripCase{"no parts", "u", "c", {}}),
    [](const auto& param) {
        QString n = param.param.name;
        return n.replace(' ', '_').toStdString();
    });

class CliManifest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    CliRun run(const QStringList& args) { return RunCli(args, {.home = m_dir.filePath("home")}); }
    QString path(const QString& name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
};

TEST_F(CliManifest, PwqThenCopyThenRebuildGivesTheSameBytes) {
    QByteArray content(300001, Qt::Uninitialized);
    QRandomGenerator generator(42);
    for (char& b : content)
        b = static_cast<char>(generator.bounded(256));
    const QString source = WriteFile(path("big movie.avi"), content);

    CliRun r = run({"pwq", source, "--site", "http://a.example/up/", "--site", "http://b.example/", "--parts", "4",
                    "--name", "mv", "--save-path", path("send"), "--user", "Me", "-o", path("mv.pwq")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, path("mv.pwq") + "\n");
    const QStringList lines = ManifestTextLines(ReadAll(path("mv.pwq")));
    ASSERT_EQ(lines.size(), 5 + 12 + 1);
    EXPECT_EQ(lines[2], "big movie.avi");
    EXPECT_EQ(lines[4], "4");
    EXPECT_EQ(lines[5], "http://a.example/up/mv1.bin");
    EXPECT_EQ(lines[8], "http://b.example/mv2.bin");
    EXPECT_EQ(lines[11], "http://a.example/up/mv3.bin");
    EXPECT_EQ(lines[14], "http://b.example/mv4.bin");
    EXPECT_EQ(lines[17], "Me");

    const QString parts = path("recv/big movie.avi.dir/parts/");
    r = run({"show", path("mv.pwq"), "--save-path", path("recv")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QStringList shown = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(shown.size(), 6);
    EXPECT_EQ(shown[0], "big movie.avi");
    EXPECT_EQ(shown[1], lines[3]);
    EXPECT_EQ(shown[3], QStringList({lines[8], lines[9], lines[10], parts + "mv2.bin"}).join('\t'));

    ASSERT_TRUE(QDir().mkpath(parts));
    const QString uldir = path("send/big movie.avi.uldir/");
    for (const QString& name : QDir(uldir).entryList(QDir::Files))
        ASSERT_TRUE(QFile::copy(uldir + name, parts + name));
    r = run({"rebuild", path("mv.pwq"), "--save-path", path("recv")});
    const QString output = path("recv/big movie.avi.dir/big movie.avi");
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "Extracted " + output + " successfully!\n");
    EXPECT_EQ(ReadAll(output), content);

    // A damaged part: the whole file is joined, the CRC message comes, the status is 1.
    QByteArray damaged = ReadAll(parts + "mv3.bin");
    damaged[7] = static_cast<char>(damaged[7] ^ 0x40);
    WriteFile(parts + "mv3.bin", damaged);
    r = run({"rebuild", path("mv.pwq"), "--save-path", path("recv")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "CRC Error on " + output + "\n");
    EXPECT_EQ(QFileInfo(output).size(), content.size());

    ASSERT_TRUE(QFile::remove(parts + "mv4.bin"));
    r = run({"rebuild", path("mv.pwq"), "--save-path", path("recv")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains(parts + "mv4.bin")) << r.err.toStdString();
}

// --recovery and --sha256 reach the split and the manifest: version 2, read back whole,
// the recovery parts continuing the turn of the sites after the data parts.
TEST_F(CliManifest, PwqWithRecoveryPartsWritesVersionTwo) {
    for (const QStringList& options : {QStringList{"--recovery", "2"}, QStringList{"--sha256"}}) {
        const CliRun r = run(QStringList{"pwq", WriteFile(path("note.txt"), "Parcelwick"), "--site", "http://a.example/", "--site", "http://b.example/",
                                         "--parts", "3", "--save-path", path("send"), "-o", path("n.pwq")} + options);
        ASSERT_EQ(r.status, 0) << r.err.toStdString();
        ManifestV2 manifest;
        ASSERT_EQ(ParseManifestV2(ManifestTextLines(ReadAll(path("n.pwq"))), manifest), "");
        ASSERT_EQ(QList<qsizetype>({manifest.data.size(), manifest.recovery.size()}), QList<qsizetype>({3, options.size() == 2 ? 2 : 0}));
        const QList<ManifestV2Part> parts = manifest.data + manifest.recovery;
        for (int i = 0; i < parts.size(); ++i) {
            const QString name = i < 3 ? QString("note%1.bin").arg(i + 1) : QString("noter%1.bin").arg(i - 2);
            EXPECT_EQ(parts[i].url, (i % 2 == 0 ? "http://a.example/" : "http://b.example/") + name);
            const QByteArray bytes = ReadAll(path("send/note.txt.uldir/") + name);
            EXPECT_EQ(parts[i].sha256, Sha256::of(bytes.constData(), bytes.size())) << name.toStdString();
        }
        EXPECT_EQ(manifest.fileSha256, Sha256::of("Parcelwick", 10));
    }
}

// show and rebuild of a version-2 manifest on the parts lying on disk: which are good,
// whether they suffice, and the data parts missing rebuilt offline from any k.
TEST_F(CliManifest, ShowAndRebuildOfVersionTwoFromAnyKPartsOnDisk) {
    const QByteArray content = SeededBytes(100003, 17);
    ASSERT_EQ(run({"pwq", WriteFile(path("note.txt"), content), "--site", "http://a.example/", "--parts", "3",
                   "--recovery", "2", "--save-path", path("send"), "-o", path("n.pwq")})
                  .status,
              0);
    const QString parts = path("recv/note.txt.dir/parts/");
    ASSERT_TRUE(QDir().mkpath(parts));
    for (const char* name : {"note2.bin", "noter1.bin", "noter2.bin"})
        ASSERT_TRUE(QFile::copy(path("send/note.txt.uldir/") + name, parts + name));
    WriteFile(parts + "note3.bin", "wrong bytes");

    CliRun r = run({"show", path("n.pwq"), "--save-path", path("recv")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    QStringList shown = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(shown.size(), 3 + 5 + 1);
    EXPECT_EQ(shown[2], QString::fromStdString(Sha256Text(Sha256::of(content.constData(), content.size()))));
    const QStringList ends = {"data 1\tmissing", "data 2\tgood", "data 3\twrong", "recovery 1\tgood", "recovery 2\tgood"};
    for (int i = 0; i < ends.size(); ++i)
        EXPECT_TRUE(shown[3 + i].endsWith(ends[i])) << shown[3 + i].toStdString();
    EXPECT_TRUE(shown[3 + 3].startsWith("http://a.example/noter1.bin\t")) << "recovery parts after the data parts";
    EXPECT_EQ(shown[8], "1 of 3 data parts and 2 of 2 recovery parts are good on disk: enough to rebuild the file, "
                        "which needs any 3 of the 5 parts");

    r = run({"rebuild", path("n.pwq"), "--save-path", path("recv")});
    const QString output = path("recv/note.txt.dir/note.txt");
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "Extracted " + output + " successfully!\n");
    EXPECT_TRUE(r.err.contains("part 1 rebuilt from recovery parts 1 and 2\npart 3 rebuilt from recovery parts 1 and 2"))
        << r.err.toStdString();
    EXPECT_TRUE(ReadAll(output) == content);

    for (const char* name : {"note1.bin", "note2.bin", "noter1.bin"})
        ASSERT_TRUE(QFile::remove(parts + name));
    r = run({"show", path("n.pwq"), "--save-path", path("recv")});
    EXPECT_TRUE(r.out.endsWith("1 of 3 data parts and 1 of 2 recovery parts are good on disk: too few to rebuild the "
                               "file, which needs any 3 of the 5 parts\n"))
        << r.out.toStdString();
    r = run({"rebuild", path("n.pwq"), "--save-path", path("recv")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "2 of 3 data parts and 1 of 2 recovery parts are lost: cannot rebuild\n");
    EXPECT_TRUE(ReadAll(parts + "note3.bin").size() > 0 && QFileInfo::exists(parts + "noter2.bin")) << "good parts kept";
}

TEST_F(CliManifest, ShowAndRebuildRefuseHostileManifestsOnStderr) {
    const QByteArray good = QByteArray(ManifestSignature) + "\r\n1\r\nx.bin\r\n00000000\r\n1\r\nhttp://w/p.bin\r\n1\r\n"
                                                            "00000000\r\n\r\n\r\n";
    const struct {
        QByteArray text;
        QString message;
    } cases[] = {
        {QByteArray(good).replace("x.bin", "../../x"), "\"../../x\""},
        {QByteArray(good).replace("x.bin", "/tmp/abs"), "\"/tmp/abs\""},
        {QByteArray(good).replace("http://w/p.bin", "http://w/"), "\"http://w/\""},
        {QByteArray(good).replace("p.bin", QByteArray("p\0.bin", 6)), "p\\0.bin"},
        {QByteArray(good).replace("1\r\nx.bin", "3\r\nx.bin"), "Cannot handle this version of Parcelwick file."},
        {QByteArray("<html>\r\n"), "Not a Parcelwick file!"},
    };
    for (const auto& c : cases) {
        WriteFile(path("h.pwq"), c.text);
        for (const char* command : {"show", "rebuild"}) {
            const CliRun r = run({command, path("h.pwq"), "--save-path", path("recv")});
            EXPECT_EQ(r.status, 1) << command;
            EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
            EXPECT_TRUE(r.err.contains(c.message)) << r.err.toStdString();
        }
    }
    EXPECT_FALSE(QFileInfo::exists(path("recv"))) << "nothing created for a refused manifest";
    EXPECT_FALSE(QFileInfo::exists(m_dir.filePath("x")));
}

}  // namespace
