// parcelwick-cli get against nginx and a scripted server: the body byte-identical in a
// file, the status lines and the reason of a failure on standard error, the exit status.
#include "support/cli_runner.h"
#include "support/nginx_server.h"
#include "support/scripted_server.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

class CliGetTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_root.isValid() && m_out.isValid());
        m_content = QByteArray(300000, Qt::Uninitialized);
        for (int i = 0; i < m_content.size(); ++i)
            m_content[i] = char((i * 131) ^ (i >> 8));
        QFile doc(m_root.filePath("part.001"));
        ASSERT_TRUE(doc.open(QIODevice::WriteOnly));
        ASSERT_EQ(doc.write(m_content), m_content.size());
        doc.close();
        m_server = std::make_unique<NginxServer>(
            m_root.path(), QList<NginxServer::Redirect>{{"/old", "/part.001", 301},
                                                        {"/to-ftp", "ftp://127.0.0.1/part.001", 301},
                                                        {"/loop", "/loop", 302}});
        ASSERT_TRUE(m_server->start()) << qPrintable(m_server->errorText());
    }
    QTemporaryDir m_root, m_out;
    QByteArray m_content;
    std::unique_ptr<NginxServer> m_server;
};

TEST_F(CliGetTest, BodyToFileAndStatusToStderr) {
    for (const char* path : {"/part.001", "/old"}) {
        const QString file = m_out.filePath("got");
        const CliRun r = RunCli({"get", m_server->url(path), "-o", file});
        EXPECT_EQ(r.status, 0) << path << qPrintable(r.err);
        EXPECT_TRUE(r.err.contains("200 OK\n")) << qPrintable(r.err);
        EXPECT_TRUE(r.err.contains("Content-Length: 300000\n")) << qPrintable(r.err);
        EXPECT_TRUE(r.err.contains("Content-Type: application/octet-stream\n")) << qPrintable(r.err);
        QFile got(file);
        ASSERT_TRUE(got.open(QIODevice::ReadOnly));
        EXPECT_TRUE(got.readAll() == m_content) << path;
    }
}

TEST_F(CliGetTest, BodyToStdoutWithoutFile) {
    const CliRun r = RunCli({"get", m_server->url("/part.001")});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.outBytes == m_content) << r.outBytes.size();
}

TEST_F(CliGetTest, FailuresExitWithOne) {
    const CliRun missing = RunCli({"get", m_server->url("/nothing.here"), "-o", m_out.filePath("x")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.err.contains("404 Not Found")) << qPrintable(missing.err);

    const CliRun refused = RunCli({"get", "http://127.0.0.1:1/x", "-o", m_out.filePath("y")});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.contains("Connection refused (Error #10061)")) << qPrintable(refused.err);
}

// Every way a get ends: the exit status, and the last line on standard error says why
// (also after an earlier response printed its own status line).
TEST_F(CliGetTest, ExitStatusAndTheLastWord) {
    const QByteArray header = "\r\n\r\n";
    ScriptedServer scripted(
        {{ScriptStep::readUntil(header), ScriptStep::send("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabcd")},
         {ScriptStep::readUntil(header), ScriptStep::send("HTTP/1.0 302 Found\r\nContent-Length: 0\r\n\r\n")}});
    const QString out = m_out.filePath("row");
    struct Row {
        QStringList args;  // {nginx} and {scripted} stand for the servers' addresses, {out} for the file
        int status;
        QStringList errLines;  // each must be a line of standard error; after a failure the last one is last
    };
    const Row rows[] = {
        {{"{nginx}/part.001", "--output={out}"}, 0, {"200 OK", "Content-Length: 300000"}},
        {{"--output", "{out}", "{nginx}/old"}, 0, {"301 Moved Permanently", "Location: {nginx}/part.001", "200 OK",
                                                   "Content-Type: application/octet-stream"}},
        {{"{nginx}/part.001", "--bogus"}, 2, {"parcelwick-cli get: Unknown option 'bogus'."}},
        {{"{nginx}/part.001", "-o"}, 2, {"parcelwick-cli get: Missing value after '-o'."}},
        {{}, 2, {"parcelwick-cli get: missing argument"}},
        {{"{nginx}/a", "{nginx}/b"}, 2, {"parcelwick-cli get: unexpected argument \"{nginx}/b\""}},
        {{"{nginx}/to-ftp", "-o", "{out}"}, 1,
         {"301 Moved Permanently", "parcelwick-cli get: unsupported URL scheme \"ftp\""}},
        {{"{nginx}/loop", "-o", "{out}"}, 1, {"Location: {nginx}/loop", "parcelwick-cli get: more than 20 relocations"}},
        {{"{scripted}/short", "-o", "{out}"}, 1,
         {"200 OK", "Content-Length: 10", "parcelwick-cli get: connection closed after 4 of 10 bytes"}},
        {{"{scripted}/found", "-o", "{out}"}, 1,
         {"302 Found", "parcelwick-cli get: 302 Found: a relocation without a Location field, not followed"}},
    };
    const auto fill = [&](QString text) {
        return text.replace("{nginx}", m_server->url(QString()))
            .replace("{scripted}", scripted.url(QString()))
            .replace("{out}", out);
    };
    for (const Row& row : rows) {
        QStringList args{"get"};
        for (const QString& arg : row.args)
            args << fill(arg);
        const CliRun r = RunCli(args);
        const QString what = args.join(' ');
        EXPECT_EQ(r.status, row.status) << qPrintable(what) << "\n" << qPrintable(r.err);
        const QStringList errLines = r.err.split('\n', Qt::SkipEmptyParts);
        for (const QString& line : row.errLines)
            EXPECT_TRUE(errLines.contains(fill(line))) << qPrintable(what) << ": no line " << qPrintable(fill(line))
                                                       << " in\n" << qPrintable(r.err);
        if (row.status == 2) {
            EXPECT_TRUE(r.err.contains("usage: parcelwick-cli get [-q] URL [-o FILE]")) << qPrintable(what);
        }
        if (row.status == 1) {
            EXPECT_EQ(errLines.value(errLines.size() - 1).toStdString(), fill(row.errLines.last()).toStdString())
                << qPrintable(what);
        }
    }
    EXPECT_EQ(scripted.failures(), "");
}

