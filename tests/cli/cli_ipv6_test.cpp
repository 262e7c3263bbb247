// The commands against nginx and vsftpd on ::1: bracketed addresses in URLs, manifests
// and site lists, the same bytes back, FTP data connections by EPRT and EPSV only.
#include "common/text_table.h"
#include "scatter/site_list_file.h"
#include "scatter/site_list_table.h"
#include "support/cli_runner.h"
#include "support/nginx_server.h"
#include "support/test_bytes.h"
#include "support/vsftpd_server.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(CliIPv6, GetAndGatherFromNginxOnIPv6Loopback) {
    QTemporaryDir dir;
    const QString www = dir.filePath("www");
    ASSERT_TRUE(QDir().mkpath(www));
    const QByteArray original = SeededBytes(700001, 6);
    WriteFileBytes(dir.filePath("movie.avi"), original);
    NginxServer server(www);
    server.setListenAddress("::1");
    ASSERT_TRUE(server.start()) << server.errorText().toStdString();
    const QString site = server.url("/");
    ASSERT_TRUE(RunCli({"pwq", dir.filePath("movie.avi"), "--site", site, "--parts", "2", "--name", "mov",
                        "--save-path", dir.filePath("send"), "-o", www + "/mov.pwq"}).status == 0);
    const QDir uploads(dir.filePath("send/movie.avi.uldir"));
    for (const QString& part : uploads.entryList(QDir::Files))
        ASSERT_TRUE(QFile::rename(uploads.filePath(part), www + "/" + part));
    const CliRun gather = RunCli({"gather", server.url("/mov.pwq"), "--save-path", dir.filePath("recv")});
    EXPECT_TRUE(gather.err.contains("part 2/2 started (attempt 1): http://[::1]:")) << gather.err.toStdString();
    EXPECT_TRUE(gather.status == 0 && ReadFileBytes(dir.filePath("recv/movie.avi.dir/movie.avi")) == original);
    // The literal, and a name whose IPv4 address refuses.
    const QString path = QString(":%1/mov1.bin").arg(server.port());
    for (const QStringList& args :
         {QStringList{"http://[::1]" + path}, {"http://dual.test" + path, "--resolve", "dual.test:127.0.0.1,::1"}}) {
        const CliRun get = RunCli(QStringList{"get", "-o", dir.filePath("got")} + args);
        EXPECT_TRUE(get.status == 0 && ReadFileBytes(dir.filePath("got")) == ReadFileBytes(www + "/mov1.bin"))
            << get.err.toStdString();
    }
}

TEST(CliIPv6, PutAndSendToVsftpdOnIPv6LoopbackByEprtAndEpsv) {
    QTemporaryDir dir;
    VsftpdServer server;
    server.listenOnIPv6();
    server.addAccount("ivy", "six-pass", dir.filePath("ivy"));
    ASSERT_TRUE(server.start()) << server.errorText().toStdString();
    const QByteArray original = SeededBytes(3000007, 66);
    WriteFileBytes(dir.filePath("song.flac"), original);
    TextTable sites(SiteListColumns());
    sites.addRow({QString("[::1]:%1").arg(server.port()), "ivy", "six-pass", "http://w.example/"});
    QString error;
    ASSERT_TRUE(SaveSiteListFile(sites, dir.filePath("ftplist.txt"), error)) << error.toStdString();
    for (const QString mode : {"active", "passive"}) {
        const QStringList put = {"put", dir.filePath("song.flac"),
                                 QString("ftp://ivy:six-pass@[::1]:%1/%2.flac").arg(server.port()).arg(mode)};
        const QStringList send = {"send", dir.filePath("song.flac"), "--sites", dir.filePath("ftplist.txt"), "--parts",
                                  "2", "--name", mode, "--save-path", dir.filePath(mode), "-o", dir.filePath("m.pwq")};
        for (const QStringList& args : {put, send}) {
            const CliRun run = RunCli(mode == "passive" ? args + QStringList{"--passive"} : args);
            EXPECT_EQ(run.status, 0) << run.err.toStdString();
            EXPECT_EQ(run.err.count(mode == "passive" ? "\n> EPSV\n" : "\n> EPRT |2|::1|"), args[0] == "put" ? 1 : 2)
                << run.err.toStdString();
            EXPECT_FALSE(run.err.contains(QRegularExpression("\n> (PORT|PASV)")));
        }
        EXPECT_TRUE(ReadFileBytes(dir.filePath("ivy/" + mode + ".flac")) == original) << mode.toStdString();
        for (const QString part : {"1.bin", "2.bin"})
            EXPECT_TRUE(ReadFileBytes(dir.filePath("ivy/" + mode + part)) ==
                        ReadFileBytes(dir.filePath(mode + "/song.flac.uldir/" + mode + part)));
    }
}

}  // namespace
