// TLS connections of TAsyncSocket against a blocking OpenSSL server on threads: large
// data both ways, the ends of a session, a stalled handshake, TLS started on an open
// connection, and sessions resumed by a second connection.
#include "net/async_socket.h"
#include "support/event_wait.h"
#include "support/tls_certificates.h"
#include "support/tls_peer.h"
#include "tls_test_client.h"
#include "support/test_bytes.h"

#include <QRandomGenerator>
#include <QTimer>

#include <openssl/ssl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>

namespace {

TlsPeer::Options goodServer() {
    const TlsCertificates::Pair pair = TlsCertificates::get().good();
    return {pair.cert, pair.key};
}

qint64 threadCpuMicroseconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

} // namespace

// ---- one session from handshake to close_notify ----

TEST(TlsSocket, EchoOfSeveralMebibytesBothWaysKeepsEveryContract) {
    const QByteArray data = SeededBytes(6 * 1024 * 1024 + 333, 777);
    std::atomic<qint64> echoed{-1};
    std::atomic<bool> peerSawCloseNotify{false};
    QString sni; // read once the script has finished
    TlsPeer peer(goodServer(), {[&](TlsPeerConnection& c) {
                     if (!c.handshake())
                         return;
                     sni = c.serverName();
                     echoed = c.echo();
                     peerSawCloseNotify = c.closeNotifyReceived();
                 }});
    TlsTestClient client;
    int sentInsideSend = 0;
    bool inSend = false;
    client.socket.OnDataSent = [&](TAsyncSocket*, quint16 e) {
        ++client.dataSentCount;
        client.events.push_back("datasent " + std::to_string(e));
        sentInsideSend += inSend;
    };
    // Fair reads: a probe posted from the data handler reaches the loop after what is
    // left of this read event and at most two others (one of the read notifier, one
    // posted to go on with buffered bytes), however much the kernel and OpenSSL hold.
    qint64 sinceProbe = 0, mostBeforeProbe = 0;
    bool probePending = false;
    QObject probeTarget;
    client.socket.OnDataAvailable = [&](TAsyncSocket* s, quint16) {
        char buf[256 * 1024];
        const qint64 n = s->Receive(buf, sizeof buf);
        if (n <= 0)
            return;
        client.received.append(buf, n);
        sinceProbe += n;
        mostBeforeProbe = std::max(mostBeforeProbe, sinceProbe);
        if (!probePending) {
            probePending = true;
            sinceProbe = 0;
            QMetaObject::invokeMethod(&probeTarget, [&] { probePending = false; }, Qt::QueuedConnection);
        }
    };
    client.connect(peer.portText(), testCaContext());
    EXPECT_EQ(client.socket.State(), wsConnecting);
    EXPECT_TRUE(client.socket.TlsActive() == false); // the handshake starts after the TCP connect
    ASSERT_TRUE(waitUntil([&] { return client.dataSentCount == 1; }));
    const std::vector<std::string> opening = {"state 7->1", "state 1->3", "state 3->4", "connected 0", "datasent 0"};
    EXPECT_EQ(client.events, opening);
    EXPECT_TRUE(client.socket.TlsEstablished());
    EXPECT_FALSE(client.socket.isWriteWatched());

    const TTlsPeerInfo& info = client.socket.TlsPeer();
    const TlsCertificates::Pair pair = TlsCertificates::get().good();
    EXPECT_EQ(info.subject, TlsCertificates::subjectOf(pair.cert));
    EXPECT_TRUE(info.issuer.contains("CN=Parcelwick Test CA")) << info.issuer.toStdString();
    EXPECT_EQ(info.sha256, TlsCertificates::fingerprintOf(pair.cert));
    EXPECT_EQ(info.notBefore.daysTo(info.notAfter), 30);
    EXPECT_EQ(info.protocol, "TLSv1.3");
    EXPECT_FALSE(info.cipher.isEmpty());
    EXPECT_TRUE(info.verifyError.isEmpty());

    inSend = true;
    EXPECT_EQ(client.socket.Send(data), data.size());
    inSend = false;
    ASSERT_TRUE(waitUntil([&] { return client.received.size() >= data.size(); }, 60000));
    ASSERT_TRUE(waitUntil([&] { return client.dataSentCount == 2; }));
    EXPECT_EQ(sentInsideSend, 0);
    EXPECT_EQ(client.sendDataTotal, data.size()); // plaintext counted
    EXPECT_TRUE(client.socket.AllSent());
    EXPECT_FALSE(client.socket.isWriteWatched()); // nothing left: no spinning
    EXPECT_TRUE(client.received == data);
    EXPECT_EQ(client.socket.ReadCount(), data.size());
    EXPECT_LE(mostBeforeProbe, 3 * (1024 * 1024 + qint64(256 * 1024))) << mostBeforeProbe;

    client.socket.Close();
    EXPECT_EQ(client.closedCount, 1); // inside Close, as for a plain socket
    EXPECT_EQ(client.closedError, 0);
    ASSERT_TRUE(waitUntil([&] { return peer.finished() == 1; }));
    EXPECT_EQ(echoed, data.size());
    EXPECT_TRUE(peerSawCloseNotify);
    EXPECT_EQ(sni, "localhost");
    // What the window shows about the last connection stays readable after it.
    EXPECT_EQ(client.socket.TlsPeer().sha256, info.sha256);
}

