// The version-2 manifest: what the writer makes reads back the same, and a manifest that
// breaks a rule is refused with the number of the line that breaks it.
#include "common/manifest_v2.h"
#include "common/user_error.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

ManifestV2 makeManifest(std::int64_t size, int k, int m) {
    ManifestV2 manifest;
    manifest.fileName = "movie.avi";
    manifest.fileCrc = 0x0A1B2C3Du;
    manifest.fileSha256.fill(0xA5);
    manifest.layout = *MakeCodingLayout(size, k, m);
    for (int i = 0; i < k + m; ++i) {
        ManifestV2Part part{QString("http://host%1.example/movie%2%3.bin").arg(i % 3).arg(i < k ? "" : "r").arg(i < k ? i + 1 : i - k + 1),
                            i < k ? manifest.layout.dataPartSize(i) : manifest.layout.partSize, 0xFFu * static_cast<uint32_t>(i), {}};
        part.sha256.fill(static_cast<unsigned char>(i));
        (i < k ? manifest.data : manifest.recovery).append(part);
    }
    return manifest;
}

TEST(ManifestV2, WrittenLinesReadBackTheSame) {
    // Sizes at the edges: the empty file, one part, an empty last part (10 bytes in 6),
    // a last part of exactly P, the most parts there can be.
    const struct {
        std::int64_t size;
        int k, m;
        const char *comment, *description;
    } cases[] = {{0, 1, 0, "", ""}, {0, 2, 3, "me", ""}, {10, 6, 0, "me", "a film"}, {9, 3, 2, "", ""},
                 {10, 3, 252, "x", "y"}, {1, 1, 254, "", ""}, {kMaxCodedFileSize, 255, 0, "", ""}};
    for (const auto& c : cases) {
        ManifestV2 written = makeManifest(c.size, c.k, c.m);
        written.comment = c.comment;
        written.description = c.description;
        const QStringList lines = ManifestV2Lines(written);
        EXPECT_EQ(lines.size(), 10 + 4 * (c.k + c.m));
        ManifestV2 read;
        EXPECT_EQ(ParseManifestV2(lines, read), "") << c.size << " " << c.k << " " << c.m;
        EXPECT_EQ(read, written) << c.size << " " << c.k << " " << c.m;
    }
}

// Each row changes one line of a good manifest of 10 bytes in 3 data parts (4, 4, 2
// bytes) and 2 recovery parts: lines 9-20 are the data parts, 21-28 the recovery parts.
TEST(ManifestV2, HostileManifestsAreRefusedNamingTheLine) {
    ManifestV2 base = makeManifest(10, 3, 2);
    base.comment = "comment";
    base.description = "description";
    const QStringList good = ManifestV2Lines(base);
    const QString upperSha = QString(64, 'A');
    const struct {
        int line;                        // from 1
        std::optional<QString> text;     // none: the manifest ends before this line
        const char* refusal;
    } rows[] = {
        {1, "www.example.org", "line 1 of this Parcelwick file, the signature"},
        {2, "3", "line 2 of this Parcelwick file, the format version, is \"3\": it must be 2."},
        {4, "0a1b2c3d", "line 4 of this Parcelwick file, the file's CRC-32, is \"0a1b2c3d\": it must be 8 upper-case"},
        {5, "0", "line 5 of this Parcelwick file, the number of data parts, is \"0\": it must be 1 to 255."},
        {5, "256", "line 5 of this Parcelwick file, the number of data parts, is \"256\": it must be 1 to 255."},
        {5, QString::fromUtf8("\xef\xbc\x93"), "line 5 of this Parcelwick file, the number of data parts, is \"\xef\xbc\x93\": it must be a decimal"},
        {6, "253", "line 6 of this Parcelwick file, the number of recovery parts, is \"253\": with 3 data parts it must be 0 to 252."},
        {6, "-1", "line 6 of this Parcelwick file, the number of recovery parts, is \"-1\": it must be a decimal number without sign"},
        {7, "+10", "line 7 of this Parcelwick file, the file size, is \"+10\": it must be a decimal number without sign"},
        {7, "1", "line 7 of this Parcelwick file, the file size, is \"1\": 1 bytes are too few for 3 data parts"},
        {7, "4611686018427387905", "line 7 of this Parcelwick file, the file size, is \"4611686018427387905\": it must be at most 4611686018427387904 bytes."},
        {7, "99999999999999999999", "line 7 of this Parcelwick file, the file size, is \"99999999999999999999\": it must be a decimal"},
        {8, upperSha, "line 8 of this Parcelwick file, the file's SHA-256, is \"AAAA"},
        {9, "http://a/\nb", "line 9 of this Parcelwick file, the URL of data part 1, is \"http://a/\\x0ab\": it must be a single line."},
        {10, "04", "line 10 of this Parcelwick file, the size of data part 1, is \"04\": it must be a decimal"},
        {14, "x4", "line 14 of this Parcelwick file, the size of data part 2, is \"x4\": it must be a decimal"},
        {14, "3", "line 14 of this Parcelwick file, the size of data part 2, is \"3\": every data part but the last holds 4 bytes."},
        {18, "4", "line 18 of this Parcelwick file, the size of data part 3, is \"4\": the last data part holds the 2 bytes left of 10."},
        {20, good[19].left(63), "line 20 of this Parcelwick file, the SHA-256 of data part 3, is \""},
        {22, "5", "line 22 of this Parcelwick file, the size of recovery part 1, is \"5\": every recovery part holds 4 bytes, as a full data part."},
        {28, std::nullopt, "this Parcelwick file ends before line 28, the SHA-256 of recovery part 2."},
        {31, "one more", "line 31 of this Parcelwick file is one too many"},
    };
    for (const auto& row : rows) {
        QStringList lines = good.mid(0, row.text ? good.size() : row.line - 1);
        if (row.text)
            (row.line <= lines.size() ? lines[row.line - 1] : lines.emplace_back()) = *row.text;
        ManifestV2 read = makeManifest(1, 1, 0);
        const ManifestV2 before = read;
        const QString refusal = ParseManifestV2(lines, read);
        EXPECT_TRUE(refusal.startsWith("Refused: ") && refusal.contains(QString::fromUtf8(row.refusal)))
            << "line " << row.line << ": " << refusal.toStdString();
        EXPECT_EQ(read, before) << "line " << row.line;
    }
}

TEST(ManifestV2, WriterRefusesWhatWouldNotReadBack) {
    ManifestV2 breakInComment = makeManifest(10, 3, 2);
    breakInComment.comment = "two\r\nlines";
    ManifestV2 emptyUrl = makeManifest(10, 3, 2);
    emptyUrl.recovery[1].url.clear();
    ManifestV2 wrongSize = makeManifest(10, 3, 2);
    wrongSize.data[2].size = 4;
    ManifestV2 missingPart = makeManifest(10, 3, 2);
    missingPart.recovery.removeLast();
    for (const ManifestV2* m : {&breakInComment, &emptyUrl, &wrongSize, &missingPart})
        EXPECT_THROW(ManifestV2Lines(*m), UserError);
}

}  // namespace
