// parcelwick-cli get: one GET through THttpClient, driven by the event loop, the body to
// a file or to standard output, the response's vital signs on standard error.
#include "cli/cli_command.h"
#include "net/async_socket.h"
#include "http/http_client.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>

namespace {

int runGet(const QStringList& args) {
    QString url;
    QString outPath;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == "-o" && i + 1 < args.size())
            outPath = args[++i];
        else if (url.isEmpty())
            url = args[i];
        else {
            CliErr("parcelwick-cli get: unexpected argument \"" + args[i] + "\"");
            return 2;
        }
    }
    if (url.isEmpty()) {
        CliErr("usage: parcelwick-cli get URL [-o FILE]");
        return 2;
    }

    QFile out;
    const bool opened = outPath.isEmpty() || outPath == "-"
                            ? out.open(stdout, QIODevice::WriteOnly, QFileDevice::DontCloseHandle)
                            : (out.setFileName(outPath), out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    if (!opened) {
        CliErr("parcelwick-cli get: cannot write " + outPath + ": " + out.errorString());
        return 1;
    }

    THttpClient client;
    client.SetURL(url);
    client.SetRcvdStream(&out);
    client.OnLocationChange = [](THttpClient* c) { CliErr("Location: " + c->Location()); };
    bool reported = false;
    client.OnHeaderEnd = [&reported](THttpClient* c) {
        reported = true;
        CliErr(QStringLiteral("%1 %2").arg(c->StatusCode()).arg(c->ReasonPhrase()));
        CliErr(QStringLiteral("Content-Length: %1").arg(c->ContentLength()));
        CliErr("Content-Type: " + c->ContentType());
    };
    int status = 1;
    QEventLoop loop;
    client.OnRequestDone = [&](THttpClient* c, THttpRequest, quint16 error) {
        if (error != 0 || c->StatusCode() == 0 || c->StatusCode() >= 400) {
            // An error status closes at once, often before the end of the header.
            if (!reported)
                CliErr(QStringLiteral("%1 %2").arg(c->StatusCode()).arg(c->ReasonPhrase()));
            status = 1;
        } else {
            status = 0;
        }
        loop.quit();
    };
    try {
        client.GetAsync();
    } catch (const UserError& e) {
        CliErr("parcelwick-cli get: " + e.text());
        return 1;
    }
    loop.exec();
    out.close();
    return status;
}

const CliCommandRegistration registration({
    "get",
    "fetch one URL by HTTP",
    "usage: parcelwick-cli get URL [-o FILE]\n"
    "Fetches URL with one HTTP/1.0 GET, following relocations, and writes the document to\n"
    "FILE (standard output without -o). The status code and reason, the content length\n"
    "and the content type go to standard error. Exit status 0 for a status below 400,\n"
    "1 for any other status and for connection errors.",
    runGet,
});

}  // namespace
