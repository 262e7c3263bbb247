// parcelwick-cli get: one GET through THttpClient, driven by the event loop, the body to
// a file or to standard output, the response's vital signs on standard error.
#include "cli/cli_command.h"
#include "cli/command_line.h"
#include "cli/progress_line.h"
#include "http/http_client.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QFile>

namespace {

const char kUsage[] =
    "usage: parcelwick-cli get [-q] URL [-o FILE]\n"
    "\n"
    "Fetches URL with one HTTP/1.0 GET, following relocations (at most 20), and writes the\n"
    "document to FILE (standard output without -o, or with -o -). The status code and\n"
    "reason, the content length and the content type of each response go to standard\n"
    "error, and so does the reason of a failure.\n"
    "\n"
    "  -o, --output FILE  where the document goes\n" PW_CLI_QUIET_OPTION_HELP PW_CLI_COMMON_OPTIONS_HELP
    "\n"
    "exit status: 0 for a complete document with a status from 200 to 299; 1 for any\n"
    "other status (a relocation without a Location among them), a document cut short,\n"
    "and connection errors; 2 for a wrong command line.";

// Why a finished request is no success, or empty when it is one.
QString failureText(const THttpClient& client, quint16 error) {
    const int status = client.StatusCode();
    if (error != 0)
        return client.ReasonPhrase();
    if (status == 0)
        return QStringLiteral("the server closed the connection without an HTTP response");
    const QString statusLine = QStringLiteral("%1 %2").arg(status).arg(client.ReasonPhrase());
    if (status >= 300 && status < 400)
        return statusLine + QStringLiteral(": a relocation without a Location field, not followed");
    if (status < 200 || status >= 300)
        return statusLine;
    return QString();
}

int runGet(const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption outputOption({"o", "output"}, QString(), "FILE");
    const QCommandLineOption quiet(QStringList{"q", "quiet"});
    parser.addOption(outputOption);
    if (const auto exit = ParseCommandArguments(parser, "get", kUsage, args, {1, 1}, &quiet))
        return *exit;
    const QString url = parser.positionalArguments().first();
    const QString outPath = parser.value(outputOption);

    QFile out;
    const bool opened = outPath.isEmpty() || outPath == "-"
                            ? out.open(stdout, QIODevice::WriteOnly, QFileDevice::DontCloseHandle)
                            : (out.setFileName(outPath), out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    if (!opened) {
        CliErr("parcelwick-cli get: cannot write " + outPath + ": " + out.errorString());
        return 1;
    }

    ProgressLine progress(url, -1, parser.isSet(quiet));
    const auto say = [&progress](const QString& line) {
        progress.finish();
        CliErr(line);
    };
    THttpClient client;
    client.SetURL(url);
    client.SetRcvdStream(&out);
    client.OnLocationChange = [&](THttpClient* c) { say("Location: " + c->Location()); };
    client.OnHeaderEnd = [&](THttpClient* c) {
        say(QStringLiteral("%1 %2").arg(c->StatusCode()).arg(c->ReasonPhrase()));
        say(QStringLiteral("Content-Length: %1").arg(c->ContentLength()));
        say("Content-Type: " + c->ContentType());
        progress.setTotal(c->ContentLength());
    };
    client.OnDocData = [&progress](THttpClient* c, const char*, qint64) { progress.update(c->RcvdCount()); };
    int status = 1;
    QEventLoop loop;
    client.OnRequestDone = [&](THttpClient* c, THttpRequest, quint16 error) {
        // Printed whatever an earlier response printed: the last word is the reason.
        const QString failure = failureText(*c, error);
        if (!failure.isEmpty())
            say("parcelwick-cli get: " + failure);
        status = failure.isEmpty() ? 0 : 1;
        loop.quit();
    };
    try {
        client.GetAsync();
    } catch (const UserError& e) {
        CliErr("parcelwick-cli get: " + e.text());
        return 1;
    }
    loop.exec();
    progress.finish();
    out.close();
    return status;
}

const CliCommandRegistration registration({"get", "fetch one URL by HTTP", kUsage, runGet, true});

}  // namespace
