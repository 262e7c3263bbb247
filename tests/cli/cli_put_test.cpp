// parcelwick-cli put, run as a program against vsftpd on loopback (and a scripted
// server for a silent one): the exit status, the reason and the masked password.
#include "support/cli_runner.h"
#include "support/scripted_ftp_server.h"
#include "support/vsftpd_server.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString kPassword = "p:@/ %w0rd";
const QString kEncodedPassword = "p%3A%40%2F%20%25w0rd";

TEST(CliPut, UploadsAndFailsWithTheReason) {
    QTemporaryDir roots;
    VsftpdServer server;
    server.addAccount("dave", kPassword, roots.filePath("dave"));
    ASSERT_TRUE(server.start()) << server.errorText().toStdString();
    ASSERT_TRUE(QDir().mkpath(roots.filePath("dave/sub")));
    QFile source(roots.filePath("source.bin"));
    ASSERT_TRUE(source.open(QIODevice::WriteOnly));
    QByteArray bytes(3 << 20, Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 7919) >> 5);
    source.write(bytes);
    source.close();
    const QString base = QStringLiteral("127.0.0.1:%1/").arg(server.port());
    const QStringList credentials = {"PARCELWICK_FTP_USER=dave", "PARCELWICK_FTP_PASSWORD=" + kPassword};

    struct Row {
        const char* name;
        QStringList args;
        QStringList environment;
        int status;
        QString stored;     // file below the account's root that must equal the source
        QString errorText;  // must appear in stderr
    };
    const Row rows[] = {
        {"encoded credentials, active", {"ftp://dave:" + kEncodedPassword + "@" + base + "sub/a.bin"}, {}, 0,
         "sub/a.bin", "< 226 "},
        {"credentials from the environment, passive", {"ftp://" + base + "b.bin", "--passive"}, credentials, 0, "b.bin",
         "> EPSV"},
        {"wrong password", {"ftp://dave:nope@" + base + "c.bin"}, {}, 1, "", "put: 530 Login incorrect."},
        {"refused store", {"ftp://" + base + "missing/d.bin"}, credentials, 1, "", "put: 553 "},
        {"unresolvable host", {"ftp://dave:x@no-such-host.invalid/e.bin"}, {}, 1, "", "(Winsock error #1100"},
        {"not an ftp URL", {"http://dave:x@" + base + "f.bin"}, {}, 2, "", "usage: parcelwick-cli put"},
        {"no password anywhere", {"ftp://dave@" + base + "g.bin"}, {}, 2, "", "no user or password"},
    };
    for (const Row& r : rows) {
        const CliRun run = RunCli(QStringList{"put", source.fileName()} + r.args, {.environment = r.environment});
        EXPECT_EQ(run.status, r.status) << r.name << "\n" << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(r.errorText)) << r.name << "\n" << run.err.toStdString();
        EXPECT_FALSE(run.err.contains(kPassword)) << r.name;
        if (r.status != 2 && !QString(r.name).contains("unresolvable")) {
            EXPECT_TRUE(run.err.contains("> PASS ****\n")) << r.name << "\n" << run.err.toStdString();
        }
        EXPECT_EQ(run.out, "") << r.name;
        if (!r.stored.isEmpty()) {
            QFile stored(roots.filePath("dave/" + r.stored));
            EXPECT_TRUE(stored.open(QIODevice::ReadOnly) && stored.readAll() == bytes) << r.name;
        }
    }
}

// Ends that only a scripted server gives on demand: silence until the time limit, a
// refusal that repeats the password (the last line, the reason, masks it too), and a
// refused EPSV over IPv6, where no PASV (an IPv4 command) follows.
TEST(CliPut, ScriptedServersEndItWithTheReason) {
    const struct {
        const char* name;
        QList<FtpStep> dialogue;
        QString lastLine;
        const char* address = "127.0.0.1";
    } rows[] = {
        {"silent after USER", {FtpStep::reply("220 hi\r\n"), FtpStep::expect("USER u"), FtpStep::stall()},
         "parcelwick-cli put: 426 Timeout\n"},
        {"the password repeated in the refusal",
         {FtpStep::reply("220 hi\r\n"), FtpStep::expect("USER u"), FtpStep::reply("331 pw\r\n"),
          FtpStep::expect("PASS pw-echoed"), FtpStep::reply("530 pw-echoed is wrong\r\n"), FtpStep::expect("TYPE I"),
          FtpStep::reply("530 no\r\n"), FtpStep::expect("PORT *"), FtpStep::reply("530 no\r\n"),
          FtpStep::expect("QUIT"), FtpStep::reply("221 bye\r\n")},
         "parcelwick-cli put: 530 **** is wrong\n"},
        {"EPSV refused over IPv6",
         {FtpStep::reply("220 hi\r\n"), FtpStep::expect("USER u"), FtpStep::reply("331 pw\r\n"),
          FtpStep::expect("PASS p"), FtpStep::reply("230 in\r\n"), FtpStep::expect("TYPE I"), FtpStep::reply("200 ok\r\n"),
          FtpStep::expect("EPSV"), FtpStep::reply("502 no EPSV here\r\n"), FtpStep::expect("QUIT"),
          FtpStep::reply("221 bye\r\n")},
         "parcelwick-cli put: 502 no EPSV here\n", "::1"},
    };
    QTemporaryDir dir;
    QFile f(dir.filePath("x"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedFtpServer server(row.dialogue, row.address);
        const QString password = QString(row.name).startsWith("the password") ? "pw-echoed" : "p";
        const bool ipv6 = QString(row.address) == "::1";
        const QString url = QString("ftp://u:%1@%2:%3/x").arg(password, ipv6 ? "[::1]" : row.address).arg(server.port());
        const CliRun run = RunCli({"put", f.fileName(), url, "--timeout", "1", ipv6 ? "--passive" : "--ftps=off"});
        server.release();
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.err.endsWith(row.lastLine)) << run.err.toStdString();
        EXPECT_FALSE(run.err.contains("pw-echoed"));
        EXPECT_EQ(server.failures(), "");
    }
}

}  // namespace
