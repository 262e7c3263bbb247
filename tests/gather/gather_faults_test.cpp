// One part gathered from a server that misbehaves in one way per row: how the row
// ends, what it showed on the way, how often the part was fetched, and what the user
// was told.
#include "gather_harness.h"
#include "support/manifest_maker.h"
#include "support/part_server.h"
#include "support/test_bytes.h"

#include <QFile>
#include <QRegularExpression>

namespace {

const QByteArray Part = SeededBytes(3000, 1);
const QByteArray Wrong = SeededBytes(3000, 2);
const QByteArray NotFoundPage = "<html><body>404 Not Found</body></html>";

enum class End { Extracted, CrcError, Rest };

struct FaultCase {
    const char* name;
    QList<PartReply> replies;
    QByteArray part = Part;
    // settings
    bool retryOnCrcError = true;
    int attemptsLimit = 100;
    bool checkOnDisk = true;
    bool fastTicks = false;  // the 5-tick time-out in ticks of 50 ms
    bool resume = false;
    int connections = 1;  // per part; with more than 1, a part above 2000 bytes goes in ranges
    int perHost = 4;
    QList<bool> confirms;
    // outcome
    const char* status = "Done.";
    const char* crcOk = "G";
    int attempts = 1;
    QStringList shown;  // statuses the row showed on the way, in order (each matched as a prefix)
    QStringList alerts;  // messages before the final one
    End end = End::Extracted;
    bool stopFlag = false;
    const char* size = "3000";
    int mostIdle = -1;  // checked when not -1
    QStringList asked;  // when not empty: the Range field of every request ("" for none)
    QStringList notes;  // notes for the log, in this order (each matched as a prefix)
    int mostOpen = -1;  // checked when not -1: the most connections open at once, counted by the server
};

// Designated fields in declaration order; a row names only what differs from a part
// that arrives whole at the first attempt.
QList<FaultCase> Cases() {
    using R = PartReply;
    return {
        {.name = "a stall mid-part is aborted by the watchdog and fetched again",
         .replies = {R::stallAfter(Part, 1200), R::ok(Part)}, .fastTicks = true, .attempts = 2,
         .shown = {"Starting...", "40%", "Error:CRC", "Starting...", "100%", "Done."}, .mostIdle = 6},
        // One byte a second never leaves the download idle for a tick, yet is below
        // the lowest speed over the time-out's ticks.
        {.name = "a trickle below the lowest speed is aborted and fetched again",
         .replies = {R::trickle(Part, 1000), R::ok(Part)}, .attempts = 2,
         .shown = {"Starting...", "Too slow: ", "Starting...", "Done."}},
        {.name = "a server that never answers is aborted and asked again", .replies = {R::silent(), R::ok(Part)},
         .fastTicks = true, .attempts = 2, .shown = {"Starting...", "Error:CRC", "Starting...", "Done."}, .mostIdle = 6},
        {.name = "a 404 with a page is a wrong CRC and fetched again", .replies = {R::status(404, NotFoundPage), R::ok(Part)},
         .attempts = 2, .shown = {"404 Error", "Error:CRC", "Done."}},
        {.name = "a 404 without Retry On CRC Error stays", .replies = {R::status(404, NotFoundPage)},
         .retryOnCrcError = false, .status = "404 Error", .crcOk = "R", .end = End::Rest, .size = "39"},
        {.name = "wrong content is fetched until it is right", .replies = {R::ok(Wrong), R::ok(Wrong), R::ok(Part)},
         .attempts = 3, .shown = {"Error:CRC", "Error:CRC", "Done."}},
        {.name = "the attempts limit with a wrong part stops the gather", .replies = {R::ok(Wrong)}, .attemptsLimit = 2,
         .status = "Error:CRC", .crcOk = "R", .attempts = 2, .shown = {"Error:CRC", "Too many attempts Error.", "Error:CRC"},
         .alerts = {"Error, too many attempts to download"}, .end = End::Rest, .stopFlag = true},
        {.name = "the attempts limit reached by a good part", .replies = {R::ok(Part)}, .attemptsLimit = 1,
         .status = "Too many attempts Error.", .alerts = {"Error, too many attempts to download"}, .end = End::Rest,
         .stopFlag = true},
        // The connection closes before the announced length: an error of the request
        // itself, so it is fetched again even without Retry On CRC Error.
        {.name = "a short body is an error and fetched again", .replies = {R::shortBody(Part, 1000), R::ok(Part)},
         .retryOnCrcError = false, .attempts = 2, .shown = {"Starting...", "Error:", "Starting...", "Done."}},
        {.name = "a response without a length shows bytes and passes by its CRC", .replies = {R::withoutLength(Part)},
         .shown = {"Starting...", "3000", "Done."}, .size = "-1"},
        {.name = "a part that stays wrong: the question answered No", .replies = {R::ok(Wrong)},
         .retryOnCrcError = false, .confirms = {false}, .crcOk = "R", .end = End::Rest},
        {.name = "a part that stays wrong: the question answered Yes", .replies = {R::ok(Wrong)},
         .retryOnCrcError = false, .confirms = {true}, .crcOk = "R", .end = End::CrcError},
        {.name = "an empty part is complete as it is", .replies = {R::ok(QByteArray())}, .part = QByteArray(),
         .checkOnDisk = false, .size = "0"},
        // Resumed: the bytes a cut download left are kept only for a 206 that sends the
        // rest of this very part; anything else starts from byte 0.
        {.name = "a body cut at 60 percent is resumed with a range for the rest",
         .replies = {R::shortBody(Part, 1800), R::ranged(Part)}, .resume = true, .attempts = 2,
         .shown = {"Starting...", "Error:CRC", "Starting...", "100%", "Done."}, .asked = {"", "bytes=1800-"},
         .notes = {"resuming at byte 1800"}},
        {.name = "a 206 from another byte starts over",
         .replies = {R::shortBody(Part, 1800), R::ranged(Part, R::WrongStart), R::ok(Part)}, .resume = true,
         .attempts = 3, .shown = {"Error:CRC", "Error:Content-Range \"bytes 900-2999/3000\" for bytes 1800-2999/3000", "Done."},
         .asked = {"", "bytes=1800-", ""}},
        {.name = "a 206 of a document of another size starts over",
         .replies = {R::shortBody(Part, 1800), R::ranged(Part, R::WrongTotal), R::ok(Part)}, .resume = true,
         .attempts = 3, .shown = {"Error:CRC", "Error:Content-Range", "Done."}, .asked = {"", "bytes=1800-", ""}},
        {.name = "a 200 to a resumed request is taken whole from byte 0",
         .replies = {R::shortBody(Part, 1800), R::ranged(Part, R::Whole)}, .resume = true, .attempts = 2,
         .asked = {"", "bytes=1800-"}, .notes = {"resuming at byte 1800", "the server sends the whole part (HTTP 200)"}},
        // In ranges: the first answer tells whether the server sends them.
        {.name = "a range that stalls is asked again alone",
         .replies = {R::ranged(Part), R::ranged(Part).cut(500, R::StallUntilClientCloses), R::ranged(Part)},
         .fastTicks = true, .connections = 2, .attempts = 2, .mostIdle = 6,
         .asked = {"bytes=0-1499", "bytes=1500-", "bytes=2000-"}, .notes = {"bytes 2000-2999 asked again: nothing received"}},
        {.name = "a server without ranges sends the part over one connection", .replies = {R::ok(Part)},
         .connections = 2, .asked = {"bytes=0-1499"}, .notes = {"the server sends the whole part (HTTP 200): fetched from byte 0 over one connection"},
         .mostOpen = 1},
        {.name = "four ranges wanted, the host's cap of two holds", .replies = {R::ranged(Part).slowly(1)},
         .connections = 4, .perHost = 2, .asked = {"bytes=0-749", "bytes=750-1499", "bytes=1500-2249", "bytes=2250-"},
         .mostOpen = 2},
        {.name = "a 503 lowers the host's cap and the range is asked again",
         .replies = {R::status(503, "busy"), R::ranged(Part)}, .connections = 2, .perHost = 2, .attempts = 2,
         .asked = {"bytes=0-1499", "bytes=0-1499", "bytes=1500-"},
         .notes = {"at most 1 connections to 127.0.0.1:", "bytes 0-1499 asked again: HTTP 503"},
         .mostOpen = 1},
    };
}

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

// Every expected status appears, in this order, among the statuses shown.
bool ShowsInOrder(const QStringList& shown, const QStringList& expected) {
    qsizetype next = 0;
    for (const QString& status : shown)
        if (next < expected.size() && status.startsWith(expected[next]))
            ++next;
    return next == expected.size();
}

class GatherFaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(GatherFaultTest, TheRowEndsAsTheUserWouldWant) {
    const FaultCase& c = GetParam();
    PartServer server({{"/p/big.iso.001", c.replies}});
    GatherHarness h;
    h.settings.retryOnCrcError = c.retryOnCrcError;
    h.settings.attemptsLimit = c.attemptsLimit;
    h.settings.checkOnDisk = c.checkOnDisk;
    h.settings.timeoutSeconds = 5;
    h.settings.resume = c.resume;
    h.settings.connectionsPerPart = c.connections;
    h.settings.rangedPartSize = 2000;
    h.settings.perHost = c.perHost;
    if (c.fastTicks)
        h.tickEvery(50);
    for (bool yes : c.confirms)
        h.prompt.answerConfirm(yes);
    ASSERT_EQ(h.load(ManifestLinesFor("big.iso", {c.part}, {server.url("/p/big.iso.001")})), FillOutcome::StartFirstPass);
    ASSERT_TRUE(h.waitEnd()) << "the gather neither rested nor rebuilt";

