// Connecting as the clients do (lookup, Addr := DnsResult, Connect) to a test name the
// resolver override maps to ::1 and 127.0.0.1, each accepting, refusing or silent.
#include "net/async_socket.h"
#include "support/event_wait.h"
#include "support/loopback_port.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

namespace {

enum class Peer { Accepts, Refuses, BlackHoles };

struct RaceCase {
    const char* name;
    Peer v6, v4;
    int error;  // of the one OnSessionConnected, when PeerAddr is peer
    const char* peer;
    int minMs, maxMs;  // from Connect to it
};

// A loopback handle on the port (0: any): bound only, so connecting is refused;
// listening; or listening with a full queue, so a connect gets no answer.
int loopbackPeer(const char* address, quint16& port, Peer kind, int& filler) {
    const int fd = ListenOn(address, port, &port, kind == Peer::Refuses ? -1 : kind == Peer::BlackHoles ? 0 : 8);
    if (fd >= 0 && kind == Peer::BlackHoles) {
        // A backlog of 0 holds one connection; with it taken, every SYN is dropped.
        sockaddr_storage ss{};
        socklen_t len = sizeof ss;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len);
        filler = ::socket(ss.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ::connect(filler, reinterpret_cast<sockaddr*>(&ss), len);
    }
    return fd;
}

class AsyncSocketRace : public ::testing::TestWithParam<RaceCase> {};

TEST_P(AsyncSocketRace, TheFirstAddressToConnectCarriesTheOneConnection) {
    const RaceCase& c = GetParam();
    quint16 port = 0;
    int fillers[2] = {-1, -1}, v4 = -1, v6 = -1;
    for (int attempt = 0; attempt < 20 && v6 < 0; ++attempt) {
        ::close(v4);  // a port free on 127.0.0.1 only (-1 at first)
        port = 0;
        v4 = loopbackPeer("127.0.0.1", port, c.v4, fillers[0]);
        v6 = loopbackPeer("::1", port, c.v6, fillers[1]);
    }
    ASSERT_GE(v6, 0) << "no port free on both loopback addresses";
    ASSERT_TRUE(TAsyncSocket::SetResolveOverride("dual-stack.test", {"::1", "127.0.0.1"}));

    TAsyncSocket s;
    QElapsedTimer clock;
    std::vector<int> outcomes;
    int closes = 0;
    QString peer, tried;
    s.OnDnsLookupDone = [&](TAsyncSocket* socket, quint16) {
        socket->SetAddr(socket->DnsResult());
        socket->SetPort(QString::number(port));
        clock.start();
        socket->Connect();
    };
    s.OnSessionConnected = [&](TAsyncSocket* socket, quint16 error) {
        outcomes.push_back(error);
        peer = socket->PeerAddr();
        tried = socket->TriedAddressesText();
    };
    s.OnSessionClosed = [&](TAsyncSocket*, quint16) { ++closes; };
    s.DnsLookup("dual-stack.test");
    ASSERT_TRUE(waitUntil([&] { return !outcomes.empty(); }, 5000));
    const qint64 ms = clock.elapsed();
    runLoopFor(400);  // the losing attempts end without a word
    EXPECT_EQ(outcomes, std::vector<int>{c.error});
    EXPECT_EQ(peer, c.peer);
    EXPECT_GE(ms, c.minMs);
    EXPECT_LE(ms, c.maxMs);
    EXPECT_EQ(tried, c.error ? QStringLiteral("[::1]:%1, 127.0.0.1:%1").arg(port) : QString());
    EXPECT_EQ(closes, c.error ? 1 : 0);
    for (int fd : {v4, v6, fillers[0], fillers[1]})
        ::close(fd);
    TAsyncSocket::SetResolveOverride("dual-stack.test", {});
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AsyncSocketRace,
    ::testing::Values(RaceCase{"IPv6First", Peer::Accepts, Peer::Accepts, 0, "::1", 0, 200},
                      RaceCase{"IPv6RefusedIPv4AtOnce", Peer::Refuses, Peer::Accepts, 0, "127.0.0.1", 0, 300},
                      RaceCase{"IPv6SilentIPv4After250ms", Peer::BlackHoles, Peer::Accepts, 0, "127.0.0.1", 245, 600},
                      RaceCase{"BothRefusedOneError", Peer::Refuses, Peer::Refuses, 10061, "error", 0, 300}),
    [](const auto& row) { return row.param.name; });

}  // namespace
