#include "gather/check_and_fill.h"

#include "common/manifest_format.h"
#include "common/user_prompt.h"
#include "gather/download_table.h"
#include "gather/manifest_parts.h"
#include "gather/manifest_text.h"

#include <new>

FillOutcome CheckAndFill(const ManifestLines& mempwq, TextTable& downloadTable, UserPrompt& prompt) {
    QString refusal;
    try {
        if (IsManifestV2(mempwq)) {
            // The table holds the data parts; a recovery part gets its row once it is needed.
            ManifestV2 manifest;
            refusal = ManifestV2Refusal(mempwq, manifest);
            QList<ManifestPart> rows;
            for (const ManifestV2Part& part : manifest.data)
                rows.append(ManifestPartOf(part));
            if (refusal.isEmpty())
                FillDownloadTable(downloadTable, rows);
        } else {
            refusal = ManifestRefusal(mempwq);
            if (refusal.isEmpty())
                FillDownloadTable(downloadTable, mempwq);
        }
    } catch (const std::bad_alloc&) {
        // The table is as it was: it takes its new rows only once they are all made.
        prompt.error(QString("Cannot load this Parcelwick file of %1 parts: not enough memory.")
                         .arg(ManifestPartCount(mempwq)));
        return FillOutcome::Refused;
    }
    if (!refusal.isEmpty()) {
        prompt.information(refusal);
        return FillOutcome::Refused;
    }
    return FillOutcome::StartFirstPass;
}

QString ChooseManifestPath(const QString& firstArgument, bool& commandLineFlag, UserPrompt& prompt) {
    if (!firstArgument.isEmpty() && !commandLineFlag) {
        commandLineFlag = true;
        return firstArgument;
    }
    UserPrompt::FileDialog dialog;
    dialog.filter = "pwq (*.pwq)";
    return prompt.openFile(dialog);
}

FillOutcome OpenManifestFile(const QString& path, ManifestLines& mempwq, TextTable& downloadTable,
                             UserPrompt& prompt) {
    ManifestLines lines;
    QString error;
    if (!ReadManifestFile(path, lines, error)) {
        prompt.error(error);
        return FillOutcome::Refused;
    }
    mempwq = std::move(lines);
    return CheckAndFill(mempwq, downloadTable, prompt);
}
