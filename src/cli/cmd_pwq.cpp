// parcelwick-cli pwq: split a file, give part i to site ((i - 1) mod sites) and write
// the manifest, as the window's pages 2 to 4 do without the upload.
#include "cli/cli_command.h"
#include "cli/cli_prompt.h"
#include "cli/command_line.h"
#include "cli/scatter_options.h"
#include "common/text_table.h"
#include "scatter/assignment.h"
#include "scatter/site_list_table.h"
#include "scatter/upload_table.h"

namespace {

const char Usage[] =
    "usage: parcelwick-cli pwq SOURCE --site URL [--site URL ...] [--parts N] [--recovery M] [--sha256]\n"
    "                          [--name BASE] [--ext EXT] [--save-path DIR] [--user TEXT] [--comment TEXT]\n"
    "                          [-q] -o OUT.pwq\n"
    "\n"
    "Splits SOURCE into N parts (default 3) named BASE1.EXT .. BASEN.EXT (default: the\n"
    "source's name without special characters, and \"bin\") in DIR/SOURCENAME.uldir/\n"
    "(default save path: ~/ParcelwickFiles/), and M recovery parts BASEr1.EXT ..\n"
    "BASErM.EXT after them, assigns part i of the N + M to the site given by the\n"
    "((i - 1) mod number of sites)-th --site (a web address ending with \"/\"), writes the\n"
    "manifest to OUT.pwq and prints its path. The parts are not uploaded. So no site\n"
    "holds more than ceil((N + M) / sites) parts: M at least that many protects the\n"
    "file against the loss of any one site. On a terminal, a progress line on stderr\n"
    "shows the split.\n"
    "\n"
    "  --site URL         web address of a site that will hold parts (repeatable)\n"
    "  --parts N          number of parts, 1..1000 (default 3)\n"
    PW_CLI_RECOVERY_OPTIONS_HELP
    "  --name BASE        base name of the part files\n"
    "  --ext EXT          extension of the part files, without the dot (default bin)\n"
    "  --save-path DIR    where the upload directory goes (default ~/ParcelwickFiles/)\n"
    "  --user TEXT        the manifest's user name or comment line\n"
    "  --comment TEXT     the manifest's description line\n"
    "  -o, --output OUT   the manifest file to write\n"
    PW_CLI_QUIET_OPTION_HELP PW_CLI_COMMON_OPTIONS_HELP
    "\n"
    "exit status: 0 the manifest was written; 1 the split was refused or failed, or the\n"
    "manifest could not be written; 2 wrong options or arguments, no --site or no -o.";

int RunPwq(const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption site("site", "", "URL");
    const ScatterOptions options;
    parser.addOption(site);
    options.addTo(parser);
    if (const auto exit = ParseCommandArguments(parser, "pwq", Usage, args, {1, 1}, &options.quiet))
        return *exit;
    if (!parser.isSet(site))
        return CliUsageFailure("pwq", "no --site given", Usage);
    if (const auto exit = CheckScatterOptions(parser, options, "pwq", Usage))
        return *exit;

    const SplitRequest request = ScatterSplitRequest(parser, options);
    TextTable uploads(UploadTableColumns());
    const std::optional<SplitOutcome> split = SplitForScatter(request, uploads, parser.isSet(options.quiet));
    if (!split)
        return CliFailure;

    CliPrompt prompt(CliPrompt::InformationTo::Stderr);
    TextTable sites(SiteListColumns());
    for (const QString& url : parser.values(site)) {
        QStringList cells(SiteColumn::Count);
        cells[SiteColumn::WebSite] = url;
        sites.addRow(cells);
    }
    AssignSitesInTurn(uploads, sites, prompt);
    return WriteScatterManifest(parser, options, request, *split, uploads) ? CliSuccess : CliFailure;
}

const CliCommandRegistration registration({"pwq", "split a file and write its manifest (.pwq)", Usage, RunPwq, true});

}  // namespace
