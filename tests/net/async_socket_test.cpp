// TAsyncSocket against real loopback connections: a blocking POSIX peer in a thread,
// or a second TAsyncSocket listening. Every wait is bounded and runs the event loop.
#include "net/async_socket.h"
#include "support/event_wait.h"
#include "support/test_bytes.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <functional>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

void writeAll(int fd, const QByteArray& data) {
    qint64 off = 0;
    while (off < data.size()) {
        const ssize_t n = ::send(fd, data.constData() + off, size_t(data.size() - off), MSG_NOSIGNAL);
        if (n <= 0)
            return;
        off += n;
    }
}

QByteArray readUntilEof(int fd, qint64 limit = -1) {
    QByteArray all;
    char buf[65536];
    for (;;) {
        if (limit >= 0 && all.size() >= limit)
            break;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        all.append(buf, n);
    }
    return all;
}

// A peer with a blocking socket: accepts one connection on 127.0.0.1 and plays a script.
class BlockingPeer {
public:
    explicit BlockingPeer(std::function<void(int fd)> script) {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        ::listen(m_listen, 4);
        socklen_t len = sizeof sa;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&sa), &len);
        m_port = ntohs(sa.sin_port);
        m_thread = std::thread([this, script] {
            const int fd = ::accept(m_listen, nullptr, nullptr);
            if (fd >= 0) {
                script(fd);
                ::close(fd);
            }
            m_done = true;
        });
    }
    ~BlockingPeer() {
        ::shutdown(m_listen, SHUT_RDWR); // ends an accept that never got a connection
        m_thread.join();
        ::close(m_listen);
    }
    QString port() const { return QString::number(m_port); }
    bool done() const { return m_done; }

private:
    int m_listen = -1;
    quint16 m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_done{false};
};

// Lets a waiting peer go on when a test ends early, so that its thread can be joined.
struct SetOnExit {
    std::atomic<bool>& flag;
    ~SetOnExit() { flag = true; }
};

// A port with nobody listening on it.
QString closedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    socklen_t len = sizeof sa;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    ::close(fd);
    return QString::number(ntohs(sa.sin_port));
}

// Records every event of a socket as a line of text.
struct EventLog {
    std::vector<std::string> lines;
    QByteArray received;
    int closedCount = 0;
    int dataSentCount = 0;
    qint64 sendDataTotal = 0;

    void attach(TAsyncSocket& s, bool reading = true) {
        s.OnChangeState = [this](TAsyncSocket*, TSocketState o, TSocketState n) {
            lines.push_back("state " + std::to_string(o) + "->" + std::to_string(n));
        };
        s.OnSessionConnected = [this](TAsyncSocket*, quint16 e) { lines.push_back("connected " + std::to_string(e)); };
        s.OnDataSent = [this](TAsyncSocket*, quint16 e) {
            ++dataSentCount;
            lines.push_back("datasent " + std::to_string(e));
        };
        s.OnSendData = [this](TAsyncSocket*, qint64 n) {
            sendDataTotal += n;
            if (lines.empty() || lines.back() != "senddata")
                lines.push_back("senddata");
        };
        s.OnSessionClosed = [this](TAsyncSocket*, quint16 e) {
            ++closedCount;
            lines.push_back("closed " + std::to_string(e));
        };
        if (reading)
            s.OnDataAvailable = [this](TAsyncSocket* sender, quint16 e) {
                char buf[4096];
                const qint64 n = sender->Receive(buf, sizeof buf);
                if (n > 0)
                    received.append(buf, n);
                // Consecutive data events collapse into one line: their number depends on timing.
                const std::string line = "data " + std::to_string(e);
                if (lines.empty() || lines.back() != line)
                    lines.push_back(line);
            };
    }
};

void connectTo(TAsyncSocket& s, const QString& port) {
    s.SetAddr("127.0.0.1");
    s.SetPort(port);
    s.SetProto("tcp");
    s.Connect();
}

} // namespace

// ---- connection lifecycle ----

