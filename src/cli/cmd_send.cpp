// parcelwick-cli send: the whole sending side without the window: split, give the parts
// to the sites of a site-list file in turn, upload them as Send File does, write the
// manifest.
#include "cli/cli_command.h"
#include "cli/cli_prompt.h"
#include "cli/command_line.h"
#include "cli/interrupt_pipe.h"
#include "cli/progress_line.h"
#include "cli/scatter_options.h"
#include "cli/tls_options.h"
#include "common/text_table.h"
#include "ftp/ftp_client.h"
#include "cli/split_progress.h"
#include "common/user_error.h"
#include "scatter/assignment.h"
#include "scatter/part_ranges.h"
#include "scatter/site_list_file.h"
#include "scatter/site_list_table.h"
#include "scatter/split_source.h"
#include "scatter/upload_driver.h"
#include "scatter/upload_table.h"

#include <QEventLoop>
#include <QFile>
#include <QList>

#include <sys/stat.h>

namespace {

const char Usage[] =
    "usage: parcelwick-cli send SOURCE --sites FILE [--parts N] [--recovery M] [--sha256] [--name BASE]\n"
    "                           [--ext EXT] [--save-path DIR] [--user TEXT] [--comment TEXT] [--passive]\n"
    "                           [--ftps=off|try|require] [--parallel N] [--no-resume]\n"
    "                           [--verify=length|crc|off] [--no-part-files] [--cacert FILE] [--insecure]\n"
    "                           [--trust-fingerprint SHA256] [-q] -o OUT.pwq\n"
    "\n"
    "Splits SOURCE as \"pwq\" does, gives part i of the N + M parts (recovery parts after\n"
    "the data parts) to the ((i - 1) mod number of sites)-th site, so that no site holds\n"
    "more than ceil((N + M) / sites) of them: M at least that many protects the file\n"
    "against the loss of any one account. The sites are those of the site-list FILE (as\n"
    "\"Save FTP List\" writes it: FTP host, user name, password and web address of each\n"
    "site; a host may name its port, HOST:PORT). It uploads every part by FTP to its\n"
    "site as \"Send File\" does (one session per part, stored under the part's name in\n"
    "the account's login directory), and writes the manifest to OUT.pwq and prints its\n"
    "path once every part is stored. A connection\n"
    "that fails is tried again without end, 1 s after the first failure, then 2, 4 ...\n"
    "up to 30 s apart; a login the server refuses (or a site without a password) gives\n"
    "that part up at once; an account that answers 421 (or 530 \"too many connections\")\n"
    "is busy, and its part waits 1 s, then 2, 4 ... up to 60 s, and is tried again.\n"
    "Several accounts are sent to at once (--parallel), never two sessions on one\n"
    "account; a store broken off in the middle is tried again, and where the server\n"
    "offers REST STREAM only the rest is sent (\"! Resuming part at byte N\").\n"
    "The FTP log goes to stderr with the passwords masked; on a\n"
    "terminal one progress line shows the upload. Ctrl-C aborts like \"Abort FTP\".\n"
    "A site-list file that others than its owner may read gets a warning: it holds the\n"
    "passwords.\n"
    "\n"
    "  --sites FILE       the site-list file (ftplist.txt)\n"
    "  --parts N          number of parts, 1..1000 (default 3)\n"
    PW_CLI_RECOVERY_OPTIONS_HELP
    "  --name BASE        base name of the part files\n"
    "  --ext EXT          extension of the part files, without the dot (default bin)\n"
    "  --save-path DIR    where the upload directory goes (default ~/ParcelwickFiles/)\n"
    "  --user TEXT        the manifest's user name or comment line\n"
    "  --comment TEXT     the manifest's description line\n"
    "  --passive          every session opens its data connections itself (EPSV, else\n"
    "                     PASV), as a sender behind a router or firewall needs\n"
    "  --ftps MODE        FTP over TLS (AUTH TLS, then PBSZ 0 and PROT P) for every session:\n"
    "                     off (the default) sends everything in plain text; try uses TLS\n"
    "                     when the server offers it and says so when it does not; require\n"
    "                     gives up a part whose server does not speak TLS instead of trying\n"
    "                     again. In both, a server that agrees to TLS and then fails the\n"
    "                     handshake gives the part up (Status Error:TLS), and a server\n"
    "                     certificate that is not trusted gives up the parts of that server,\n"
    "                     with its fingerprint\n"
    "  --parallel N       sessions at once, 1..8, each to another account (default: the\n"
    "                     number of accounts in the site list, at most 8); with more\n"
    "                     than one, each log line begins with its site: [HOST] or\n"
    "                     [USER@HOST] where accounts share a host\n"
    "  --no-resume        a store broken off is not tried again in this send (the part\n"
    "                     is not stored, and a later send starts it from its first byte)\n"
    "  --verify MODE      after each store, the part's web address (its site's web\n"
    "                     address and the part's name, as the manifest has it) is checked:\n"
    "                     length (the default) by HEAD and the announced length, crc by\n"
    "                     GET and the CRC-32 of what comes (nothing is kept), off not at\n"
    "                     all. A part the address does not serve (404, another length or\n"
    "                     CRC) gets Status Error:web, and the account whose web address\n"
    "                     is wrong is named; an address that gives no answer at all (no\n"
    "                     such host, no connection) is only noted in the log\n"
    "  --no-part-files    no part files are written: each part is sent from its byte\n"
    "                     range of SOURCE (the CRCs from one read of it), so SOURCE needs\n"
    "                     no free space for its parts; the parts keep their names\n"
    "  -o, --output OUT   the manifest file to write\n"
    PW_CLI_TLS_OPTIONS_HELP PW_CLI_QUIET_OPTION_HELP PW_CLI_COMMON_OPTIONS_HELP
    "\n"
    "exit status: 0 every part was stored (the server answered 226 or 250 and, where it\n"
    "can tell, holds the part's size), its web address serves it (unless --verify=off)\n"
    "and the manifest was written; 1 the site list, the split, an upload, a web address\n"
    "or the manifest failed (then no manifest is written); 2 wrong options or arguments;\n"
    "130 interrupted by Ctrl-C.";

constexpr int ExitInterrupted = 130;

// The site list, with a warning when others may read the passwords in it. False, the
// reason shown, when it cannot be read or lists no site.
bool LoadSites(const QString& path, TextTable& sites) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) == 0 && (info.st_mode & (S_IRGRP | S_IROTH)))
        CliErr("Warning: " + path + " can be read by others than its owner, and it holds passwords (chmod 600 " +
               path + ")");
    QString error;
    if (!LoadSiteListFile(sites, path, error)) {
        CliErr(error);
        return false;
    }
    if (sites.rows() == 0) {
        CliErr(path + " lists no site");
        return false;
    }
    return true;
}

