#include "gather/rebuild.h"

#include "common/manifest_format.h"
#include "common/path_rules.h"
#include "common/safe_folder.h"
#include "common/system_error.h"
#include "common/text_table.h"
#include "common/user_prompt.h"
#include "crc/crc32.h"
#include "gather/download_table.h"
#include "gather/gather_paths.h"
#include "gather/manifest_parts.h"
#include "gather/part_joiner.h"

#include <QUrl>
#include <optional>

namespace {

// The lines may have been composed by "Make PWQ" since the table was filled, so the
// names are checked again here, not only when the manifest was loaded.
QString UnsafeNameMessage(const ManifestLines& mempwq, const TextTable& table, int rows) {
    if (!IsPlainFileName(mempwq.fileNameLine()))
        return "Cannot rebuild: \"" + VisibleName(mempwq.fileNameLine()) + "\" is not a plain file name.";
    for (int r = 0; r < rows; ++r) {
        const QString local = LocalPartName(table.cell(r, DownloadColumn::Filename));
        if (!IsPlainFileName(local))
            return "Cannot rebuild: the part \"" + VisibleName(table.cell(r, DownloadColumn::Filename)) +
                   "\" has no plain local file name.";
    }
    return QString();
}

// The join goes into a fresh file beside the output, renamed over it once every part is
// in: a link planted where the output goes is replaced, never written through, and a
// join that fails leaves no half file under the output's name (an earlier output
// stays as it was). A CRC that differs is no failure of the join: that file is kept.
JoinResult JoinIntoPlace(const SafeFolder& work, const QString& outputName, const QString& outputPath,
                         const SafeFolder& parts, const QStringList& names, const JoinProgress& progress, bool sha256) {
    JoinResult result;
    QString temporary;
    int error = 0;
    UniqueFd out = work.createTemporary(".pw-rebuild-", temporary, error);
    if (!out.valid()) {
        result.error = SystemError("Cannot create ", outputPath, error);
        return result;
    }
    result = JoinParts(parts, names, std::move(out), outputPath, progress, sha256);
    if (result.ok && !work.rename(temporary, outputName, error)) {
        result.ok = false;
        result.error = SystemError("Cannot create ", outputPath, error);
    }
    if (!result.ok)
        work.remove(temporary);
    return result;
}

}  // namespace

RebuildOutcome Rebuild(const ManifestLines& mempwq, const QString& savePath, const TextTable& downloadTable,
                       UserPrompt& prompt, const std::function<void(int)>& setGauge, const JoinProgress& progress) {
    // Version 2: the data parts are the first k rows (recovery rows follow them), and the
    // file has a SHA-256 to match besides its CRC.
    std::optional<ManifestV2> coded;
    if (IsManifestV2(mempwq)) {
        coded.emplace();
        if (const QString refusal = ParseManifestV2(mempwq.lines(), *coded); !refusal.isEmpty()) {
            prompt.error("Cannot rebuild: " + refusal);
            return RebuildOutcome::Failed;
        }
    }
    const int rows = coded ? std::min<int>(downloadTable.rows(), coded->layout.dataParts) : downloadTable.rows();
    if (setGauge) {
        qint64 good = 0;
        for (int r = 0; r < rows; ++r)
            good += downloadTable.cell(r, DownloadColumn::CrcOk) == QLatin1String("G");
        setGauge(CompletionPercentage(good, rows));
    }
    const QString unsafe = UnsafeNameMessage(mempwq, downloadTable, rows);
    if (!unsafe.isEmpty()) {
        prompt.error(unsafe);
        return RebuildOutcome::Failed;
    }
    const GatherPaths paths(savePath, mempwq.fileNameLine());
    QString error;
    const SafeFolder parts = paths.openPartsFolder(error);
    const SafeFolder work = parts.valid() ? paths.openWorkFolder(error) : SafeFolder();
    if (work.valid())
        error = work.refusalToReplace(mempwq.fileNameLine());
    if (!error.isEmpty()) {
        prompt.error(error);
        return RebuildOutcome::Failed;
    }

    QStringList names;
    for (int r = 0; r < rows; ++r)
        names.append(LocalPartName(downloadTable.cell(r, DownloadColumn::Filename)));
    const QString output = paths.outputFile();
    const JoinResult joined = [&] {
        BusyCursor busy(prompt);
        return JoinIntoPlace(work, mempwq.fileNameLine(), output, parts, names, progress, coded.has_value());
    }();
    if (!joined.ok) {
        prompt.error(joined.error);
        return RebuildOutcome::Failed;
    }
    if (QString::fromStdString(Crc32Text(joined.crc)) != mempwq.fileCrcLine()) {
        prompt.information("CRC Error on " + output);
        return RebuildOutcome::CrcError;
    }
    if (coded && joined.sha256 != coded->fileSha256) {
        prompt.information("SHA-256 Error on " + output);
        return RebuildOutcome::CrcError;
    }
    // The folder opens first, without waiting, so the user finds it behind the message.
    prompt.openUrl(QUrl::fromLocalFile(paths.workDirectory()));
    prompt.information("Extracted " + output + " successfully!");
    return RebuildOutcome::Extracted;
}
