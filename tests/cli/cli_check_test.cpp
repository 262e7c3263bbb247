// parcelwick-cli check as a program against nginx: a published manifest with one part
// gone and one changed on the server, read from its file and from its URL; a version-2
// manifest whose recovery part is gone.
#include "common/manifest_v2.h"
#include "support/cli_runner.h"
#include "support/manifest_maker.h"
#include "support/nginx_server.h"
#include "support/test_bytes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(CliCheck, SaysWhichPartsAreDeadOrChanged) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    WriteFileBytes(dir.filePath("film.mov"), SeededBytes(400003, 99));
    const QString www = dir.filePath("www");
    ASSERT_TRUE(QDir().mkpath(www));
    NginxServer server(www);
    ASSERT_TRUE(server.start()) << server.errorText().toStdString();
    const CliRun split = RunCli({"pwq", dir.filePath("film.mov"), "--site", server.url("/"), "--parts", "4", "--name",
                                 "f", "--save-path", dir.filePath("send"), "-o", www + "/f.pwq"});
    ASSERT_EQ(split.status, 0) << split.err.toStdString();
    const QDir uploads(dir.filePath("send/film.mov.uldir"));
    for (const QString& part : uploads.entryList(QDir::Files))
        ASSERT_TRUE(QFile::rename(uploads.filePath(part), www + "/" + part));
    ASSERT_TRUE(QFile::remove(www + "/f3.bin"));
    QByteArray second = ReadFileBytes(www + "/f2.bin");
    const QString secondCrc = CrcTextOf(second);
    second[7] = char(second[7] ^ 0x40);
    WriteFileBytes(www + "/f2.bin", second);

    const auto line = [&](int part, const QString& status, const QString& verdict) {
        return QString("%1\t%2\t%3\t%4\n").arg(part).arg(server.url(QString("/f%1.bin").arg(part)), status, verdict);
    };
    const CliRun heads = RunCli({"check", www + "/f.pwq", "--simultaneous", "2"});
    EXPECT_EQ(heads.status, 1) << heads.err.toStdString();
    EXPECT_EQ(heads.out, line(1, "200", "ok") + line(2, "200", "ok") + line(3, "404", "404 Not Found") +
                             line(4, "200", "ok") +
                             "3 of 4 parts available and right; part 3 is not: 404 Not Found\n");

    const CliRun gets = RunCli({"check", server.url("/f.pwq"), "--crc"});
    EXPECT_EQ(gets.status, 1) << gets.err.toStdString();
    EXPECT_EQ(gets.out, line(1, "200", "ok") +
                            line(2, "200", "CRC " + CrcTextOf(second) + " instead of " + secondCrc) +
                            line(3, "404", "404 Not Found") + line(4, "200", "ok") +
                            "2 of 4 parts available and right; part 2 and part 3 are not\n");

    ManifestV2 coded;
    coded.fileName = "ten.bin";
    coded.layout = *MakeCodingLayout(10, 2, 1);
    for (const char* name : {"d1", "d2", "r1"})
        (name[0] == 'd' ? coded.data : coded.recovery).append({server.url(QString("/") + name), 5, 0x2BAB0C40u, {}});
    WriteFileBytes(www + "/d1", "hello");
    WriteFileBytes(www + "/d2", "world");
    WriteFileBytes(dir.filePath("ten.pwq"), ManifestFileText(ManifestV2Lines(coded)));
    const CliRun v2 = RunCli({"check", dir.filePath("ten.pwq")});
    EXPECT_EQ(v2.status, 1) << v2.err.toStdString();
    EXPECT_EQ(v2.out, "1\t" + server.url("/d1") + "\t200\tok\n2\t" + server.url("/d2") + "\t200\tok\nrecovery 1\t" +
                          server.url("/r1") + "\t404\t404 Not Found\n2 of 3 parts available and right; recovery part 1 "
                          "is not: 404 Not Found; enough to rebuild the file, which needs any 2 of the 2 + 1 parts\n");

    const CliRun wrong = RunCli({"check", www + "/f.pwq", "--simultaneous", "17"});
    EXPECT_EQ(wrong.status, 2);
    EXPECT_TRUE(wrong.err.contains("--simultaneous takes a number from 1 to 16")) << wrong.err.toStdString();
}

}  // namespace
