// THttpClient against a real HTTP server (nginx on loopback): byte identity from an
// empty document to 100 MiB, a missing document, relocations the server is set up for.
#include "http_client_harness.h"
#include "support/nginx_server.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Content that differs at every offset, so a lost, doubled or shifted block shows.
void writeDocument(const QString& path, qint64 size) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    QByteArray block(1 << 20, Qt::Uninitialized);
    quint32 x = 2463534242u;
    for (qint64 done = 0; done < size;) {
        for (char& c : block) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            c = char(x);
        }
        const qint64 n = qMin<qint64>(block.size(), size - done);
        ASSERT_EQ(file.write(block.constData(), n), n);
        done += n;
    }
}

QByteArray fileHash(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result();
}

class HttpClientNginxTest : public ::testing::TestWithParam<qint64> {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_root.isValid());
        // The second relocation is built from the request's Host field, as Apache builds
        // its own: without the port there it would lead to port 80.
        m_server = std::make_unique<NginxServer>(
            m_root.path(), QList<NginxServer::Redirect>{{"/moved", "/doc.bin", 302},
                                                        {"/moved-by-host", "http://$http_host/doc.bin", 301}});
    }
    QTemporaryDir m_root;
    QTemporaryDir m_out;
    std::unique_ptr<NginxServer> m_server;
};

TEST_P(HttpClientNginxTest, DocumentArrivesByteIdentical) {
    const qint64 size = GetParam();
    writeDocument(m_root.filePath("doc.bin"), size);
    ASSERT_TRUE(m_server->start()) << qPrintable(m_server->errorText());

    ClientHarness h;
    QFile out(m_out.filePath("doc.bin"));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    h.client->SetRcvdStream(&out);
    h.client->SetURL(m_server->url("/doc.bin"));
    h.client->GetAsync();
    ASSERT_TRUE(h.waitDone(1, 120000));
    out.close();
    EXPECT_EQ(h.doneError, 0);
    EXPECT_EQ(h.client->StatusCode(), 200);
    EXPECT_EQ(h.client->ContentLength(), size);
    EXPECT_EQ(h.client->RcvdCount(), size);
    EXPECT_EQ(QFileInfo(out.fileName()).size(), size);
    EXPECT_EQ(fileHash(out.fileName()), fileHash(m_root.filePath("doc.bin")));
}

INSTANTIATE_TEST_SUITE_P(Sizes, HttpClientNginxTest,
                         ::testing::Values(qint64(0), qint64(1), qint64(1) << 20, qint64(100) << 20));

TEST_F(HttpClientNginxTest, MissingDocumentIs404AndGetRaises) {
    ASSERT_TRUE(m_server->start()) << qPrintable(m_server->errorText());
    ClientHarness h;
    h.client->SetURL(m_server->url("/no/such/file"));
    h.client->GetAsync();
    ASSERT_TRUE(h.waitDone());
    EXPECT_EQ(h.doneError, 0);
    EXPECT_EQ(h.client->StatusCode(), 404);
    EXPECT_EQ(h.client->ReasonPhrase(), "Not Found");

    try {
        h.client->Get();
        ADD_FAILURE() << "Get of a missing document must raise";
    } catch (const EHttpException& e) {
        EXPECT_EQ(e.ErrorCode(), 404);
        EXPECT_EQ(e.text(), "Not Found");
    }
}

TEST_F(HttpClientNginxTest, ServerRedirectsOnAHighPortAreFollowed) {
    writeDocument(m_root.filePath("doc.bin"), 70000);
    ASSERT_TRUE(m_server->start()) << qPrintable(m_server->errorText());
    for (const char* path : {"/moved", "/moved-by-host"}) {
        ClientHarness h;
        h.client->SetURL(m_server->url(path));
        h.client->Get();
        EXPECT_EQ(h.locationChanges, 1) << path;
        EXPECT_EQ(h.doneError, 0xFFFF) << path;  // Get returns before OnRequestDone
        EXPECT_EQ(h.client->StatusCode(), 200) << path;
        EXPECT_EQ(h.client->Location(), m_server->url("/doc.bin")) << path;
        EXPECT_EQ(QCryptographicHash::hash(h.received(), QCryptographicHash::Sha256), fileHash(m_root.filePath("doc.bin")))
            << path;
    }
}

}  // namespace
