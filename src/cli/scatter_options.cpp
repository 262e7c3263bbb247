#include "cli/scatter_options.h"

#include "cli/cli_command.h"
#include "cli/command_line.h"
#include "cli/split_progress.h"
#include "common/manifest_format.h"
#include "common/save_path.h"
#include "common/user_error.h"
#include "scatter/manifest_writer.h"

#include <QFileInfo>

void ScatterOptions::addTo(QCommandLineParser& parser) const {
    parser.addOptions({parts, name, ext, savePath, user, comment, output, recovery, sha256});
}

std::optional<int> CheckScatterOptions(const QCommandLineParser& parser, const ScatterOptions& options,
                                       const QString& command, const QString& usage) {
    if (!parser.isSet(options.output))
        return CliUsageFailure(command, "no -o given", usage);
    bool partsOk = false;
    parser.value(options.parts).toInt(&partsOk);
    if (!partsOk)
        return CliUsageFailure(command, "--parts needs a whole number", usage);
    bool recoveryOk = false;
    parser.value(options.recovery).toInt(&recoveryOk);
    if (!recoveryOk)
        return CliUsageFailure(command, "--recovery needs a whole number", usage);
    return std::nullopt;
}

SplitRequest ScatterSplitRequest(const QCommandLineParser& parser, const ScatterOptions& options) {
    SplitRequest request;
    request.sourcePath = parser.positionalArguments().first();
    request.parts = parser.value(options.parts).toInt();
    request.baseName = parser.isSet(options.name) ? parser.value(options.name) : ProposedBaseName(request.sourcePath);
    request.extension = parser.value(options.ext);
    request.savePath = parser.isSet(options.savePath) ? parser.value(options.savePath) : DefaultSavePath();
    if (!request.savePath.endsWith('/'))
        request.savePath += '/';
    request.recoveryParts = parser.value(options.recovery).toInt();
    request.sha256 = parser.isSet(options.sha256);
    return request;
}

std::optional<SplitOutcome> SplitForScatter(const SplitRequest& request, TextTable& uploads, bool quiet) {
    try {
        ProgressLine progress("split " + QFileInfo(request.sourcePath).fileName(), -1, quiet);
        return SplitSource(request, uploads, SplitProgressOn(progress, request.parts + request.recoveryParts));
    } catch (const UserError& e) {
        CliErr(e.text());
        return std::nullopt;
    }
}

bool WriteScatterManifest(const QCommandLineParser& parser, const ScatterOptions& options,
                          const SplitRequest& request, const SplitOutcome& split, const TextTable& uploads) {
    ManifestLines mempwq;
    try {
        MakeManifestLines({request.sourcePath, request.parts, parser.value(options.user),
                           parser.value(options.comment), split.fileCrc, split.fileSha256 ? &split : nullptr},
                          uploads, mempwq);
    } catch (const UserError& e) {
        CliErr(e.text());
        return false;
    }
    QString error;
    if (!WriteManifestFile(mempwq.lines(), parser.value(options.output), error)) {
        CliErr(error);
        return false;
    }
    CliOut(parser.value(options.output));
    return true;
}