TEST(AsyncSocketConnection, EventsOfOneConnectionComeInOrder) {
    BlockingPeer peer([](int fd) {
        readUntilEof(fd, 4); // "ping"
        writeAll(fd, "hello");
    });
    TAsyncSocket s;
    EventLog log;
    log.attach(s);
    bool pinged = false;
    s.OnDataSent = [&](TAsyncSocket* sender, quint16 e) {
        ++log.dataSentCount;
        log.lines.push_back("datasent " + std::to_string(e));
        if (!pinged) {
            pinged = true;
            sender->SendStr(QByteArray("ping"));
        }
    };
    connectTo(s, peer.port());
    EXPECT_EQ(s.State(), wsConnecting);
    ASSERT_TRUE(waitUntil([&] { return log.closedCount > 0; }));
    const std::vector<std::string> expected = {
        "state 7->1", "state 1->3", "state 3->4", "connected 0", "datasent 0", "senddata",
        "datasent 0", "data 0",     "closed 0",   "state 4->7"};
    EXPECT_EQ(log.lines, expected);
    EXPECT_EQ(log.received, QByteArray("hello"));
    EXPECT_EQ(s.State(), wsClosed);
}

TEST(AsyncSocketConnection, DataSentIsNeverDeliveredInsideSend) {
    BlockingPeer peer([](int fd) { readUntilEof(fd); });
    TAsyncSocket s;
    EventLog log;
    log.attach(s);
    bool inSend = false;
    int sentInside = 0;
    int sentAfter = 0;
    s.OnDataSent = [&](TAsyncSocket*, quint16) { inSend ? ++sentInside : ++sentAfter; };
    connectTo(s, peer.port());
    ASSERT_TRUE(waitUntil([&] { return sentAfter == 1; })); // the write event after connect
    inSend = true;
    EXPECT_EQ(s.Send(QByteArray("small enough to go out at once")), 30);
    inSend = false;
    EXPECT_TRUE(s.AllSent());
    EXPECT_EQ(sentAfter, 1);
    ASSERT_TRUE(waitUntil([&] { return sentAfter == 2; }));
    EXPECT_EQ(sentInside, 0);
    EXPECT_EQ(log.sendDataTotal, 30);
    s.Close();
}

TEST(AsyncSocketConnection, LargeSendIsQueuedDrainedAndReceivedIdentical) {
    const QByteArray data = SeededBytes(24 * 1024 * 1024 + 777, 12345);
    QByteArray got;
    std::atomic<bool> startReading{false};
    BlockingPeer peer([&](int fd) {
        // The sender fills the kernel buffers before anything is drained.
        while (!startReading)
            std::this_thread::yield();
        got = readUntilEof(fd);
    });
    SetOnExit release{startReading};
    TAsyncSocket s;
    EventLog log;
    log.attach(s);
    int dataSent = 0;
    bool writeWatchedWhileQueued = false;
    s.OnDataSent = [&](TAsyncSocket*, quint16) { ++dataSent; };
    connectTo(s, peer.port());
    ASSERT_TRUE(waitUntil([&] { return dataSent == 1; }));
    EXPECT_FALSE(s.isWriteWatched());
    EXPECT_EQ(s.Send(data), data.size());
    EXPECT_FALSE(s.AllSent()); // 24 MiB never fit the loopback buffers of an idle reader
    writeWatchedWhileQueued = s.isWriteWatched();
    startReading = true;
    ASSERT_TRUE(waitUntil([&] { return dataSent == 2; }, 30000));
    EXPECT_TRUE(writeWatchedWhileQueued);
    EXPECT_FALSE(s.isWriteWatched()); // nothing left to send: no spinning
    EXPECT_EQ(log.sendDataTotal, data.size());
    s.Close();
    ASSERT_TRUE(waitUntil([&] { return peer.done(); }, 30000));
    EXPECT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data);
}

TEST(AsyncSocketConnection, PeerCloseDeliversEveryUnreadByteFirst) {
    const QByteArray data = SeededBytes(300 * 1000, 12345);
    BlockingPeer peer([&](int fd) { writeAll(fd, data); });
    TAsyncSocket s;
    EventLog log;
    log.attach(s);
    QByteArray got;
    qint64 bytesAtClose = -1;
    // A reader that takes little at a time: the loop must call it again while bytes wait.
    s.OnDataAvailable = [&](TAsyncSocket* sender, quint16) {
        char buf[100];
        const qint64 n = sender->Receive(buf, sizeof buf);
        if (n > 0)
            got.append(buf, n);
    };
    s.OnSessionClosed = [&](TAsyncSocket*, quint16 e) {
        ++log.closedCount;
        EXPECT_EQ(e, 0);
        bytesAtClose = got.size();
    };
    connectTo(s, peer.port());
    ASSERT_TRUE(waitUntil([&] { return log.closedCount > 0; }));
    EXPECT_EQ(bytesAtClose, data.size());
    EXPECT_TRUE(got == data);
    EXPECT_EQ(s.ReadCount(), 0); // reset by the close
    runLoopFor(50);
    EXPECT_EQ(log.closedCount, 1);
}

