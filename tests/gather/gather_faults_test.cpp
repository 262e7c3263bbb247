// One part gathered from a server that misbehaves in one way per row: how the row
// ends, what it showed on the way, how often the part was fetched, and what the user
// was told. In the rows of a version-2 manifest the part is the first of three data
// parts with two recovery parts: which recovery parts are fetched, and what the log says.
#include "crc/crc32.h"
#include "gather/gather_paths.h"
#include "gather/part_ranges.h"
#include "gather_harness.h"
#include "support/manifest_maker.h"
#include "support/part_server.h"
#include "support/test_bytes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

const QByteArray Part = SeededBytes(3000, 1);
const QByteArray Wrong = SeededBytes(3000, 2);
const QByteArray NotFoundPage = "<html><body>404 Not Found</body></html>";
const QByteArray Forged = SameCrcOtherBytes(Part);
// 8999 bytes in data parts of 3000 bytes: the first is Part.
const QStringList CodedPaths = {"/p/big.iso.001", "/p/big.iso.002", "/p/big.iso.003", "/p/big.iso.r1", "/p/big.iso.r2"};
const QByteArray CodedFile = Part + SeededBytes(5999, 3);
const QList<QByteArray> CodedParts = CodedManifestFor("big.iso", CodedFile, 3, 2, CodedPaths).parts;
const QString Fetched1 = "recovery part 1 is fetched for a data part that is failing or lost";
const QString Rebuilt1 = "part 1 rebuilt from recovery part 1";

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
    bool coded = false;           // version 2, the part the first of 3 data parts, 2 recovery parts
    QList<PartReply> second;      // data part 2's replies, when not whole
    QList<PartReply> recovery1;   // recovery part 1's replies, when not whole
    int simultaneous = 2;
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
    QStringList recoveryRows;  // the Status each recovery row ends with: rows appear only when used
    QList<int> recoveryRequests = {0, 0};
    QStringList log;  // the log of the recovery parts
    QStringList asked;  // when not empty: the Range field of every request ("" for none)
    QStringList notes;  // notes for the log, in this order (each matched as a prefix)
    int mostOpen = -1;  // checked when not -1: the most connections open at once, counted by the server
    QList<qint64> listed;  // an earlier run's list: the bytes each of its equal ranges claims
    qint64 heldBelow = 0;  // and the part's bytes its file holds (zeros above)
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
        {.name = "version 2 with every data part good fetches no recovery part", .replies = {R::ok(Part)}, .coded = true},
        {.name = "version 2 a data part lost to a 404 is rebuilt from one recovery part, never two",
         .replies = {R::status(404, NotFoundPage)}, .retryOnCrcError = false, .coded = true,
         .status = "Rebuilt from recovery part 1", .shown = {"404 Error", "Rebuilding...", "Rebuilt from recovery part 1"},
         .size = "39", .recoveryRows = {"Done."}, .recoveryRequests = {1, 0}, .log = {Fetched1, Rebuilt1}},
        {.name = "version 2 three failures in a row start a recovery part beside the part, and it comes first",
         .replies = {R::status(404, NotFoundPage), R::status(404, NotFoundPage), R::status(404, NotFoundPage), R::silent()},
         .coded = true, .recovery1 = {R::ok(CodedParts[3]).delayed(300)}, .status = "Rebuilt from recovery part 1",
         .attempts = 4, .shown = {"Error:CRC", "Error:CRC", "Error:CRC", "Starting...", "Rebuilding...", "Rebuilt from"},
         .size = "39", .recoveryRows = {"Done."}, .recoveryRequests = {1, 0}, .log = {Fetched1, Rebuilt1}},
        {.name = "version 2 three failures in a row start a recovery part beside the part, and the part comes first",
         .replies = {R::status(404, NotFoundPage), R::status(404, NotFoundPage), R::status(404, NotFoundPage), R::ok(Part)},
         .coded = true, .recovery1 = {R::silent()}, .attempts = 4, .shown = {"Error:CRC", "Error:CRC", "Error:CRC", "Done."},
         .recoveryRows = {"Not needed."}, .recoveryRequests = {1, 0}, .log = {Fetched1}},
        {.name = "version 2 a part forged to the same length and CRC-32 is caught by its SHA-256 and rebuilt",
         .replies = {R::ok(Forged)}, .retryOnCrcError = false, .coded = true, .status = "Rebuilt from recovery part 1",
         .shown = {"Checking...", "Done.", "Rebuilding...", "Rebuilt from"},
         .recoveryRows = {"Done."}, .recoveryRequests = {1, 0}, .log = {Fetched1, Rebuilt1}},
        // Written in ranges, the part has no SHA-256 taken behind its writes: it is read back.
        {.name = "version 2 a part forged in ranges is read back for its SHA-256 and rebuilt",
         .replies = {R::ranged(Forged)}, .retryOnCrcError = false, .connections = 2, .coded = true,
         .status = "Rebuilt from recovery part 1", .shown = {"Checking...", "Done.", "Rebuilding...", "Rebuilt from"},
         .recoveryRows = {"Done."}, .recoveryRequests = {1, 0}, .log = {Fetched1, Rebuilt1},
         .asked = {"bytes=0-1499", "bytes=1500-"}},
        {.name = "version 2 more parts lost than recovery parts stops with the counts and keeps the good parts",
         .replies = {R::status(404, NotFoundPage)}, .retryOnCrcError = false, .coded = true,
         .second = {R::status(404, NotFoundPage)}, .recovery1 = {R::status(404, NotFoundPage)}, .simultaneous = 1,
         .status = "404 Error", .crcOk = "R", .alerts = {"2 of 3 data parts and 1 of 2 recovery parts are lost: cannot rebuild"},
         .end = End::Rest, .stopFlag = true, .size = "39", .recoveryRows = {"404 Error", "Idle"}, .recoveryRequests = {1, 0},
         .log = {Fetched1, "recovery part 2 is fetched for a data part that is failing or lost",
                   "2 of 3 data parts and 1 of 2 recovery parts are lost: cannot rebuild"}},
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
        {.name = "bytes a ranges list claims but the file lost are fetched again",
         .replies = {R::ranged(Part)}, .resume = true, .connections = 2,
         .asked = {"bytes=1000-1499", "bytes=1500-"}, .notes = {"resuming with 1000 bytes kept"},
         .listed = {1000, 500}, .heldBelow = 1000},
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
    QMap<QString, QList<PartReply>> replies = {{"/p/big.iso.001", c.replies}};
    if (c.coded) {
        for (int i = 1; i < CodedPaths.size(); ++i)
            replies.insert(CodedPaths[i], {PartReply::ok(CodedParts[i])});
        if (!c.second.isEmpty())
            replies.insert(CodedPaths[1], c.second);
        if (!c.recovery1.isEmpty())
            replies.insert(CodedPaths[3], c.recovery1);
    }
    PartServer server(replies);
    QStringList urls;
    for (const QString& path : CodedPaths)
        urls << server.url(path);
    GatherHarness h;
    h.settings.simultaneous = c.simultaneous;
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
    const QStringList lines = c.coded ? CodedManifestFor("big.iso", CodedFile, 3, 2, urls).lines
                                      : ManifestLinesFor("big.iso", {c.part}, {urls[0]});
    if (!c.listed.isEmpty()) {
        PartRanges left(c.part.size());
        left.spread(int(c.listed.size()), 1);
        for (int i = 0; i < left.count(); ++i) {
            left.at(i).got = c.listed[i];
            left.at(i).crc = ~Crc32Update(~0u, c.part.constData() + left.at(i).begin, size_t(c.listed[i]));
        }
        const QString path = GatherPaths(h.settings.savePath, "big.iso").partFile(urls[0]);
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        WriteFileBytes(path, c.part.left(c.heldBelow) + QByteArray(left.at(left.count() - 1).next() - c.heldBelow, '\0'));
        WriteFileBytes(path + ":ranges", left.text());
    }
    ASSERT_EQ(h.load(lines), FillOutcome::StartFirstPass);
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
    const bool rebuilt = QString(c.status).startsWith("Rebuilt from");
    EXPECT_EQ(h.cell(0, DownloadColumn::SizeOk), rebuilt || QString(c.size) == QString::number(c.part.size()) ? "G" : "R");
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
        EXPECT_EQ(h.readOutput(), c.coded ? CodedFile : c.part);
        break;
    case End::CrcError:
        messages << "CRC Error on " + h.outputPath();
        EXPECT_EQ(h.readOutput(), Wrong) << "built from what lay on disk";
        break;
    case End::Rest:
        EXPECT_EQ(h.rests, 1);
        EXPECT_FALSE(QFile::exists(h.outputPath()));
        if (c.coded) {
            EXPECT_EQ(ReadFileBytes(h.partPath(2)), CodedParts[2]) << "a good part is kept";
        }
        break;
    }
    EXPECT_EQ(h.log, c.log);
    if (c.coded) {
        EXPECT_EQ(h.table.rows(), 3 + c.recoveryRows.size());
        for (int i = 0; i < c.recoveryRows.size(); ++i)
            EXPECT_EQ(h.cell(3 + i, DownloadColumn::Status), c.recoveryRows[i]) << "recovery row " << i + 1;
        EXPECT_EQ(QList<int>({server.requests(CodedPaths[3]), server.requests(CodedPaths[4])}), c.recoveryRequests)
            << "as many recovery parts as the missing data parts need, never more";
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
