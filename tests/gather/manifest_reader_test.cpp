#include "common/manifest_format.h"
#include "gather/manifest_parts.h"
#include "gather/manifest_text.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct SplitCase {
    const char* name;
    QByteArray text;
    QStringList lines;
};

class ManifestTextLinesTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(ManifestTextLinesTest, BreaksLinesAndDropsEmptyOnes) {
    EXPECT_EQ(ManifestTextLines(GetParam().text), GetParam().lines) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    LineEnds, ManifestTextLinesTest,
    ::testing::Values(SplitCase{"crlf", "a\r\nb\r\n", {"a", "b"}}, SplitCase{"lf", "a\nb\n", {"a", "b"}},
                      SplitCase{"cr", "a\rb\r", {"a", "b"}}, SplitCase{"no final break", "a\r\nb", {"a", "b"}},
                      SplitCase{"mixed", "a\rb\nc\r\nd", {"a", "b", "c", "d"}},
                      SplitCase{"blank lines dropped", "\r\n\r\na\r\n\r\n\n\rb\r\n\r\n", {"a", "b"}},
                      SplitCase{"lf cr is two breaks", "a\n\rb", {"a", "b"}},
                      SplitCase{"blanks are not empty", "a\r\n \r\nb", {"a", " ", "b"}},
                      SplitCase{"utf8", "m\xc3\xbcsli.avi\r\n", {QString::fromUtf8("m\xc3\xbcsli.avi")}},
                      SplitCase{"nul kept in its line", QByteArray("a\0b\r\n", 5), {QString(QChar('a')) + QChar(0) + 'b'}},
                      SplitCase{"empty", "", {}}),
    [](const auto& param) {
        QString n = param.param.name;
        return n.replace(' ', '_').toStdString();
    });

QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    const QString path = dir.filePath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return path;
}

TEST(ReadManifestFile, CtrlZEndsTheTextAndMissingFilesLeaveTheLines) {
    QTemporaryDir dir;
    QStringList lines;
    QString error;
    ASSERT_TRUE(ReadManifestFile(WriteFile(dir, "z.pwq", "a\r\nb\x1a\r\nc\r\n"), lines, error));
    EXPECT_EQ(lines, (QStringList{"a", "b"}));

    QString missingError;
    EXPECT_FALSE(ReadManifestFile(dir.filePath("missing.pwq"), lines, missingError));
    EXPECT_EQ(lines, (QStringList{"a", "b"}));
    EXPECT_TRUE(missingError.contains(dir.filePath("missing.pwq"))) << missingError.toStdString();

    EXPECT_FALSE(ReadManifestFile(dir.path(), lines, missingError)) << "a directory is no manifest";

    const QByteArray stray = QByteArray("x\n").repeated(MaxManifestLines + 10);
    EXPECT_EQ(ManifestTextToLines(stray).count(), MaxManifestLines + 1) << "kept only up to the first line too many";
}

QStringList Header() { return {ManifestSignature, "1", "movie.avi", "0000ABCD", "3"}; }