// Each row's first byte within all the parts; the last is the bytes of all of them.
QList<qint64> PartOffsets(const TextTable& uploads) {
    QList<qint64> offsets;
    qint64 total = 0;
    for (int r = 0; r <= uploads.rows(); ++r) {
        offsets << total;
        total += uploads.cell(r, UploadColumn::Size).toLongLong();
    }
    return offsets;
}

std::optional<UrlCheckMode> UrlCheckModeNamed(const QString& name) {
    if (name == "length")
        return UrlCheckMode::Length;
    if (name == "crc")
        return UrlCheckMode::Crc;
    if (name == "off")
        return UrlCheckMode::Off;
    return std::nullopt;
}

// Every part not stored, and every account whose web address does not serve what was
// stored in it (the commonest mistake: a WebSite that does not lead to the FTP folder).
void ReportUnsent(const TextTable& uploads) {
    QStringList wrongSites;
    bool stored = true;
    for (int r = 0; r < uploads.rows(); ++r) {
        const QString status = uploads.cell(r, UploadColumn::Status);
        if (uploads.cell(r, UploadColumn::Progress) != "100%") {
            stored = false;
            CliErr(QStringLiteral("part %1/%2 not stored: %3 (Status %4)")
                       .arg(r + 1)
                       .arg(uploads.rows())
                       .arg(uploads.cell(r, UploadColumn::Filename), status));
        } else if (status == "Error:web") {
            const QString account = QStringLiteral("%1 at %2 (web address %3)")
                                        .arg(uploads.cell(r, UploadColumn::UserName),
                                             uploads.cell(r, UploadColumn::FtpSite), uploads.cell(r, UploadColumn::Site));
            if (!wrongSites.contains(account))
                wrongSites << account;
        }
    }
    for (const QString& account : wrongSites)
        CliErr("The web address of account " + account + " does not serve the parts stored in it.");
    CliErr(stored ? QStringLiteral("No manifest written: not every part is served at its web address.")
                  : QStringLiteral("No manifest written: not every part is stored."));
}

