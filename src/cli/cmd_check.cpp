// parcelwick-cli check: are a manifest's links alive? Every part URL is checked, a few at
// a time, by the length a HEAD announces or by the CRC-32 of a GET's bytes, before a
// gather (the receiver) or after sending (the sender).
#include "cli/cli_command.h"
#include "cli/command_line.h"
#include "cli/manifest_source.h"
#include "cli/progress_line.h"
#include "cli/tls_options.h"
#include "gather/manifest_entries.h"
#include "http/http_client.h"
#include "http/url_check.h"

#include <QEventLoop>

#include <memory>
#include <optional>
#include <vector>

namespace {

const char Usage[] =
    "usage: parcelwick-cli check [-q] MANIFEST_OR_URL [--crc] [--simultaneous N] [--timeout S]\n"
    "                            [--cacert FILE] [--insecure] [--trust-fingerprint SHA256]\n"
    "\n"
    "Loads a manifest (a file, or an http:// or https:// URL fetched like a clicked\n"
    "manifest link) and checks that every part URL serves its part: a HEAD answered 2xx\n"
    "with the part's size as Content-Length (a GET counts the bytes when a server announces\n"
    "none), or with --crc a GET whose bytes have the part's size and CRC-32 (nothing is\n"
    "kept, on disk or in memory). Prints one line per part on stdout, tab-separated: the\n"
    "part's number (\"recovery N\" for the recovery parts of a version-2 manifest), its URL,\n"
    "the HTTP status (- for none) and \"ok\" or what is wrong; then a summary line, which for\n"
    "a version-2 manifest also says whether the parts available suffice to rebuild the file.\n"
    "\n"
    "  --crc              GET every part and compare its CRC-32 as well\n"
    "  --simultaneous N   checks at once, 1..16 (default 4)\n"
    "  --timeout S        the bound on each wait of every check (connection, TLS handshake,\n"
    "                     response header, each pause inside a body) and of the fetch of a\n"
    "                     manifest URL, 1..1000 (default 30)\n"
    PW_CLI_TLS_OPTIONS_HELP PW_CLI_QUIET_OPTION_HELP PW_CLI_COMMON_OPTIONS_HELP
    "\n"
    "exit status: 0 only when every part is available and right; 1 otherwise, or when\n"
    "the manifest cannot be read; 2 wrong options or arguments.";

// The checks of every part, `simultaneous` under way at once; each part's line goes out
// as soon as the parts before it have theirs, so the lines stay in manifest order.
class CheckRun {
public:
    CheckRun(const ManifestEntries& manifest, UrlCheckMode mode, int timeoutSeconds, bool quiet)
        : m_manifest(manifest), m_mode(mode), m_timeout(timeoutSeconds),
          m_outcomes(manifest.parts.size()), m_progress(QStringLiteral("check"), totalBytes(), quiet) {}

    // Runs every check; true when every part is available and right.
    bool run(int simultaneous) {
        for (int i = 0; i < simultaneous && i < m_manifest.parts.size(); ++i) {
            m_checks.push_back(std::make_unique<UrlCheck>());
            startNext(*m_checks.back());
        }
        if (m_finished < m_manifest.parts.size())
            m_loop.exec();
        m_progress.finish();
        // A part refused for its server's certificate says so in its line; the certificate
        // itself is shown here, with the option that would accept it.
        ShowRefusedCertificates();
        CliOut(summary());
        return m_good == m_manifest.parts.size();
    }

private:
    qint64 totalBytes() const {
        qint64 total = 0;
        for (const ManifestEntry& part : m_manifest.parts)
            total += qMax<qint64>(part.size, 0);
        return total;
    }

    void startNext(UrlCheck& check) {
        if (m_next >= m_manifest.parts.size())
            return;
        const int index = m_next++;
        check.onDone = [this, index, &check](const UrlCheckOutcome& outcome) { finished(index, outcome, check); };
        const ManifestEntry& part = m_manifest.parts[index];
        check.start(part.url, m_mode, part.size, part.crc, m_timeout);
    }

    void finished(int index, const UrlCheckOutcome& outcome, UrlCheck& check) {
        m_outcomes[index] = outcome;
        ++m_finished;
        m_done += qMax<qint64>(m_manifest.parts[index].size, 0);
        if (outcome.ok)
            ++m_good;
        m_progress.finish();
        for (; m_printed < m_outcomes.size() && m_outcomes[m_printed]; ++m_printed)
            printLine(m_printed);
        m_progress.update(m_done, QStringLiteral("%1/%2 parts").arg(m_finished).arg(m_manifest.parts.size()));
        if (m_finished == m_manifest.parts.size())
            m_loop.quit();
        else
            startNext(check);
    }

