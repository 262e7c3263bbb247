#include "crc/crc32.h"
#include "scatter/split_coded.h"
#include "scatter/split_plan.h"
#include "scatter/splitter.h"
#include "scatter/upload_table.h"

uint32_t SplitFile(const SplitRequest& request, TextTable& uploadTable, const SplitProgress& progress) {
    return SplitSource(request, uploadTable, progress).fileCrc;
}

SplitOutcome SplitSource(const SplitRequest& request, TextTable& uploadTable, const SplitProgress& progress) {
    if (request.coded()) {
        CodedSplit split(request);
        uploadTable.clear();
        split.run(progress);
        split.fillTable(uploadTable);
        return split.outcome();
    }
    const SplitPlan plan = PlanSplit(request);
    SplitReader& reader = *plan.reader;
    uploadTable.clear();
    for (int i = 1; i <= request.parts; ++i) {
        const qint64 size = plan.layout.dataPartSize(i - 1);
        const QString path = plan.dataPath(i);
        std::function<void(qint64)> copied;
        if (progress)
            copied = [&progress, &reader, i](qint64 done) { progress(done, reader.size(), i); };
        const uint32_t crc = reader.copyNextPart(plan.folder, plan.nameInFolder(path), size, copied);
        uploadTable.addRow({path, "?", QString::number(size), QString::fromStdString(Crc32Text(crc)), "?", "?", "?",
                            "?", "?"});
    }
    SplitOutcome outcome;
    outcome.sourcePath = request.sourcePath;
    outcome.fileCrc = reader.copiedCrc();
    outcome.dataParts = request.parts;
    return outcome;
}
