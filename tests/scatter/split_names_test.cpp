// Sizing and naming of a split: the figures the page shows and the paths of the parts.
#include "scatter/split_warning.h"
#include "scatter/splitter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

constexpr qint64 kGiB = 1024LL * 1024 * 1024;

struct SizingCase {
    qint64 total;
    int parts;
    qint64 partSize;
    qint64 lastSize;  // negative: refused
};

class PartSizing : public ::testing::TestWithParam<SizingCase> {};

TEST_P(PartSizing, GivesFullPartsAndTheRestLast) {
    const SizingCase c = GetParam();
    const PartSizes sizes = ComputePartSizes(c.total, c.parts);
    if (c.lastSize < 0) {
        EXPECT_LT(sizes.lastSize, 0);
        return;
    }
    EXPECT_EQ(sizes.partSize, c.partSize);
    EXPECT_EQ(sizes.lastSize, c.lastSize);
    EXPECT_EQ(sizes.partSize * (c.parts - 1) + sizes.lastSize, c.total);
}

INSTANTIATE_TEST_SUITE_P(Table, PartSizing,
                         ::testing::Values(SizingCase{10, 3, 4, 2}, SizingCase{9, 3, 3, 3}, SizingCase{10, 6, 2, 0},
                                           SizingCase{10, 7, 0, -1}, SizingCase{10, 1, 10, 10},
                                           SizingCase{0, 1, 0, 0}, SizingCase{0, 3, 0, 0},
                                           SizingCase{1, 1000, 0, -1}, SizingCase{1000, 1000, 1, 1},
                                           SizingCase{5 * kGiB, 3, 1789569707, 1789569706},
                                           SizingCase{4 * kGiB + 2, 2, 2 * kGiB + 1, 2 * kGiB + 1},
                                           SizingCase{-1, 3, 0, -1}, SizingCase{10, 0, 0, -1}));

TEST(SplitNames, UploadDirectoryAndPartFilesAreConcatenations) {
    EXPECT_EQ(UploadDirectory("/home/u/ParcelwickFiles/", "/data/movie.avi"),
              "/home/u/ParcelwickFiles/movie.avi.uldir/");
    // The save path is a prefix: no separator is added.
    EXPECT_EQ(UploadDirectory("/tmp/out-", "movie.avi"), "/tmp/out-movie.avi.uldir/");
    const QString dir = UploadDirectory("/s/", "/data/movie.avi");
    EXPECT_EQ(PartFilePath(dir, "movie", 1, "bin"), "/s/movie.avi.uldir/movie1.bin");
    EXPECT_EQ(PartFilePath(dir, "movie", 10, "bin"), "/s/movie.avi.uldir/movie10.bin");
    EXPECT_EQ(PartFilePath(dir, "my part", 3, ""), "/s/movie.avi.uldir/my part3.");
}

TEST(SplitNames, RemoveSpecialCharsDropsExactlyTwelveCharacters) {
    const QString special = QStringLiteral("*&^ $!@()+\"'");
    for (const QChar c : special)
        EXPECT_EQ(RemoveSpecialChars(QString("a") + c + "b" + c), "ab") << QString(c).toStdString();
    const QString kept = QStringLiteral("Äö_-.,;#%~=[]{}<>?|\\/:\t0123456789zЖ日本");
    EXPECT_EQ(RemoveSpecialChars(kept), kept);
    EXPECT_EQ(RemoveSpecialChars(special), "");
}

TEST(SplitNames, ProposedBaseName) {
    const QList<std::pair<QString, QString>> cases = {
        {"/home/u/My Movie (1).avi", "MyMovie1"},
        {"/x/a b&c.tar.gz", "abc.tar"},
        {"noext", "noext"},
        {"/dir.with.dots/plain", "plain"},
        {"/x/Ümlaut Café.mkv", "ÜmlautCafé"},
        {"/x/.hidden", ""},
        {"/x/don't.txt", "dont"},
    };
    for (const auto& [path, base] : cases)
        EXPECT_EQ(ProposedBaseName(path), base) << path.toStdString();
}

TEST(SplitNames, ContentWarningOnlyForTheWordInAnyCase) {
    EXPECT_TRUE(ContentWarning("/home/u/movie.avi").isEmpty());
    EXPECT_TRUE(ContentWarning("/home/LoLiTa/x.avi").startsWith("Parcelwick condemns"));
    EXPECT_FALSE(ContentWarning("/a/xlolitax.bin").isEmpty());
}

// FileSizeOf and the labels see only ordinary files.
class SplitSourceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString write(const QString& name, const QByteArray& bytes) {
        QFile f(m_dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    }
    QTemporaryDir m_dir;
};

TEST_F(SplitSourceTest, FileSizeOfFindsOnlyOrdinaryFiles) {
    const QString file = write("ten.bin", "0123456789");
    EXPECT_EQ(FileSizeOf(file), 10);
    EXPECT_EQ(FileSizeOf(write("empty", "")), 0);
    EXPECT_EQ(FileSizeOf(m_dir.filePath("missing")), -1);
    EXPECT_EQ(FileSizeOf(m_dir.path()), -1);
    EXPECT_EQ(FileSizeOf(write(".hidden", "abc")), -1);
    EXPECT_EQ(FileSizeOf("/dev/null"), -1);
    EXPECT_EQ(FileSizeOf(""), -1);
    EXPECT_EQ(FileSizeOf(file + "/"), -1);
    // A file inside a dot-directory is still found: only its own name counts.
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(".cache"));
    EXPECT_EQ(FileSizeOf(write(".cache/inner", "xy")), 2);
    ASSERT_TRUE(QFile::link(file, m_dir.filePath("link")));
    EXPECT_EQ(FileSizeOf(m_dir.filePath("link")), 10);
}

TEST_F(SplitSourceTest, LabelsShowWhatCanBeKnown) {
    const QString file = write("ten.bin", "0123456789");
    const struct {
        QString path;
        int parts;
        QString total, part, last;
    } cases[] = {
        {file, 3, "Total Size: 10", "Part Size: 4", "Last File Part Size: 2"},
        {file, 6, "Total Size: 10", "Part Size: 2", "Last File Part Size: 0"},
        {file, 7, "Total Size: 10", "Part Size: ?", "Last File Part Size: ?"},
        {m_dir.filePath("missing"), 3, "Total Size: ?", "Part Size: ?", "Last File Part Size: ?"},
        {m_dir.path(), 3, "Total Size: ?", "Part Size: ?", "Last File Part Size: ?"},
    };
    for (const auto& c : cases) {
        const SplitLabels labels = DescribeSplit(c.path, c.parts);
        EXPECT_EQ(labels.totalSize, c.total);
        EXPECT_EQ(labels.partSize, c.part);
        EXPECT_EQ(labels.lastSize, c.last);
    }
}

TEST_F(SplitSourceTest, CrcLabel) {
    EXPECT_EQ(SourceCrcLabel(write("check", "123456789")), "CRC:= CBF43926");
    EXPECT_EQ(SourceCrcLabel(write("empty", "")), "CRC:= 00000000");
    EXPECT_EQ(SourceCrcLabel(m_dir.filePath("missing")), "CRC:= 00000000");
    EXPECT_EQ(SourceCrcLabel(""), "CRC:= 00000000");
}

}  // namespace