TEST(ManifestParts, TakesOnlyCompleteGroupsBeforeTheTrailingLines) {
    const QStringList entry{"http://w/p.bin", "4", "11111111"};
    struct Case {
        QStringList lines;
        int parts;
    } cases[] = {
        {Header(), 0},
        {Header() + QStringList{"comment", "description"}, 0},
        {Header() + entry, 1},
        {Header() + entry + entry + entry + QStringList{"c", "d"}, 3},
        {Header() + entry + entry + entry, 3},
        {Header() + entry + entry + entry + QStringList{"c"}, 3},
        {QStringList{ManifestSignature, "1"}, 0},
        {QStringList{}, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ManifestParts(c.lines).size(), c.parts) << c.lines.join('|').toStdString();
    const QList<ManifestPart> parts = ManifestParts(Header() + entry + QStringList{"c", "d"});
    ASSERT_EQ(parts.size(), 1);
    EXPECT_EQ(parts[0].url, "http://w/p.bin");
    EXPECT_EQ(parts[0].size, "4");
    EXPECT_EQ(parts[0].crc, "11111111");
}

TEST(ManifestParts, AnEmptyValueLineShiftsEveryLaterEntryOneLineOff) {
    // The empty size line of part 1 disappears with the other empty lines.
    const QByteArray text = QByteArray(ManifestSignature) +
                            "\r\n1\r\nm.avi\r\n0000ABCD\r\n2\r\n"
                            "http://w/m1.bin\r\n\r\nAAAAAAAA\r\n"
                            "http://w/m2.bin\r\n4\r\nBBBBBBBB\r\nuser\r\ncomment\r\n";
    const QList<ManifestPart> parts = ManifestParts(ManifestTextLines(text));
    ASSERT_EQ(parts.size(), 2);
    EXPECT_EQ(parts[0].size, "AAAAAAAA");
    EXPECT_EQ(parts[0].crc, "http://w/m2.bin");
    EXPECT_EQ(parts[1].url, "4");
    EXPECT_EQ(parts[1].crc, "user");
}

struct RefusalCase {
    const char* name;
    QStringList lines;
    QString expected;  // exact message, or a text the message must contain
    bool exact;
};

class ManifestRefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(ManifestRefusalTest, RefusesWithTheMessage) {
    const QString message = ManifestRefusal(GetParam().lines);
    if (GetParam().exact)
        EXPECT_EQ(message, GetParam().expected);
    else
        EXPECT_TRUE(message.contains(GetParam().expected))
            << message.toStdString() << " lacks " << GetParam().expected.toStdString();
    EXPECT_FALSE(message.isEmpty());
}

QStringList WithName(const QString& name) {
    return {ManifestSignature, "1", name, "0000ABCD", "1", "http://w/p.bin", "4", "11111111"};
}
QStringList WithUrl(const QString& url) {
    return {ManifestSignature, "1", "movie.avi", "0000ABCD", "2", "http://w/ok.bin", "4", "11111111", url, "4",
            "22222222"};
}

// A version-2 manifest of 10 bytes in three data parts and two recovery parts.
QStringList V2With(const QString& name, const QString& recovery1, const QString& recovery2) {
    QStringList lines = {ManifestSignature, "2", name, "0000ABCD", "3", "2", "10", QString(64, '0')};
    const QStringList urls = {"http://w/n1.bin", "http://w/n2.bin", "http://w/n3.bin", recovery1, recovery2};
    for (int i = 0; i < urls.size(); ++i)
        lines << urls[i] << (i == 2 ? "2" : "4") << "11111111" << QString(64, 'a');
    return lines;
}

// A header declaring `declared` parts, then `parts` entries of fitting names.
QStringList ManyParts(int parts, const QString& declared) {
    QStringList lines = {ManifestSignature, "1", "movie.avi", "0000ABCD", declared};
    for (int i = 0; i < parts; ++i)
        lines << QString("http://w/p%1.bin").arg(i) << "4" << "11111111";
    return lines;
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, ManifestRefusalTest,
    ::testing::Values(
        RefusalCase{"signature case", {QString(ManifestSignature).toUpper(), "1", "a"}, "Not a Parcelwick file!", true},
        RefusalCase{"no lines", {}, "Not a Parcelwick file!", true},
        RefusalCase{"version 3",
                    {ManifestSignature, "3", "a"},
                    "Cannot handle this version of Parcelwick file.  Please upgrade at www.parcelwick.example.",
                    true},
        RefusalCase{"version padded", {ManifestSignature, "1 ", "a"}, "Cannot handle this version", false},
        RefusalCase{"more parts than taken", ManyParts(MaxManifestParts + 1, "1"), "more than 100000 parts", false},
        RefusalCase{"part count line above the limit", ManyParts(1, "100001"), "more than 100000 parts", false},
        RefusalCase{"dot dot slash", WithName("../../x"), "\"../../x\"", false},
        RefusalCase{"absolute", WithName("/etc/passwd"), "\"/etc/passwd\"", false},
        RefusalCase{"dot dot", WithName(".."), "\"..\"", false},
        RefusalCase{"dot", WithName("."), "\".\"", false},
        RefusalCase{"backslash", WithName("a\\b"), "\"a\\b\"", false},
        RefusalCase{"nul in name", WithName(QString("a") + QChar(0) + "b"), "\"a\\0b\"", false},
        RefusalCase{"missing name", {ManifestSignature, "1"}, "\"\"", false},
        RefusalCase{"url ends in slash", WithUrl("http://w/dir/"), "part 2", false},
        RefusalCase{"url ends in dot dot", WithUrl("http://w/.."), "\"..\"", false},
        RefusalCase{"url with nul", WithUrl(QString("http://w/p") + QChar(0) + ".bin"), "p\\0.bin", false},
        RefusalCase{"url ends in colon", WithUrl("http:"), "\"http:\"", false},
        RefusalCase{"two urls with one local name", WithUrl("http://v/elsewhere/ok.bin"),
                    "parts 1 and 2 of this Parcelwick file have the same local file name \"ok.bin\"", false},
        RefusalCase{"version 2 file name", V2With("../x", "http://w/r1.bin", "http://w/r2.bin"), "\"../x\"", false},
        RefusalCase{"version 2 recovery url ends in slash", V2With("n.txt", "http://w/r1.bin", "http://w/dir/"),
                    "recovery part 2 of this Parcelwick file has the URL \"http://w/dir/\"", false},
        RefusalCase{"version 2 recovery named as a data part", V2With("n.txt", "http://w/r1.bin", "http://v/n3.bin"),
                    "part 3 and recovery part 2 of this Parcelwick file have the same local file name \"n3.bin\"", false},
        RefusalCase{"version 2 breaking its own rules", V2With("n.txt", "http://w/r1.bin", "http://w/r2.bin").mid(0, 9),
                    "Refused: this Parcelwick file ends before line 10, the size of data part 1.", true}),
    [](const auto& param) {
        QString n = param.param.name;
        return n.replace(' ', '_').toStdString();
    });

TEST(ManifestRefusal, AcceptsPlainNamesWhateverTheyLookLike) {
    for (const QString& name : {QString("movie.avi"), QString("..."), QString(".hidden"), QString("a b&c"),
                                QString::fromUtf8("f\xc3\xbc.iso")})
        EXPECT_EQ(ManifestRefusal(WithName(name)), QString()) << name.toStdString();
    EXPECT_EQ(ManifestRefusal(WithUrl("C:\\parts\\p2.bin")), QString());
    EXPECT_EQ(ManifestRefusal({ManifestSignature, "1", "only-header.bin", "00000000", "0"}), QString());
    EXPECT_EQ(ManifestRefusal(ManyParts(MaxManifestParts, "100000")), QString()) << "the largest manifest taken";
    EXPECT_EQ(ManifestRefusal(V2With("n.txt", "http://w/r1.bin", "http://w/r2.bin")), QString());
}

}  // namespace