int RunSend(const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption sitesOption("sites", "", "FILE");
    const QCommandLineOption passiveOption("passive");
    const QCommandLineOption ftpsOption("ftps", "", "MODE", "off");
    const QCommandLineOption parallelOption("parallel", "", "N");
    const QCommandLineOption noResumeOption("no-resume");
    const QCommandLineOption verifyOption("verify", "", "MODE", "length");
    const QCommandLineOption noPartFilesOption("no-part-files");
    const ScatterOptions options;
    const CliTlsOptions tls;
    parser.addOptions({sitesOption, passiveOption, ftpsOption, parallelOption, noResumeOption, verifyOption,
                       noPartFilesOption});
    options.addTo(parser);
    tls.addTo(parser);
    if (const auto exit = ParseCommandArguments(parser, "send", Usage, args, {1, 1}, &options.quiet))
        return *exit;
    const std::optional<TFtpTlsMode> tlsMode = FtpTlsModeNamed(parser.value(ftpsOption));
    if (!tlsMode)
        return CliUsageFailure("send", "--ftps takes off, try or require", Usage);
    if (const auto exit = tls.apply(parser, "send", Usage))
        return *exit;
    if (!parser.isSet(sitesOption))
        return CliUsageFailure("send", "no --sites given", Usage);
    bool parallelOk = true;
    const int parallel = parser.isSet(parallelOption) ? parser.value(parallelOption).toInt(&parallelOk) : 8;
    if (!parallelOk || parallel < 1 || parallel > 8)
        return CliUsageFailure("send", "--parallel takes a number from 1 to 8", Usage);
    const std::optional<UrlCheckMode> verify = UrlCheckModeNamed(parser.value(verifyOption));
    if (!verify)
        return CliUsageFailure("send", "--verify takes length, crc or off", Usage);
    if (const auto exit = CheckScatterOptions(parser, options, "send", Usage))
        return *exit;

    TextTable sites(SiteListColumns());
    if (!LoadSites(parser.value(sitesOption), sites))
        return CliFailure;
    SplitRequest request = ScatterSplitRequest(parser, options);
    TextTable uploads(UploadTableColumns());
    const bool quiet = parser.isSet(options.quiet);
    // Without part files the data parts are sent from their byte ranges of the source;
    // recovery parts, which exist nowhere else, are still written to the upload folder.
    const bool noPartFiles = parser.isSet(noPartFilesOption);
    std::optional<SplitOutcome> split;
    if (noPartFiles && !request.strong()) {
        try {
            ProgressLine crcProgress("crc " + FileNameOfPath(request.sourcePath), -1, quiet);
            split = DescribePartRanges(request, uploads, SplitProgressOn(crcProgress, request.parts));
        } catch (const UserError& e) {
            CliErr(e.text());
            return CliFailure;
        }
    } else {
        request.writeDataParts = !noPartFiles;
        split = SplitForScatter(request, uploads, quiet);
    }
    if (!split)
        return CliFailure;
    CliPrompt prompt(CliPrompt::InformationTo::Stderr);
    AssignSitesInTurn(uploads, sites, prompt);

    const QList<qint64> offsets = PartOffsets(uploads);
    ProgressLine progress("send " + FileNameOfPath(request.sourcePath), offsets.last(), quiet);
    TFtpClient client;
    client.SetTimeout(30);
    UploadDriver driver(
        uploads, client, prompt,
        [&progress](const QString& line) {
            progress.finish();
            CliErr(line);
        },
        [&] {
            UploadSettings settings;
            settings.passive = parser.isSet(passiveOption);
            settings.tlsMode = *tlsMode;
            // The driver gives no more sessions than there are accounts.
            settings.sessions = parallel;
            settings.resume = !parser.isSet(noResumeOption);
            settings.verify = *verify;
            return settings;
        });
    driver.BindClientEvents();
    if (noPartFiles)
        driver.SendRowsFromRanges(request.sourcePath, DataRowStarts(*split, uploads));
    // Several parts may move at once: the line shows the sum of what each has sent.
    QList<qint64> sentOf(uploads.rows(), 0);
    qint64 sentInAll = 0;
    driver.onProgress = [&](int row, qint64 sent) {
        if (row < 0 || row >= sentOf.size())
            return;
        sentInAll += sent - sentOf[row];
        sentOf[row] = sent;
        progress.update(sentInAll, QStringLiteral("part %1/%2").arg(row + 1).arg(uploads.rows()));
    };
    QEventLoop loop;
    bool ended = false;
    bool allStored = false;
    driver.onFinished = [&](bool allSent) {
        allStored = allSent;
        ended = true;
        loop.quit();
    };
    const InterruptPipe interrupt([&] {
        progress.finish();
        driver.Abort();
    });
    driver.Send();
    if (!ended)
        loop.exec();
    progress.finish();

    if (interrupt.interrupted()) {
        CliErr("Aborted: no manifest written");
        return ExitInterrupted;
    }
    if (!allStored) {
        ReportUnsent(uploads);
        return CliFailure;
    }
    return WriteScatterManifest(parser, options, request, *split, uploads) ? CliSuccess : CliFailure;
}

const CliCommandRegistration registration(
    {"send", "split a file, upload its parts by FTP and write its manifest", Usage, RunSend, true});

}  // namespace
