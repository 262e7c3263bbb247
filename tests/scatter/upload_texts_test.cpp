// The small rules of an upload run, as tables: where a typed FTP host connects, what the
// Progress column shows, what a log line may show of a password.
#include "scatter/ftp_site_address.h"
#include "ftp/password_mask.h"
#include "scatter/upload_settings.h"
#include "scatter/upload_table.h"

#include <gtest/gtest.h>

namespace {

TEST(FtpSiteAddress, APortIsTakenOnlyWhenItIsOne) {
    struct Row {
        const char* typed;
        const char* host;
        const char* port;
    };
    const Row rows[] = {
        {"ftp.example.com", "ftp.example.com", "ftp"},  // the FTP port, 21
        {"ftp.example.com:2121", "ftp.example.com", "2121"},
        {"  127.0.0.1:65535 ", "127.0.0.1", "65535"},
        {"[2001:db8::1]:990", "2001:db8::1", "990"},
        {"[2001:db8::1]", "2001:db8::1", "ftp"},
        {"[::1]:2121", "::1", "2121"},
        {"[::1", "[::1", "ftp"},  // never closed: the lookup reports the name
        {"2001:db8::1", "2001:db8::1", "ftp"},  // a bare IPv6 address has no port
        {"host:0", "host:0", "ftp"},             // not a port: the lookup reports the name
        {"host:65536", "host:65536", "ftp"},
        {"host:+21", "host:+21", "ftp"},
        {"host:", "host:", "ftp"},
        {":21", ":21", "ftp"},
        {"[::1]x", "[::1]x", "ftp"},
    };
    for (const Row& row : rows) {
        const FtpSiteAddress address = SplitFtpSite(row.typed);
        EXPECT_EQ(address.host, row.host) << row.typed;
        EXPECT_EQ(address.port, row.port) << row.typed;
    }
}

TEST(UploadPercent, TruncatedAndExactForAnySize) {
    struct Row {
        qint64 sent;
        qint64 size;
        const char* shown;
    };
    const Row rows[] = {
        {0, 50000000, "0%"},
        {499999, 50000000, "0%"},
        {500000, 50000000, "1%"},
        {49999999, 50000000, "99%"},  // never a finished look before the last byte
        {50000000, 50000000, "100%"},
        {0, 0, "100%"},               // an empty part has nothing left to send
        {3LL << 31, 1LL << 33, "75%"},  // beyond 32 bits
        {INT64_MAX - 1, INT64_MAX, "99%"},  // sent * 100 needs more than 64 bits
    };
    for (const Row& row : rows)
        EXPECT_EQ(UploadPercent(row.sent, row.size), row.shown) << row.sent << " of " << row.size;
}

TEST(RetryWait, DoublesFromOneSecondToThirtyAndStaysThere) {
    const UploadSettings classic;
    const int expected[] = {1000, 2000, 4000, 8000, 16000, 30000, 30000};
    for (int failures = 1; failures <= 7; ++failures)
        EXPECT_EQ(RetryWaitMs(failures, classic), expected[failures - 1]) << failures;
    EXPECT_EQ(RetryWaitMs(1000000, classic), 30000) << "a day of failures, still 30 s";
    UploadSettings odd;
    odd.firstRetryWaitMs = 0;
    odd.longestRetryWaitMs = 5;
    EXPECT_EQ(RetryWaitMs(1, odd), 0);
    EXPECT_EQ(RetryWaitMs(2, odd), 2) << "a first wait of 0 still grows";
    EXPECT_EQ(RetryWaitMs(9, odd), 5);
}

TEST(PasswordMask, NoLineShowsThePassword) {
    struct Row {
        const char* line;
        const char* password;
        const char* shown;
    };
    const Row rows[] = {
        {"> PASS s3cret-pw", "s3cret-pw", "> PASS ****"},
        {"> PASS abc", "abc", "> PASS ****"},  // however short
        {"> PASS ", "", "> PASS ****"},
        {"< 530 Login incorrect for s3cret-pw", "s3cret-pw", "< 530 Login incorrect for ****"},
        {"LastResponse was : '331 s3cret-pw s3cret-pw'", "s3cret-pw", "LastResponse was : '331 **** ****'"},
        {"< 530 'abc' is wrong", "abc", "< 530 '****' is wrong"},  // however short, where it stands as a whole
        {"< 331 abcd, xabc", "abc", "< 331 abcd, xabc"},           // but not as a piece of another word
        {"> STOR part1.bin", "", "> STOR part1.bin"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(MaskPassword(row.line, row.password), row.shown) << row.line;
}

}  // namespace
