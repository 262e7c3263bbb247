// parcelwick-cli get against nginx: the body byte-identical in a file, the status line
// on standard error, the exit status by the status code.
#include "support/cli_runner.h"
#include "support/nginx_server.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

CliRun runCli(const QStringList& args) { return RunCli(args); }

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
        m_server = std::make_unique<NginxServer>(m_root.path(), QList<NginxServer::Redirect>{{"/old", "/part.001", 301}});
        ASSERT_TRUE(m_server->start()) << qPrintable(m_server->errorText());
    }
    QTemporaryDir m_root, m_out;
    QByteArray m_content;
    std::unique_ptr<NginxServer> m_server;
};

TEST_F(CliGetTest, BodyToFileAndStatusToStderr) {
    for (const char* path : {"/part.001", "/old"}) {
        const QString file = m_out.filePath("got");
        const CliRun r = runCli({"get", m_server->url(path), "-o", file});
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
    const CliRun r = runCli({"get", m_server->url("/part.001")});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.outBytes == m_content) << r.outBytes.size();
}

TEST_F(CliGetTest, FailuresExitWithOne) {
    const CliRun missing = runCli({"get", m_server->url("/nothing.here"), "-o", m_out.filePath("x")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.err.contains("404 Not Found")) << qPrintable(missing.err);

    const CliRun refused = runCli({"get", "http://127.0.0.1:1/x", "-o", m_out.filePath("y")});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.contains("Connection refused (Error #10061)")) << qPrintable(refused.err);
}

}  // namespace