    EXPECT_EQ(h.cell(0, DownloadColumn::Status), c.status);
    EXPECT_EQ(h.cell(0, DownloadColumn::CrcOk), c.crcOk);
    EXPECT_EQ(h.cell(0, DownloadColumn::Attempts), QString::number(c.attempts));
    if (c.asked.isEmpty()) {
        EXPECT_EQ(server.requests("/p/big.iso.001"), c.attempts) << "one request per attempt, none more";
    } else {
        // Sorted: the requests of ranges that start at once race each other to the server.
        const auto sorted = [](QStringList fields) {
            fields.sort();
            return fields.join(" | ").toStdString();
        };
        EXPECT_EQ(sorted(server.asked("/p/big.iso.001")), sorted(c.asked));
    }
    EXPECT_TRUE(ShowsInOrder(h.notes.value(0), c.notes)) << h.notes.value(0).join(" | ").toStdString();
    if (c.mostOpen >= 0) {
        EXPECT_EQ(server.mostOpen(), c.mostOpen);
    }
    EXPECT_EQ(h.cell(0, DownloadColumn::Size), c.size);
    EXPECT_EQ(h.cell(0, DownloadColumn::SizeOk), QString(c.size) == QString::number(c.part.size()) ? "G" : "R");
    EXPECT_TRUE(ShowsInOrder(h.statuses.value(0), c.shown)) << h.statuses.value(0).join(" | ").toStdString();
    EXPECT_EQ(h.engine.liveCount(), 0);
    EXPECT_EQ(h.engine.stopFlag(), c.stopFlag);
    if (c.mostIdle >= 0) {
        EXPECT_EQ(h.mostIdle.value(0), c.mostIdle) << "aborted at the first tick past the time-out";
        EXPECT_EQ(h.cell(0, DownloadColumn::IdleSeconds), "0");
    }

