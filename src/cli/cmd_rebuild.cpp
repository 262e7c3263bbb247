// parcelwick-cli rebuild: join the parts already in a manifest's parts directory and
// check the whole file's CRC, as the window's Rebuild does at the end of a gather.
#include "cli/cli_command.h"
#include "cli/cli_prompt.h"
#include "cli/command_line.h"
#include "cli/progress_line.h"
#include "cli/progress_prompt.h"
#include "common/manifest_format.h"
#include "common/save_path.h"
#include "gather/check_and_fill.h"
#include "gather/download_table.h"
#include "gather/gather_paths.h"
#include "gather/manifest_parts.h"
#include "gather/parts_on_disk.h"
#include "gather/rebuild.h"


namespace {

const char Usage[] =
    "usage: parcelwick-cli rebuild [-q] MANIFEST [--save-path DIR]\n"
    "\n"
    "Loads and checks MANIFEST, joins the part files found in DIR/NAME.dir/parts/\n"
    "in manifest order into DIR/NAME.dir/NAME, and compares the file's CRC with the\n"
    "manifest. Prints the outcome. On a terminal, a progress line on stderr shows the\n"
    "join. With a version-2 manifest every part on disk is checked by its size, CRC-32\n"
    "and SHA-256 first; data parts missing or wrong are rebuilt from any k good parts\n"
    "(one line each on stderr), and the file's SHA-256 is compared as well.\n"
    "\n"
    "  --save-path DIR    where the parts lie (default ~/ParcelwickFiles/)\n"
    PW_CLI_QUIET_OPTION_HELP PW_CLI_COMMON_OPTIONS_HELP
    "\n"
    "exit status: 0 only when the file was extracted successfully; 1 a refused manifest,\n"
    "a part that cannot be read, fewer than k good parts, or a CRC or SHA-256 error; 2\n"
    "wrong options or arguments.";

// Version 2: the data parts that are not good are rebuilt from the others first. False
// once the reason is shown.
bool RebuildMissingDataParts(const ManifestLines& mempwq, const QString& savePath) {
    ManifestV2 manifest;
    QString error = ManifestV2Refusal(mempwq, manifest);
    if (!error.isEmpty()) {
        CliErr(error);
        return false;
    }
    const SafeFolder parts = GatherPaths(savePath, mempwq.fileNameLine()).openPartsFolder(error);
    if (!parts.valid()) {
        CliErr(error);
        return false;
    }
    const PartsOnDisk onDisk = CheckPartsOnDisk(parts, manifest);
    if (onDisk.goodData == manifest.layout.dataParts)
        return true;
    QStringList lines;
    const bool rebuilt = RebuildMissingParts(parts, manifest, onDisk, lines, error);
    for (const QString& line : lines)
        CliErr(line);
    if (!rebuilt)
        CliOut(error);
    return rebuilt;
}

int RunRebuild(const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption savePathOption("save-path", "", "DIR");
    const QCommandLineOption quietOption(QStringList{"q", "quiet"});
    parser.addOption(savePathOption);
    if (const auto exit = ParseCommandArguments(parser, "rebuild", Usage, args, {1, 1}, &quietOption))
        return *exit;
    QString savePath = parser.isSet(savePathOption) ? parser.value(savePathOption) : DefaultSavePath();
    if (!savePath.endsWith('/'))
        savePath += '/';

    CliPrompt refusals(CliPrompt::InformationTo::Stderr);
    ManifestLines mempwq;
    TextTable table(DownloadTableColumns());
    if (OpenManifestFile(parser.positionalArguments().first(), mempwq, table, refusals) != FillOutcome::StartFirstPass)
        return CliFailure;
    if (IsManifestV2(mempwq) && !RebuildMissingDataParts(mempwq, savePath))
        return CliFailure;
    ProgressLine progress("rebuild " + mempwq.fileNameLine(), -1, parser.isSet(quietOption));
    const auto showProgress = [&progress](qint64 done, qint64 total) {
        progress.setTotal(total);
        progress.update(done);
    };
    ProgressPrompt prompt([&progress] { progress.finish(); });
    return Rebuild(mempwq, savePath, table, prompt, {}, showProgress) == RebuildOutcome::Extracted ? CliSuccess
                                                                                                   : CliFailure;
}

const CliCommandRegistration registration({"rebuild", "join downloaded parts into the file", Usage, RunRebuild, true});

}  // namespace
