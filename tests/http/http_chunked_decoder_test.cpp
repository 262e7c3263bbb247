#include "http/http_chunked_decoder.h"

#include <QByteArray>
#include <gtest/gtest.h>

namespace {

using Result = HttpChunkedDecoder::Result;

struct Decoded {
    Result result = Result::Incomplete;
    QByteArray body;
    qint64 used = 0;
};

Decoded decodeWhole(const QByteArray& input) {
    HttpChunkedDecoder decoder;
    Decoded out;
    out.result = decoder.feed(input.constData(), input.size(),
                              [&](const char* run, qint64 size) { out.body.append(run, size); }, &out.used);
    return out;
}

// One byte per call: the decoder must keep every bit of its place between calls.
Decoded decodeDribbled(const QByteArray& input) {
    HttpChunkedDecoder decoder;
    Decoded out;
    for (char c : input) {
        qint64 used = 0;
        out.result = decoder.feed(&c, 1, [&](const char* run, qint64 size) { out.body.append(run, size); }, &used);
        out.used += used;
        if (used == 0)
            break;
    }
    EXPECT_EQ(decoder.result(), out.result);
    return out;
}

struct ChunkCase {
    const char* name;
    QByteArray input;
    Result result;
    QByteArray body;
    qint64 used;  // -1: the whole input
};

class HttpChunkedDecoderTest : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(HttpChunkedDecoderTest, WholeAndByteByByteAgree) {
    const ChunkCase& c = GetParam();
    const qint64 used = c.used < 0 ? c.input.size() : c.used;
    for (const Decoded& got : {decodeWhole(c.input), decodeDribbled(c.input)}) {
        EXPECT_EQ(got.result, c.result) << c.name;
        EXPECT_EQ(got.body, c.body) << c.name;
        EXPECT_EQ(got.used, used) << c.name;
    }
}

QByteArray trailerLines(int count) {
    QByteArray lines = "0\r\n";
    for (int i = 0; i < count; ++i)
        lines += "T" + QByteArray::number(i) + ": x\r\n";
    return lines + "\r\n";
}

INSTANTIATE_TEST_SUITE_P(
    Table, HttpChunkedDecoderTest,
    ::testing::Values(
        ChunkCase{"two chunks", "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n", Result::Ok, "hello world", -1},
        ChunkCase{"bare LF", "5\nhello\n0\n\n", Result::Ok, "hello", -1},
        ChunkCase{"hex in both cases", "a\r\n0123456789\r\nB\r\nabcdefghijk\r\n0\r\n\r\n", Result::Ok,
                  "0123456789abcdefghijk", -1},
        ChunkCase{"extensions ignored", "5;a=b;c=\"d\"\r\nhello\r\n0 ; last\r\n\r\n", Result::Ok, "hello", -1},
        ChunkCase{"trailers skipped", "3\r\nabc\r\n0\r\nX: 1\r\nY: 2\n\r\n", Result::Ok, "abc", -1},
        ChunkCase{"bytes after the end are not taken", "0\r\n\r\nGARBAGE", Result::Ok, "", 5},
        ChunkCase{"16 digits", "0000000000000003\r\nabc\r\n0\r\n\r\n", Result::Ok, "abc", -1},
        ChunkCase{"100 trailer lines", trailerLines(100), Result::Ok, "", -1},
        ChunkCase{"cut inside a chunk", "5\r\nhel", Result::Incomplete, "hel", -1},
        ChunkCase{"cut before the last line end", "2\r\nok\r\n0\r\n", Result::Incomplete, "ok", -1},
        ChunkCase{"a huge chunk just begun", "ffffffffffffffff\r\nxyz", Result::Incomplete, "xyz", -1},
        ChunkCase{"17 digits", "00000000000000003\r\nabc", Result::Error, "", 17},
        ChunkCase{"no digits", "\r\n", Result::Error, "", 1},
        ChunkCase{"an extension without a size", ";x\r\n", Result::Error, "", 1},
        ChunkCase{"a letter after the digits", "5g\r\nhello", Result::Error, "", 2},
        ChunkCase{"a sign before the digits", "-5\r\nhello", Result::Error, "", 1},
        ChunkCase{"data longer than its size", "3\r\nabcd\r\n", Result::Error, "abc", 7},
        ChunkCase{"a CR without its LF", "3\rabc", Result::Error, "", 3},
        ChunkCase{"an endless extension", "1;" + QByteArray(8200, 'x'), Result::Error, "",
                  HttpChunkedDecoder::kMaxLineBytes + 1},
        // "0\r\n", ten lines of 7 bytes, ninety of 8, and the 101st of 9.
        ChunkCase{"101 trailer lines", trailerLines(101), Result::Error, "", 3 + 10 * 7 + 90 * 8 + 9}),
    [](const auto& row) {
        std::string name = row.param.name;
        for (char& ch : name)
            if (!isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return name;
    });

TEST(HttpChunkedDecoderResetTest, ResetStartsAFreshBody) {
    HttpChunkedDecoder decoder;
    const QByteArray bad = "zz";
    EXPECT_EQ(decoder.feed(bad.constData(), bad.size(), [](const char*, qint64) {}), Result::Error);
    const QByteArray more = "1\r\nx\r\n0\r\n\r\n";
    EXPECT_EQ(decoder.feed(more.constData(), more.size(), [](const char*, qint64) {}), Result::Error);
    decoder.reset();
    QByteArray body;
    EXPECT_EQ(decoder.feed(more.constData(), more.size(), [&](const char* run, qint64 n) { body.append(run, n); }),
              Result::Ok);
    EXPECT_EQ(body, "x");
}

}  // namespace
