// TFtpClient over TLS. Against vsftpd with TLS required for logins and data, session
// reuse required and uploads that must end with close_notify, in active and passive
// mode: uploads of every edge size stored byte for byte, a download back, the lines
// shown. The three TLS modes against that server and against one without TLS. A
// certificate refused until the user trusts it. And scripted servers for what vsftpd
// will not do: a handshake that stalls or fails, PROT P refused.
#include "common/user_prompt.h"
#include "ftp_client_harness.h"
#include "net/tls_configuration.h"
#include "net/tls_error.h"
#include "net/tls_trust_question.h"
#include "support/event_wait.h"
#include "support/scripted_prompt.h"
#include "support/test_bytes.h"
#include "support/tls_certificates.h"
#include "support/tls_peer.h"
#include "support/vsftpd_server.h"

#include <QTimer>

#include <gtest/gtest.h>

namespace {

const QString kPassword = "tls-s3cret";

void useTestCa() {
    TlsConfiguration::Shared().Reset();
    TlsConfiguration::Shared().SetOptions({TlsCertificates::get().caFile(), false});
}

class FtpsVsftpd : public ::testing::TestWithParam<bool> {
protected:
    static void SetUpTestSuite() {
        roots = new QTemporaryDir;
        tlsServer = new VsftpdServer;
        const TlsCertificates::Pair pair = TlsCertificates::get().good();
        tlsServer->enableTls(pair.cert, pair.key);
        tlsServer->addAccount("carol", kPassword, roots->filePath("carol"));
        plainServer = new VsftpdServer;
        plainServer->addAccount("carol", kPassword, roots->filePath("plain"));
        started = tlsServer->start() && plainServer->start();
    }
    static void TearDownTestSuite() {
        delete tlsServer;
        delete plainServer;
        delete roots;
    }
    void SetUp() override {
        ASSERT_TRUE(started) << tlsServer->errorText().toStdString() << plainServer->errorText().toStdString();
        useTestCa();
    }
    void TearDown() override { TlsConfiguration::Shared().Reset(); }

    // A client for the account on the server, by the name its certificate carries.
    static std::unique_ptr<FtpClientHarness> client(const VsftpdServer& server, TFtpTlsMode mode, bool passive) {
        auto h = std::make_unique<FtpClientHarness>(server.port(), "localhost");
        h->client.SetUserName("carol");
        h->client.SetPassWord(kPassword);
        h->client.SetPassive(passive);
        h->client.SetTlsMode(mode);
        h->client.SetTimeout(30);
        return h;
    }
    static QByteArray stored(const QString& dir, const QString& name) {
        return ReadFileBytes(roots->filePath(dir + '/' + name));
    }

