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
#include "gather/manifest_parts.h"
#include "gather/parts_on_disk.h"

#include <QFileInfo>

namespace {

const char Usage[] =
    "usage: parcelwick-cli show MANIFEST [--save-path DIR]\n"
    "\n"
    "Loads and checks MANIFEST as \"Open/Download\" does and prints the file name, the\n"
    "file CRC, then one line per part: URL, size, CRC and local file (in\n"
    "DIR/NAME.dir/parts/, default save path ~/ParcelwickFiles/), separated by tabs.\n"
    "A version-2 manifest adds the file's SHA-256 after its CRC, and to each line the\n"
    "part's SHA-256, \"data N\" or \"recovery N\", and how its file lies on disk (good:\n"
    "its size, CRC-32 and SHA-256 match; wrong; missing); the data parts come first, the\n"
    "recovery parts after them, and a last line says whether the good parts suffice to\n"
    "rebuild the file.\n"
    "\n"
    "  --save-path DIR    where a gather would put the parts (default ~/ParcelwickFiles/)\n"
    PW_CLI_COMMON_OPTIONS_HELP
    "\n"
    "exit status: 0 the manifest is good; 1 it was refused (the reason is on\n"
    "stderr); 2 wrong options or arguments.";

// The data and recovery parts of a version-2 manifest and how they lie on disk.
int ShowCodedParts(const ManifestLines& mempwq, const GatherPaths& paths) {
    ManifestV2 manifest;
    const QString refusal = ManifestV2Refusal(mempwq, manifest);
    if (!refusal.isEmpty()) {
        CliErr(refusal);
        return CliFailure;
    }
    CliOut(QString::fromStdString(Sha256Text(manifest.fileSha256)));
    // Only read: a folder that is not there is not made.
    QString error;
    const SafeFolder folder =
        QFileInfo(paths.partsDirectory()).isDir() ? paths.openPartsFolder(error) : SafeFolder();
    const PartsOnDisk onDisk = CheckPartsOnDisk(folder, manifest);
    const QList<ManifestV2Part> parts = manifest.data + manifest.recovery;
    const int k = manifest.layout.dataParts;
    const int m = manifest.layout.recoveryParts;
    for (int i = 0; i < parts.size(); ++i) {
        const ManifestPart row = ManifestPartOf(parts[i]);
        const char* const state[] = {"missing", "wrong", "good"};
        CliOut(QStringList{row.url, row.size, row.crc, paths.partFile(row.url),
                           QString::fromStdString(Sha256Text(parts[i].sha256)),
                           i < k ? QString("data %1").arg(i + 1) : QString("recovery %1").arg(i - k + 1),
                           state[onDisk.state[i]]}
                   .join('\t'));
    }
    const bool enough = onDisk.goodData + onDisk.goodRecovery >= k;
    CliOut(QString("%1 of %2 data parts and %3 of %4 recovery parts are good on disk: %5 to rebuild the file, which "
                   "needs any %2 of the %6 parts")
               .arg(onDisk.goodData)
               .arg(k)
               .arg(onDisk.goodRecovery)
               .arg(m)
               .arg(enough ? "enough" : "too few")
               .arg(k + m));
    return CliSuccess;
}

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
    if (IsManifestV2(mempwq))
        return ShowCodedParts(mempwq, paths);
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
