// Page 1, "Extract Parcelwick Files": opening a manifest, filling the download table
// from it, and rebuilding the file from its parts.
#include "app/tform1.h"
#include "gather/check_and_fill.h"
#include "gather/download_table.h"
#include "gather/rebuild.h"

#include <QLineEdit>
#include <QProgressBar>

void TForm1::btnLoadpwqClick() {
    m_stopFlag = false;
    const QString path = ChooseManifestPath(m_firstArgument, m_commandLineFlag, m_prompt);
    if (path.isEmpty())
        return;
    openManifestFile(path);
}

void TForm1::openManifestFile(const QString& path) {
    m_manifestPath = path;
    const FillOutcome outcome = OpenManifestFile(path, mempwq, *m_downloadTable, m_prompt);
    Gauge1->setValue(CompletionPercentage(*m_downloadTable));
    if (outcome == FillOutcome::StartFirstPass)
        btnDownloadClick();
}

// Check and fill, for a manifest already in memory (a browser link puts it there).
void TForm1::btnldpwq2Click() {
    const FillOutcome outcome = CheckAndFill(mempwq, *m_downloadTable, m_prompt);
    Gauge1->setValue(CompletionPercentage(*m_downloadTable));
    if (outcome == FillOutcome::StartFirstPass)
        btnDownloadClick();
}

// Download!: the entry of the scheduling pass, which starts the downloads of the rows
// still to fetch and rebuilds when all are good. The pass comes with the download
// engine; until then Check and fill ends here, leaving the table filled.
void TForm1::btnDownloadClick() {}

void TForm1::btnReBuildClick() {
    Rebuild(mempwq, dedir->text(), *m_downloadTable, m_prompt, [this](int percent) { Gauge1->setValue(percent); });
}