    void printLine(int index) const {
        const UrlCheckOutcome& o = *m_outcomes[index];
        const QString number = index < m_manifest.dataParts
                                   ? QString::number(index + 1)
                                   : QStringLiteral("recovery %1").arg(index - m_manifest.dataParts + 1);
        CliOut(number + '\t' + m_manifest.parts[index].url + '\t' +
               (o.statusCode > 0 ? QString::number(o.statusCode) : QStringLiteral("-")) + '\t' +
               (o.ok ? QStringLiteral("ok") : o.reason));
    }

    // "3 of 4 parts available and right; part 2 is not: 404 Not Found"
    QString summary() const {
        QString text = QStringLiteral("%1 of %2 parts available and right").arg(m_good).arg(m_outcomes.size());
        QList<int> bad;
        for (int i = 0; i < m_outcomes.size(); ++i)
            if (!m_outcomes[i]->ok)
                bad << i;
        if (bad.size() == 1) {
            text += "; " + partName(bad.first()) + " is not: " + m_outcomes[bad.first()]->reason;
        } else if (!bad.isEmpty()) {
            QStringList names;
            for (const int i : bad)
                names << partName(i);
            const QString last = names.takeLast();
            text += "; " + names.join(QStringLiteral(", ")) + " and " + last + " are not";
        }
        if (m_manifest.version >= 2) {
            const QString needed =
                QStringLiteral("%1 of the %1 + %2 parts").arg(m_manifest.dataParts).arg(m_manifest.recoveryParts);
            text += m_good >= m_manifest.dataParts ? "; enough to rebuild the file, which needs any " + needed
                                                   : "; too few to rebuild the file, which needs " + needed;
        }
        return text;
    }

    // "part 3", or "recovery part 1" for the first recovery part.
    QString partName(int index) const {
        return index < m_manifest.dataParts ? QStringLiteral("part %1").arg(index + 1)
                                            : QStringLiteral("recovery part %1").arg(index - m_manifest.dataParts + 1);
    }

    const ManifestEntries& m_manifest;
    const UrlCheckMode m_mode;
    const int m_timeout;
    QList<std::optional<UrlCheckOutcome>> m_outcomes;
    std::vector<std::unique_ptr<UrlCheck>> m_checks;
    ProgressLine m_progress;
    QEventLoop m_loop;
    int m_next = 0;
    int m_finished = 0;
    int m_printed = 0;
    int m_good = 0;
    qint64 m_done = 0;
};

int RunCheck(const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption crcOption("crc");
    const QCommandLineOption simultaneousOption("simultaneous", "", "N");
    const QCommandLineOption timeoutOption("timeout", "", "S");
    const QCommandLineOption quietOption(QStringList{"q", "quiet"});
    const CliTlsOptions tls;
    parser.addOptions({crcOption, simultaneousOption, timeoutOption});
    tls.addTo(parser);
    if (const auto exit = ParseCommandArguments(parser, "check", Usage, args, {1, 1}, &quietOption))
        return *exit;
    int simultaneous = 4;
    int timeout = 30;
    if (!ReadLimitedOption(parser, simultaneousOption, 1, 16, simultaneous, "check", Usage) ||
        !ReadLimitedOption(parser, timeoutOption, 1, 1000, timeout, "check", Usage))
        return CliUsageError;
    if (const auto exit = tls.apply(parser, "check", Usage))
        return *exit;

    THttpClient manifestClient;
    QStringList lines;
    if (!LoadCliManifest(parser.positionalArguments().first(), manifestClient, timeout, lines))
        return CliFailure;
    ManifestEntries manifest;
    const QString refusal = ReadManifestEntries(lines, manifest);
    if (!refusal.isEmpty()) {
        CliErr(refusal);
        return CliFailure;
    }
    CheckRun run(manifest, parser.isSet(crcOption) ? UrlCheckMode::Crc : UrlCheckMode::Length, timeout,
                 parser.isSet(quietOption));
    return run.run(simultaneous) ? CliSuccess : CliFailure;
}

const CliCommandRegistration registration({"check", "check that every part URL of a manifest serves its part", Usage,
                                           RunCheck, true});

}  // namespace
