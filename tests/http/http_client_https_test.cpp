// THttpClient over TLS. Against nginx serving HTTPS: byte identity from an empty
// document to 100 MiB, a relocation from http to https, certificates refused with their
// reasons and accepted once trusted.
#include "http_client_harness.h"
#include "net/async_socket.h"
#include "net/tls_configuration.h"
#include "net/tls_error.h"
#include "support/nginx_server.h"
#include "support/test_bytes.h"
#include "support/tls_certificates.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

namespace {

void useTestCa() {
    TlsConfiguration::Shared().Reset();
    TlsConfiguration::Shared().SetOptions({TlsCertificates::get().caFile(), false});
}

class HttpsNginxTest : public ::testing::Test {
protected:
    enum Server { Good, WrongName, Expired, SelfSigned };

    static void SetUpTestSuite() {
        root = new QTemporaryDir;
        big = new QByteArray(SeededBytes(100 << 20, 12));
        WriteFileBytes(root->filePath("empty.bin"), QByteArray());
        WriteFileBytes(root->filePath("one.bin"), "x");
        WriteFileBytes(root->filePath("big.bin"), *big);
        server = new NginxServer(root->path(), {{"/to-https", "{https}/one.bin", 301}});
        const TlsCertificates& certs = TlsCertificates::get();
        for (const TlsCertificates::Pair& pair : {certs.good(), certs.wrongName(), certs.expired(), certs.selfSigned()})
            server->addTlsServer(pair.cert, pair.key);
        started = server->start();
    }
    static void TearDownTestSuite() {
        delete server;
        delete root;
        delete big;
    }
    void SetUp() override {
        ASSERT_TRUE(started) << server->errorText().toStdString();
        useTestCa();
    }
    void TearDown() override { TlsConfiguration::Shared().Reset(); }

    static inline QTemporaryDir* root = nullptr;
    static inline QByteArray* big = nullptr;
    static inline NginxServer* server = nullptr;
    static inline bool started = false;
};

TEST_F(HttpsNginxTest, DocumentsArriveByteIdentical) {
    const struct {
        const char* path;
        QByteArray content;
    } rows[] = {{"/empty.bin", QByteArray()}, {"/one.bin", "x"}, {"/big.bin", *big}};
    for (const auto& row : rows) {
        ClientHarness h;
        h.client->SetURL(server->tlsUrl(row.path));
        h.client->GetAsync();
        ASSERT_TRUE(h.waitDone(1, 120000)) << row.path;
        EXPECT_EQ(h.doneError, 0) << row.path << " " << h.client->ReasonPhrase().toStdString();
        EXPECT_EQ(h.client->StatusCode(), 200) << row.path;
        EXPECT_EQ(h.client->ContentLength(), row.content.size()) << row.path;
        EXPECT_TRUE(h.received() == row.content) << row.path << ": " << h.received().size() << " bytes";
        const TTlsPeerInfo& peer = h.client->CtrlSocket()->TlsPeer();
        EXPECT_EQ(peer.protocol, "TLSv1.3") << row.path;
        EXPECT_EQ(peer.sha256, TlsCertificates::fingerprintOf(TlsCertificates::get().good().cert)) << row.path;
        EXPECT_TRUE(peer.verifyError.isEmpty()) << row.path;
        EXPECT_TRUE(h.events.contains("SessionConnected")) << row.path;
    }
}

TEST_F(HttpsNginxTest, ARelocationFromHttpToHttpsIsFollowed) {
    ClientHarness h;
    h.client->SetURL(server->url("/to-https"));
    h.client->Get();
    EXPECT_EQ(h.locationChanges, 1);
    EXPECT_EQ(h.client->StatusCode(), 200);
    EXPECT_EQ(h.client->Location(), server->tlsUrl("/one.bin"));
    EXPECT_EQ(h.received(), "x");
    EXPECT_TRUE(h.client->CtrlSocket()->TlsPeer().verifyError.isEmpty());
}

// Every way verification refuses a server: the request ends before anything is sent,
// with the server's name and OpenSSL's reason, and the certificate waits in the shared
// configuration for the user's decision. Once trusted by its fingerprint (or with
// verification off) the same request gets the document.
TEST_F(HttpsNginxTest, UntrustedCertificatesAreRefusedWithTheirReason) {
    const TlsCertificates& certs = TlsCertificates::get();
    const struct {
        const char* name;
        Server server;
        QString cert;
        bool testCa;  // the test CA is trusted
        const char* reason;
    } rows[] = {
        {"wrong name", WrongName, certs.wrongName().cert, true, "hostname mismatch"},
        {"expired", Expired, certs.expired().cert, true, "certificate has expired"},
        {"self-signed", SelfSigned, certs.selfSigned().cert, true, "self-signed certificate"},
        {"unknown CA", Good, certs.good().cert, false, "unable to get local issuer certificate"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TlsConfiguration& tls = TlsConfiguration::Shared();
        tls.Reset();
        if (row.testCa)
            tls.SetOptions({certs.caFile(), false});
        const QString hostPort = QStringLiteral("localhost:%1").arg(server->tlsPort(row.server));
        const QString url = server->tlsUrl("/one.bin", row.server);
        {
            ClientHarness h;
            h.client->SetURL(url);
            h.client->GetAsync();
            ASSERT_TRUE(h.waitDone());
            EXPECT_EQ(h.doneError, TLS_ERR_CERTIFICATE);
            EXPECT_EQ(h.client->StatusCode(), 404);
            EXPECT_EQ(h.client->ReasonPhrase(),
                      QStringLiteral("Certificate of %1 not trusted: %2 (Error #12202)").arg(hostPort, row.reason));
            EXPECT_EQ(h.received(), "");
            EXPECT_FALSE(h.events.contains("SessionConnected"));
        }
        std::optional<TlsRefusal> refusal = tls.TakeRefusal(hostPort);
        ASSERT_TRUE(refusal.has_value());
        EXPECT_EQ(refusal->peer.sha256, TlsCertificates::fingerprintOf(row.cert));
        EXPECT_EQ(refusal->peer.subject, TlsCertificates::subjectOf(row.cert));
        EXPECT_EQ(refusal->peer.verifyError, row.reason);

        // Trusted for another server, it stays refused here; trusted here, it passes.
        for (const QString& trustedAt : {QStringLiteral("localhost:1"), hostPort}) {
            tls.Trust(trustedAt, refusal->peer.sha256);
            ClientHarness h;
            h.client->SetURL(url);
            h.client->GetAsync();
            ASSERT_TRUE(h.waitDone());
            EXPECT_EQ(h.doneError, trustedAt == hostPort ? 0 : TLS_ERR_CERTIFICATE) << trustedAt.toStdString();
            EXPECT_EQ(h.received(), trustedAt == hostPort ? "x" : "") << trustedAt.toStdString();
            EXPECT_EQ(h.client->CtrlSocket()->TlsPeer().trustedByFingerprint, trustedAt == hostPort);
        }

        // With verification off anything passes, and says what it did not check.
        tls.Reset();
        tls.SetOptions({QString(), true});
        ClientHarness h;
        h.client->SetURL(url);
        h.client->Get();
        EXPECT_EQ(h.received(), "x");
        EXPECT_FALSE(h.client->CtrlSocket()->TlsPeer().verifyError.isEmpty());
    }
}

}  // namespace
