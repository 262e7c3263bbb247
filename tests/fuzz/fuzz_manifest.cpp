// Any bytes as a manifest: read into lines, checked and filled as Open/Download does,
// and every path derived from an accepted one. An accepted manifest must never name a
// file outside its parts directory.
#include "common/manifest_format.h"
#include "common/path_rules.h"
#include "common/user_prompt.h"
#include "gather/check_and_fill.h"
#include "gather/download_table.h"
#include "gather/gather_paths.h"
#include "gather/manifest_text.h"

#include <QByteArray>
#include <cstdint>
#include <cstdlib>

namespace {

class SilentPrompt : public UserPrompt {
public:
    void information(const QString&) override {}
    void error(const QString&) override {}
    bool confirm(const QString&) override { return false; }
    QString openFile(const FileDialog&) override { return {}; }
    QString saveFile(const FileDialog&) override { return {}; }
    QString chooseDirectory(const QString&, const QString&) override { return {}; }
    void openUrl(const QUrl&) override {}
    void setBusy(bool) override {}
    CertificateAnswer trustCertificate(const CertificateQuestion&) override { return CertificateAnswer::No; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    ManifestLines mempwq;
    mempwq.replace(ManifestTextLines(bytes));
    for (const QString& line : mempwq.lines())
        if (line.isEmpty())
            std::abort();

    SilentPrompt prompt;
    TextTable table(DownloadTableColumns());
    if (CheckAndFill(mempwq, table, prompt) != FillOutcome::StartFirstPass)
        return 0;
    if (!IsPlainFileName(mempwq.fileNameLine()))
        std::abort();
    const GatherPaths paths("/save/", mempwq.fileNameLine());
    const QString parts = paths.partsDirectory();
    for (int r = 0; r < table.rows(); ++r) {
        const QString file = paths.partFile(table.cell(r, DownloadColumn::Filename));
        const QString name = file.mid(parts.size());
        if (!file.startsWith(parts) || !IsPlainFileName(name) || name.contains('/'))
            std::abort();
        (void)CompletionPercentage(table);
    }
    return 0;
}
