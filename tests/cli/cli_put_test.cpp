// parcelwick-cli put, run as a program against vsftpd on loopback (and scripted
// servers for hostile ones): the exit status, the reason and the masked password.
#include "support/cli_runner.h"
#include "support/event_wait.h"
#include "support/scripted_ftp_server.h"
#include "support/test_bytes.h"
#include "support/vsftpd_server.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
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

// Hostile and broken servers: the last line (a pattern), a bound on the time (the 30 s
// time limit must not be what ends it), every command the server got (its script), and
// the short password "q7z" on no line wherever a server repeats it. Over IPv6 a refused
// EPSV ends the upload: no PASV (an IPv4 command) follows.
TEST(CliPut, ScriptedServersEndItWithTheReason) {
    using S = FtpStep;
    const QList<S> user = {S::reply("220 hi\r\n"), S::expect("USER u")};
    const QList<S> pass = user + QList<S>{S::reply("331 pw\r\n"), S::expect("PASS q7z")};
    const QList<S> store = pass + QList<S>{S::reply("230 in, q7z.\r\n"), S::expect("TYPE I"), S::reply("200 ok\r\n"),
                                           S::expect("PORT *"), S::reply("200 ok\r\n"), S::expect("STOR x"),
                                           S::reply("150 go\r\n"), S::connectToPort()};
    const QList<S> quit = {S::expect("QUIT"), S::reply("221 bye q7z\r\n")};
    const QList<S> auth = {S::reply("220 hi\r\n"), S::expect("AUTH TLS")};
    const QString tlsFailed = "500 TLS handshake with 127\\.0\\.0\\.1:\\d+ failed: %1 \\(Error #12201\\)";
    const struct {
        const char* name;
        QList<S> dialogue;
        QStringList options;
        QString lastLine;  // behind "parcelwick-cli put: "
        const char* address = "127.0.0.1";
    } rows[] = {
        {"silent after USER", user + QList<S>{S::stall()}, {"--timeout=1"}, "426 Timeout"},
        {"530 after PASS, echoing the password: QUIT, no TYPE", pass + QList<S>{S::reply("530 q7z is wrong\r\n")} + quit,
         {}, "530 \\*{4} is wrong"},
        {"234, then plain text", auth + QList<S>{S::reply("234 go\r\n331 plain again\r\n")}, {"--ftps=try"},
         tlsFailed.arg("the server went on in plain text after 234")},
        {"234, then a broken handshake", auth + QList<S>{S::reply("234 go\r\n"), S::pause(100), S::reply("\x15\x03\x03")},
         {"--ftps=require"}, tlsFailed.arg(".+")},
        {"the data connection closed early, then 226", store + QList<S>{S::closeData(), S::reply("226 q7z\r\n")} + quit,
         {}, "426 data connection closed after \\d+ of 16777216 bytes"},
        {"an over-long reply line", user + QList<S>{S::reply("331 " + QByteArray(5000, 'x') + "\r\n")}, {},
         "500 reply line longer than 4095 bytes"},
        {"a NUL in a reply", user + QList<S>{S::reply(QByteArray("530 no\0one\r\n", 12))} + quit, {}, "530 no\\\\0one"},
        {"EPSV refused over IPv6",
         pass + QList<S>{S::reply("230 in\r\n"), S::expect("TYPE I"), S::reply("200 ok\r\n"), S::expect("EPSV"),
                         S::reply("502 no EPSV here\r\n")} + quit,
         {"--passive"}, "502 no EPSV here", "::1"},
    };
    QTemporaryDir dir;
    WriteFileBytes(dir.filePath("x"), QByteArray(16 << 20, 'x'));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedFtpServer server(row.dialogue, row.address);
        const QString host = QString(row.address).contains(':') ? QString("[%1]").arg(row.address) : row.address;
        const QString url = QStringLiteral("ftp://u:q7z@%1:%2/x").arg(host).arg(server.port());
        const CliRun run = RunCli(QStringList{"put", dir.filePath("x"), url} + row.options, {.timeoutMs = 10000});
        server.release();
        EXPECT_EQ(run.status, 1);
        const QString last = run.err.section('\n', -2, -2);
        EXPECT_TRUE(last.contains(QRegularExpression("^parcelwick-cli put: " + row.lastLine + '$'))) << run.err.toStdString();
        EXPECT_FALSE(run.err.contains(QRegularExpression("\\bq7z\\b")));
        EXPECT_TRUE(waitUntil([&] { return server.finished(); }, 5000));
        EXPECT_EQ(server.failures(), "");
    }
}

}  // namespace