    QStringList messages = c.alerts;
    switch (c.end) {
    case End::Extracted:
        messages << "Extracted " + h.outputPath() + " successfully!";
        EXPECT_EQ(h.readOutput(), c.part);
        break;
    case End::CrcError:
        messages << "CRC Error on " + h.outputPath();
        EXPECT_EQ(h.readOutput(), Wrong) << "built from what lay on disk";
        break;
    case End::Rest:
        EXPECT_EQ(h.rests, 1);
        EXPECT_FALSE(QFile::exists(h.outputPath()));
        break;
    }
    EXPECT_EQ(h.prompt.messages(), messages);
    EXPECT_EQ(h.rebuilt.size(), c.end == End::Rest ? 0 : 1);
    QStringList questions;
    for (const ScriptedPrompt::Shown& s : h.prompt.shown())
        if (s.kind == ScriptedPrompt::Kind::Confirm)
            questions << s.text;
    EXPECT_EQ(questions.size(), c.confirms.size());
    for (const QString& q : questions)
        EXPECT_EQ(q, "There is an error in one of the parts.  Shall we still try to build the final file?");
}

INSTANTIATE_TEST_SUITE_P(Server, GatherFaultTest, ::testing::ValuesIn(Cases()), [](const auto& row) {
    QString name = QString::fromLatin1(row.param.name);
    name.replace(QRegularExpression("[^A-Za-z0-9]+"), "_");
    return name.toStdString();
});

}  // namespace