TEST(AsyncSocketConnection, PeerResetArrivesAsErrorOfSessionClosed) {
    BlockingPeer peer([](int fd) {
        linger l{1, 0}; // close with a reset
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        readUntilEof(fd, 2);
    });
    TAsyncSocket s;
    EventLog log;
    log.attach(s);
    s.OnSessionConnected = [](TAsyncSocket* sender, quint16) { sender->SendStr(QByteArray("go")); };
    connectTo(s, peer.port());
    ASSERT_TRUE(waitUntil([&] { return log.closedCount > 0; }));
    EXPECT_EQ(log.closedCount, 1);
    EXPECT_NE(std::find(log.lines.begin(), log.lines.end(), "closed 10054"), log.lines.end());
}

TEST(AsyncSocketConnection, ReaderThatStopsReadingIsNotCalledForeverAndStillSeesTheClose) {
    std::atomic<bool> releasePeer{false};
    BlockingPeer peer([&](int fd) {
        writeAll(fd, QByteArray(5000, 'x'));
        while (!releasePeer)
            std::this_thread::yield();
    });
    SetOnExit release{releasePeer};
    TAsyncSocket s;
    int dataCalls = 0;
    int closed = 0;
    s.OnDataAvailable = [&](TAsyncSocket*, quint16) {
        ++dataCalls;
        throw std::runtime_error("line too long"); // reads nothing, as a full line buffer does
    };
    s.OnSessionClosed = [&](TAsyncSocket*, quint16) { ++closed; };
    connectTo(s, peer.port());
    ASSERT_TRUE(waitUntil([&] { return dataCalls > 0; }));
    runLoopFor(200);
    EXPECT_EQ(dataCalls, 1); // no busy loop while the bytes stay unread
    EXPECT_FALSE(s.isReadWatched());
    releasePeer = true;
    ASSERT_TRUE(waitUntil([&] { return closed > 0; }));
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(s.State(), wsClosed);
}

TEST(AsyncSocketConnection, IdleConnectionCostsNoEvents) {
    std::atomic<bool> releasePeer{false};
    BlockingPeer peer([&](int fd) {
        while (!releasePeer)
            std::this_thread::yield();
        ::shutdown(fd, SHUT_RDWR);
    });
    SetOnExit release{releasePeer};
    TAsyncSocket s;
    EventLog log;
    log.attach(s);
    connectTo(s, peer.port());
    ASSERT_TRUE(waitUntil([&] { return log.dataSentCount == 1; }));
    runLoopFor(300);
    EXPECT_EQ(log.dataSentCount, 1);
    EXPECT_FALSE(s.isWriteWatched());
    EXPECT_TRUE(s.isReadWatched());
    releasePeer = true;
    s.Close();
}

// ---- close and abort ----

struct CloseCase {
    const char* name;
    std::function<void(TAsyncSocket&)> close;
};

class AsyncSocketClose : public ::testing::TestWithParam<CloseCase> {};

TEST_P(AsyncSocketClose, FiresSessionClosedOnceInsideTheCallAndPeerSeesTheEnd) {
    QByteArray peerGot;
    BlockingPeer peer([&](int fd) { peerGot = readUntilEof(fd); });
    TAsyncSocket s;
    EventLog log;
    log.attach(s);
    connectTo(s, peer.port());
    ASSERT_TRUE(waitUntil([&] { return s.State() == wsConnected; }));
    log.lines.clear();
    GetParam().close(s);
    const std::vector<std::string> expected = {"state 4->7", "closed 0"};
    EXPECT_EQ(log.lines, expected);
    EXPECT_EQ(s.State(), wsClosed);
    GetParam().close(s); // a second close does nothing
    EXPECT_EQ(log.lines, expected);
    ASSERT_TRUE(waitUntil([&] { return peer.done(); }));
    runLoopFor(50);
    EXPECT_EQ(log.closedCount, 1);
    // Reusable after the close: Port must be set again.
    try {
        s.SetAddr("127.0.0.1");
        s.Connect();
        ADD_FAILURE() << "Connect without a port must fail";
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.text(), "Connect: No Port Specified");
    }
}

