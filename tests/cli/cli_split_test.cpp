// parcelwick-cli split, run as a program: its lines, its defaults and its refusals.
#include "common/user_error.h"
#include "scatter/splitter.h"
#include "scatter/upload_table.h"
#include "support/cli_runner.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class CliSplit : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    // HOME points into the test's folder, so the default save path lies there too.
    CliRun run(const QStringList& args) { return RunCli(QStringList{"split"} + args, {.home = m_dir.filePath("home")}); }
    QString makeSource(const QString& name, const QByteArray& bytes) {
        QFile f(m_dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    }

    QTemporaryDir m_dir;
};

// "abc" has the CRC-32 352441C2 and "ab" 9E83486D.
TEST_F(CliSplit, PrintsPathSizeAndCrcOfEveryPart) {
    const QString source = makeSource("My File (2).txt", "abcabcab");
    const CliRun r = run({source, "--save-path", m_dir.filePath("out")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    const QString dir = m_dir.filePath("out") + "/My File (2).txt.uldir/";
    EXPECT_EQ(r.out, dir + "MyFile21.bin\t3\t352441C2\n" + dir + "MyFile22.bin\t3\t352441C2\n" + dir +
                         "MyFile23.bin\t2\t9E83486D\n");
    EXPECT_EQ(QFileInfo(dir + "MyFile23.bin").size(), 2);
}

// The recovery part's line comes last; with it every line ends with the SHA-256.
TEST_F(CliSplit, RecoveryPartsAreListedWithTheirSha256) {
    const CliRun r = run({makeSource("movie.avi", "abcabc"), "--parts", "2", "--recovery", "1", "--save-path", m_dir.filePath("out")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[1].section('\t', 2), "352441C2\tba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(lines[2].section('\t', 0, 1), m_dir.filePath("out") + "/movie.avi.uldir/movier1.bin\t3");
}

TEST_F(CliSplit, DefaultsAreThoseOfTheWindow) {
    const QString source = makeSource("movie.avi", "abcabcabc");
    const CliRun r = run({source});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    const QString dir = m_dir.filePath("home") + "/ParcelwickFiles/movie.avi.uldir/";
    EXPECT_EQ(r.out.split('\n', Qt::SkipEmptyParts),
              QStringList({dir + "movie1.bin\t3\t352441C2", dir + "movie2.bin\t3\t352441C2",
                           dir + "movie3.bin\t3\t352441C2"}));

    const CliRun named = run({"--parts=1", source, "--name", "x y", "--ext", "dat"});
    EXPECT_EQ(named.status, 0) << named.err.toStdString();
    EXPECT_EQ(named.out, dir + "x y1.dat\t9\t" + "462D4818\n");
}

TEST_F(CliSplit, RefusesWhatTheWindowRefusesWithTheSameMessage) {
    const QString source = makeSource("ten.bin", "0123456789");
    const QString missing = m_dir.filePath("missing.bin");
    const struct {
        QString path;
        int parts;
    } cases[] = {{source, 7}, {missing, 3}, {m_dir.path(), 3}};
    for (const auto& c : cases) {
        QString message;
        TextTable table(UploadTableColumns());
        try {
            SplitFile({c.path, c.parts, "p", "bin", m_dir.filePath("window") + "/"}, table);
        } catch (const UserError& error) {
            message = error.text();
        }
        ASSERT_FALSE(message.isEmpty());
        const CliRun r = run({c.path, "--parts", QString::number(c.parts), "--save-path", m_dir.filePath("cli")});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, message + "\n");
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(QFileInfo::exists(m_dir.filePath("cli")));
    }
}

TEST_F(CliSplit, BadArguments) {
    const QString source = makeSource("ten.bin", "0123456789");
    const struct {
        QStringList args;
        int status;
        QString errorStart;
    } cases[] = {
        {{source, "--parts", "0"}, 1, "parcelwick-cli split: --parts must be a whole number from 1 to 1000"},
        {{source, "--parts", "1001"}, 1, "parcelwick-cli split: --parts must be a whole number from 1 to 1000"},
        {{source, "--parts", "three"}, 1, "parcelwick-cli split: --parts must be a whole number from 1 to 1000"},
        {{source, "--parts"}, 2, "parcelwick-cli split: Missing value after '--parts'."},
        {{source, "--colour", "red"}, 2, "parcelwick-cli split: Unknown option 'colour'."},
        {{}, 2, "parcelwick-cli split: missing argument"},
        {{source, source}, 2, "parcelwick-cli split: unexpected argument \"" + source + "\""},
        {{source, "--save-path", ""}, 2, "parcelwick-cli split: --save-path needs a directory"},
        {{source, "--save-path="}, 2, "parcelwick-cli split: --save-path needs a directory"},
        {{source, "--recovery", "255"}, 1, "parcelwick-cli split: --recovery must be a whole number from 0 to 254"},
        {{source, "--recovery", "two"}, 1, "parcelwick-cli split: --recovery must be a whole number from 0 to 254"},
    };
    for (const auto& c : cases) {
        const CliRun r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.startsWith(c.errorStart)) << r.err.toStdString();
        // A usage error shows the usage; a refused value does not.
        EXPECT_EQ(r.err.contains("\nusage: parcelwick-cli split SOURCE"), c.status == 2) << r.err.toStdString();
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(QFileInfo::exists(m_dir.filePath("home/ParcelwickFiles")));
}

// A write that the file system refuses (here the file-size limit, with its signal
// ignored as a shell's "trap" leaves it) ends the split with the reason, naming the part.
TEST_F(CliSplit, WriteFailureNamesThePartAndTheReason) {
    const QByteArray content(5000, 'x');
    const QString source = makeSource("movie.avi", content);
    const QString out = m_dir.filePath("out") + "/";
    QProcess process;
    process.start("/bin/bash", {"-c", "trap '' XFSZ; ulimit -f 2; exec \"$0\" \"$@\"",
                                QString(PW_BIN_DIR) + "/parcelwick-cli", "split", source, "--parts", "2",
                                "--save-path", out});
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_EQ(QString::fromUtf8(process.readAllStandardError()),
              "Cannot write " + out + "movie.avi.uldir/movie1.bin: File too large\n");
    EXPECT_EQ(process.readAllStandardOutput(), "");
    EXPECT_EQ(QFileInfo(out + "movie.avi.uldir/movie1.bin").size(), 2048);
    QFile f(source);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll() == content);
}

TEST_F(CliSplit, Help) {
    const CliRun r = run({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.startsWith("usage: parcelwick-cli split SOURCE")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("--save-path DIR"));
}

}  // namespace
