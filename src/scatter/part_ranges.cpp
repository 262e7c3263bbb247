#include "scatter/part_ranges.h"

#include "common/system_error.h"
#include "common/text_table.h"
#include "common/user_error.h"
#include "crc/crc32.h"
#include "scatter/split_plan.h"
#include "scatter/upload_table.h"

#include <memory>
#include <unistd.h>

namespace {

constexpr qint64 kChunk = 1 << 20;

}  // namespace

SplitOutcome DescribePartRanges(const SplitRequest& request, TextTable& uploadTable, const SplitProgress& progress) {
    SplitRequest ranges = request;
    ranges.writeDataParts = false;
    // Refused as a split is; with nothing to write, no upload folder is made.
    const SplitPlan plan = PlanSplit(ranges);
    const CodingLayout& layout = plan.layout;
    const std::unique_ptr<char[]> buffer(new char[kChunk]);
    uint32_t whole = 0xFFFFFFFFu;
    qint64 done = 0;
    QList<QStringList> rows;
    for (int i = 1; i <= layout.dataParts; ++i) {
        const qint64 size = layout.dataPartSize(i - 1);
        uint32_t crc = 0xFFFFFFFFu;
        for (qint64 left = size; left > 0;) {
            const ssize_t n = ::read(plan.reader->fd(), buffer.get(), size_t(qMin(left, kChunk)));
            if (n <= 0) {
                const QString reason = n < 0 ? SystemReason(errno) : QStringLiteral("it became shorter");
                throw UserError("Cannot read " + request.sourcePath + ": " + reason);
            }
            crc = Crc32Update(crc, buffer.get(), size_t(n));
            whole = Crc32Update(whole, buffer.get(), size_t(n));
            left -= n;
            done += n;
            if (progress)
                progress(done, layout.fileSize, i);
        }
        rows << QStringList{plan.dataPath(i), "?", QString::number(size), QString::fromStdString(Crc32Text(~crc)),
                            "?",          "?", "?",                    "?",
                            "?"};
    }
    uploadTable.clear();
    for (const QStringList& row : rows)
        uploadTable.addRow(row);
    SplitOutcome outcome;
    outcome.sourcePath = request.sourcePath;
    outcome.fileCrc = ~whole;
    outcome.dataParts = layout.dataParts;
    return outcome;
}

QHash<int, qint64> DataRowStarts(const SplitOutcome& split, const TextTable& uploadTable) {
    QHash<int, qint64> starts;
    qint64 start = 0;
    for (int row = 0; row < split.dataParts; ++row) {
        starts.insert(row, start);
        start += uploadTable.cell(row, UploadColumn::Size).toLongLong();
    }
    return starts;
}