// ---- how a session ends ----

struct EndCase {
    const char* name;
    bool closeNotify;   // the server says close_notify
    bool holdOpen;      // and then waits for ours instead of closing
    bool junkAfter;     // and sends bytes after it, which nobody may read
    bool reset;         // or breaks the connection off
    int closedError;    // of OnSessionClosed
    bool allBytes;      // every byte sent before the end is delivered
};

class TlsSocketEnd : public ::testing::TestWithParam<EndCase> {};

TEST_P(TlsSocketEnd, IsReportedOnceAfterTheLastByteWithCloseNotifyReadable) {
    const EndCase& row = GetParam();
    const QByteArray data = SeededBytes(300 * 1000, 777);
    std::atomic<bool> peerSawCloseNotify{false};
    TlsPeer peer(goodServer(), {[&](TlsPeerConnection& c) {
                     if (!c.handshake())
                         return;
                     c.send(data);
                     if (row.reset)
                         return c.reset();
                     if (row.closeNotify)
                         c.closeNotify();
                     if (row.junkAfter)
                         c.rawSend(QByteArray(100, 'x'));
                     if (row.holdOpen) {
                         c.readToEnd();
                         peerSawCloseNotify = c.closeNotifyReceived();
                     }
                 }});
    TlsTestClient client;
    qint64 bytesAtClose = -1;
    client.socket.OnSessionClosed = [&](TAsyncSocket*, quint16 e) {
        ++client.closedCount;
        client.closedError = e;
        bytesAtClose = client.received.size();
    };
    client.connect(peer.portText(), testCaContext());
    ASSERT_TRUE(waitUntil([&] { return client.closedCount > 0; }));
    EXPECT_EQ(client.closedError, row.closedError);
    if (row.allBytes) {
        EXPECT_EQ(bytesAtClose, data.size());
        EXPECT_TRUE(client.received == data);
    }
    EXPECT_EQ(client.socket.TlsCloseNotifyReceived(), row.closeNotify);
    ASSERT_TRUE(waitUntil([&] { return client.socket.State() == wsClosed; }));
    ASSERT_TRUE(waitUntil([&] { return peer.finished() == 1; }));
    // Our side of the close goes out even when the peer ended first.
    EXPECT_EQ(peerSawCloseNotify.load(), row.holdOpen);
    runLoopFor(50);
    EXPECT_EQ(client.closedCount, 1);
}

INSTANTIATE_TEST_SUITE_P(Ways, TlsSocketEnd,
                         ::testing::Values(EndCase{"CloseNotifyThenClose", true, false, false, false, 0, true},
                                           EndCase{"CloseWithoutCloseNotify", false, false, false, false, 0, true},
                                           EndCase{"CloseNotifyHeldOpen", true, true, false, false, 0, true},
                                           EndCase{"BytesAfterCloseNotify", true, true, true, false, 0, true},
                                           EndCase{"Reset", false, false, false, true, WSAECONNRESET, false}),
                         [](const ::testing::TestParamInfo<EndCase>& p) { return std::string(p.param.name); });

// ---- the end of our sending while the peer still has something to say ----

// Shutdown(1) says close_notify (a server that needs it to accept an upload as whole
// sees it) and leaves the reading open: what the peer sends after it still arrives,
// and its close ends the connection as usual.
TEST(TlsSocket, ShutdownOfSendingSaysCloseNotifyAndKeepsReading) {
    std::atomic<bool> peerSawCloseNotify{false};
    std::atomic<qint64> peerGot{-1};
    TlsPeer peer(goodServer(), {[&](TlsPeerConnection& c) {
                     if (!c.handshake())
                         return;
                     peerGot = c.readToEnd().size();
                     peerSawCloseNotify = c.closeNotifyReceived();
                     c.send("226 after your close_notify");
                     c.closeNotify();
                 }});
    TlsTestClient client;
    client.connect(peer.portText(), testCaContext());
    ASSERT_TRUE(waitUntil([&] { return client.connectedError == 0; }));
    client.socket.Send(QByteArray(100000, 'u'));
    ASSERT_TRUE(waitUntil([&] { return client.socket.AllSent() && client.dataSentCount >= 2; }));
    client.socket.Shutdown(1);
    EXPECT_EQ(client.closedCount, 0);
    ASSERT_TRUE(waitUntil([&] { return client.closedCount == 1; }));
    EXPECT_EQ(client.closedError, 0);
    EXPECT_EQ(client.received, "226 after your close_notify");
    EXPECT_TRUE(client.socket.TlsCloseNotifyReceived());
    ASSERT_TRUE(waitUntil([&] { return peer.finished() == 1; }));
    EXPECT_EQ(peerGot, 100000);
    EXPECT_TRUE(peerSawCloseNotify);
}

