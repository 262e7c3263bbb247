#include "gather/check_and_fill.h"

#include "common/manifest_format.h"
#include "common/user_prompt.h"
#include "gather/download_table.h"
#include "gather/manifest_parts.h"
#include "gather/manifest_text.h"

FillOutcome CheckAndFill(const ManifestLines& mempwq, TextTable& downloadTable, UserPrompt& prompt) {
    const QString refusal = ManifestRefusal(mempwq.lines());
    if (!refusal.isEmpty()) {
        prompt.information(refusal);
        return FillOutcome::Refused;
    }
    FillDownloadTable(downloadTable, ManifestParts(mempwq.lines()));
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
    QStringList lines;
    QString error;
    if (!ReadManifestFile(path, lines, error)) {
        prompt.error(error);
        return FillOutcome::Refused;
    }
    mempwq.replace(lines);
    return CheckAndFill(mempwq, downloadTable, prompt);
}
