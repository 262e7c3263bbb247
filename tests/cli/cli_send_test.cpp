// parcelwick-cli send as a program: the whole road (split, upload to two accounts of a
// real FTP server, manifest, gather from the real web server in front of them, the same
// bytes), and the ways a send ends short of it.
#include "common/text_table.h"
#include "scatter/site_list_file.h"
#include "scatter/site_list_table.h"
#include "scatter/splitter.h"
#include "support/cli_runner.h"
#include "support/event_wait.h"
#include "support/manifest_maker.h"
#include "support/scripted_ftp_server.h"
#include "support/test_bytes.h"
#include "support/tls_certificates.h"
#include "support/vsftpd_server.h"
#include "support/web_host.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>

namespace {

struct Site {
    QString ftpSite, user, password, webSite;
};

// A site-list file as Save FTP List writes it (readable by its owner only).
QString WriteSiteList(const QString& path, const QList<Site>& list) {
    TextTable sites(SiteListColumns());
    for (const Site& s : list)
        sites.addRow({s.ftpSite, s.user, s.password, s.webSite});
    QString error;
    EXPECT_TRUE(SaveSiteListFile(sites, path, error)) << error.toStdString();
    return path;
}

struct Road {
    const char* name;
    bool passive;
    bool tls;  // FTPS required for the uploads, and the manifest and parts fetched over https
};

class CliSendRoad : public ::testing::TestWithParam<Road> {};

// Active with the manifest gathered from its file; passive with it gathered by URL, in
// plain text and under TLS.
TEST_P(CliSendRoad, A50MiBFileInSevenPartsComesBackByteForByte) {
    const bool passive = GetParam().passive;
    const bool tls = GetParam().tls;
    const QList<WebHost::Account> accounts = {{"anna", "anna's pass: 1"}, {"ben", "b3n-secret"}};
    WebHost host(accounts);
    const TlsCertificates& certs = TlsCertificates::get();
    QStringList tlsArgs;
    if (tls) {
        host.enableTls(certs.good().cert, certs.good().key);
        tlsArgs = {"--cacert", certs.caFile()};
    }
    ASSERT_TRUE(host.start()) << host.errorText().toStdString();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray original = SeededBytes((50 << 20) + 3, 50);
    WriteFileBytes(dir.filePath("film.mkv"), original);
    QList<Site> sites;
    for (const WebHost::Account& a : accounts)
        sites << Site{host.ftpSite(), a.user, a.password, host.webSite(a.user)};
    const QString siteList = WriteSiteList(dir.filePath("ftplist.txt"), sites);
    const QString manifest = host.storedPath("anna", "film.pwq");

    QStringList args = {"send", dir.filePath("film.mkv"), "--sites", siteList, "--parts", "7", "--name", "film",
                        "--save-path", dir.filePath("send"), "--user", "Me", "--comment", "holiday", "-o", manifest};
    if (passive)
        args << "--passive";
    if (tls)
        args << "--ftps=require" << tlsArgs;
    const CliRun send = RunCli(args, {.timeoutMs = 300000});
    ASSERT_EQ(send.status, 0) << send.err.toStdString();
    EXPECT_EQ(send.out, manifest + "\n");
    for (const WebHost::Account& a : accounts)
        EXPECT_FALSE(send.err.contains(a.password)) << "the log holds a password";
    EXPECT_EQ(send.err.count("Connect Attempt # 1\n"), 7);
    EXPECT_EQ(send.err.count("Connect Attempt # "), 7);
    // Both accounts at once (the default): each line begins with its account.
    EXPECT_EQ(send.err.count(QRegularExpression("(\\[\\w+@[\\w.]+:\\d+\\] )Request 17 Done\\.\\n\\1StatusCode = 226\\n")), 7)
        << send.err.toStdString();
    EXPECT_EQ(send.err.count("> SIZE film"), 7) << "every store checked by its size";
    EXPECT_EQ(send.err.count(passive ? "> EPSV" : "> PORT 127,0,0,1,"), 7);
    EXPECT_TRUE(send.err.contains("> PASS ****\n"));
    EXPECT_EQ(send.err.count("> AUTH TLS\n"), tls ? 7 : 0);
    EXPECT_EQ(send.err.count("> PROT P\n"), tls ? 7 : 0);
    EXPECT_EQ(send.err.count(QRegularExpression("! TLS data connection: TLSv1\\.[23], .*, session resumed\n")),
              tls ? 7 : 0)
        << send.err.toStdString();
    EXPECT_FALSE(send.err.contains('\r')) << "no progress line when standard error is no terminal";
    // Part i went to account ((i - 1) mod 2), stored as it lies in the upload directory.
    for (int i = 1; i <= 7; ++i) {
        const QString name = QString("film%1.bin").arg(i);
        EXPECT_TRUE(ReadFileBytes(host.storedPath(accounts[(i - 1) % 2].user, name)) ==
                    ReadFileBytes(dir.filePath("send/film.mkv.uldir/" + name)))
            << name.toStdString();
    }

    const QString source = passive ? host.url("/anna/film.pwq") : manifest;
    const CliRun gather =
        RunCli(QStringList{"gather", source, "--save-path", dir.filePath("recv")} + tlsArgs, {.timeoutMs = 300000});
    const QString rebuilt = dir.filePath("recv/film.mkv.dir/film.mkv");
    EXPECT_EQ(gather.status, 0) << gather.err.toStdString();
    EXPECT_EQ(gather.out, "Extracted " + rebuilt + " successfully!\n");
    EXPECT_TRUE(gather.err.contains("part 7/7 started (attempt 1): " + host.webSite("anna") + "film7.bin"))
        << gather.err.toStdString();
    EXPECT_TRUE(ReadFileBytes(rebuilt) == original) << "byte-identical";
}

INSTANTIATE_TEST_SUITE_P(Modes, CliSendRoad,
                         ::testing::Values(Road{"ActiveFromFile", false, false}, Road{"PassiveByUrl", true, false},
                                           Road{"FtpsPassiveByHttpsUrl", true, true}),
                         [](const auto& row) { return row.param.name; });

// Recovery parts on the whole road: 8 data and 5 recovery parts over three accounts (the
// most on one account is 5), one account's folder gone and a part forged to the same
// length and CRC-32 on another: 3 data and 2 recovery parts lost, the gather still gives
// the same bytes, each part checked by its SHA-256.
TEST(CliSend, RecoveryPartsOutliveALostAccountAndAForgedPart) {
    const QList<WebHost::Account> accounts = {{"anna", "a-pass"}, {"ben", "b-pass"}, {"cleo", "c-pass"}};
    WebHost host(accounts);
    ASSERT_TRUE(host.start()) << host.errorText().toStdString();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray original = SeededBytes((50 << 20) + 3, 51);
    WriteFileBytes(dir.filePath("film.mkv"), original);
    QList<Site> sites;
    for (const WebHost::Account& a : accounts)
        sites << Site{host.ftpSite(), a.user, a.password, host.webSite(a.user)};
    const CliRun send = RunCli({"send", dir.filePath("film.mkv"), "--sites", WriteSiteList(dir.filePath("s.txt"), sites),
                                "--parts", "8", "--recovery", "5", "--name", "film", "--save-path", dir.filePath("send"),
                                "-o", host.storedPath("anna", "film.pwq")},
                               {.timeoutMs = 300000});
    ASSERT_EQ(send.status, 0) << send.err.toStdString();
    // Round the accounts: data parts 1..8, then recovery parts 1..5 (part 9..13).
    for (int i = 1; i <= 13; ++i) {
        const QString name = i <= 8 ? QString("film%1.bin").arg(i) : QString("filmr%1.bin").arg(i - 8);
        EXPECT_TRUE(ReadFileBytes(host.storedPath(accounts[(i - 1) % 3].user, name)) ==
                    ReadFileBytes(dir.filePath("send/film.mkv.uldir/" + name)))
            << name.toStdString();
    }
    const QString forged = host.storedPath("anna", "film1.bin");
    WriteFileBytes(forged, SameCrcOtherBytes(ReadFileBytes(forged)));
    ASSERT_TRUE(QDir(QFileInfo(host.storedPath("cleo", "film3.bin")).path()).removeRecursively());

    const CliRun gather = RunCli({"gather", host.url("/anna/film.pwq"), "--save-path", dir.filePath("recv")},
                                 {.timeoutMs = 300000});
    const QString rebuilt = dir.filePath("recv/film.mkv.dir/film.mkv");
    EXPECT_EQ(gather.status, 0) << gather.err.toStdString();
    EXPECT_EQ(gather.out, "Extracted " + rebuilt + " successfully!\n");
    EXPECT_TRUE(ReadFileBytes(rebuilt) == original) << "byte-identical";
    EXPECT_TRUE(gather.err.contains("part 1/8: Error:SHA-256")) << "the forged part caught by its SHA-256";
    for (int part : {1, 3, 6})
        EXPECT_TRUE(gather.err.contains(QString("part %1 rebuilt from recovery parts 2, 3 and 5\n").arg(part)))
            << gather.err.toStdString();
    EXPECT_EQ(gather.err.count("part 2 rebuilt from"), 0);
    EXPECT_TRUE(gather.err.contains("recovery part 4 started (attempt 1): " + host.webSite("cleo") + "filmr4.bin"));
}

// Three accounts at once on a server that allows three sessions from one address, the
// third with a web address that leads nowhere, the parts sent from their ranges of the
// source: every part is stored, never two sessions on one account, no upload folder, and
// the third account's parts are found not served.
TEST(CliSend, ThreeAccountsAtOnceAndAWrongWebAddress) {
    const QList<WebHost::Account> accounts = {{"anna", "a-pass-1"}, {"ben", "b-pass-2"}, {"carl", "c-pass-3"}};
    WebHost host(accounts);
    host.ftp().addConfig("max_per_ip=3");
    host.ftp().logCommands();
    ASSERT_TRUE(host.start()) << host.errorText().toStdString();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray original = SeededBytes((21 << 20) + 5, 21);
    WriteFileBytes(dir.filePath("film.mkv"), original);
    const QString wrongSite = host.webSite("nobody");
    const QString siteList =
        WriteSiteList(dir.filePath("ftplist.txt"), {{host.ftpSite(), "anna", "a-pass-1", host.webSite("anna")},
                                                    {host.ftpSite(), "ben", "b-pass-2", host.webSite("ben")},
                                                    {host.ftpSite(), "carl", "c-pass-3", wrongSite}});
    const CliRun send = RunCli({"send", dir.filePath("film.mkv"), "--sites", siteList, "--parts", "7", "--name", "film",
                                "--parallel", "3", "--no-part-files", "--save-path", dir.filePath("send"), "-o",
                                dir.filePath("film.pwq")},
                               {.timeoutMs = 300000});
    EXPECT_EQ(send.status, 1) << send.err.toStdString();
    for (int i = 1; i <= 7; ++i) {
        const QString name = QString("film%1.bin").arg(i);
        const PartSizes sizes = ComputePartSizes(original.size(), 7);
        EXPECT_TRUE(ReadFileBytes(host.storedPath(accounts[(i - 1) % 3].user, name)) ==
                    original.mid((i - 1) * sizes.partSize, i < 7 ? sizes.partSize : sizes.lastSize))
            << name.toStdString();
        EXPECT_EQ(send.err.contains("Error:web: " + wrongSite + name + ": 404"), i % 3 == 0) << name.toStdString();
    }
    for (const WebHost::Account& a : accounts)
        EXPECT_EQ(host.ftp().mostSessionsAtOnce(a.user), 1) << a.user.toStdString();
    EXPECT_GE(host.ftp().mostSessionsAtOnce(QString()), 2) << "the accounts were sent to at once";
    EXPECT_TRUE(send.err.contains("[anna@" + host.ftpSite() + "] > STOR film1.bin\n"));
    EXPECT_EQ(send.err.count("The web address of account "), 1);
    EXPECT_TRUE(send.err.contains("The web address of account carl at " + host.ftpSite() + " (web address " + wrongSite +
                                  ") does not serve the parts stored in it."));
    EXPECT_TRUE(send.err.contains("No manifest written: not every part is served at its web address."));
    EXPECT_FALSE(QFile::exists(dir.filePath("film.pwq")));
    EXPECT_FALSE(QFile::exists(dir.filePath("send/film.mkv.uldir")));
}

TEST(CliSend, EveryOtherEndIsNonZeroAndWritesNoManifest) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    WriteFileBytes(dir.filePath("f.dat"), SeededBytes(4000, 1));
    ScriptedFtpServer refusing({FtpStep::reply("220 hi\r\n"), FtpStep::expect("USER u"), FtpStep::reply("230 in\r\n"),
                                FtpStep::expect("TYPE I"), FtpStep::reply("200 ok\r\n"), FtpStep::expect("TYPE I"),
                                FtpStep::reply("200 ok\r\n"), FtpStep::expect("PORT *"), FtpStep::reply("200 ok\r\n"),
                                FtpStep::expect("STOR f1.bin"), FtpStep::reply("553 no room\r\n"),
                                FtpStep::expect("QUIT"), FtpStep::reply("221 bye\r\n")});
    const QString good = WriteSiteList(dir.filePath("good.txt"),
                                       {{QString("127.0.0.1:%1").arg(refusing.port()), "u", "pw", "http://w.example/"}});
    const QString shared = WriteSiteList(dir.filePath("shared.txt"),
                                         {{QString("127.0.0.1:%1").arg(refusing.port()), "u", "pw", "http://w.example/"}});
    ASSERT_TRUE(QFile::setPermissions(shared, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
    // Without TLS at the server, required TLS gives the part up at once, not after retries.
    ScriptedFtpServer plainOnly({FtpStep::reply("220 hi\r\n"), FtpStep::expect("AUTH TLS"),
                                 FtpStep::reply("500 AUTH not understood\r\n"), FtpStep::expect("QUIT"),
                                 FtpStep::reply("221 bye\r\n")});
    const QString plain = WriteSiteList(
        dir.filePath("plain.txt"), {{QString("127.0.0.1:%1").arg(plainOnly.port()), "u", "pw", "http://w.example/"}});
    // A certificate from a CA the client was not told of: asked about once, both parts given up.
    VsftpdServer tlsServer;
    tlsServer.enableTls(TlsCertificates::get().good().cert, TlsCertificates::get().good().key);
    tlsServer.addAccount("u", "pw-tls", dir.filePath("tls"));
    ASSERT_TRUE(tlsServer.start()) << tlsServer.errorText().toStdString();
    const QString untrusted = WriteSiteList(
        dir.filePath("tls.txt"), {{QString("localhost:%1").arg(tlsServer.port()), "u", "pw-tls", "https://w.example/"}});
    WriteFileBytes(dir.filePath("empty.txt"), "ftplist\r\n");
    ASSERT_TRUE(QFile::setPermissions(dir.filePath("empty.txt"), QFile::ReadOwner | QFile::WriteOwner));
    const QString manifest = dir.filePath("f.pwq");
    const QStringList common = {dir.filePath("f.dat"), "--parts", "1", "--name", "f", "--save-path", dir.filePath("s")};

    struct Row {
        const char* name;
        QStringList args;
        int status;
        QStringList err;  // pieces of standard error
        QString once;     // a piece standard error holds exactly once
    };
    const Row rows[] = {
        {"no site list", common + QStringList{"-o", manifest}, 2, {"send: no --sites given", "usage: parcelwick-cli send"}},
        {"no manifest named", common + QStringList{"--sites", good}, 2, {"send: no -o given"}},
        {"a site list that is not there", common + QStringList{"--sites", dir.filePath("none.txt"), "-o", manifest}, 1,
         {"Cannot open " + dir.filePath("none.txt")}},
        {"a site list without sites", common + QStringList{"--sites", dir.filePath("empty.txt"), "-o", manifest}, 1,
         {dir.filePath("empty.txt") + " lists no site"}},
        {"a store refused, from a site list others may read", common + QStringList{"--sites", shared, "-o", manifest}, 1,
         {"Warning: " + shared + " can be read by others than its owner, and it holds passwords",
          "Request 17 Done.\nStatusCode = 553\n", "part 1/1 not stored: " + dir.filePath("s/f.dat.uldir/f1.bin") + " (Status 553)",
          "No manifest written: not every part is stored."}},
        {"TLS required, and the server has none", common + QStringList{"--sites", plain, "--ftps=require", "-o", manifest},
         1, {"! AUTH TLS refused, and TLS is required", "(Status 500)", "No manifest written"}, "Connect Attempt # "},
        {"TLS when offered, and a certificate nobody trusts",
         common + QStringList{"--parts", "2", "--sites", untrusted, "--ftps=try", "-o", manifest}, 1,
         {"Error:certificate: 500 Certificate of localhost:" + QString::number(tlsServer.port()) + " not trusted",
          "part 1/2 not stored", "(Status Error:certificate)\npart 2/2 not stored", "No manifest written"},
         "Trust this certificate? No"},
        {"an unknown TLS mode", common + QStringList{"--sites", good, "--ftps=yes", "-o", manifest}, 2,
         {"send: --ftps takes off, try or require"}},
        {"more sessions at once than accounts may have", common + QStringList{"--sites", good, "--parallel", "9", "-o", manifest},
         2, {"send: --parallel takes a number from 1 to 8"}},
        {"an unknown check of the web address", common + QStringList{"--sites", good, "--verify=head", "-o", manifest}, 2,
         {"send: --verify takes length, crc or off"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const CliRun run = RunCli(QStringList{"send"} + row.args);
        EXPECT_EQ(run.status, row.status);
        EXPECT_EQ(run.out, "");
        for (const QString& piece : row.err)
            EXPECT_TRUE(run.err.contains(piece)) << piece.toStdString() << "\nin:\n" << run.err.toStdString();
        EXPECT_FALSE(QFile::exists(manifest));
        if (!row.once.isEmpty()) {
            EXPECT_EQ(run.err.count(row.once), 1) << row.once.toStdString() << "\nin:\n" << run.err.toStdString();
        }
        EXPECT_FALSE(run.err.contains("pw-tls"));
        EXPECT_EQ(run.err.contains("Warning: "), QString(row.name).contains("others may read"));
    }
    EXPECT_TRUE(waitUntil([&] { return refusing.finished(); }));
    EXPECT_EQ(refusing.failures(), "");
    EXPECT_TRUE(waitUntil([&] { return plainOnly.finished(); }));
    EXPECT_EQ(plainOnly.failures(), "");
    EXPECT_TRUE(QDir(dir.filePath("tls")).isEmpty()) << "nothing stored past a refused certificate";
}

TEST(CliSend, CtrlCAbortsTheRetriesLikeAbortFtp) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    WriteFileBytes(dir.filePath("f.dat"), SeededBytes(1000, 2));
    const QString list = WriteSiteList(dir.filePath("l.txt"), {{"no-such-host.invalid", "u", "pw", "http://w.example/"}});
    QProcess cli;
    cli.start(QStringLiteral(PW_BIN_DIR "/parcelwick-cli"),
              {"send", dir.filePath("f.dat"), "--sites", list, "--save-path", dir.filePath("s"), "-o", dir.filePath("f.pwq")});
    QByteArray err;
    ASSERT_TRUE(waitUntil([&] {
        err += cli.readAllStandardError();
        return err.contains("Connect Attempt # 2");
    })) << err.toStdString();
    ::kill(static_cast<pid_t>(cli.processId()), SIGINT);
    ASSERT_TRUE(cli.waitForFinished(10000)) << "the wait before the next attempt ends at once";
    err += cli.readAllStandardError();
    EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(cli.exitCode(), 130);
    EXPECT_TRUE(err.contains("\nFTP-Aborted\nAborted: no manifest written\n")) << err.toStdString();
    EXPECT_FALSE(err.contains("Connect Attempt # 3")) << "2 is the first waited-for attempt: 1 s, then 2 s";
    EXPECT_FALSE(QFile::exists(dir.filePath("f.pwq")));
}

// On a terminal the upload shows one redrawn line; -q leaves only the log.
TEST(CliSend, OnATerminalOneRedrawnLineUnlessQuiet) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    WriteFileBytes(dir.filePath("t.dat"), SeededBytes(3 << 20, 3));
    for (const bool quiet : {false, true}) {
        SCOPED_TRACE(quiet ? "quiet" : "drawn");
        QList<FtpStep> session = {FtpStep::reply("220 hi\r\n"), FtpStep::expect("USER u"), FtpStep::reply("230 in\r\n")};
        for (int i = 0; i < 2; ++i)
            session << FtpStep::expect("TYPE I") << FtpStep::reply("200 ok\r\n");
        session << FtpStep::expect("PORT *") << FtpStep::reply("200 ok\r\n") << FtpStep::expect("STOR t1.bin")
                << FtpStep::reply("150 go\r\n") << FtpStep::connectToPort() << FtpStep::receiveData()
                << FtpStep::reply("226 ok\r\n") << FtpStep::expect("SIZE t1.bin") << FtpStep::reply("500 no\r\n")
                << FtpStep::expect("QUIT") << FtpStep::reply("221 bye\r\n");
        ScriptedFtpServer server(session);
        const QString list =
            WriteSiteList(dir.filePath("l.txt"), {{QString("127.0.0.1:%1").arg(server.port()), "u", "pw", "http://w/"}});
        QStringList args = {"send", dir.filePath("t.dat"), "--parts", "1", "--sites", list, "--save-path",
                            dir.filePath("s"), "-o", dir.filePath("t.pwq")};
        if (quiet)
            args << "-q";
        const CliRun run = RunCliOnTerminal(args);
        EXPECT_EQ(run.status, 0) << run.out.toStdString();
        EXPECT_EQ(run.out.contains("\rsend t.dat"), !quiet) << run.out.toStdString();
        EXPECT_TRUE(run.out.contains("Request 17 Done.\r\nStatusCode = 226\r\n"));
        EXPECT_TRUE(run.out.endsWith(dir.filePath("t.pwq") + "\r\n"));
        EXPECT_EQ(server.failures(), "");
    }
}

}  // namespace
