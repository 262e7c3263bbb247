// The error numbers and texts the clients show, the errno mapping onto them, and the
// resolvers of Addr, Port and Proto texts.
#include "net/async_socket.h"
#include "net/socket_error.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>

struct DescRow {
    int code;
    const char* text;
};

class SocketErrorDescTable : public ::testing::TestWithParam<DescRow> {};

TEST_P(SocketErrorDescTable, GivesTheListedText) {
    EXPECT_EQ(SocketErrorDesc(GetParam().code), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SocketErrorDescTable,
    ::testing::Values(DescRow{0, "No Error"}, DescRow{10004, "Interrupted system call"},
                      DescRow{10009, "Bad file number"}, DescRow{10013, "Permission denied"},
                      DescRow{10022, "Invalid argument"}, DescRow{10035, "Operation would block"},
                      DescRow{10036, "Operation now in progress"},
                      DescRow{10047, "Address family not supported by protocol family"},
                      DescRow{10048, "Address already in use"}, DescRow{10051, "Network is unreachable"},
                      DescRow{10053, "Connection aborted"}, DescRow{10054, "Connection reset by peer"},
                      DescRow{10057, "Socket is not connected"}, DescRow{10058, "Can't send after socket shutdown"},
                      DescRow{10059, "Too many references: can't splice"}, DescRow{10060, "Connection timed out"},
                      DescRow{10061, "Connection refused"}, DescRow{10065, "No route to host"},
                      DescRow{10071, "Too many levels of remote in path"},
                      DescRow{10091, "Network sub-system is unusable"},
                      DescRow{10092, "WinSock DLL cannot support this application"},
                      DescRow{10093, "WinSock not initialized"}, DescRow{11001, "Host not found"},
                      DescRow{11002, "Non-authoritative host not found"}, DescRow{11003, "Non-recoverable error"},
                      DescRow{11004, "No Data"}, DescRow{10001, "Not a WinSock error"},
                      DescRow{10072, "Not a WinSock error"}, DescRow{-1, "Not a WinSock error"},
                      DescRow{404, "Not a WinSock error"}));

struct ErrnoRow {
    int err;
    int code;
};

class SocketErrnoMapping : public ::testing::TestWithParam<ErrnoRow> {};

TEST_P(SocketErrnoMapping, MapsOntoTheWinsockNumber) {
    EXPECT_EQ(WinsockErrorFromErrno(GetParam().err), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(Rows, SocketErrnoMapping,
                         ::testing::Values(ErrnoRow{0, 0}, ErrnoRow{ECONNREFUSED, 10061}, ErrnoRow{ETIMEDOUT, 10060},
                                           ErrnoRow{ECONNRESET, 10054}, ErrnoRow{EPIPE, 10054},
                                           ErrnoRow{EHOSTUNREACH, 10065}, ErrnoRow{ENETUNREACH, 10051},
                                           ErrnoRow{EADDRINUSE, 10048}, ErrnoRow{EAGAIN, 10035},
                                           ErrnoRow{EWOULDBLOCK, 10035}, ErrnoRow{EINPROGRESS, 10036},
                                           ErrnoRow{ENOTCONN, 10057}, ErrnoRow{ECONNABORTED, 10053},
                                           ErrnoRow{EBADF, 10009}, ErrnoRow{ENOTSOCK, 10038},
                                           ErrnoRow{EMFILE, 10024}, ErrnoRow{EINTR, 10004},
                                           ErrnoRow{EADDRNOTAVAIL, 10049}, ErrnoRow{EISDIR, 10022}));

TEST(SocketErrnoMapping, LookupFailuresMapOntoTheHostErrors) {
    EXPECT_EQ(WinsockErrorFromGai(EAI_NONAME), 11001);
    EXPECT_EQ(WinsockErrorFromGai(EAI_AGAIN), 11002);
    EXPECT_EQ(WinsockErrorFromGai(EAI_FAIL), 11003);
    EXPECT_EQ(WinsockErrorFromGai(EAI_NODATA), 11004);
}

// ---- resolvers ----

struct PortRow {
    const char* text;
    int port;              // -1: refused
    const char* message;   // the refusal's text
};

class SocketResolvePortTable : public ::testing::TestWithParam<PortRow> {};

TEST_P(SocketResolvePortTable, ResolvesOrRefuses) {
    const PortRow& row = GetParam();
    try {
        const int port = TAsyncSocket::SocketResolvePort(row.text, "tcp");
        EXPECT_EQ(port, row.port);
    } catch (const ESocketException& e) {
        EXPECT_EQ(row.port, -1) << e.text().toStdString();
        EXPECT_EQ(e.text(), row.message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SocketResolvePortTable,
    ::testing::Values(PortRow{"21", 21, ""}, PortRow{"ftp", 21, ""}, PortRow{"http", 80, ""},
                      PortRow{"8080abc", 8080, ""}, PortRow{"0", 0, ""}, PortRow{"65535", 65535, ""},
                      PortRow{"65536", -1, "SocketResolvePort: Invalid Port."},
                      PortRow{"", -1, "SocketResolvePort: Invalid Port."},
                      PortRow{"12345678901234567890123456789012", -1, "SocketResolvePort: Invalid Port."},
                      PortRow{"no-such-service", -1, "SocketResolvePort: Cannot convert port 'no-such-service'"}));

TEST(SocketResolvers, ProtocolsGiveTheirNumbers) {
    EXPECT_EQ(TAsyncSocket::SocketResolveProto("tcp"), 6);
    EXPECT_EQ(TAsyncSocket::SocketResolveProto("udp"), 17);
    EXPECT_EQ(TAsyncSocket::SocketResolveProto("17"), 17);
    EXPECT_THROW(TAsyncSocket::SocketResolveProto(""), ESocketException);
    try {
        TAsyncSocket::SocketResolveProto("nonsense");
        ADD_FAILURE();
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.text(), "SocketResolveProto: Cannot convert protocol 'nonsense'");
    }
}

struct DottedRow {
    const char* text;
    bool dotted;
};

class SocketDottedAddress : public ::testing::TestWithParam<DottedRow> {};

TEST_P(SocketDottedAddress, Recognised) {
    EXPECT_EQ(TAsyncSocket::IsDottedAddress(GetParam().text), GetParam().dotted) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Rows, SocketDottedAddress,
                         ::testing::Values(DottedRow{"127.0.0.1", true}, DottedRow{" 10.0.0.255 ", true},
                                           DottedRow{"255.255.255.255", true}, DottedRow{"256.1.1.1", false},
                                           DottedRow{".1.1.1", false}, DottedRow{"1.1.1.", false},
                                           DottedRow{"1..1.1", false}, DottedRow{"1.1.1", false},
                                           DottedRow{"1.1.1.1.1", false}, DottedRow{"host.example", false},
                                           DottedRow{"", false}));

TEST(SocketResolvers, HostTextsResolveOrAreRefused) {
    EXPECT_EQ(TAsyncSocket::SocketResolveHost("127.0.0.1"), htonl(INADDR_LOOPBACK));
    // Groups are decimal: a leading zero does not make them octal.
    EXPECT_EQ(TAsyncSocket::SocketResolveHost("010.0.0.1"), htonl(0x0a000001));
    EXPECT_EQ(TAsyncSocket::SocketResolveHost("localhost"), htonl(INADDR_LOOPBACK));
    try {
        TAsyncSocket::SocketResolveHost("");
        ADD_FAILURE();
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.text(), "SocketResolveHost: '' Invalid Hostname.");
    }
    EXPECT_THROW(TAsyncSocket::SocketResolveHost(QString(257, 'a')), ESocketException);
}
