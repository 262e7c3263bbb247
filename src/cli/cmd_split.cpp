// parcelwick-cli split: Browse and Split File of the window, without the window.
#include "cli/cli_command.h"
#include "cli/command_line.h"
#include "cli/split_progress.h"
#include "common/save_path.h"
#include "common/user_error.h"
#include "scatter/split_warning.h"
#include "scatter/upload_table.h"

#include <QFileInfo>

namespace {

const char Usage[] =
    "usage: parcelwick-cli split SOURCE [--parts N] [--name BASE] [--ext EXT] [--save-path DIR] [-q]\n"
    "\n"
    "Splits SOURCE into N part files (default 3) named BASE1.EXT .. BASEN.EXT in the\n"
    "upload directory DIR/SOURCE-NAME.uldir/, and prints one line per part: its full\n"
    "path, size and CRC, separated by tabs. On a terminal, a progress line on stderr\n"
    "shows the bytes split, per cent, rate, time left and the part being written.\n"
    "\n"
    "  --parts N          number of parts, 1..1000 (default 3)\n"
    "  --name BASE        base name of the part files (default: the source's file name\n"
    "                     without special characters and extension)\n"
    "  --ext EXT          extension of the part files, without the dot (default bin)\n"
    "  --save-path DIR    where the upload directory goes (default ~/ParcelwickFiles/)\n"
    PW_CLI_QUIET_OPTION_HELP PW_CLI_COMMON_OPTIONS_HELP
    "\n"
    "exit status: 0 every part was written; 1 the split was refused or failed (the parts\n"
    "written before a failure stay and are printed); 2 wrong options or arguments.";

int runSplit(const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption parts("parts", "", "N", "3");
    const QCommandLineOption name("name", "", "BASE");
    const QCommandLineOption ext("ext", "", "EXT", "bin");
    const QCommandLineOption savePath("save-path", "", "DIR");
    const QCommandLineOption quiet(QStringList{"q", "quiet"});
    parser.addOptions({parts, name, ext, savePath});
    if (const auto exit = ParseCommandArguments(parser, "split", Usage, args, {1, 1}, &quiet))
        return *exit;
    if (parser.isSet(savePath) && parser.value(savePath).isEmpty())
        return CliUsageFailure("split", "--save-path needs a directory", Usage);

    SplitRequest request;
    request.sourcePath = parser.positionalArguments().first();
    bool isNumber = false;
    request.parts = parser.value(parts).toInt(&isNumber);
    if (!isNumber || request.parts < MinSplitParts || request.parts > MaxSplitParts) {
        CliErr(QString("parcelwick-cli split: --parts must be a whole number from %1 to %2, not \"%3\".")
                   .arg(MinSplitParts)
                   .arg(MaxSplitParts)
                   .arg(parser.value(parts)));
        return CliFailure;
    }
    request.baseName = parser.isSet(name) ? parser.value(name) : ProposedBaseName(request.sourcePath);
    request.extension = parser.value(ext);
    request.savePath = parser.isSet(savePath) ? parser.value(savePath) : DefaultSavePath();
    if (!request.savePath.endsWith('/'))
        request.savePath += '/';

    const QString warning = ContentWarning(request.sourcePath);
    if (!warning.isEmpty())
        CliErr(warning);

    TextTable table(UploadTableColumns());
    int status = CliSuccess;
    {
        ProgressLine progress("split " + QFileInfo(request.sourcePath).fileName(), -1, parser.isSet(quiet));
        try {
            SplitFile(request, table, SplitProgressOn(progress, request.parts));
        } catch (const UserError& error) {
            progress.finish();
            CliErr(error.text());
            status = CliFailure;
        }
    }
    // Parts written before a failure stay, and so do their lines.
    for (int row = 0; row < table.rows(); ++row) {
        CliOut(table.cell(row, UploadColumn::Filename) + '\t' + table.cell(row, UploadColumn::Size) + '\t' +
               table.cell(row, UploadColumn::Crc));
    }
    return status;
}

const CliCommandRegistration registration(
    {"split", "split a file into part files with their CRCs", Usage, runSplit, true});

}  // namespace
