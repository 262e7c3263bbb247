// parcelwick-cli gather: the receiving side without a window, on the same engine: a
// manifest from a file or a URL becomes a verified, rebuilt file.
#include "cli/cli_command.h"
#include "cli/command_line.h"
#include "cli/gather_report.h"
#include "cli/interrupt_pipe.h"
#include "cli/manifest_source.h"
#include "cli/progress_prompt.h"
#include "cli/tls_options.h"
#include "common/manifest_format.h"
#include "common/save_path.h"
#include "common/text_table.h"
#include "gather/download_table.h"
#include "gather/gather_engine.h"
#include "gather/manifest_parts.h"
#include "http/http_client.h"

#include <QEventLoop>

namespace {

const char Usage[] =
    "usage: parcelwick-cli gather [-q] MANIFEST_OR_URL [--save-path DIR] [--simultaneous N]\n"
    "                             [--timeout S] [--lowest-speed N] [--attempts N] [--no-crc-retry]\n"
    "                             [--no-check-disk] [--no-resume] [--connections-per-part C]\n"
    "                             [--per-host N] [--yes]\n"
    "                             [--cacert FILE] [--insecure] [--trust-fingerprint SHA256]\n"
    "\n"
    "Loads a manifest (a file, or an http:// or https:// URL fetched like a clicked\n"
    "manifest link),\n"
    "downloads its parts into DIR/NAME.dir/parts/, fetches again the parts that fail or\n"
    "arrive wrong, then joins them into DIR/NAME.dir/NAME and checks the whole file's CRC.\n"
    "With a version-2 manifest every part is checked by its SHA-256 too (and so is the\n"
    "file), and recovery parts are fetched for data parts that are lost or have failed\n"
    "three times in a row, as many as they need; the missing data parts are then rebuilt\n"
    "from them, and stderr says which (\"part 3 rebuilt from recovery parts 1 and 2\").\n"
    "Progress goes to stderr: one redrawn line on a terminal, else one line per event.\n"
    "Ctrl-C aborts the downloads; the finished parts stay on disk, and so do the bytes\n"
    "of the others: run again, the gather takes the parts on disk by their CRC and asks\n"
    "only for the bytes still missing.\n"
    "\n"
    "  --save-path DIR    where the parts and the file go (default ~/ParcelwickFiles/)\n"
    "  --simultaneous N   parts downloading at once, 0..16 (default 4)\n"
    "  --timeout S        a download idle for S seconds is aborted and fetched again,\n"
    "                     5..1000 (default 30); also the bound on each wait (connection,\n"
    "                     TLS handshake, response header) of every download and of the\n"
    "                     fetch of a manifest URL\n"
    "  --attempts N       downloads of one part before the gather stops, 10..1000 (default 100)\n"
    "  --lowest-speed N   a download that received less than N bytes a second over\n"
    "                     the last S seconds is aborted and fetched again,\n"
    "                     0..10485760, 0 for no floor (default 1024)\n"
    "  --no-crc-retry     a part with a wrong CRC is not fetched again\n"
    "  --no-check-disk    parts already on disk are fetched again\n"
    "  --no-resume        a part whose download ended short is fetched again from\n"
    "                     byte 0 (by default only the rest is asked for, with a Range)\n"
    "  --connections-per-part C\n"
    "                     a part larger than 8 MiB is fetched as up to C ranges at\n"
    "                     once, each over its own connection, 1..16 (default 4; 1: one\n"
    "                     connection per part)\n"
    "  --per-host N       most connections open to one host over all parts and ranges,\n"
    "                     1..16 (default 4); a host that answers 503 or refuses a\n"
    "                     connection gets one fewer for the rest of the gather\n"
    "  --yes              build the file even when a part's CRC stays wrong (else refused)\n"
    PW_CLI_TLS_OPTIONS_HELP PW_CLI_QUIET_OPTION_HELP PW_CLI_COMMON_OPTIONS_HELP
    "\n"
    "exit status: 0 only after \"Extracted ... successfully!\"; 1 with the final message\n"
    "otherwise (a server whose certificate is refused stops the gather, with the\n"
    "certificate shown; more parts lost than recovery parts stops it with the counts);\n"
    "2 wrong options or arguments; 130 after Ctrl-C.";

constexpr int ExitInterrupted = 130;

int RunGather(const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption savePathOption("save-path", "", "DIR");
    const QCommandLineOption simultaneousOption("simultaneous", "", "N");
    const QCommandLineOption timeoutOption("timeout", "", "S");
    const QCommandLineOption lowestSpeedOption("lowest-speed", "", "N");
    const QCommandLineOption attemptsOption("attempts", "", "N");
    const QCommandLineOption noCrcRetryOption("no-crc-retry");
    const QCommandLineOption noCheckDiskOption("no-check-disk");
    const QCommandLineOption noResumeOption("no-resume");
    const QCommandLineOption connectionsOption("connections-per-part", "", "C");
    const QCommandLineOption perHostOption("per-host", "", "N");
    const QCommandLineOption yesOption("yes");
    const QCommandLineOption quietOption(QStringList{"q", "quiet"});
    const CliTlsOptions tls;
    parser.addOptions({savePathOption, simultaneousOption, timeoutOption, lowestSpeedOption, attemptsOption,
                       noCrcRetryOption, noCheckDiskOption, noResumeOption, connectionsOption, perHostOption,
                       yesOption});
    tls.addTo(parser);
    if (const auto exit = ParseCommandArguments(parser, "gather", Usage, args, {1, 1}, &quietOption))
        return *exit;
    // Beyond the window's defaults: on a real link a part goes on from where it broke,
    // and a host capping each connection's speed is met with several.
    GatherSettings settings;
    settings.simultaneous = 4;
    settings.resume = true;
    settings.connectionsPerPart = 4;
    settings.savePath = parser.isSet(savePathOption) ? parser.value(savePathOption) : DefaultSavePath();
    if (!settings.savePath.endsWith('/'))
        settings.savePath += '/';
    if (!ReadLimitedOption(parser, simultaneousOption, 0, GatherSettings::MaxSimultaneous, settings.simultaneous,
                           "gather", Usage) ||
        !ReadLimitedOption(parser, connectionsOption, 1, GatherSettings::MaxConnectionsPerPart,
                           settings.connectionsPerPart, "gather", Usage) ||
        !ReadLimitedOption(parser, perHostOption, 1, GatherSettings::MaxPerHost, settings.perHost, "gather", Usage) ||
        !ReadLimitedOption(parser, timeoutOption, 5, 1000, settings.timeoutSeconds, "gather", Usage) ||
        !ReadLimitedOption(parser, lowestSpeedOption, 0, GatherSettings::MaxLowestSpeed, settings.lowestSpeed, "gather",
                           Usage) ||
        !ReadLimitedOption(parser, attemptsOption, 10, 1000, settings.attemptsLimit, "gather", Usage))
        return CliUsageError;
    if (const auto exit = tls.apply(parser, "gather", Usage))
        return *exit;
    settings.retryOnCrcError = !parser.isSet(noCrcRetryOption);
    settings.checkOnDisk = !parser.isSet(noCheckDiskOption);
    settings.resume = !parser.isSet(noResumeOption);

    TextTable table(DownloadTableColumns());
    ManifestLines mempwq;
    GatherReport report(table, parser.isSet(quietOption));
    ProgressPrompt prompt([&report] { report.clearLine(); }, parser.isSet(yesOption));
    GatherEngine engine(table, mempwq, prompt, [&settings] { return settings; });
    THttpClient manifestClient;
    QEventLoop loop;
    bool ended = false;
    RebuildOutcome outcome = RebuildOutcome::Failed;
    const auto end = [&] {
        ended = true;
        loop.quit();
    };
    report.setDataRows([&engine] { return engine.dataRows(); });
    engine.onPartStarted = [&](int row) { report.partStarted(row); };
    engine.onNote = [&](const QString& line) {
        report.clearLine();
        CliErr(line);
    };
    engine.onPartFinished = [&](int row) { report.partFinished(row); };
    engine.onPartNote = [&](int row, const QString& note) { report.partNote(row, note); };
    engine.onRebuildProgress = [&](qint64 done, qint64 total) { report.rebuildProgress(done, total); };
    engine.onRebuilt = [&](RebuildOutcome o) {
        outcome = o;
        end();
    };
    engine.onRest = end;
    const InterruptPipe interrupt([&] {
        manifestClient.Abort();
        engine.Abort();
        // Each aborted download reports its end; the gather rests after the last one.
        if (!engine.busy())
            end();
    });

    // The manifest is read and checked here, so a refusal goes to standard error; the
    // gather's own messages (the first pass may already rebuild) go to standard output.
    const QString source = parser.positionalArguments().first();
    ManifestLines lines;
    if (!LoadCliManifest(source, manifestClient, settings.timeoutSeconds, lines))
        return interrupt.interrupted() ? ExitInterrupted : CliFailure;
    const QString refusal = ManifestRefusal(lines);
    if (!refusal.isEmpty()) {
        CliErr(refusal);
        return CliFailure;
    }
    mempwq = std::move(lines);
    engine.CheckAndFill();
    if (!ended)
        loop.exec();
    report.clearLine();
    // A Ctrl-C during the rebuild comes too late to stop it: a whole file is a success.
    if (outcome == RebuildOutcome::Extracted)
        return CliSuccess;
    if (interrupt.interrupted()) {
        CliErr("Aborted: " + report.summary() + "\nThe parts already fetched stay in " +
               settings.savePath + mempwq.fileNameLine() + ".dir/parts/");
        return ExitInterrupted;
    }
    if (outcome != RebuildOutcome::CrcError)
        CliErr("The gather stopped: " + report.summary());
    return CliFailure;
}

const CliCommandRegistration registration({"gather", "download a manifest's parts and rebuild the file", Usage,
                                           RunGather, true});

}  // namespace
