#include "http/parse_url.h"

#include <gtest/gtest.h>

namespace {

struct UrlCase {
    const char* text;
    const char* scheme;
    const char* user;
    const char* password;
    const char* host;
    const char* port;
    const char* path;
};

class ParseUrlTest : public ::testing::TestWithParam<UrlCase> {};

TEST_P(ParseUrlTest, SplitsAsExpected) {
    const UrlCase& c = GetParam();
    const ParsedUrl got = ParseURL(QString::fromUtf8(c.text));
    EXPECT_EQ(got.scheme, QString::fromUtf8(c.scheme)) << c.text;
    EXPECT_EQ(got.user, QString::fromUtf8(c.user)) << c.text;
    EXPECT_EQ(got.password, QString::fromUtf8(c.password)) << c.text;
    EXPECT_EQ(got.host, QString::fromUtf8(c.host)) << c.text;
    EXPECT_EQ(got.port, QString::fromUtf8(c.port)) << c.text;
    EXPECT_EQ(got.path, QString::fromUtf8(c.path)) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseUrlTest,
    ::testing::Values(
        UrlCase{"", "", "", "", "", "", ""},
        UrlCase{"http://example.com", "http", "", "", "example.com", "", ""},
        UrlCase{"http://example.com/", "http", "", "", "example.com", "", "/"},
        UrlCase{"http://example.com:8080/a/b.bin?x=1#f", "http", "", "", "example.com", "8080", "/a/b.bin?x=1#f"},
        UrlCase{"http://joe:se:cret@host:81/p", "http", "joe", "se:cret", "host", "81", "/p"},
        UrlCase{"http://joe@host/p", "http", "joe", "", "host", "", "/p"},
        UrlCase{"http://joe:pw@host/p", "http", "joe", "pw", "host", "", "/p"},
        UrlCase{"ftp://host:ftp", "ftp", "", "", "host", "ftp", ""},
        UrlCase{"/only/a/path", "http", "", "", "", "", "/only/a/path"},
        UrlCase{"/", "http", "", "", "", "", "/"},
        UrlCase{"HTTP:/x/y", "http", "", "", "", "", "/x/y"},
        UrlCase{"http:host", "http", "", "", "", "", "host"},  // a path straight after the colon
        UrlCase{"http:h", "http", "", "", "", "", ""},        // six characters: the rest is empty
        UrlCase{"http:/", "http", "", "", "", "", ""},
        UrlCase{"mailto:someone@example.com", "mailto", "someone", "", "example.com", "", ""},
        UrlCase{"page.htm", "", "", "", "page.htm", "", ""},
        UrlCase{"host:99/x", "", "", "", "host", "99", "/x"},
        UrlCase{"//other.host/dir/f", "", "", "", "other.host", "", "/dir/f"},
        UrlCase{"http://:80/x", "http", "", "", "", "80", "/x"},
        UrlCase{"http:///x", "http", "", "", "", "", "/x"},
        // IPv6 in brackets; anything else after a "[" (a zone too) leaves the host empty.
        UrlCase{"http://[2001:db8::1]:8080/p/x.bin", "http", "", "", "2001:db8::1", "8080", "/p/x.bin"},
        UrlCase{"ftp://u:p@[::1]:2121/dir/x", "ftp", "u", "p", "::1", "2121", "/dir/x"},
        UrlCase{"[::1]:99/x", "", "", "", "::1", "99", "/x"},
        UrlCase{"http://[::1/x", "http", "", "", "", "", "/x"},
        UrlCase{"http://[::1]8080/x", "http", "", "", "", "", "/x"},
        UrlCase{"http://[host.example]/x", "http", "", "", "", "", "/x"},
        UrlCase{"http://[fe80::1%25eth0]:80/x", "http", "", "", "", "", "/x"}));

}  // namespace
