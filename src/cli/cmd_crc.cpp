// parcelwick-cli crc: the CRC-32 of files in the program's own text form, as the
// manifest and the tables show it.
#include "cli/cli_command.h"
#include "cli/command_line.h"
#include "cli/progress_line.h"
#include "crc/crc32.h"

#include <QFile>

namespace {

const char Usage[] =
    "usage: parcelwick-cli crc [-q] FILE...\n"
    "\n"
    "Prints the CRC-32 of each FILE as 8 upper-case hex digits, two blanks and the path,\n"
    "the form a manifest holds. On a terminal, a progress line on stderr shows each file's\n"
    "bytes, per cent, rate and time left.\n"
    "\n" PW_CLI_QUIET_OPTION_HELP PW_CLI_COMMON_OPTIONS_HELP
    "\n"
    "exit status: 0 every file was read; 1 a file could not be read (the other files are\n"
    "still printed); 2 wrong options or no FILE.";

int runCrc(const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption quiet(QStringList{"q", "quiet"});
    if (const auto exit = ParseCommandArguments(parser, "crc", Usage, args, {1, -1}, &quiet))
        return *exit;
    int status = CliSuccess;
    for (const QString& path : parser.positionalArguments()) {
        ProgressLine progress("crc " + path, -1, parser.isSet(quiet));
        FileCrc32Progress shown;
        if (progress.active())
            shown = [&progress](uint64_t done, uint64_t total) {
                progress.setTotal(qint64(total));
                progress.update(qint64(done));
            };
        // The local 8-bit encoding gives back the exact bytes of the argument.
        const QByteArray localPath = QFile::encodeName(path);
        uint32_t crc = 0;
        const bool read = FileCrc32(std::filesystem::path(localPath.toStdString()), crc, shown);
        progress.finish();
        if (read) {
            CliOut(QString::fromStdString(Crc32Text(crc)) + "  " + path);
        } else {
            CliErr("parcelwick-cli: cannot read " + path);
            status = CliFailure;
        }
    }
    return status;
}

const CliCommandRegistration registration({"crc", "print the CRC-32 of files", Usage, runCrc, true});

}  // namespace
