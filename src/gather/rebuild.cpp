#include "gather/rebuild.h"

#include "common/manifest_format.h"
#include "common/path_rules.h"
#include "common/text_table.h"
#include "common/user_prompt.h"
#include "crc/crc32.h"
#include "gather/download_table.h"
#include "gather/gather_paths.h"
#include "gather/part_joiner.h"

#include <QDir>
#include <QUrl>

namespace {

// The lines may have been composed by "Make PWQ" since the table was filled, so the
// names are checked again here, not only when the manifest was loaded.
QString UnsafeNameMessage(const ManifestLines& mempwq, const TextTable& table) {
    if (!IsPlainFileName(mempwq.fileNameLine()))
        return "Cannot rebuild: \"" + VisibleName(mempwq.fileNameLine()) + "\" is not a plain file name.";
    for (int r = 0; r < table.rows(); ++r) {
        const QString local = LocalPartName(table.cell(r, DownloadColumn::Filename));
        if (!IsPlainFileName(local))
            return "Cannot rebuild: the part \"" + VisibleName(table.cell(r, DownloadColumn::Filename)) +
                   "\" has no plain local file name.";
    }
    return QString();
}

bool MakeDirectory(const QString& path, UserPrompt& prompt) {
    if (QDir().mkpath(path))
        return true;
    prompt.error("Cannot create " + path);
    return false;
}

}  // namespace

RebuildOutcome Rebuild(const ManifestLines& mempwq, const QString& savePath, const TextTable& downloadTable,
                       UserPrompt& prompt, const std::function<void(int)>& setGauge, const JoinProgress& progress) {
    if (setGauge)
        setGauge(CompletionPercentage(downloadTable));
    const QString unsafe = UnsafeNameMessage(mempwq, downloadTable);
    if (!unsafe.isEmpty()) {
        prompt.error(unsafe);
        return RebuildOutcome::Failed;
    }
    const GatherPaths paths(savePath, mempwq.fileNameLine());
    if (!MakeDirectory(paths.partsDirectory(), prompt) || !MakeDirectory(paths.workDirectory(), prompt))
        return RebuildOutcome::Failed;

    QStringList partFiles;
    for (int r = 0; r < downloadTable.rows(); ++r)
        partFiles.append(paths.partFile(downloadTable.cell(r, DownloadColumn::Filename)));
    const QString output = paths.outputFile();
    const JoinResult joined = [&] {
        BusyCursor busy(prompt);
        return JoinParts(partFiles, output, progress);
    }();
    if (!joined.ok) {
        prompt.error(joined.error);
        return RebuildOutcome::Failed;
    }
    if (QString::fromStdString(Crc32Text(joined.crc)) != mempwq.fileCrcLine()) {
        prompt.information("CRC Error on " + output);
        return RebuildOutcome::CrcError;
    }
    // The folder opens first, without waiting, so the user finds it behind the message.
    prompt.openUrl(QUrl::fromLocalFile(paths.workDirectory()));
    prompt.information("Extracted " + output + " successfully!");
    return RebuildOutcome::Extracted;
}