INSTANTIATE_TEST_SUITE_P(Ways, AsyncSocketClose,
                         ::testing::Values(CloseCase{"Close", [](TAsyncSocket& s) { s.Close(); }},
                                           CloseCase{"Abort", [](TAsyncSocket& s) { s.Abort(); }}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(AsyncSocketClose, CloseDelayedClosesFromTheLoop) {
    BlockingPeer peer([](int fd) { readUntilEof(fd); });
    TAsyncSocket s;
    EventLog log;
    log.attach(s);
    connectTo(s, peer.port());
    ASSERT_TRUE(waitUntil([&] { return s.State() == wsConnected; }));
    s.CloseDelayed();
    EXPECT_EQ(s.State(), wsConnected);
    ASSERT_TRUE(waitUntil([&] { return log.closedCount == 1; }));
    EXPECT_EQ(s.State(), wsClosed);
}

// ---- refusals and errors ----

TEST(AsyncSocketErrors, RefusedConnectionReports10061AndClosesItself) {
    TAsyncSocket s;
    EventLog log;
    log.attach(s);
    connectTo(s, closedPort());
    ASSERT_TRUE(waitUntil([&] { return log.closedCount > 0; }));
    const std::vector<std::string> expected = {"state 7->1", "state 1->3", "state 3->4", "connected 10061",
                                               "state 4->7", "closed 0"};
    EXPECT_EQ(log.lines, expected);
    EXPECT_EQ(SocketErrorDesc(10061), "Connection refused");
}

TEST(AsyncSocketErrors, MisuseIsRefusedWithItsText) {
    BlockingPeer peer([](int fd) { readUntilEof(fd); });
    TAsyncSocket s;
    auto message = [&](const std::function<void()>& call) -> QString {
        try {
            call();
        } catch (const ESocketException& e) {
            return e.text();
        }
        return "no exception";
    };
    EXPECT_EQ(message([&] { s.Send(QByteArray("x")); }),
              "Error 10057 in function Send\r\nSocket is not connected");
    EXPECT_EQ(s.LastError(), 10057);
    EXPECT_EQ(message([&] { s.Connect(); }), "Connect: No Port Specified");
    s.SetPort(peer.port());
    EXPECT_EQ(message([&] { s.Connect(); }), "Connect: No IP Address Specified");
    s.SetAddr("no-such-host.invalid");
    EXPECT_EQ(message([&] { s.Connect(); }),
              "connect: SocketResolveHost: Cannot convert host address 'no-such-host.invalid'");
    EXPECT_EQ(message([&] { s.SetLocalAddr("300.1.1.1"); }), "SetLocalAddr(): Invalid IP address");
    EXPECT_EQ(message([&] { s.SetSendFlags(7); }), "Invalid SendFlags");
    s.SetAddr("127.0.0.1");
    s.Connect();
    EXPECT_EQ(message([&] { s.Connect(); }), "Connect: Socket already in use");
    EXPECT_EQ(message([&] { s.SetAddr("10.0.0.1"); }), "Cannot change Addr if not closed");
    EXPECT_EQ(message([&] { s.SetPort("1"); }), "Cannot change Port if not closed");
    EXPECT_EQ(message([&] { s.SetProto("udp"); }), "Cannot change Proto if not closed");
    EXPECT_EQ(message([&] { s.Accept(); }), "Error 10022 in function not a listening socket\r\nInvalid argument");
    s.Close();
}

TEST(AsyncSocketErrors, OnErrorReplacesTheException) {
    TAsyncSocket s;
    int errors = 0;
    s.OnError = [&](TAsyncSocket*) { ++errors; };
    EXPECT_EQ(s.Send(QByteArray("x")), -1);
    s.Connect();
    EXPECT_EQ(errors, 2);
    EXPECT_EQ(s.State(), wsClosed);
}

TEST(AsyncSocketErrors, PropertiesReturnToDefaultsAfterClose) {
    BlockingPeer peer([](int fd) { readUntilEof(fd); });
    TAsyncSocket s;
    s.SetLocalAddr("127.0.0.1");
    s.SetLingerOnOff(wsLingerOff);
    s.SetLingerTimeout(10);
    connectTo(s, peer.port());
    ASSERT_TRUE(waitUntil([&] { return s.State() == wsConnected; }));
    EXPECT_EQ(s.PeerAddr(), "127.0.0.1");
    EXPECT_EQ(s.PeerPort(), peer.port());
    EXPECT_NE(s.GetXPort(), "error");
    s.Close();
    EXPECT_EQ(s.Proto(), "tcp");
    EXPECT_EQ(s.LocalAddr(), "0.0.0.0");
    EXPECT_EQ(s.LocalPort(), "0");
    EXPECT_EQ(s.PeerAddr(), "error");
    EXPECT_EQ(s.PeerPort(), "error");
    EXPECT_EQ(s.GetXPort(), "error");
    EXPECT_EQ(s.LingerOnOff(), wsLingerOn);
    EXPECT_EQ(s.LingerTimeout(), 0);
    EXPECT_EQ(s.Addr(), "127.0.0.1"); // the text stays readable
}

// ---- listening ----

TEST(AsyncSocketListen, AcceptAndDupCarryAConnectionBothWays) {
    TAsyncSocket listener;
    listener.SetAddr("127.0.0.1");
    listener.SetPort("0");
    listener.SetProto("tcp");
    listener.Listen();
    ASSERT_EQ(listener.State(), wsListening);
    sockaddr_in sa{};
    ASSERT_EQ(listener.GetSockName(sa), 0);
    const QString port = QString::number(ntohs(sa.sin_port));
    EXPECT_NE(port, "0");
    EXPECT_EQ(listener.GetXPort(), port);

    TAsyncSocket served;
    EventLog servedLog;
    servedLog.attach(served);
    bool servedConnectedEvent = false;
    served.OnSessionConnected = [&](TAsyncSocket*, quint16) { servedConnectedEvent = true; };
    listener.OnSessionAvailable = [&](TAsyncSocket* sender, quint16 e) {
        EXPECT_EQ(e, 0);
        const int h = sender->Accept();
        ASSERT_GT(h, 0);
        sender->Close();
        served.Dup(h);
    };
    TAsyncSocket client;
    EventLog clientLog;
    clientLog.attach(client);
    client.OnSessionConnected = [](TAsyncSocket* sender, quint16) { sender->SendStr(QString("request")); };
    connectTo(client, port);
    ASSERT_TRUE(waitUntil([&] { return servedLog.received == "request"; }));
    EXPECT_EQ(served.State(), wsConnected);
    EXPECT_FALSE(servedConnectedEvent);
    EXPECT_EQ(listener.State(), wsClosed);
    EXPECT_EQ(served.PeerAddr(), "127.0.0.1");
    served.SendStr(QByteArray("reply"));
    ASSERT_TRUE(waitUntil([&] { return clientLog.received == "reply"; }));
    client.Close();
    ASSERT_TRUE(waitUntil([&] { return servedLog.closedCount == 1; }));
    EXPECT_EQ(served.State(), wsClosed);
}

// The FTP data listener relies on this order: a failed bind raises, and the socket,
// which never had a session, reports no close for it, neither before nor after.
TEST(AsyncSocketListen, ABindFailureRaisesWithoutASessionClose) {
    TAsyncSocket first;
    first.SetAddr("127.0.0.1");
    first.SetPort("0");
    first.SetProto("tcp");
    first.Listen();
    ASSERT_EQ(first.State(), wsListening);

    TAsyncSocket second;
    EventLog log;
    log.attach(second);
    second.SetAddr("127.0.0.1");
    second.SetPort(first.GetXPort());
    second.SetProto("tcp");
    QString raised;
    try {
        second.Listen();
    } catch (const ESocketException& e) {
        raised = e.text();
        log.lines.push_back("raised");
    }
    EXPECT_EQ(raised, "Error 10048 in function Bind\r\nAddress already in use");
    EXPECT_EQ(second.State(), wsClosed);
    EXPECT_EQ(second.LastError(), 10048);
    runLoopFor(50);
    EXPECT_EQ(log.closedCount, 0);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"state 7->1", "state 1->7", "raised"})) << ::testing::PrintToString(log.lines);

    // The same socket listens again once the port is free (a close resets its settings).
    const QString port = first.GetXPort();
    first.Close();
    second.SetAddr("127.0.0.1");
    second.SetPort(port);
    second.SetProto("tcp");
    second.Listen();
    EXPECT_EQ(second.State(), wsListening);
}

