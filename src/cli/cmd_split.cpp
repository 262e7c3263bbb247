// parcelwick-cli split: Browse and Split File of the window, without the window.
#include "cli/cli_command.h"
#include "common/save_path.h"
#include "common/user_error.h"
#include "scatter/split_warning.h"
#include "scatter/splitter.h"
#include "scatter/upload_table.h"

namespace {

const char* const Usage =
    "usage: parcelwick-cli split SOURCE [--parts N] [--name BASE] [--ext EXT] [--save-path DIR]\n"
    "\n"
    "Splits SOURCE into N part files (default 3) named BASE1.EXT .. BASEN.EXT in the\n"
    "upload directory DIR/SOURCE-NAME.uldir/, and prints one line per part: its full\n"
    "path, size and CRC, separated by tabs.\n"
    "\n"
    "  --parts N        number of parts, 1..1000 (default 3)\n"
    "  --name BASE      base name of the part files (default: the source's file name\n"
    "                   without special characters and extension)\n"
    "  --ext EXT        extension of the part files, without the dot (default bin)\n"
    "  --save-path DIR  where the upload directory goes (default ~/ParcelwickFiles/)";

int usageError(const QString& text) {
    CliErr("parcelwick-cli split: " + text);
    CliErr(Usage);
    return 2;
}

int runSplit(const QStringList& args) {
    SplitRequest request;
    QString parts = "3";
    QString name, ext = "bin", savePath = DefaultSavePath();
    bool nameGiven = false, sourceGiven = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        QString option = args[i], value;
        const qsizetype equals = option.indexOf('=');
        const bool inlineValue = option.startsWith("--") && equals > 0;
        if (inlineValue) {
            value = option.mid(equals + 1);
            option = option.left(equals);
        }
        if (option == "--parts" || option == "--name" || option == "--ext" || option == "--save-path") {
            if (!inlineValue) {
                if (i + 1 >= args.size())
                    return usageError(option + " needs a value");
                value = args[++i];
            }
            if (option == "--parts")
                parts = value;
            else if (option == "--name")
                name = value, nameGiven = true;
            else if (option == "--ext")
                ext = value;
            else if (value.isEmpty())
                return usageError("--save-path needs a directory");
            else
                savePath = value.endsWith('/') ? value : value + "/";
        } else if (option.startsWith("-") && option != "-") {
            return usageError("unknown option " + option);
        } else if (sourceGiven) {
            return usageError("only one SOURCE may be given");
        } else {
            request.sourcePath = option;
            sourceGiven = true;
        }
    }
    if (!sourceGiven)
        return usageError("no SOURCE given");
    bool isNumber = false;
    request.parts = parts.toInt(&isNumber);
    if (!isNumber || request.parts < MinSplitParts || request.parts > MaxSplitParts) {
        CliErr(QString("parcelwick-cli split: --parts must be a whole number from %1 to %2, not \"%3\".")
                   .arg(MinSplitParts)
                   .arg(MaxSplitParts)
                   .arg(parts));
        return 1;
    }
    request.baseName = nameGiven ? name : ProposedBaseName(request.sourcePath);
    request.extension = ext;
    request.savePath = savePath;

    const QString warning = ContentWarning(request.sourcePath);
    if (!warning.isEmpty())
        CliErr(warning);

    TextTable table(UploadTableColumns());
    int status = 0;
    try {
        SplitFile(request, table);
    } catch (const UserError& error) {
        CliErr(error.text());
        status = 1;
    }
    // Parts written before a failure stay, and so do their lines.
    for (int row = 0; row < table.rows(); ++row) {
        CliOut(table.cell(row, UploadColumn::Filename) + '\t' + table.cell(row, UploadColumn::Size) + '\t' +
               table.cell(row, UploadColumn::Crc));
    }
    return status;
}

const CliCommandRegistration registration({"split", "split a file into part files with their CRCs", Usage, runSplit});

}  // namespace
