// THttpClient over TLS against scripted TLS servers: what the request says (the Host
// field, the server name sent), how a document may end (with or without a length, with
// or without close_notify, cut by a reset), and a handshake that fails or stalls.
#include "http_client_harness.h"
#include "net/async_socket.h"
#include "net/tls_configuration.h"
#include "net/tls_error.h"
#include "support/tls_certificates.h"
#include "support/tls_peer.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace {

const QByteArray kBody(400, 'b');

TlsPeer::Options goodServer() {
    const TlsCertificates::Pair pair = TlsCertificates::get().good();
    return {pair.cert, pair.key};
}

struct EndCase {
    const char* name;
    QByteArray header;   // the response header, sent with kBody behind it
    bool closeNotify;    // the server ends with close_notify, else with a bare close
    quint16 error;       // of OnRequestDone
    const char* reason;  // of a failure
};

class HttpsDocumentEnd : public ::testing::TestWithParam<EndCase> {
protected:
    void SetUp() override {
        TlsConfiguration::Shared().Reset();
        TlsConfiguration::Shared().SetOptions({TlsCertificates::get().caFile(), false});
    }
    void TearDown() override { TlsConfiguration::Shared().Reset(); }
};

// Only a length met, or close_notify after a document without one, makes a document
// whole: anyone on the way can close a TCP connection, only the server can say
// close_notify.
TEST_P(HttpsDocumentEnd, IsWholeOnlyWhenTheServerSaysSo) {
    const EndCase& c = GetParam();
    QByteArray request;
    QString sni;
    TlsPeer peer(goodServer(), {[&](TlsPeerConnection& s) {
                     if (!s.handshake())
                         return;
                     sni = s.serverName();
                     request = s.readUntil(kHeaderEnd);
                     s.send(c.header + kBody);
                     if (c.closeNotify)
                         s.closeNotify();
                 }});
    ClientHarness h;
    h.client->SetURL(QStringLiteral("https://localhost:%1/part.bin").arg(peer.port()));
    h.client->GetAsync();
    ASSERT_TRUE(h.waitDone());
    settle(50);
    EXPECT_EQ(h.doneCount, 1);
    EXPECT_EQ(h.doneError, c.error);
    EXPECT_EQ(h.client->StatusCode(), 200);
    if (c.error != 0) {
        EXPECT_EQ(h.client->ReasonPhrase(), QString::fromLatin1(c.reason));
    }
    // The bytes that came are kept either way; the error is what says they are not all.
    EXPECT_EQ(h.received(), kBody);
    EXPECT_EQ(sni, "localhost");
    EXPECT_TRUE(request.startsWith("GET /part.bin HTTP/1.0\r\n")) << request.constData();
    EXPECT_TRUE(request.contains(QStringLiteral("\r\nHost: localhost:%1\r\n").arg(peer.port()).toLatin1()))
        << request.constData();
}

INSTANTIATE_TEST_SUITE_P(
    Ways, HttpsDocumentEnd,
    ::testing::Values(
        EndCase{"LengthMetBareClose", "HTTP/1.0 200 OK\r\nContent-Length: 400\r\n\r\n", false, 0, ""},
        EndCase{"LengthMetCloseNotify", "HTTP/1.0 200 OK\r\nContent-Length: 400\r\n\r\n", true, 0, ""},
        EndCase{"ShortBareClose", "HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n", false, heShortBody,
                "connection closed after 400 of 1000 bytes"},
        EndCase{"ShortCloseNotify", "HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n", true, heShortBody,
                "connection closed after 400 of 1000 bytes"},
        EndCase{"NoLengthCloseNotify", "HTTP/1.0 200 OK\r\n\r\n", true, 0, ""},
        EndCase{"NoLengthBareClose", "HTTP/1.0 200 OK\r\n\r\n", false, heShortBody,
                "connection closed without TLS close_notify after 400 bytes"}),
    [](const ::testing::TestParamInfo<EndCase>& p) { return std::string(p.param.name); });

// On the scheme's own port the Host field names no port, as for http on port 80; the
// certificate is checked for the address the URL names.
TEST(HttpsDefaultPort, IsPort443AndLeftOutOfHost) {
    QByteArray request;
    std::unique_ptr<TlsPeer> peer = TlsPeer::onDefaultHttpsPort(goodServer(), {[&](TlsPeerConnection& s) {
                                                                     if (!s.handshake())
                                                                         return;
                                                                     request = s.readUntil(kHeaderEnd);
                                                                     s.send("HTTP/1.0 200 OK\r\n\r\nhello");
                                                                     s.closeNotify();
                                                                 }});
    // The test certificates name 127.0.0.1 and localhost, not this address: the user
    // trusted this one by its fingerprint.
    TlsConfiguration::Shared().Reset();
    TlsConfiguration::Shared().Trust(peer->host() + ":443",
                                     TlsCertificates::fingerprintOf(TlsCertificates::get().good().cert));
    ClientHarness h;
    h.client->SetURL("https://" + peer->host() + "/doc");
    h.client->GetAsync();
    ASSERT_TRUE(h.waitDone());
    EXPECT_EQ(h.doneError, 0) << h.client->ReasonPhrase().toStdString();
    EXPECT_EQ(h.received(), "hello");
    EXPECT_TRUE(request.contains("\r\nHost: " + peer->host().toLatin1() + "\r\n")) << request.constData();
    TlsConfiguration::Shared().Reset();
}

// A handshake that cannot be had ends the request with the server's name and OpenSSL's
// reason; one the server never answers waits without end, until Abort.
TEST(HttpsHandshake, AFailureEndsTheRequestAndAStallWaitsForAbort) {
    TlsConfiguration::Shared().Reset();
    const struct {
        const char* name;
        TlsPeer::Script script;
        bool abort;
        quint16 error;
        QString reasonStart;  // %1 the port
    } rows[] = {
        {"plain HTTP answers the ClientHello",
         [](TlsPeerConnection& s) {
             s.rawReadSome();
             s.rawSend("HTTP/1.0 400 Bad Request\r\n\r\n");
         },
         false, TLS_ERR_HANDSHAKE, "TLS handshake with localhost:%1 failed: "},
        {"the server closes at once", [](TlsPeerConnection& s) { s.rawReadSome(); }, false, TLS_ERR_HANDSHAKE,
         "TLS handshake with localhost:%1 failed: "},
        {"the server never answers",
         [](TlsPeerConnection& s) {
             s.rawReadSome();
             s.stall();
         },
         true, 3, "Connection aborted on request"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TlsPeer peer(goodServer(), {row.script});
        ClientHarness h;
        h.client->SetURL(QStringLiteral("https://localhost:%1/x").arg(peer.port()));
        h.client->GetAsync();
        if (row.abort) {
            settle(300);
            EXPECT_EQ(h.doneCount, 0) << "a stalled handshake has no time limit of its own";
            EXPECT_EQ(h.client->State(), hsDnsLookupDone);
            h.client->Abort();
        }
        ASSERT_TRUE(h.waitDone());
        settle(50);
        EXPECT_EQ(h.doneCount, 1);
        EXPECT_EQ(h.doneError, row.error);
        EXPECT_EQ(h.client->StatusCode(), 404);
        EXPECT_TRUE(h.client->ReasonPhrase().startsWith(row.reasonStart.arg(peer.port())))
            << h.client->ReasonPhrase().toStdString();
        EXPECT_EQ(h.received(), "");
        peer.release();
    }
}

}  // namespace
