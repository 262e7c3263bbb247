// UrlCheck against scripted servers: what a published part's address serves, judged by
// a HEAD's length or a GET's CRC, and every wait bounded.
#include "http/url_check.h"
#include "support/event_wait.h"
#include "support/manifest_maker.h"
#include "support/scripted_server.h"

#include <gtest/gtest.h>

namespace {

const QByteArray kPart = "twelve bytes";
const QByteArray kOther = "twelve BYTES";

Dialogue answer(const QByteArray& response) { return {ScriptStep::readUntil("\r\n\r\n"), ScriptStep::send(response)}; }

struct CheckCase {
    const char* name;
    UrlCheckMode mode;
    QList<Dialogue> dialogues;
    QStringList methods;  // the request line's first word, per connection
    bool ok;
    int status;
    qint64 length;
    QString crc;
    QString reason;
};

TEST(UrlCheckTest, JudgesWhatTheAddressServes) {
    const QByteArray ok12 = "HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\n";
    const QString partCrc = CrcTextOf(kPart);
    const CheckCase rows[] = {
        {"HEAD, the right length", UrlCheckMode::Length, {answer(ok12)}, {"HEAD"}, true, 200, 12, "", ""},
        {"HEAD, 404", UrlCheckMode::Length, {answer("HTTP/1.1 404 Not Found\r\nContent-Length: 12\r\n\r\n")},
         {"HEAD"}, false, 404, -1, "", "404 Not Found"},
        {"HEAD, another length", UrlCheckMode::Length, {answer("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n")},
         {"HEAD"}, false, 200, 10, "", "length 10 instead of 12"},
        {"HEAD without a length, then a GET counts", UrlCheckMode::Length,
         {answer("HTTP/1.0 200 OK\r\n\r\n"), answer("HTTP/1.0 200 OK\r\n\r\n" + kPart)}, {"HEAD", "GET"}, true, 200,
         12, "", ""},
        {"HEAD without a length, a GET finds it short", UrlCheckMode::Length,
         {answer("HTTP/1.0 200 OK\r\n\r\n"), answer("HTTP/1.0 200 OK\r\n\r\nshort")}, {"HEAD", "GET"}, false, 200, 5,
         "", "length 5 instead of 12"},
        {"GET, the right CRC", UrlCheckMode::Crc, {answer(ok12 + kPart)}, {"GET"}, true, 200, 12, partCrc, ""},
        {"GET, another CRC", UrlCheckMode::Crc, {answer(ok12 + kOther)}, {"GET"}, false, 200, 12, CrcTextOf(kOther),
         "CRC " + CrcTextOf(kOther) + " instead of " + partCrc},
        {"GET, another length announced ends at the header", UrlCheckMode::Crc,
         {answer("HTTP/1.1 200 OK\r\nContent-Length: 900000000\r\n\r\n") << ScriptStep::stall()}, {"GET"}, false, 200,
         900000000, "", "length 900000000 instead of 12"},
        {"GET, more than the part without a length", UrlCheckMode::Crc,
         {answer("HTTP/1.0 200 OK\r\n\r\n" + kPart + "x") << ScriptStep::stall()}, {"GET"}, false, 200, 13, "",
         "longer than 12 bytes"},
        {"a silent server", UrlCheckMode::Length, {{ScriptStep::readUntil("\r\n\r\n"), ScriptStep::stall()}},
         {"HEAD"}, false, 0, -1, "", "no response header within 1 s"},
        {"a server silent mid-body", UrlCheckMode::Crc, {answer(ok12 + "twel") << ScriptStep::stall()}, {"GET"},
         false, 200, 4, "", "no data for 1 s after 4 bytes"},
        {"a relocation to the right place", UrlCheckMode::Crc,
         {answer("HTTP/1.0 302 Found\r\nLocation: /right.bin\r\nContent-Length: 3\r\n\r\nabc"), answer(ok12 + kPart)},
         {"GET", "GET"}, true, 200, 12, partCrc, ""},
        {"not checked", UrlCheckMode::Off, {}, {}, true, 0, -1, "", ""},
    };
    for (const CheckCase& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedServer server(row.dialogues);
        UrlCheck check;
        QList<UrlCheckOutcome> outcomes;
        check.onDone = [&](const UrlCheckOutcome& o) { outcomes << o; };
        check.start(server.url("/part.bin"), row.mode, kPart.size(), partCrc, 1);
        EXPECT_TRUE(check.busy());
        EXPECT_TRUE(outcomes.isEmpty()) << "never inside start()";
        ASSERT_TRUE(waitUntil([&] { return !outcomes.isEmpty(); }, 5000));
        runLoopFor(50);
        ASSERT_EQ(outcomes.size(), 1);
        const UrlCheckOutcome& o = outcomes.first();
        EXPECT_EQ(o.ok, row.ok);
        EXPECT_EQ(o.statusCode, row.status);
        EXPECT_EQ(o.length, row.length);
        EXPECT_EQ(o.crc, row.crc);
        EXPECT_EQ(o.reason, row.reason);
        EXPECT_FALSE(check.busy());
        ASSERT_EQ(server.connectionCount(), row.methods.size());
        for (int i = 0; i < row.methods.size(); ++i)
            EXPECT_TRUE(server.received(i).startsWith(row.methods[i].toLatin1() + ' ')) << i;
    }
}

TEST(UrlCheckTest, AnAbortedOrDestroyedCheckReportsNothing) {
    ScriptedServer server({{ScriptStep::readUntil("\r\n\r\n"), ScriptStep::stall()}}, true);
    int reports = 0;
    UrlCheck check;
    check.onDone = [&](const UrlCheckOutcome&) { ++reports; };
    check.start(server.url("/a"), UrlCheckMode::Crc, 12, "00000000", 1);
    ASSERT_TRUE(waitUntil([&] { return server.connectionCount() == 1; }, 5000));
    check.abort();
    EXPECT_FALSE(check.busy());
    {
        auto dropped = std::make_unique<UrlCheck>();
        dropped->onDone = [&](const UrlCheckOutcome&) { ++reports; };
        dropped->start(server.url("/b"), UrlCheckMode::Off, 0, QString(), 1);
    }
    runLoopFor(1500);  // past the time-out of the aborted check
    EXPECT_EQ(reports, 0);
}

}  // namespace
