// The reply reader and the scans of reply lines, table-driven, each stream fed whole
// and byte by byte (the lines must not change).
#include "ftp/ftp_reply.h"

#include <QList>
#include <cstring>

#include <gtest/gtest.h>

namespace {

QList<QByteArray> readAll(const QByteArray& stream, bool acceptLF, qint64 chunk, bool* overflow = nullptr) {
    FtpReplyReader reader;
    QList<QByteArray> lines;
    for (qint64 pos = 0; pos < stream.size();) {
        const qint64 n = qMin(qMin(chunk, stream.size() - pos), reader.room());
        if (n == 0) {
            if (overflow)
                *overflow = true;
            break;
        }
        memcpy(reader.writePtr(), stream.constData() + pos, size_t(n));
        reader.commit(n);
        pos += n;
        while (auto line = reader.takeLine(acceptLF))
            lines << *line;
    }
    return lines;
}

struct StreamCase {
    const char* name;
    QByteArray stream;
    bool acceptLF;
    QList<QByteArray> lines;
};

TEST(FtpReplyReaderTest, CutsTheStreamIntoLines) {
    const StreamCase cases[] = {
        {"CR LF lines", "220 hi\r\n331 pw\r\n", true, {"220 hi", "331 pw"}},
        {"bare LF accepted", "220 hi\n230 in\n", true, {"220 hi", "230 in"}},
        {"bare LF without ftpAcceptLF stays inside the line", "220 a\nb\r\n230 x\n", false, {"220 a\nb"}},
        {"every CR and LF at the end goes", "220 a\r\r\n", true, {"220 a"}},
        {"empty lines are lines", "\r\n\n230 x\r\n", true, {"", "", "230 x"}},
        {"an unfinished line waits", "220 a\r\n230 par", true, {"220 a"}},
        {"NUL is an ordinary byte", QByteArray("2\0 x\r\n", 6), true, {QByteArray("2\0 x", 4)}},
    };
    for (const StreamCase& c : cases) {
        EXPECT_EQ(readAll(c.stream, c.acceptLF, 4096), c.lines) << c.name;
        EXPECT_EQ(readAll(c.stream, c.acceptLF, 1), c.lines) << c.name << " (byte by byte)";
    }
}

TEST(FtpReplyReaderTest, AFullBufferWithoutALineEndLeavesNoRoom) {
    bool overflow = false;
    const QList<QByteArray> lines = readAll(QByteArray(5000, 'x') + "\r\n", true, 1000, &overflow);
    EXPECT_TRUE(overflow);
    EXPECT_TRUE(lines.isEmpty());
    // Exactly one byte less than the buffer still makes a line.
    overflow = false;
    const QByteArray longest(FtpReplyReader::kCapacity - 1, 'y');
    EXPECT_EQ(readAll(longest + "\n", true, 700, &overflow), QList<QByteArray>{longest});
    EXPECT_FALSE(overflow);
}

TEST(FtpReplyScanTest, ReadsCodesNumbersPathsAndPassivePorts) {
    struct Row {
        QByteArray line;
        bool numbered, final;
        int code;
        qint64 number;
        QByteArray path;
    };
    const Row rows[] = {
        {"230 Login ok", true, true, 230, 0, ""},
        {"230-Welcome", true, false, 230, 0, ""},
        {" 230 indented text", false, false, 0, 0, ""},
        {"", false, false, 0, 0, ""},
        {"2301 four digits", true, true, 2301, 0, ""},
        {"213 123456789012", true, true, 213, 123456789012LL, ""},
        {"213  -12", true, true, 213, -12, ""},
        {"99999999999999999999999 x", true, true, 999999999, 0, ""},
        {"257 \"/home/a \"\"b\"\"\" created", true, true, 257, 0, "/home/a \"b\""},
        {"257   \"/open", true, true, 257, 0, "/open"},
        {"257 /not quoted", true, true, 257, 0, ""},
    };
    for (const Row& r : rows) {
        const FtpReplyCode c = ScanFtpReplyCode(r.line);
        EXPECT_EQ(c.numbered, r.numbered) << r.line.constData();
        EXPECT_EQ(c.final, r.final) << r.line.constData();
        if (r.numbered) {
            EXPECT_EQ(c.code, r.code) << r.line.constData();
        }
        EXPECT_EQ(FtpReplyNumber(r.line), r.number) << r.line.constData();
        EXPECT_EQ(FtpReplyQuotedPath(r.line), r.path) << r.line.constData();
    }

    struct PortRow {
        QByteArray line;
        std::optional<quint16> extended, classic;
    };
    const PortRow ports[] = {
        {"229 Entering Extended Passive Mode (|||50123|)", 50123, std::nullopt},
        {"229 ok (!!!21!)", 21, std::nullopt},
        {"229 broken (|||70000|)", std::nullopt, std::nullopt},
        {"227 Entering Passive Mode (10,0,0,7,195,80)", std::nullopt, 195 * 256 + 80},
        {"227 =127,0,0,1,4,1", std::nullopt, 1025},
        {"227 (1,2,3,4,5)", std::nullopt, std::nullopt},
        {"227 (1,2,3,4,256,1)", std::nullopt, std::nullopt},
        {"227 (1,2,3,4,0,0)", std::nullopt, std::nullopt},
    };
    for (const PortRow& p : ports) {
        EXPECT_EQ(FtpExtendedPassivePort(p.line), p.extended) << p.line.constData();
        EXPECT_EQ(FtpPassivePort(p.line), p.classic) << p.line.constData();
    }
}

TEST(FtpReplyScanTest, StatisticsLineUsesIntegerArithmetic) {
    struct Row {
        qint64 count, ms;
        const char* text;
    };
    const Row rows[] = {
        {1000, 500, "! 1000 bytes received/sent in 0 seconds (2000 Bytes/sec)"},
        {100000, 3000, "! 100000 bytes received/sent in 3 seconds (33000 Bytes/sec)"},
        {32767, 3000, "! 32767 bytes received/sent in 3 seconds (10922 Bytes/sec)"},
        {0, 0, "! 0 bytes received/sent in 0 seconds"},
        {5000000000LL, 2000, "! 5000000000 bytes received/sent in 2 seconds (2500000000 Bytes/sec)"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(FtpTransferStatistics(r.count, r.ms), QString::fromLatin1(r.text));
}

}  // namespace
