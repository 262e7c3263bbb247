// parcelwick-cli rebuild: join the parts already in a manifest's parts directory and
// check the whole file's CRC, as the window's Rebuild does at the end of a gather.
#include "cli/cli_command.h"
#include "cli/cli_prompt.h"
#include "cli/progress_line.h"
#include "cli/progress_prompt.h"
#include "common/manifest_format.h"
#include "common/save_path.h"
#include "gather/check_and_fill.h"
#include "gather/download_table.h"
#include "gather/rebuild.h"

#include <QCommandLineParser>

namespace {

const char Usage[] =
    "usage: parcelwick-cli rebuild MANIFEST [--save-path DIR] [--quiet]\n"
    "\n"
    "Loads and checks MANIFEST, joins the part files found in DIR/NAME.dir/parts/\n"
    "(default save path ~/ParcelwickFiles/) in manifest order into DIR/NAME.dir/NAME,\n"
    "and compares the file's CRC with the manifest. Prints the outcome; exits with 0\n"
    "only when the file was extracted successfully. On a terminal a progress line\n"
    "shows on standard error, unless --quiet.";

int RunRebuild(const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption savePathOption("save-path", "", "DIR");
    const QCommandLineOption quietOption("quiet");
    parser.addOptions({savePathOption, quietOption});
    if (!parser.parse(QStringList{"rebuild"} + args) || parser.positionalArguments().size() != 1) {
        CliErr(Usage);
        return 2;
    }
    QString savePath = parser.isSet(savePathOption) ? parser.value(savePathOption) : DefaultSavePath();
    if (!savePath.endsWith('/'))
        savePath += '/';

    CliPrompt refusals(CliPrompt::InformationTo::Stderr);
    ManifestLines mempwq;
    TextTable table(DownloadTableColumns());
    if (OpenManifestFile(parser.positionalArguments().first(), mempwq, table, refusals) != FillOutcome::StartFirstPass)
        return 1;
    ProgressLine progress("rebuild " + mempwq.fileNameLine(), -1, parser.isSet(quietOption));
    const auto showProgress = [&progress](qint64 done, qint64 total) {
        progress.setTotal(total);
        progress.update(done);
    };
    ProgressPrompt prompt([&progress] { progress.finish(); });
    return Rebuild(mempwq, savePath, table, prompt, {}, showProgress) == RebuildOutcome::Extracted ? 0 : 1;
}

const CliCommandRegistration registration({"rebuild", "join downloaded parts into the file", Usage, RunRebuild});

}  // namespace
