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
    parser.addOptions({parts, name, ext, savePath, user, comment, output});
}

std::optional<int> CheckScatterOptions(const QCommandLineParser& parser, const ScatterOptions& options,
                                       const QString& command, const QString& usage) {
    if (!parser.isSet(options.output))
        return CliUsageFailure(command, "no -o given", usage);
    bool partsOk = false;
    parser.value(options.parts).toInt(&partsOk);
    if (!partsOk)
        return CliUsageFailure(command, "--parts needs a whole number", usage);
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
    return request;
}

std::optional<uint32_t> SplitForScatter(const SplitRequest& request, TextTable& uploads, bool quiet) {
    try {
        ProgressLine progress("split " + QFileInfo(request.sourcePath).fileName(), -1, quiet);
        return SplitFile(request, uploads, SplitProgressOn(progress, request.parts));
    } catch (const UserError& e) {
        CliErr(e.text());
        return std::nullopt;
    }
}

bool WriteScatterManifest(const QCommandLineParser& parser, const ScatterOptions& options,
                          const SplitRequest& request, uint32_t fileCrc, const TextTable& uploads) {
    ManifestLines mempwq;
    MakeManifestLines(
        {request.sourcePath, request.parts, parser.value(options.user), parser.value(options.comment), fileCrc},
        uploads, mempwq);
    QString error;
    if (!WriteManifestFile(mempwq.lines(), parser.value(options.output), error)) {
        CliErr(error);
        return false;
    }
    CliOut(parser.value(options.output));
    return true;
}
