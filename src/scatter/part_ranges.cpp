#include "scatter/part_ranges.h"

#include "common/system_error.h"
#include "common/text_table.h"
#include "common/unique_fd.h"
#include "common/user_error.h"
#include "crc/crc32.h"
#include "scatter/split_source.h"
#include "scatter/upload_table.h"

#include <QFile>

#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

constexpr qint64 kChunk = 1 << 20;

}  // namespace

PartRanges DescribePartRanges(const SplitRequest& request, TextTable& uploadTable, const SplitProgress& progress) {
    const OrdinaryFile source = InspectOrdinaryFile(request.sourcePath);
    if (!source.problem.isEmpty())
        throw UserError("Cannot split " + request.sourcePath + ": " + source.problem);
    if (request.parts < MinSplitParts || request.parts > MaxSplitParts)
        throw UserError(QString("The number of parts must be between %1 and %2.").arg(MinSplitParts).arg(MaxSplitParts));
    const PartSizes sizes = ComputePartSizes(source.size, request.parts);
    if (sizes.lastSize < 0)
        throw UserError(QString("Cannot split %1 into %2 parts: its %3 bytes are too few for that many parts.")
                            .arg(request.sourcePath)
                            .arg(request.parts)
                            .arg(source.size));
    for (const QString& name : {request.baseName, request.extension})
        if (name.contains('/') || name.contains(QChar(0)))
            throw UserError("The part file name " + request.baseName + "1." + request.extension +
                            " must not contain \"/\" or a NUL character.");
    const UniqueFd fd(::open(QFile::encodeName(request.sourcePath).constData(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        throw UserError("Cannot read " + request.sourcePath + ": " + SystemReason(errno));
    const std::unique_ptr<char[]> buffer(new char[kChunk]);
    const QString uploadDir = UploadDirectory(request.savePath, request.sourcePath);
    PartRanges ranges;
    uint32_t whole = 0xFFFFFFFFu;
    qint64 done = 0;
    QList<QStringList> rows;
    for (int i = 1; i <= request.parts; ++i) {
        const qint64 size = i < request.parts ? sizes.partSize : sizes.lastSize;
        ranges.rowStarts.insert(i - 1, done);
        uint32_t crc = 0xFFFFFFFFu;
        for (qint64 left = size; left > 0;) {
            const ssize_t n = ::read(fd.get(), buffer.get(), size_t(qMin(left, kChunk)));
            if (n <= 0) {
                const QString reason = n < 0 ? SystemReason(errno) : QStringLiteral("it became shorter");
                throw UserError("Cannot read " + request.sourcePath + ": " + reason);
            }
            crc = Crc32Update(crc, buffer.get(), size_t(n));
            whole = Crc32Update(whole, buffer.get(), size_t(n));
            left -= n;
            done += n;
            if (progress)
                progress(done, source.size, i);
        }
        rows << QStringList{PartFilePath(uploadDir, request.baseName, i, request.extension), "?", QString::number(size),
                            QString::fromStdString(Crc32Text(~crc)), "?", "?", "?", "?", "?"};
    }
    uploadTable.clear();
    for (const QStringList& row : rows)
        uploadTable.addRow(row);
    ranges.sourceCrc = ~whole;
    return ranges;
}