// ---- a server that stalls in the handshake ----

class TlsSocketStall : public ::testing::TestWithParam<bool> {};

TEST_P(TlsSocketStall, WaitsIdleUntilCloseOrAbortEndsIt) {
    const bool abort = GetParam();
    TlsPeer peer(goodServer(), {[](TlsPeerConnection& c) {
                     c.rawReadSome(); // the ClientHello, never answered
                     c.stall();
                 }});
    TlsTestClient client;
    client.connect(peer.portText(), testCaContext());
    ASSERT_TRUE(waitUntil([&] { return client.socket.TlsActive(); }));
    runLoopFor(100);
    const qint64 cpuBefore = threadCpuMicroseconds();
    runLoopFor(500);
    const qint64 cpuUsed = threadCpuMicroseconds() - cpuBefore;
    EXPECT_LT(cpuUsed, 50000) << "the wait for the server's answer must not spin";
    EXPECT_EQ(client.socket.State(), wsConnecting);
    EXPECT_EQ(client.connectedError, -1);
    EXPECT_FALSE(client.socket.isWriteWatched());
    EXPECT_TRUE(client.socket.isReadWatched());
    abort ? client.socket.Abort() : client.socket.Close();
    EXPECT_EQ(client.socket.State(), wsClosed);
    EXPECT_EQ(client.closedCount, 1);
    EXPECT_EQ(client.closedError, 0);
    EXPECT_FALSE(client.socket.TlsActive());
    runLoopFor(50);
    EXPECT_EQ(client.connectedError, -1);
    EXPECT_EQ(client.closedCount, 1);
    peer.release();
}

INSTANTIATE_TEST_SUITE_P(CloseOrAbort, TlsSocketStall, ::testing::Values(false, true));

// ---- TLS started on an open connection ----

TEST(TlsSocket, StartTlsAfterAPlainExchangeCarriesTheRestEncrypted) {
    std::atomic<bool> peerSawCloseNotify{false};
    QByteArray peerGot;
    TlsPeer peer(goodServer(), {[&](TlsPeerConnection& c) {
                     peerGot = c.rawReadLine();
                     c.rawSend("234 Proceed with negotiation.\r\n");
                     if (!c.handshake())
                         return;
                     peerGot += c.readExactly(8);
                     c.send("200 PBSZ=0\r\n");
                     c.readToEnd();
                     peerSawCloseNotify = c.closeNotifyReceived();
                 }});
    TlsTestClient client;
    bool startedInside = false;
    client.socket.OnSessionConnected = [](TAsyncSocket* s, quint16) { s->SendStr(QByteArray("AUTH TLS\r\n")); };
    client.socket.OnDataAvailable = [&](TAsyncSocket* s, quint16) {
        char buf[256];
        const qint64 n = s->Receive(buf, sizeof buf);
        if (n <= 0)
            return;
        client.received.append(buf, n);
        if (client.received.startsWith("234 ") && client.received.endsWith("\r\n") && !s->TlsActive()) {
            client.received.clear();
            s->SetTlsServer("localhost");
            s->StartTls();
            startedInside = client.handshakeError >= 0;
            // Queued until the session is up, then sent encrypted.
            s->SendStr(QByteArray("PBSZ 0\r\n"));
        }
    };
    client.socket.SetTlsContext(testCaContext());
    client.connectPlain(peer.portText());
    ASSERT_TRUE(waitUntil([&] { return client.received == "200 PBSZ=0\r\n"; }));
    EXPECT_FALSE(startedInside);
    EXPECT_EQ(client.handshakeError, 0);
    EXPECT_EQ(peerGot, "AUTH TLS\r\nPBSZ 0\r\n");
    EXPECT_EQ(client.socket.TlsPeer().protocol, "TLSv1.3");
    EXPECT_EQ(client.connectedError, -1); // the recorder's handler was replaced; no second connect
    // The handshake's end is followed by the writable event, as a new connection is.
    const auto tlsAt = std::find(client.events.begin(), client.events.end(), "tls 0");
    ASSERT_NE(tlsAt, client.events.end());
    EXPECT_NE(std::find(tlsAt, client.events.end(), "datasent 0"), client.events.end());
    client.socket.Close();
    ASSERT_TRUE(waitUntil([&] { return peer.finished() == 1; }));
    EXPECT_TRUE(peerSawCloseNotify);
}

