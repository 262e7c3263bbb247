// parcelwick-cli show: load and check a manifest as Open/Download does and list what a
// gather would fetch and where it would put it.
#include "cli/cli_command.h"
#include "cli/cli_prompt.h"
#include "cli/command_line.h"
#include "common/manifest_format.h"
#include "common/save_path.h"
#include "gather/check_and_fill.h"
#include "gather/download_table.h"
#include "gather/gather_paths.h"

namespace {

const char Usage[] =
    "usage: parcelwick-cli show MANIFEST [--save-path DIR]\n"
    "\n"
    "Loads and checks MANIFEST as \"Open/Download\" does and prints the file name, the\n"
    "file CRC, then one line per part: URL, size, CRC and local file (in\n"
    "DIR/NAME.dir/parts/, default save path ~/ParcelwickFiles/), separated by tabs.\n"
    "\n"
    "  --save-path DIR    where a gather would put the parts (default ~/ParcelwickFiles/)\n"
    PW_CLI_COMMON_OPTIONS_HELP
    "\n"
    "exit status: 0 the manifest is good; 1 it was refused (the reason is on\n"
    "stderr); 2 wrong options or arguments.";

int RunShow(const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption savePathOption("save-path", "", "DIR");
    parser.addOption(savePathOption);
    if (const auto exit = ParseCommandArguments(parser, "show", Usage, args, {1, 1}))
        return *exit;
    QString savePath = parser.isSet(savePathOption) ? parser.value(savePathOption) : DefaultSavePath();
    if (!savePath.endsWith('/'))
        savePath += '/';

    CliPrompt prompt(CliPrompt::InformationTo::Stderr);
    ManifestLines mempwq;
    TextTable table(DownloadTableColumns());
    if (OpenManifestFile(parser.positionalArguments().first(), mempwq, table, prompt) != FillOutcome::StartFirstPass)
        return CliFailure;

    const GatherPaths paths(savePath, mempwq.fileNameLine());
    CliOut(mempwq.fileNameLine());
    CliOut(mempwq.fileCrcLine());
    for (int r = 0; r < table.rows(); ++r) {
        const QString url = table.cell(r, DownloadColumn::Filename);
        CliOut(QStringList{url, table.cell(r, DownloadColumn::PartSize), table.cell(r, DownloadColumn::CrcPwq),
                           paths.partFile(url)}
                   .join('\t'));
    }
    return CliSuccess;
}

const CliCommandRegistration registration({"show", "check a manifest and list its parts", Usage, RunShow, true});

}  // namespace
