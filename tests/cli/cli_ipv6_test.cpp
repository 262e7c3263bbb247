// The commands over IPv6, as programs against nginx and vsftpd listening on ::1: bracketed
// addresses in URLs, manifests and site lists, the same bytes back, and FTP data
// connections by EPRT and EPSV only.
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
    ASSERT_TRUE(site.startsWith("http://[::1]:"));

    const CliRun pwq = RunCli({"pwq", dir.filePath("movie.avi"), "--site", site, "--parts", "2", "--name", "mov",
                               "--save-path", dir.filePath("send"), "-o", www + "/mov.pwq"});
    ASSERT_EQ(pwq.status, 0) << pwq.err.toStdString();
    const QDir uploads(dir.filePath("send/movie.avi.uldir"));
    for (const QString& part : uploads.entryList(QDir::Files))
        ASSERT_TRUE(QFile::rename(uploads.filePath(part), www + "/" + part));
    const CliRun gather = RunCli({"gather", server.url("/mov.pwq"), "--save-path", dir.filePath("recv")});
    EXPECT_EQ(gather.status, 0) << gather.err.toStdString();
    EXPECT_TRUE(gather.err.contains("part 2/2 started (attempt 1): " + site + "mov2.bin")) << gather.err.toStdString();
    EXPECT_TRUE(ReadFileBytes(dir.filePath("recv/movie.avi.dir/movie.avi")) == original);

    // The same part by its literal, and by a name the override gives both families.
    const QString port = QString::number(server.port());
    for (const QStringList& args : {QStringList{site + "mov1.bin"},
                                    QStringList{"http://dual.test:" + port + "/mov1.bin", "--resolve",
                                                "dual.test:127.0.0.1,::1"}}) {
        const CliRun get = RunCli(QStringList{"get", "-o", dir.filePath("got")} + args);
        EXPECT_EQ(get.status, 0) << get.err.toStdString();
        EXPECT_TRUE(ReadFileBytes(dir.filePath("got")) == ReadFileBytes(www + "/mov1.bin")) << args.join(' ').toStdString();
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

    for (const bool passive : {false, true}) {
        const QString name = passive ? "passive" : "active";
        const QString url = QString("ftp://ivy:six-pass@[::1]:%1/put-%2.flac").arg(server.port()).arg(name);
        QStringList put = {"put", dir.filePath("song.flac"), url};
        QStringList send = {"send", dir.filePath("song.flac"), "--sites", dir.filePath("ftplist.txt"), "--parts", "2",
                            "--name", name, "--save-path", dir.filePath(name), "-o", dir.filePath(name + ".pwq")};
        if (passive)
            put << "--passive", send << "--passive";
        for (const QStringList& args : {put, send}) {
            const CliRun run = RunCli(args);
            SCOPED_TRACE((args[0] + ' ' + name).toStdString());
            EXPECT_EQ(run.status, 0) << run.err.toStdString();
            const int transfers = args[0] == "put" ? 1 : 2;
            EXPECT_EQ(run.err.count(passive ? "\n> EPSV\n" : QString("\n> EPRT |2|::1|")), transfers) << run.err.toStdString();
            EXPECT_FALSE(run.err.contains(QRegularExpression("\n> (PORT|PASV)")));
        }
        EXPECT_TRUE(ReadFileBytes(dir.filePath("ivy/put-" + name + ".flac")) == original);
        for (const QString part : {"1", "2"})
            EXPECT_TRUE(ReadFileBytes(dir.filePath("ivy/" + name + part + ".bin")) ==
                        ReadFileBytes(dir.filePath(name + "/song.flac.uldir/" + name + part + ".bin")));
    }
}

}  // namespace