// Hostile servers, each row a script and how get must end: exit 1 with the reason as the
// last line, within 6 s, and the file holding no byte beyond what was announced.
TEST_F(CliGetTest, HostileServersEndWithTheReason) {
    const auto answer = [](const QByteArray& head, const QByteArray& rest = "\r\n") {
        return Dialogue{ScriptStep::readUntil("\r\n\r\n"), ScriptStep::send("HTTP/1.0 " + head + "\r\n" + rest)};
    };
    const QByteArray length = "200 OK\r\nContent-Length: ";
    const struct {
        Dialogue script;  // none: a listener whose queue is full, so that a connect is never answered
        const char* scheme;
        const char* reason;
        QByteArray written;
    } rows[] = {
        {{ScriptStep::stall()}, "http", "no response header within 1 s", ""},
        {{ScriptStep::stall()}, "https", "no TLS handshake within 1 s", ""},
        {{}, "http", "no connection within 1 s", ""},
        {answer("200 OK\r\nServer: x", ""), "http", "connection closed before the end of the response header", ""},
        {answer(length + "5\r\nContent-Length: 6", "\r\nabcdef"), "http", "Content-Length fields disagree: 5 and 6", ""},
        {answer(length + "-5", "\r\nabcdef"), "http", "invalid Content-Length: -5", ""},
        {answer(length + "100, 5", "\r\nabcdef"), "http", "invalid Content-Length: 100, 5", ""},
        {answer(length + "12345678901234567890"), "http", "invalid Content-Length: 12345678901234567890", ""},
        {answer(length + "4", "\r\nabcdefgh"), "http", "server sent more than the 4 bytes it announced", "abcd"},
        {answer(length + "8", "\r\nabc") + Dialogue{ScriptStep::stall()}, "http", "no data for 1 s after 3 bytes",
         "abc"},
        {answer("302 Found\r\nLocation: data:text/plain,hi"), "http", "unsupported URL scheme \"data\"", ""},
        {answer("302 Found\r\nLocation: mailto:x"), "http", "unsupported URL scheme \"mailto\"", ""},
    };
    for (const auto& row : rows) {
        ScriptedServer server({row.script});
        quint16 port = server.port();
        const int full = row.script.isEmpty() ? ListenOn(INADDR_LOOPBACK, 0, &port) : -1;
        const int filler = ::socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in to{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
        ASSERT_TRUE(full < 0 || (::listen(full, 0) == 0 &&
                                 ::connect(filler, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0));
        const QString url = QString("%1://127.0.0.1:%2/f").arg(row.scheme).arg(port);
        const CliRun r = RunCli({"get", url, "--timeout=1", "-o", m_out.filePath("h")}, {.timeoutMs = 6000});
        EXPECT_EQ(r.status, 1) << row.reason;
        EXPECT_EQ(r.err.trimmed().section('\n', -1), QString("parcelwick-cli get: ") + row.reason);
        QFile written(m_out.filePath("h"));
        EXPECT_TRUE(written.open(QIODevice::ReadOnly) && written.readAll() == row.written) << row.reason;
        ::close(filler);
        ::close(full);
    }
}

}  // namespace
