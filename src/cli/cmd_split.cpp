// parcelwick-cli split: Browse and Split File of the window, without the window.
#include "cli/cli_command.h"
#include "cli/command_line.h"
#include "cli/scatter_options.h"
#include "cli/split_progress.h"
#include "common/save_path.h"
#include "common/user_error.h"
#include "scatter/split_warning.h"
#include "scatter/upload_table.h"

#include <QFileInfo>

namespace {

const char Usage[] =
    "usage: parcelwick-cli split SOURCE [--parts N] [--recovery M] [--sha256] [--name BASE] [--ext EXT]\n"
    "                            [--save-path DIR] [-q]\n"
    "\n"
    "Splits SOURCE into N part files (default 3) named BASE1.EXT .. BASEN.EXT in the\n"
    "upload directory DIR/SOURCE-NAME.uldir/, and M recovery parts BASEr1.EXT ..\n"
    "BASErM.EXT after them, and prints one line per part, the recovery parts last: its\n"
    "full path, size and CRC, and with --recovery or --sha256 its SHA-256, separated by\n"
    "tabs. On a terminal, a progress line on stderr shows the bytes split, per cent,\n"
    "rate, time left and the part being written.\n"
    "\n"
    "  --parts N          number of parts, 1..1000 (default 3)\n"
    PW_CLI_RECOVERY_OPTIONS_HELP
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
    const QCommandLineOption recovery("recovery", "", "M", "0");
    const QCommandLineOption sha256("sha256");
    parser.addOptions({parts, name, ext, savePath, recovery, sha256});
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
    request.recoveryParts = parser.value(recovery).toInt(&isNumber);
    if (!isNumber || request.recoveryParts < 0 || request.recoveryParts > MaxRecoveryParts) {
        CliErr(QString("parcelwick-cli split: --recovery must be a whole number from 0 to %1, not \"%2\".")
                   .arg(MaxRecoveryParts)
                   .arg(parser.value(recovery)));
        return CliFailure;
    }
    request.sha256 = parser.isSet(sha256);
    request.baseName = parser.isSet(name) ? parser.value(name) : ProposedBaseName(request.sourcePath);
    request.extension = parser.value(ext);
    request.savePath = parser.isSet(savePath) ? parser.value(savePath) : DefaultSavePath();
    if (!request.savePath.endsWith('/'))
        request.savePath += '/';

    const QString warning = ContentWarning(request.sourcePath);
    if (!warning.isEmpty())
        CliErr(warning);

    TextTable table(UploadTableColumns());
    SplitOutcome split;
    int status = CliSuccess;
    {
        ProgressLine progress("split " + QFileInfo(request.sourcePath).fileName(), -1, parser.isSet(quiet));
        try {
            split = SplitSource(request, table, SplitProgressOn(progress, request.parts + request.recoveryParts));
        } catch (const UserError& error) {
            progress.finish();
            CliErr(error.text());
            status = CliFailure;
        }
    }
    // Parts written before a failure stay, and so do their lines.
    for (int row = 0; row < table.rows(); ++row) {
        QString line = table.cell(row, UploadColumn::Filename) + '\t' + table.cell(row, UploadColumn::Size) + '\t' +
                       table.cell(row, UploadColumn::Crc);
        if (row < split.partSha256.size())
            line += '\t' + split.partSha256[row];
        CliOut(line);
    }
    return status;
}

const CliCommandRegistration registration(
    {"split", "split a file into part files with their CRCs", Usage, runSplit, true});

}  // namespace
