#include "http/http_response_parser.h"

#include <QList>
#include <gtest/gtest.h>

namespace {

QList<QByteArray> linesOf(HttpLineBuffer& buffer) {
    QList<QByteArray> lines;
    while (auto line = buffer.takeLine())
        lines << *line;
    return lines;
}

// Feeding all at once and one byte at a time must cut the same lines and leave the
// same rest.
TEST(HttpLineBufferTest, ByteAtATimeGivesTheSameLines) {
    const QByteArray input = "HTTP/1.1 200 OK\r\nA: 1\nB: x\r\r\nC:\rmid\r\n\r\nbody\r\nmore";
    const QByteArray withNul = input + QByteArray("\0tail\0z\n", 8);
    const QList<QByteArray> expected = {"HTTP/1.1 200 OK", "A: 1", "B: x\r", "C:\rmid", "", "body",
                                        QByteArray("more\0tail\0z", 11)};
    HttpLineBuffer whole;
    ASSERT_EQ(whole.append(withNul.constData(), withNul.size()), withNul.size());
    EXPECT_EQ(linesOf(whole), expected);
    EXPECT_EQ(whole.size(), 0);

    HttpLineBuffer dribbled;
    QList<QByteArray> got;
    for (char c : withNul) {
        dribbled.append(&c, 1);
        got << linesOf(dribbled);
    }
    EXPECT_EQ(got, expected);
}

TEST(HttpLineBufferTest, RestStaysForTheBody) {
    HttpLineBuffer buffer;
    const QByteArray input = "X: y\r\n\r\nbinary\r\ndata";
    buffer.append(input.constData(), input.size());
    EXPECT_EQ(buffer.takeLine(), QByteArray("X: y"));
    EXPECT_EQ(buffer.takeLine(), QByteArray(""));
    EXPECT_EQ(buffer.takeAll(), QByteArray("binary\r\ndata"));
    EXPECT_EQ(buffer.size(), 0);
}

TEST(HttpLineBufferTest, CapacityBoundsOneLine) {
    HttpLineBuffer buffer;
    const QByteArray longLine(HttpLineBuffer::kCapacity + 10, 'a');
    EXPECT_EQ(buffer.append(longLine.constData(), longLine.size()), HttpLineBuffer::kCapacity);
    EXPECT_TRUE(buffer.full());
    EXPECT_EQ(buffer.room(), 0);
    EXPECT_FALSE(buffer.takeLine().has_value());

    // A line of 8191 bytes and its LF fit exactly.
    HttpLineBuffer exact;
    const QByteArray fits = QByteArray(HttpLineBuffer::kCapacity - 1, 'b') + '\n';
    ASSERT_EQ(exact.append(fits.constData(), fits.size()), fits.size());
    EXPECT_EQ(exact.takeLine()->size(), HttpLineBuffer::kCapacity - 1);
}

struct LineCase {
    const char* line;
    HttpHeaderLine::Kind kind;
    int statusCode;
    const char* reason;
    const char* name;
    const char* value;
};

class HttpHeaderLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(HttpHeaderLineTest, Classifies) {
    const LineCase& c = GetParam();
    const HttpHeaderLine got = ParseHttpHeaderLine(QByteArray(c.line));
    EXPECT_EQ(got.kind, c.kind) << c.line;
    EXPECT_EQ(got.statusCode, c.statusCode) << c.line;
    EXPECT_EQ(got.reason, QByteArray(c.reason)) << c.line;
    EXPECT_EQ(got.name, QByteArray(c.name)) << c.line;
    EXPECT_EQ(got.value, QByteArray(c.value)) << c.line;
}

using K = HttpHeaderLine;
INSTANTIATE_TEST_SUITE_P(
    Table, HttpHeaderLineTest,
    ::testing::Values(
        LineCase{"", K::End, -1, "", "", ""},
        LineCase{"HTTP/1.1 404 Not Found", K::Status, 404, "Not Found", "", ""},
        LineCase{"HTTP/1.0 200 OK", K::Status, 200, "OK", "", ""},
        LineCase{"HTTP/1.0 302", K::Status, 302, "", "", ""},
        LineCase{"HTTP/1.1 2x0 Odd", K::Status, -1, "Odd", "", ""},
        LineCase{"HTTP/1.1 20", K::Status, -1, "", "", ""},
        LineCase{"http/1.1 200 OK", K::Other, -1, "", "", ""},  // the version is case-sensitive
        LineCase{"HTTP/2 200", K::Other, -1, "", "", ""},
        LineCase{"HTTP/2: 200", K::Field, -1, "", "http/2", "200"},
        LineCase{"<html><body>", K::Html, -1, "", "", ""},
        LineCase{"<HtMl>", K::Html, -1, "", "", ""},
        LineCase{"<htm>", K::Other, -1, "", "", ""},
        LineCase{"Content-Length:   1234", K::Field, -1, "", "content-length", "1234"},
        LineCase{"Location:http://a/b", K::Field, -1, "", "location", "http://a/b"},
        LineCase{"X-Empty:", K::Field, -1, "", "x-empty", ""},
        LineCase{"Server: a:b:c", K::Field, -1, "", "server", "a:b:c"},
        LineCase{"no colon here", K::Other, -1, "", "", ""}));

TEST(HttpFieldValueTest, ContentLengthAcceptsOnlyCounts) {
    EXPECT_EQ(ParseContentLength("0"), 0);
    EXPECT_EQ(ParseContentLength("5368709120"), Q_INT64_C(5368709120));
    EXPECT_EQ(ParseContentLength(" 12 "), 12);
    EXPECT_EQ(ParseContentLength("7, 7"), 7);  // a repeated field folded into one
    EXPECT_EQ(ParseContentLength("9223372036854775807"), Q_INT64_C(9223372036854775807));
    for (const char* bad : {"", "-1", "12a", "0x10", "9223372036854775808", "1 2", "7,", "99999999999999999999"})
        EXPECT_FALSE(ParseContentLength(bad).has_value()) << bad;
}

TEST(HttpFieldValueTest, ChunkedOnlyAsTheLastCoding) {
    for (const char* chunked : {"chunked", "Chunked", " gzip, CHUNKED ", "x,chunked"})
        EXPECT_TRUE(IsChunkedTransferEncoding(chunked)) << chunked;
    for (const char* other : {"", "identity", "chunked, gzip", "chunkedx", "not-chunked"})
        EXPECT_FALSE(IsChunkedTransferEncoding(other)) << other;
}

TEST(HttpFieldValueTest, ContentRangeGivesFirstAndLastByte) {
    struct {
        const char* value;
        const char* begin;
        const char* end;
    } const cases[] = {{"bytes 100-199/500", "100", "199"},
                       {"bytes 0-0/1", "0", "0"},
                       {"bytes 100-199", "100", ""},
                       {"bytes */500", "", ""},
                       {"b-", "", ""}};
    for (const auto& c : cases) {
        const HttpContentRange got = ParseContentRange(c.value);
        EXPECT_EQ(got.begin, QByteArray(c.begin)) << c.value;
        EXPECT_EQ(got.end, QByteArray(c.end)) << c.value;
    }
}

// What a 206 must say before its body may go into a part file.
TEST(HttpFieldValueTest, ByteContentRangeOnlyWhenEveryNumberIsPlainAndInOrder) {
    struct {
        const char* value;
        qint64 first, last, total;  // -1: refused
    } const cases[] = {{"bytes 100-199/500", 100, 199, 500},
                       {"Bytes 0-0/1", 0, 0, 1},
                       {" bytes 0-9223372036854775806/9223372036854775807 ", 0, 9223372036854775806, 9223372036854775807},
                       {"bytes */500", -1, 0, 0},
                       {"bytes 0-9/*", -1, 0, 0},
                       {"bytes 100-199", -1, 0, 0},
                       {"bytes 200-100/500", -1, 0, 0},
                       {"bytes 0-500/500", -1, 0, 0},
                       {"bytes -1-5/10", -1, 0, 0},
                       {"bytes 1 -5/10", -1, 0, 0},
                       {"bytes 0-5/99999999999999999999", -1, 0, 0},
                       {"items 0-5/10", -1, 0, 0}};
    for (const auto& c : cases) {
        const std::optional<HttpByteRange> got = ParseByteContentRange(c.value);
        ASSERT_EQ(got.has_value(), c.first >= 0) << c.value;
        if (got) {
            EXPECT_EQ(QList<qint64>({got->first, got->last, got->total}), QList<qint64>({c.first, c.last, c.total}))
                << c.value;
        }
    }
}

}  // namespace