TEST(AsyncSocketListen, DatagramSocketsExchangeAMessage) {
    TAsyncSocket receiver;
    receiver.SetAddr("127.0.0.1");
    receiver.SetPort("0");
    receiver.SetProto("udp");
    int receiverConnected = 0;
    receiver.OnSessionConnected = [&](TAsyncSocket*, quint16) { ++receiverConnected; };
    QByteArray got;
    QString from;
    receiver.OnDataAvailable = [&](TAsyncSocket* sender, quint16) {
        char buf[2048];
        sockaddr_in src{};
        const qint64 n = sender->ReceiveFrom(buf, sizeof buf, src);
        if (n > 0) {
            got.append(buf, n);
            from = QString::fromLatin1(inet_ntoa(src.sin_addr));
        }
    };
    receiver.Listen();
    EXPECT_EQ(receiver.State(), wsConnected);
    EXPECT_EQ(receiverConnected, 1);
    const QString port = receiver.GetXPort();

    TAsyncSocket sender;
    sender.SetAddr("127.0.0.1");
    sender.SetPort(port);
    sender.SetProto("17");
    int senderConnected = 0;
    sender.OnSessionConnected = [&](TAsyncSocket*, quint16) { ++senderConnected; };
    sender.Connect();
    EXPECT_EQ(sender.State(), wsConnected); // no connection set-up for datagrams
    EXPECT_EQ(senderConnected, 1);
    EXPECT_NE(sender.LocalPort(), "0"); // the port actually bound
    sender.SendStr(QByteArray("one datagram"));
    ASSERT_TRUE(waitUntil([&] { return !got.isEmpty(); }));
    EXPECT_EQ(got, "one datagram");
    EXPECT_EQ(from, "127.0.0.1");
}