TEST(TlsSocket, MisuseOfTheTlsCallsIsRefusedWithItsText) {
    TlsPeer peer(goodServer(), {[](TlsPeerConnection& c) { c.stall(); }});
    struct Row {
        const char* text;
        std::function<void(TAsyncSocket&)> call;
    };
    const Row rows[] = {
        {"Error 10057 in function StartTls\r\nSocket is not connected", [](TAsyncSocket& s) { s.StartTls(); }},
        {"Cannot change Tls if not closed",
         [&](TAsyncSocket& s) {
             s.SetAddr("127.0.0.1");
             s.SetPort(peer.portText());
             s.Connect();
             s.SetTls(true);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        TAsyncSocket s;
        try {
            row.call(s);
            ADD_FAILURE() << "no exception";
        } catch (const ESocketException& e) {
            EXPECT_EQ(e.text(), row.text);
        }
        EXPECT_FALSE(s.Tls());
        s.Abort();
    }
    peer.release();
}

// ---- the session of one connection resumed by the next ----

struct ReuseCase {
    const char* name;
    int maxVersion;
    bool active;    // the data connection is one we accept (else one we connect)
    bool takeSession;
};

class TlsSocketReuse : public ::testing::TestWithParam<ReuseCase> {};

TEST_P(TlsSocketReuse, DataConnectionResumesTheControlSession) {
    const ReuseCase& row = GetParam();
    std::atomic<int> serverSawReuse{-1};
    TlsPeer::Options options = goodServer();
    options.maxVersion = row.maxVersion;
    TlsPeer peer(options, {[](TlsPeerConnection& c) {
                               if (c.handshake()) {
                                   c.send("220 ready\r\n");
                                   c.readToEnd();
                               }
                           },
                           [&](TlsPeerConnection& c) {
                               if (!c.handshake())
                                   return;
                               serverSawReuse = c.sessionReused();
                               c.send("part data");
                               c.closeNotify();
                           }});
    const std::shared_ptr<TTlsContext> context = testCaContext();
    TlsTestClient control;
    control.connect(peer.portText(), context);
    // Reading the greeting also takes in the session tickets sent after the handshake.
    ASSERT_TRUE(waitUntil([&] { return control.received == "220 ready\r\n"; }));

    TlsTestClient data;
    TAsyncSocket listener;
    if (row.takeSession) {
        EXPECT_TRUE(data.socket.TlsTakeSessionOf(control.socket));
    }
    data.socket.SetTlsServer("localhost", peer.portText());
    if (row.active) {
        listener.SetAddr("127.0.0.1");
        listener.SetPort("0");
        listener.Listen();
        listener.OnSessionAvailable = [&](TAsyncSocket* l, quint16) {
            const int h = l->Accept();
            l->Close();
            data.socket.Dup(h);
            data.socket.StartTls(); // we stay the TLS client on a connection we accepted
        };
        peer.connectTo(listener.GetXPort().toUShort());
    } else {
        data.connect(peer.portText(), row.takeSession ? data.socket.TlsContext() : context);
    }
    ASSERT_TRUE(waitUntil([&] { return data.closedCount == 1; }));
    EXPECT_EQ(data.received, "part data");
    EXPECT_EQ(row.active ? data.handshakeError : data.connectedError, 0);
    EXPECT_EQ(serverSawReuse, row.takeSession ? 1 : 0);
    EXPECT_EQ(data.socket.TlsPeer().sessionReused, row.takeSession);
    EXPECT_EQ(data.socket.TlsPeer().sha256, control.socket.TlsPeer().sha256);
    EXPECT_EQ(data.socket.TlsPeer().protocol, row.maxVersion == TLS1_2_VERSION ? "TLSv1.2" : "TLSv1.3");
    control.socket.Close();
}

INSTANTIATE_TEST_SUITE_P(Modes, TlsSocketReuse,
                         ::testing::Values(ReuseCase{"PassiveTls13", 0, false, true},
                                           ReuseCase{"ActiveTls13", 0, true, true},
                                           ReuseCase{"PassiveTls12", TLS1_2_VERSION, false, true},
                                           ReuseCase{"ActiveTls12", TLS1_2_VERSION, true, true},
                                           ReuseCase{"WithoutTakingTheSession", 0, false, false}),
                         [](const ::testing::TestParamInfo<ReuseCase>& p) { return std::string(p.param.name); });
