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
    if (c.fastTicks)
        h.tickEvery(50);
    for (bool yes : c.confirms)
        h.prompt.answerConfirm(yes);
    ASSERT_EQ(h.load(ManifestLinesFor("big.iso", {c.part}, {server.url("/p/big.iso.001")})), FillOutcome::StartFirstPass);
    ASSERT_TRUE(h.waitEnd()) << "the gather neither rested nor rebuilt";

    EXPECT_EQ(h.cell(0, DownloadColumn::Status), c.status);
    EXPECT_EQ(h.cell(0, DownloadColumn::CrcOk), c.crcOk);
    EXPECT_EQ(h.cell(0, DownloadColumn::Attempts), QString::number(c.attempts));
    EXPECT_EQ(server.requests("/p/big.iso.001"), c.attempts) << "one request per attempt, none more";
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
