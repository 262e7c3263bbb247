// parcelwick-cli get: one GET through THttpClient, driven by the event loop, the body to
// a file or to standard output, the response's vital signs on standard error.
#include "cli/cli_command.h"
#include "cli/command_line.h"
#include "cli/progress_line.h"
#include "cli/tls_options.h"
#include "http/http_client.h"
#include "net/async_socket.h"
#include "net/tls_error.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QFile>

namespace {

const char kUsage[] =
    "usage: parcelwick-cli get [-q] URL [-o FILE] [--timeout S] [--resolve HOST:ADDR[,ADDR...]]\n"
    "                          [--cacert FILE] [--insecure] [--trust-fingerprint SHA256]\n"
    "\n"
    "Fetches URL (http:// or https://) with one HTTP/1.0 GET, following relocations (at\n"
    "most 20), and writes the document to FILE (standard output without -o, or with -o -).\n"
    "The status code and reason, the content length and the content type of each response\n"
    "go to standard error, with the protocol and cipher of each TLS connection, and so\n"
    "does the reason of a failure. The certificate of an https server must be valid for\n"
    "its name and issued by a CA the system (or --cacert) trusts; a refused one is shown\n"
    "with its fingerprint. A host with IPv6 and IPv4 addresses is reached over the first\n"
    "of them that connects, each tried 250 ms after the one before.\n"
    "\n"
    "  -o, --output FILE  where the document goes\n"
    "      --timeout S    seconds for each of the connection, the TLS handshake and the\n"
    "                     response header of each hop, and for every pause in the\n"
    "                     document (default 30; 0: no bound)\n"
    "      --resolve HOST:ADDR\n"
    "                     reach HOST (of the URL or of a relocation) at this numeric\n"
    "                     address instead of looking it up; several joined by commas are\n"
    "                     tried in turn (\"site:::1,127.0.0.1\"); may be given several times\n" PW_CLI_TLS_OPTIONS_HELP PW_CLI_QUIET_OPTION_HELP
    PW_CLI_COMMON_OPTIONS_HELP
    "\n"
    "exit status: 0 for a complete document with a status from 200 to 299; 1 for any\n"
    "other status (a relocation without a Location among them), a document cut short\n"
    "(over TLS also one without a length that ends without close_notify), a header cut\n"
    "short, a Content-Length that is no count or disagrees with another, bytes beyond\n"
    "the announced length (never written), a time-out, connection errors and refused\n"
    "certificates; 2 for a wrong command line.";

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
    const QCommandLineOption resolveOption(QStringList{"resolve"}, QString(), "HOST:ADDR");
    const QCommandLineOption quiet(QStringList{"q", "quiet"});
    const QCommandLineOption timeoutOption("timeout", QString(), "S", "30");
    const CliTlsOptions tls;
    parser.addOptions({outputOption, timeoutOption, resolveOption});
    tls.addTo(parser);
    if (const auto exit = ParseCommandArguments(parser, "get", kUsage, args, {1, 1}, &quiet))
        return *exit;
    if (const auto exit = tls.apply(parser, "get", kUsage))
        return *exit;
    bool timeoutIsNumber = false;
    const int timeout = parser.value(timeoutOption).toInt(&timeoutIsNumber);
    if (!timeoutIsNumber || timeout < 0)
        return CliUsageFailure("get", "--timeout needs a whole number of seconds", kUsage);
    for (const QString& mapping : parser.values(resolveOption)) {
        const qsizetype colon = mapping.indexOf(':');
        if (colon <= 0 || !TAsyncSocket::SetResolveOverride(mapping.left(colon), mapping.mid(colon + 1).split(',')))
            return CliUsageFailure("get", "--resolve wants HOST:ADDR[,ADDR...] with numeric addresses, not " + mapping,
                                   kUsage);
    }
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
    client.SetTimeout(timeout);
    client.SetBodyIdleTimeout(timeout);
    client.SetRcvdStream(&out);
    client.OnLocationChange = [&](THttpClient* c) { say("Location: " + c->Location()); };
    client.OnSessionConnected = [&](THttpClient* c) {
        const TAsyncSocket& socket = *c->CtrlSocket();
        if (socket.TlsActive())
            say("TLS: " + TlsSessionSummary(socket.TlsPeer()));
    };
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
        if (error == TLS_ERR_CERTIFICATE) {
            progress.finish();
            ShowRefusedCertificates();
        }
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
