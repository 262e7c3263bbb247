// Name lookups of TAsyncSocket: numeric, by name through the platform resolver,
// failing, cancelled and refused.
#include "net/async_socket.h"
#include "support/event_wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

struct Lookup {
    std::vector<int> errors;
    void attach(TAsyncSocket& s) {
        s.OnDnsLookupDone = [this](TAsyncSocket*, quint16 e) { errors.push_back(e); };
    }
};

} // namespace

struct NumericCase {
    const char* text;
    const char* normalized;
};

class AsyncSocketDnsNumeric : public ::testing::TestWithParam<NumericCase> {};

TEST_P(AsyncSocketDnsNumeric, CompletesBeforeReturningWithTheDottedForm) {
    TAsyncSocket s;
    Lookup lookup;
    lookup.attach(s);
    s.DnsLookup(GetParam().text);
    ASSERT_EQ(lookup.errors, std::vector<int>{0});
    EXPECT_EQ(s.DnsResult(), GetParam().normalized);
}

INSTANTIATE_TEST_SUITE_P(Texts, AsyncSocketDnsNumeric,
                         ::testing::Values(NumericCase{"127.0.0.1", "127.0.0.1"},
                                           NumericCase{" 10.1.2.3 ", "10.1.2.3"},
                                           NumericCase{"127.1", "127.0.0.1"},
                                           NumericCase{"2001:DB8:0::1", "2001:db8::1"},
                                           NumericCase{" [::1] ", "::1"}));

TEST(AsyncSocketDns, LocalhostResolvesFromTheLoopToAnIPv4Address) {
    TAsyncSocket s;
    Lookup lookup;
    lookup.attach(s);
    s.DnsLookup("localhost");
    EXPECT_TRUE(lookup.errors.empty()); // a name is never resolved inside the call
    ASSERT_TRUE(waitUntil([&] { return !lookup.errors.empty(); }));
    EXPECT_EQ(lookup.errors, std::vector<int>{0});
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
    EXPECT_TRUE(s.DnsResultList().contains("127.0.0.1"));
}

TEST(AsyncSocketDns, UnresolvableNameReportsHostNotFound) {
    TAsyncSocket s;
    Lookup lookup;
    lookup.attach(s);
    s.DnsLookup("no-such-host.invalid");
    ASSERT_TRUE(waitUntil([&] { return !lookup.errors.empty(); }));
    EXPECT_EQ(lookup.errors, std::vector<int>{11001});
    EXPECT_TRUE(s.DnsResult().isEmpty());
    EXPECT_EQ(SocketErrorDesc(lookup.errors[0]), "Host not found");
}

TEST(AsyncSocketDns, CancelEndsThePendingLookupOnceWith10004) {
    TAsyncSocket s;
    Lookup lookup;
    lookup.attach(s);
    s.CancelDnsLookup(); // nothing pending: nothing happens
    EXPECT_TRUE(lookup.errors.empty());
    s.DnsLookup("localhost");
    s.CancelDnsLookup();
    EXPECT_EQ(lookup.errors, std::vector<int>{10004});
    runLoopFor(300); // the aborted lookup must not report again
    EXPECT_EQ(lookup.errors, std::vector<int>{10004});
}

TEST(AsyncSocketDns, ANewLookupReplacesAPendingOne) {
    TAsyncSocket s;
    Lookup lookup;
    lookup.attach(s);
    s.DnsLookup("no-such-host.invalid");
    s.DnsLookup("localhost");
    ASSERT_TRUE(waitUntil([&] { return !lookup.errors.empty(); }));
    runLoopFor(300);
    EXPECT_EQ(lookup.errors, std::vector<int>{0});
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
}

TEST(AsyncSocketDns, EmptyHostIsRefused) {
    TAsyncSocket s;
    Lookup lookup;
    lookup.attach(s);
    try {
        s.DnsLookup("");
        ADD_FAILURE() << "an empty host must raise";
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.text(), "DNS lookup: invalid host name.");
    }
    EXPECT_TRUE(lookup.errors.empty());
    int errors = 0;
    s.OnError = [&](TAsyncSocket*) { ++errors; };
    s.DnsLookup("");
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(lookup.errors, std::vector<int>{10022});
}

TEST(AsyncSocketDns, ReverseLookupOfLoopbackGivesAName) {
    TAsyncSocket s;
    Lookup lookup;
    lookup.attach(s);
    s.ReverseDnsLookup("127.0.0.1");
    ASSERT_TRUE(waitUntil([&] { return !lookup.errors.empty(); }));
    EXPECT_EQ(lookup.errors, std::vector<int>{0});
    EXPECT_FALSE(s.DnsResult().isEmpty());
    EXPECT_EQ(s.DnsResultList().size(), 1);
}

TEST(AsyncSocketDns, DeletingTheSocketInsideLookupDoneIsSafe) {
    auto* s = new TAsyncSocket;
    bool deleted = false;
    QObject::connect(s, &QObject::destroyed, [&] { deleted = true; });
    s->OnDnsLookupDone = [](TAsyncSocket* sender, quint16) { delete sender; };
    s->DnsLookup("localhost");
    ASSERT_TRUE(waitUntil([&] { return deleted; }));
    runLoopFor(50);
}

TEST(AsyncSocketDns, DestroyingTheSocketDuringALookupDropsTheResult) {
    auto* s = new TAsyncSocket;
    int fired = 0;
    s->OnDnsLookupDone = [&](TAsyncSocket*, quint16) { ++fired; };
    s->DnsLookup("localhost");
    delete s;
    runLoopFor(300);
    EXPECT_EQ(fired, 0);
}