    static inline QTemporaryDir* roots = nullptr;
    static inline VsftpdServer* tlsServer = nullptr;
    static inline VsftpdServer* plainServer = nullptr;
    static inline bool started = false;
};

TEST_P(FtpsVsftpd, UploadsEverySizeByteForByteOverTls) {
    const bool passive = GetParam();
    auto h = client(*tlsServer, ftpTlsRequired, passive);
    ASSERT_TRUE(h->client.Connect()) << h->client.ErrorMessage().toStdString();
    EXPECT_TRUE(h->client.SendTypeBinary());
    const qint64 sizes[] = {0, 1, 10 << 20};
    for (qint64 size : sizes) {
        const QString name = QStringLiteral("%1-%2.bin").arg(passive ? "passive" : "active").arg(size);
        const QString path = h->makeFile(name, size);
        h->client.SetLocalFileName(path);
        h->client.SetHostFileName(name);
        EXPECT_TRUE(h->client.Put()) << size << ": " << h->client.ErrorMessage().toStdString();
        EXPECT_EQ(h->client.StatusCode(), 226) << size;
        EXPECT_EQ(h->client.TransferCount(), size);
        EXPECT_TRUE(stored("carol", name) == h->fileBytes(path)) << name.toStdString();
    }
    // And the largest back again, over a data connection of its own.
    const QString back = h->dir.filePath("back.bin");
    h->client.SetLocalFileName(back);
    EXPECT_TRUE(h->client.Get()) << h->client.ErrorMessage().toStdString();
    EXPECT_TRUE(h->fileBytes(back) == stored("carol", QStringLiteral("%1-%2.bin").arg(passive ? "passive" : "active").arg(10 << 20)));
    EXPECT_TRUE(h->client.Quit());
    EXPECT_EQ(h->done, (QList<QPair<int, int>>{{rqConnect, 0}, {rqType, 0}, {rqPut, 0}, {rqPut, 0}, {rqPut, 0},
                                               {rqGet, 0}, {rqQuit, 0}}));

    // The login goes over TLS, then PBSZ and PROT; every data connection resumes the
    // control connection's session; the password shows nowhere.
    const QStringList head = h->display.mid(0, 14);
    EXPECT_EQ(head, QStringList({"< 220 (vsFTPd 3.0.3)", "> AUTH TLS", "< 234 Proceed with negotiation.",
                                 "! TLS TLSv1.3, TLS_AES_256_GCM_SHA384", "> USER carol",
                                 "< 331 Please specify the password.", "> PASS ****", "< 230 Login successful.",
                                 "> PBSZ 0", "< 200 PBSZ set to 0.", "> PROT P", "< 200 PROT now Private.",
                                 "> TYPE I", "< 200 Switching to Binary mode."}))
        << h->display.join('\n').toStdString();
    EXPECT_EQ(h->display.filter("! TLS data connection: TLSv1.3, TLS_AES_256_GCM_SHA384, session resumed").size(), 4);
    EXPECT_EQ(h->display.filter(kPassword).size(), 0);
    EXPECT_EQ(h->display.filter(passive ? "> EPSV" : "> PORT ").size(), 4);
}

INSTANTIATE_TEST_SUITE_P(Modes, FtpsVsftpd, ::testing::Values(false, true),
                         [](const auto& row) { return row.param ? "Passive" : "Active"; });

// Each TLS mode against a server that requires TLS and one that has none.
TEST_F(FtpsVsftpd, EachModeMeetsEachServerAsItShould) {
    const struct {
        const char* name;
        bool tlsServer;
        TFtpTlsMode mode;
        bool passive;
        bool stores;            // the login and the upload succeed
        const char* error;      // the login's ErrorMessage when it fails
        QStringList shown;      // lines that must be shown
        QStringList notShown;   // lines that must not begin any shown line
    } rows[] = {
        {"required, no TLS at the server", false, ftpTlsRequired, false, false,
         "530 Please login with USER and PASS.", {"> AUTH TLS", "! AUTH TLS refused, and TLS is required"},
         {"> USER", "> PASS"}},
        {"when offered, no TLS at the server", false, ftpTlsWhenOffered, true, true, "",
         {"> AUTH TLS", "! AUTH TLS refused: the session goes on in plain text", "> PASS ****"},
         {"> PBSZ", "! TLS"}},
        {"off, no TLS at the server", false, ftpTlsOff, false, true, "", {"> PASS ****"}, {"> AUTH", "! TLS"}},
        {"when offered, TLS at the server", true, ftpTlsWhenOffered, false, true, "",
         {"< 234 Proceed with negotiation.", "> PROT P"}, {"! AUTH"}},
        {"off, TLS required by the server", true, ftpTlsOff, true, false,
         "530 Non-anonymous sessions must use encryption.", {"> USER carol"}, {"> AUTH", "> PASS"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto h = client(row.tlsServer ? *tlsServer : *plainServer, row.mode, row.passive);
        EXPECT_EQ(h->client.Connect(), row.stores) << h->client.ErrorMessage().toStdString();
        EXPECT_EQ(h->client.ErrorMessage(), row.error);
        // A refusal leaves the connection open, as a refused password does.
        EXPECT_TRUE(h->client.Connected());
        if (row.stores) {
            const QString name = QString(row.name).replace(' ', '-').replace(',', "") + ".bin";
            const QString path = h->makeFile(name, 70000);
            h->client.SetLocalFileName(path);
            h->client.SetHostFileName(name);
            EXPECT_TRUE(h->client.Put()) << h->client.ErrorMessage().toStdString();
            EXPECT_TRUE(stored(row.tlsServer ? "carol" : "plain", name) == h->fileBytes(path));
        }
        // (vsftpd ends the session after refusing a login in plain text.)
        h->client.Quit();
        for (const QString& line : row.shown)
            EXPECT_TRUE(h->display.contains(line)) << line.toStdString() << "\n" << h->display.join('\n').toStdString();
        for (const QString& start : row.notShown)
            for (const QString& line : h->display)
                EXPECT_FALSE(line.startsWith(start)) << line.toStdString();
        EXPECT_EQ(h->display.filter(kPassword).size(), 0);
    }
}

// The road the upload run takes with a server whose certificate nobody vouches for:
// refused, noted for the question, and once the user trusts it the session and its
// data connections go through.
TEST_F(FtpsVsftpd, AnUntrustedCertificateIsRefusedUntilTheUserTrustsIt) {
    TlsConfiguration::Shared().Reset();  // without the test CA
    auto h = client(*tlsServer, ftpTlsRequired, true);
    EXPECT_FALSE(h->client.Connect());
    const QString hostPort = QStringLiteral("localhost:%1").arg(tlsServer->port());
    const QString reason = "Certificate of " + hostPort + " not trusted: unable to get local issuer certificate";
    EXPECT_EQ(h->client.ErrorMessage(), "500 " + reason + " (Error #12202)");
    EXPECT_EQ(h->client.StatusCode(), 500);
    EXPECT_FALSE(h->client.Connected());
    EXPECT_EQ(h->done, (QList<QPair<int, int>>{{rqConnect, TLS_ERR_CERTIFICATE}}));
    EXPECT_TRUE(h->display.contains("! " + reason + " (Error #12202)")) << h->display.join('\n').toStdString();
    EXPECT_EQ(h->display.filter("> USER").size(), 0);

    const std::optional<TlsRefusal> refusal = TlsConfiguration::Shared().TakeRefusal(hostPort);
    ASSERT_TRUE(refusal.has_value());
    ScriptedPrompt prompt;
    prompt.answerCertificate(CertificateAnswer::Once);
    EXPECT_TRUE(AskToTrustCertificate(prompt, *refusal));
    ASSERT_EQ(prompt.certificateQuestions().size(), 1);
    EXPECT_EQ(prompt.certificateQuestions()[0].sha256,
              TlsCertificates::fingerprintOf(TlsCertificates::get().good().cert));

    h->display.clear();
    ASSERT_TRUE(h->client.Connect()) << h->client.ErrorMessage().toStdString();
    h->client.SetLocalFileName(h->makeFile("trusted.bin", 5000));
    h->client.SetHostFileName("trusted.bin");
    EXPECT_TRUE(h->client.Put()) << h->client.ErrorMessage().toStdString();
    EXPECT_TRUE(stored("carol", "trusted.bin") == h->fileBytes(h->dir.filePath("trusted.bin")));
    EXPECT_TRUE(h->client.Quit());
    EXPECT_TRUE(h->display.contains("! TLS TLSv1.3, TLS_AES_256_GCM_SHA384, certificate trusted by its fingerprint"))
        << h->display.join('\n').toStdString();
}

// ---- scripted servers ----

TlsPeer::Options goodServer() {
    const TlsCertificates::Pair pair = TlsCertificates::get().good();
    return {pair.cert, pair.key};
}

// The greeting and AUTH TLS in plain text, as every explicit FTPS server begins.
void greetAndAuth(TlsPeerConnection& s) {
    s.rawSend("220 scripted\r\n");
    s.rawReadLine();
    s.rawSend("234 go ahead\r\n");
}

// One command read and one reply sent inside the TLS session.
void answer(TlsPeerConnection& s, const QByteArray& reply) {
    s.readUntil("\r\n");
    s.send(reply);
}

TEST(FtpsScripted, HandshakeAndProtectionFaultsEndTheLoginAsTheyShould) {
    const TlsPeer::Script stallInHandshake = [](TlsPeerConnection& s) {
        greetAndAuth(s);
        s.rawReadSome();
        s.stall();
    };
    const TlsPeer::Script refuseProt = [](TlsPeerConnection& s) {
        greetAndAuth(s);
        if (!s.handshake())
            return;
        for (const QByteArray reply : {"331 pw\r\n", "230 in\r\n", "200 PBSZ=0\r\n", "536 not today\r\n"})
            answer(s, reply);
        s.readToEnd();
    };
    const struct {
        const char* name;
        TFtpTlsMode mode;
        TlsPeer::Script script;
        bool abortAfter200ms;
        bool connects;
        int status;            // the last reply's code
        QString errorMessage;  // "*" at the end: only its beginning; %1 the port
        QString shown;         // a line that must be shown
    } rows[] = {
        {"the handshake stalls: the time limit ends it", ftpTlsRequired, stallInHandshake, false, false, 426,
         "426 Timeout", "> AUTH TLS"},
        {"the handshake stalls: Abort ends it", ftpTlsRequired, stallInHandshake, true, false, 234,
         "426 Operation aborted.", "< 234 go ahead"},
        {"the handshake fails", ftpTlsWhenOffered,
         [](TlsPeerConnection& s) {
             greetAndAuth(s);
             s.rawReadSome();
             s.rawSend("500 what is this?\r\n");
         },
         false, false, 500, "500 TLS handshake with localhost:%1 failed: *", "! TLS handshake with localhost:%1 failed: *"},
        {"PROT P refused, TLS when offered: data in plain text", ftpTlsWhenOffered, refuseProt, false, true, 536, "",
         "! PROT P refused: the data connections go in plain text"},
        {"PROT P refused, TLS required", ftpTlsRequired, refuseProt, false, false, 536, "536 not today",
         "! PROT P refused, and TLS is required"},
    };
    useTestCa();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TlsPeer peer(goodServer(), {row.script});
        FtpClientHarness h(peer.port(), "localhost");
        h.client.SetTlsMode(row.mode);
        h.client.SetTimeout(row.abortAfter200ms ? 30 : 1);
        if (row.abortAfter200ms)
            QTimer::singleShot(200, &h.client, [&h] { h.client.Abort(); });
        EXPECT_EQ(h.client.Connect(), row.connects);
        runLoopFor(50);
        EXPECT_EQ(h.client.StatusCode(), row.status);
        const QString expected = row.errorMessage.arg(peer.port());
        if (expected.endsWith('*')) {
            EXPECT_TRUE(h.client.ErrorMessage().startsWith(expected.chopped(1))) << h.client.ErrorMessage().toStdString();
        } else {
            EXPECT_EQ(h.client.ErrorMessage(), expected);
        }
        const QString shown = row.shown.arg(peer.port());
        const bool found = std::any_of(h.display.begin(), h.display.end(), [&](const QString& line) {
            return shown.endsWith('*') ? line.startsWith(shown.chopped(1)) : line == shown;
        });
        EXPECT_TRUE(found) << shown.toStdString() << "\n" << h.display.join('\n').toStdString();
        EXPECT_EQ(h.client.State(), fcReady);
        h.client.Abort();
        peer.release();
    }
    TlsConfiguration::Shared().Reset();
}

}  // namespace
