// parcelwick-cli crc: the CRC-32 of files in the program's own text form, as the
// manifest and the tables show it.
#include "cli/cli_command.h"
#include "crc/crc32.h"

#include <QFile>

namespace {

const char kUsage[] =
    "usage: parcelwick-cli crc FILE...\n"
    "\n"
    "Prints the CRC-32 of each FILE as 8 upper-case hex digits, two blanks and the path,\n"
    "the form a manifest holds. The exit status is 1 when a file cannot be read (the\n"
    "other files are still printed).";

int runCrc(const QStringList& args) {
    if (args.isEmpty()) {
        CliErr("parcelwick-cli crc: no file given");
        CliErr(kUsage);
        return 2;
    }
    int status = 0;
    for (const QString& path : args) {
        // The local 8-bit encoding gives back the exact bytes of the argument.
        const QByteArray localPath = QFile::encodeName(path);
        uint32_t crc = 0;
        if (FileCrc32(std::filesystem::path(localPath.toStdString()), crc)) {
            CliOut(QString::fromStdString(Crc32Text(crc)) + "  " + path);
        } else {
            CliErr("parcelwick-cli: cannot read " + path);
            status = 1;
        }
    }
    return status;
}

const CliCommandRegistration registration({"crc", "print the CRC-32 of files", kUsage, runCrc});

}  // namespace
