// Which servers a TLS socket accepts and how it words a refusal: one table of every
// verdict, from a sound certificate to garbage in place of a ServerHello.
#include "net/async_socket.h"
#include "net/tls_error.h"
#include "support/event_wait.h"
#include "support/tls_certificates.h"
#include "support/tls_peer.h"
#include "tls_test_client.h"

#include <openssl/ssl.h>

#include <gtest/gtest.h>

namespace {

enum class Cert { Good, WrongName, Expired, SelfSigned };
enum class Trust { TestCa, SystemOnly, Insecure, FingerprintHere, FingerprintOtherPort };
enum class Server { Answers, OldProtocolOnly, Garbage, GarbageThenClose, ClosesAfterHello, Resets };

struct VerdictCase {
    const char* name;
    Cert cert;
    Trust trust;
    Server server;
    int error;              // of OnSessionConnected
    const char* reason;     // in TlsErrorText(), after the host
    const char* verifyNote; // TlsPeer().verifyError of an accepted certificate
    const char* serverName = "localhost";
};

TlsCertificates::Pair pairOf(Cert c) {
    const TlsCertificates& set = TlsCertificates::get();
    switch (c) {
    case Cert::WrongName: return set.wrongName();
    case Cert::Expired: return set.expired();
    case Cert::SelfSigned: return set.selfSigned();
    case Cert::Good: break;
    }
    return set.good();
}

TlsPeer::Script scriptOf(Server s) {
    switch (s) {
    case Server::Answers:
    case Server::OldProtocolOnly:
        return [](TlsPeerConnection& c) {
            if (c.handshake() && c.readExactly(4) == "ping") {
                c.send("pong");
                c.readToEnd();
            }
        };
    case Server::Garbage:
    case Server::GarbageThenClose:
        // A plain-text server on the TLS port answers the ClientHello with text.
        return [s](TlsPeerConnection& c) {
            c.rawReadSome();
            c.rawSend("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
            if (s == Server::Garbage)
                c.stall();
        };
    case Server::ClosesAfterHello: return [](TlsPeerConnection& c) { c.rawReadSome(); };
    case Server::Resets:
        return [](TlsPeerConnection& c) {
            c.rawReadSome();
            c.reset();
        };
    }
    return {};
}

class TlsVerdict : public ::testing::TestWithParam<VerdictCase> {};

TEST_P(TlsVerdict, AcceptsOrRefusesWithTheHostAndTheReason) {
    const VerdictCase& row = GetParam();
    const TlsCertificates::Pair pair = pairOf(row.cert);
    TlsPeer::Options options{pair.cert, pair.key};
    if (row.server == Server::OldProtocolOnly) {
        options.minVersion = TLS1_1_VERSION;
        options.maxVersion = TLS1_1_VERSION;
    }
    TlsPeer peer(options, {scriptOf(row.server)});
    ASSERT_TRUE(peer.serverUsable());

    TTlsOptions trust;
    if (row.trust != Trust::SystemOnly)
        trust.caFile = TlsCertificates::get().caFile();
    trust.insecure = row.trust == Trust::Insecure;
    std::shared_ptr<TTlsContext> context = TTlsContext::Create(trust);
    const QString fingerprint = TlsCertificates::fingerprintOf(pair.cert);
    if (row.trust == Trust::FingerprintHere) { // as a user would paste it: no colons, lower case
        ASSERT_TRUE(context->TrustFingerprint("localhost:" + peer.portText(), fingerprint.toLower().remove(':')));
    }
    if (row.trust == Trust::FingerprintOtherPort) {
        ASSERT_TRUE(context->TrustFingerprint("localhost:1", fingerprint));
    }

    TlsTestClient client;
    int connectedEvents = 0;
    client.socket.OnSessionConnected = [&](TAsyncSocket* s, quint16 e) {
        client.connectedError = e;
        ++connectedEvents;
        if (e == 0)
            s->SendStr(QByteArray("ping"));
    };
    client.connect(peer.portText(), context, row.serverName);
    ASSERT_TRUE(waitUntil([&] { return client.connectedError >= 0; }));
    EXPECT_EQ(client.connectedError, row.error);
    const TTlsPeerInfo& info = client.socket.TlsPeer();
    const bool certificateSeen = row.server == Server::Answers;
    if (certificateSeen) {
        // Also after a refusal: the window asks the user about this certificate.
        EXPECT_EQ(info.sha256, fingerprint);
        EXPECT_EQ(info.subject, TlsCertificates::subjectOf(pair.cert));
    }
    if (row.error == 0) {
        ASSERT_TRUE(waitUntil([&] { return client.received == "pong"; }));
        EXPECT_FALSE(info.protocol.isEmpty());
        EXPECT_EQ(info.verifyError, QString::fromLatin1(row.verifyNote));
        EXPECT_EQ(info.trustedByFingerprint, row.trust == Trust::FingerprintHere);
        EXPECT_TRUE(client.socket.TlsErrorText().isEmpty());
        client.socket.Close();
    } else {
        // Refused: the socket closed itself, once, as after a refused connect.
        ASSERT_TRUE(waitUntil([&] { return client.closedCount == 1; }));
        EXPECT_EQ(client.socket.State(), wsClosed);
        EXPECT_TRUE(info.protocol.isEmpty());
        const QString text = client.socket.TlsErrorText();
        EXPECT_TRUE(text.contains(row.serverName + (":" + peer.portText()))) << text.toStdString();
        EXPECT_TRUE(text.endsWith(QString::fromLatin1(row.reason))) << text.toStdString();
        EXPECT_NE(SocketErrorDesc(row.error), "Not a WinSock error");
    }
    runLoopFor(50);
    EXPECT_EQ(client.closedCount, 1);
    EXPECT_EQ(connectedEvents, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TlsVerdict,
    ::testing::Values(
        VerdictCase{"CaFileAccepted", Cert::Good, Trust::TestCa, Server::Answers, 0, "", ""},
        VerdictCase{"AddressInTheCertificate", Cert::Good, Trust::TestCa, Server::Answers, 0, "", "", "127.0.0.1"},
        VerdictCase{"AddressNotInTheCertificate", Cert::WrongName, Trust::TestCa, Server::Answers, TLS_ERR_CERTIFICATE,
                    "IP address mismatch", "", "127.0.0.1"},
        VerdictCase{"UnknownCa", Cert::Good, Trust::SystemOnly, Server::Answers, TLS_ERR_CERTIFICATE,
                    "unable to get local issuer certificate", ""},
        VerdictCase{"WrongName", Cert::WrongName, Trust::TestCa, Server::Answers, TLS_ERR_CERTIFICATE,
                    "hostname mismatch", ""},
        VerdictCase{"Expired", Cert::Expired, Trust::TestCa, Server::Answers, TLS_ERR_CERTIFICATE,
                    "certificate has expired", ""},
        VerdictCase{"SelfSigned", Cert::SelfSigned, Trust::TestCa, Server::Answers, TLS_ERR_CERTIFICATE,
                    "self-signed certificate", ""},
        VerdictCase{"SelfSignedTrustedFingerprint", Cert::SelfSigned, Trust::FingerprintHere, Server::Answers, 0, "",
                    "self-signed certificate"},
        VerdictCase{"WrongNameTrustedFingerprint", Cert::WrongName, Trust::FingerprintHere, Server::Answers, 0, "",
                    "hostname mismatch"},
        VerdictCase{"FingerprintTrustedForAnotherPort", Cert::WrongName, Trust::FingerprintOtherPort, Server::Answers,
                    TLS_ERR_CERTIFICATE, "hostname mismatch", ""},
        VerdictCase{"ExpiredInsecure", Cert::Expired, Trust::Insecure, Server::Answers, 0, "",
                    "certificate has expired"},
        VerdictCase{"ServerBelowTls12", Cert::Good, Trust::TestCa, Server::OldProtocolOnly, TLS_ERR_HANDSHAKE,
                    "tlsv1 alert protocol version", ""},
        VerdictCase{"GarbageInsteadOfServerHello", Cert::Good, Trust::TestCa, Server::Garbage, TLS_ERR_HANDSHAKE,
                    "wrong version number", ""},
        VerdictCase{"GarbageThenClose", Cert::Good, Trust::TestCa, Server::GarbageThenClose, TLS_ERR_HANDSHAKE,
                    "wrong version number", ""},
        VerdictCase{"CloseAfterClientHello", Cert::Good, Trust::TestCa, Server::ClosesAfterHello, TLS_ERR_HANDSHAKE,
                    "unexpected eof while reading", ""},
        VerdictCase{"ResetAfterClientHello", Cert::Good, Trust::TestCa, Server::Resets, WSAECONNRESET,
                    "Connection reset by peer", ""}),
    [](const ::testing::TestParamInfo<VerdictCase>& p) { return std::string(p.param.name); });

// ---- the trust settings themselves ----

TEST(TlsContext, FingerprintsAreNormalizedAndKeyedByHostAndPort) {
    const QString canonical = "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:"
                              "23:45:67:89";
    struct Row {
        QString text;
        bool wellFormed;
    };
    const Row rows[] = {
        {canonical, true},
        {QString(canonical).remove(':').toLower(), true},
        {" " + QString(canonical).replace(':', ' ') + " ", true},
        {QString(canonical).left(canonical.size() - 1), false}, // 63 digits
        {QString(canonical).replace("AB", "AG"), false},
        {"", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text.toStdString());
        EXPECT_EQ(TTlsContext::NormalizeFingerprint(row.text), row.wellFormed ? canonical : QString());
        const std::shared_ptr<TTlsContext> context = TTlsContext::Create();
        EXPECT_EQ(context->TrustFingerprint("Example.org:990", row.text), row.wellFormed);
        EXPECT_EQ(context->IsFingerprintTrusted("example.org:990", canonical), row.wellFormed);
        EXPECT_FALSE(context->IsFingerprintTrusted("example.org:21", canonical));
    }
}

TEST(TlsContext, UnreadableCaFileIsRefusedWithItsName) {
    TTlsOptions options;
    options.caFile = "/nonexistent/parcelwick-ca.pem";
    try {
        TTlsContext::Create(options);
        FAIL() << "no exception";
    } catch (const ESocketException& e) {
        EXPECT_TRUE(e.text().startsWith("Cannot read the CA file /nonexistent/parcelwick-ca.pem: "))
            << e.text().toStdString();
    }
}

} // namespace
