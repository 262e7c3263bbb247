// Fetching a manifest link with the synchronous Get against scripted servers: the lines
// it gives for every way of ending lines, the error it raises for every way of failing,
// and a client that is ready for the next link whatever happened. (The window's browser
// tests fetch while the loop runs and while the client is busy.)
#include "gather/manifest_fetch.h"
#include "common/text_log.h"
#include "gather/manifest_text.h"
#include "http/http_client.h"
#include "support/scripted_server.h"

#include <gtest/gtest.h>

namespace {

const QByteArray kHeaderEnd = "\r\n\r\n";
const QStringList kManifest = {"www.parcelwick.example", "1", "big.iso", "0A1B2C3D", "1",
                               "http://w.example/big1.bin", "10", "00000000", "me", "hello"};

// The manifest with its lines joined by `lineEnd`, and one more after the last line
// when `finalBreak`.
QByteArray manifestText(const QByteArray& lineEnd, bool finalBreak = true) {
    QByteArray text = kManifest.join(QString::fromLatin1(lineEnd)).toUtf8();
    return finalBreak ? text + lineEnd : text;
}

Dialogue answer(const QByteArray& response) { return {ScriptStep::readUntil(kHeaderEnd), ScriptStep::send(response)}; }

Dialogue document(const QByteArray& body) { return answer("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + body); }

struct FetchCase {
    const char* what;
    QList<Dialogue> dialogues;        // the connections of the fetch; a good document follows
    QStringList lines;                // the lines returned (when no error)
    QStringList fetched;              // the pane after the fetch (when no error)
    QString error;                    // the text of the error raised, empty for none
    int errorCode = 0;
    QString path = "/movie.pwq";      // the link's path on the server, or a whole URL
};

class ManifestFetch : public ::testing::TestWithParam<FetchCase> {};

TEST_P(ManifestFetch, GivesTheLinesOrTheClientsErrorAndLeavesTheClientReady) {
    const FetchCase& c = GetParam();
    QList<Dialogue> dialogues = c.dialogues;
    dialogues << document(manifestText("\r\n"));
    ScriptedServer server(dialogues);
    // An empty path: a port that was just closed, where nothing listens any more.
    const QString url = c.path.isEmpty()             ? ScriptedServer({}).url("/movie.pwq")
                        : c.path.startsWith("http:") ? c.path
                                                     : server.url(c.path);

    THttpClient client;
    TextLog fetched;
    fetched.append("earlier line");
    try {
        const QStringList lines = FetchManifestLines(client, url, fetched);
        EXPECT_TRUE(c.error.isEmpty()) << c.what << ": no error raised";
        EXPECT_EQ(lines, c.lines) << c.what;
        EXPECT_EQ(fetched.lines(), c.fetched) << c.what;
    } catch (const UserError& e) {
        EXPECT_EQ(e.text(), c.error) << c.what;
        const auto* http = dynamic_cast<const EHttpException*>(&e);
        EXPECT_EQ(http ? http->ErrorCode() : 0, c.errorCode) << c.what;
        EXPECT_EQ(fetched.lines(), QStringList({"earlier line"})) << c.what << ": the pane must not change";
    }
    EXPECT_EQ(client.State(), hsReady) << c.what;
    EXPECT_EQ(client.RcvdStream(), nullptr) << c.what << ": the stream is gone with the fetch";

    // The same client fetches the next link.
    EXPECT_EQ(FetchManifestLines(client, server.url("/next.pwq"), fetched), kManifest) << c.what;
    EXPECT_TRUE(server.failures().isEmpty()) << server.failures().toStdString();
}

void PrintTo(const FetchCase& c, std::ostream* os) { *os << c.what; }

// The manifest with an empty line before the file name and two at the end.
QStringList blankLinesPane() {
    QStringList pane = kManifest;
    pane.insert(2, QString());
    return pane << QString() << QString();
}

INSTANTIATE_TEST_SUITE_P(
    Table, ManifestFetch,
    ::testing::Values(
        FetchCase{"CR LF", {document(manifestText("\r\n"))}, kManifest, kManifest},
        FetchCase{"LF", {document(manifestText("\n"))}, kManifest, kManifest},
        FetchCase{"CR", {document(manifestText("\r"))}, kManifest, kManifest},
        FetchCase{"no final break", {document(manifestText("\r\n", false))}, kManifest, kManifest},
        // Empty lines reach the pane but not the manifest lines.
        FetchCase{"blank lines",
                  {document(manifestText("\r\n").replace("\r\nbig.iso", "\r\n\r\nbig.iso") + "\n\n")},
                  kManifest, blankLinesPane()},
        FetchCase{"relocated", {answer("HTTP/1.0 302 Found\r\nLocation: /real.pwq\r\n\r\n"), document(manifestText("\n"))},
                  kManifest, kManifest},
        // The server closes before any status line: nothing arrived, nothing is raised.
        FetchCase{"closed at once", {{ScriptStep::readUntil(kHeaderEnd), ScriptStep::close()}}, {}, {}},
        FetchCase{"404 with a body",
                  {answer("HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\n\r\n<html>gone</html>")}, {}, {},
                  "Not Found", 404},
        FetchCase{"refused connection", {}, {}, {}, "Connection refused (Error #10061)", 404, ""},
        // No host: the start itself fails and would leave the client busy for ever.
        FetchCase{"no host", {}, {}, {}, "DNS lookup: invalid host name.", 0, "http:///movie.pwq"}));

// A link ending in .pwq that serves something huge: the fetch ends at the largest size a
// manifest can have, not when memory runs out, and the next link is fetched as usual.
TEST(ManifestFetchSize, ADocumentLargerThanAManifestCanBeEndsTheFetch) {
    const QByteArray huge = QByteArray(kMaxManifestBytes + 4096, 'x');
    ScriptedServer server({answer("HTTP/1.1 200 OK\r\nContent-Length: 9000000000\r\n\r\n" + huge),
                           document(manifestText("\r\n"))});
    THttpClient client;
    TextLog fetched;
    fetched.append("earlier line");
    try {
        FetchManifestLines(client, server.url("/huge.pwq"), fetched);
        ADD_FAILURE() << "no error raised";
    } catch (const EHttpException& e) {
        EXPECT_EQ(e.text(), "can't write document: the document is larger than 64 MiB, too large to be a Parcelwick file");
    }
    EXPECT_EQ(fetched.lines(), QStringList({"earlier line"}));
    EXPECT_EQ(client.State(), hsReady);
    EXPECT_EQ(FetchManifestLines(client, server.url("/next.pwq"), fetched), kManifest);
}

}  // namespace
