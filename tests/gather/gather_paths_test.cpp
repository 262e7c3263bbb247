#include "gather/download_table.h"
#include "gather/gather_paths.h"

#include <gtest/gtest.h>

namespace {

TEST(LocalPartName, TakesTheTextAfterTheLastSlashBackslashOrColon) {
    const struct {
        const char* url;
        const char* name;
    } cases[] = {
        {"http://w.example/dir/movie2.bin", "movie2.bin"},
        {"http://w.example/dir/", ""},
        {"C:\\parts\\p.bin", "p.bin"},
        {"http://w.example/a\\b.bin", "b.bin"},
        {"mirror:p3.bin", "p3.bin"},
        {"plain.bin", "plain.bin"},
        {"?movie1.bin", "?movie1.bin"},
        {"Do Not Uploadmovie1.bin", "Do Not Uploadmovie1.bin"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LocalPartName(c.url), c.name) << c.url;
}

TEST(GatherPaths, TheSavePathIsAPlainPrefix) {
    const GatherPaths paths("/home/u/ParcelwickFiles/", "big.iso");
    EXPECT_EQ(paths.workDirectory(), "/home/u/ParcelwickFiles/big.iso.dir/");
    EXPECT_EQ(paths.partsDirectory(), "/home/u/ParcelwickFiles/big.iso.dir/parts/");
    EXPECT_EQ(paths.partFile("http://w/d/big2.bin"), "/home/u/ParcelwickFiles/big.iso.dir/parts/big2.bin");
    EXPECT_EQ(paths.outputFile(), "/home/u/ParcelwickFiles/big.iso.dir/big.iso");
    EXPECT_EQ(GatherPaths("/x", "big.iso").workDirectory(), "/xbig.iso.dir/");
}

TEST(CompletionPercentage, CountsGoodCrcsAndTruncates) {
    TextTable table(DownloadTableColumns());
    EXPECT_EQ(CompletionPercentage(table), 0);
    for (int i = 0; i < 3; ++i)
        table.addRow({"u", "Done."});
    EXPECT_EQ(CompletionPercentage(table), 0) << "Status alone does not count";
    table.setCell(0, DownloadColumn::CrcOk, "G");
    EXPECT_EQ(CompletionPercentage(table), 33);
    table.setCell(1, DownloadColumn::CrcOk, "R");
    table.setCell(2, DownloadColumn::CrcOk, "G");
    EXPECT_EQ(CompletionPercentage(table), 66);
    table.setCell(1, DownloadColumn::CrcOk, "G");
    EXPECT_EQ(CompletionPercentage(table), 100);
}

}  // namespace