// ---- background exceptions and destruction inside handlers ----

struct BgCase {
    const char* name;
    bool clearCanClose;
};

class AsyncSocketBgException : public ::testing::TestWithParam<BgCase> {};

TEST_P(AsyncSocketBgException, HandlerExceptionReachesOnBgExceptionNotTheLoop) {
    BlockingPeer peer([](int fd) { readUntilEof(fd); });
    TAsyncSocket s;
    EventLog log;
    log.attach(s);
    QString caught;
    bool canCloseSeen = false;
    s.OnSessionConnected = [](TAsyncSocket*, quint16) { throw std::runtime_error("handler failed"); };
    s.OnBgException = [&](TAsyncSocket*, const std::exception& e, bool& canClose) {
        caught = QString::fromUtf8(e.what());
        canCloseSeen = canClose;
        if (GetParam().clearCanClose)
            canClose = false;
    };
    connectTo(s, peer.port());
    ASSERT_TRUE(waitUntil([&] { return !caught.isEmpty(); }));
    EXPECT_EQ(caught, "handler failed");
    EXPECT_TRUE(canCloseSeen);
    if (GetParam().clearCanClose) {
        EXPECT_EQ(s.State(), wsConnected);
        EXPECT_EQ(log.closedCount, 0);
        s.Close();
    } else {
        EXPECT_EQ(s.State(), wsClosed); // aborted
        EXPECT_EQ(log.closedCount, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(CanClose, AsyncSocketBgException,
                         ::testing::Values(BgCase{"Aborts", false}, BgCase{"KeepsOpen", true}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(AsyncSocketBgException, TestExceptionNotificationIsGuarded) {
    TAsyncSocket s;
    QString caught;
    s.OnBgException = [&](TAsyncSocket*, const std::exception& e, bool&) {
        caught = QString::fromUtf8(e.what());
        throw std::runtime_error("thrown again inside the guard"); // must be ignored
    };
    s.PostTestException();
    EXPECT_TRUE(caught.isEmpty()); // delivered by the loop, not inside the call
    ASSERT_TRUE(waitUntil([&] { return !caught.isEmpty(); }));
    EXPECT_EQ(caught, "Test exception in AsyncSocket");
}

TEST(AsyncSocketBgException, DataHandlerExceptionIsAbsorbedSilently) {
    BlockingPeer peer([](int fd) { writeAll(fd, "abc"); });
    TAsyncSocket s;
    int bg = 0;
    int calls = 0;
    int closed = 0;
    s.OnBgException = [&](TAsyncSocket*, const std::exception&, bool&) { ++bg; };
    s.OnDataAvailable = [&](TAsyncSocket* sender, quint16) {
        ++calls;
        sender->ReceiveStr();
        throw std::runtime_error("ignored");
    };
    s.OnSessionClosed = [&](TAsyncSocket*, quint16) { ++closed; };
    connectTo(s, peer.port());
    ASSERT_TRUE(waitUntil([&] { return closed == 1; }));
    EXPECT_GE(calls, 1);
    EXPECT_EQ(bg, 0);
}

struct DeleteCase {
    const char* name;
    // Arranges for the socket to be deleted from inside one of its handlers.
    std::function<void(TAsyncSocket*& s, bool& deleted)> arrange;
};

class AsyncSocketDeleteInHandler : public ::testing::TestWithParam<DeleteCase> {};

TEST_P(AsyncSocketDeleteInHandler, NothingTouchesTheSocketAfterTheHandler) {
    BlockingPeer peer([](int fd) {
        writeAll(fd, QByteArray(20000, 'd'));
        ::shutdown(fd, SHUT_WR);
        readUntilEof(fd);
    });
    auto* s = new TAsyncSocket;
    bool deleted = false;
    QObject::connect(s, &QObject::destroyed, [&] { deleted = true; });
    GetParam().arrange(s, deleted);
    s->SetAddr("127.0.0.1");
    s->SetPort(peer.port());
    s->Connect();
    ASSERT_TRUE(waitUntil([&] { return deleted; }));
    runLoopFor(100); // pending notifications for the dead socket must be dropped safely
    SUCCEED();
}

INSTANTIATE_TEST_SUITE_P(
    Handlers, AsyncSocketDeleteInHandler,
    ::testing::Values(
        DeleteCase{"Connected",
                   [](TAsyncSocket*& s, bool&) {
                       s->OnSessionConnected = [](TAsyncSocket* sender, quint16) { delete sender; };
                   }},
        DeleteCase{"DataAvailable",
                   [](TAsyncSocket*& s, bool&) {
                       s->OnDataAvailable = [](TAsyncSocket* sender, quint16) { delete sender; };
                   }},
        DeleteCase{"SessionClosed",
                   [](TAsyncSocket*& s, bool&) {
                       s->OnDataAvailable = [](TAsyncSocket* sender, quint16) { sender->ReceiveStr(); };
                       s->OnSessionClosed = [](TAsyncSocket* sender, quint16) { delete sender; };
                   }},
        DeleteCase{"DataSent",
                   [](TAsyncSocket*& s, bool&) {
                       s->OnDataSent = [](TAsyncSocket* sender, quint16) { delete sender; };
                   }},
        DeleteCase{"Release", [](TAsyncSocket*& s, bool&) {
                       s->OnSessionConnected = [](TAsyncSocket* sender, quint16) { sender->Release(); };
                   }}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(AsyncSocketConnection, PausedSocketHearsNothingUntilResumed) {
    BlockingPeer peer([](int fd) {
        readUntilEof(fd, 2); // "go"
        writeAll(fd, "while paused");
        readUntilEof(fd);
    });
    TAsyncSocket s;
    EventLog log;
    log.attach(s);
    connectTo(s, peer.port());
    ASSERT_TRUE(waitUntil([&] { return s.State() == wsConnected; }));
    s.Pause();
    EXPECT_FALSE(s.isReadWatched());
    s.SendStr(QByteArray("go"));
    runLoopFor(200);
    EXPECT_TRUE(log.received.isEmpty());
    s.Resume();
    ASSERT_TRUE(waitUntil([&] { return log.received == "while paused"; }));
    s.Close();
}
