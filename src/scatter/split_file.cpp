#include "common/path_rules.h"
#include "common/safe_folder.h"
#include "common/user_error.h"
#include "crc/crc32.h"
#include "scatter/split_reader.h"
#include "scatter/split_source.h"
#include "scatter/splitter.h"
#include "scatter/upload_table.h"

namespace {

// Everything that can be known to fail is checked before the first thing is written,
// so a refused split leaves no directory behind and the upload table as it was.
void refuseImpossibleSplit(const SplitRequest& request, const PartSizes& sizes, qint64 total) {
    if (request.parts < MinSplitParts || request.parts > MaxSplitParts)
        throw UserError(QString("The number of parts must be between %1 and %2.").arg(MinSplitParts).arg(MaxSplitParts));
    if (sizes.lastSize < 0)
        throw UserError(QString("Cannot split %1 into %2 parts: its %3 bytes are too few for that many parts.")
                            .arg(request.sourcePath)
                            .arg(request.parts)
                            .arg(total));
    // Typed names are used as they stand, but a "/" would put the part outside the
    // upload directory (or into one that does not exist), and NUL ends a path early.
    const QString firstPart = VisibleName(request.baseName + "1." + request.extension);
    for (const QString& name : {request.baseName, request.extension}) {
        if (name.contains('/'))
            throw UserError("The part file name " + firstPart + " must not contain \"/\".");
        if (name.contains(QChar(0)))
            throw UserError("The part file name " + firstPart + " must not contain a NUL character (shown as \\0).");
    }
}

}  // namespace

uint32_t SplitFile(const SplitRequest& request, TextTable& uploadTable, const SplitProgress& progress) {
    const OrdinaryFile source = InspectOrdinaryFile(request.sourcePath);
    if (!source.problem.isEmpty())
        throw UserError("Cannot split " + request.sourcePath + ": " + source.problem);
    refuseImpossibleSplit(request, ComputePartSizes(source.size, request.parts), source.size);

    SplitReader reader(request.sourcePath);
    // The size of the file now open, in case it changed since it was inspected.
    const PartSizes sizes = ComputePartSizes(reader.size(), request.parts);
    refuseImpossibleSplit(request, sizes, reader.size());

    const QString uploadDir = UploadDirectory(request.savePath, request.sourcePath);
    auto partPath = [&](int index) { return PartFilePath(uploadDir, request.baseName, index, request.extension); };
    for (int i = 1; i <= request.parts; ++i) {
        if (reader.isSourceFile(partPath(i)))
            throw UserError("Cannot split " + request.sourcePath + ": part file " + partPath(i) +
                            " would overwrite the source file itself.");
    }
    // The upload folder is never a link planted in the save folder: a part written
    // through it would land elsewhere.
    QString error;
    const AnchoredName upload = SplitPrefixedPath(request.savePath, FileNameOfPath(request.sourcePath) + ".uldir");
    const SafeFolder folder = SafeFolder::Open(upload.anchor, {upload.name}, error);
    if (!folder.valid())
        throw UserError(error);

    uploadTable.clear();
    for (int i = 1; i <= request.parts; ++i) {
        const qint64 size = i < request.parts ? sizes.partSize : sizes.lastSize;
        const QString path = partPath(i);
        std::function<void(qint64)> copied;
        if (progress)
            copied = [&progress, &reader, i](qint64 done) { progress(done, reader.size(), i); };
        const uint32_t crc = reader.copyNextPart(folder, path.mid(uploadDir.size()), size, copied);
        uploadTable.addRow({path, "?", QString::number(size), QString::fromStdString(Crc32Text(crc)), "?", "?", "?",
                            "?", "?"});
    }
    return reader.copiedCrc();
}
