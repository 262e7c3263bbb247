#include "scatter/split_plan.h"

#include "common/path_rules.h"
#include "common/user_error.h"
#include "scatter/split_source.h"

namespace {

void refuseImpossibleSplit(const SplitRequest& request, const CodingLayout& sizes) {
    if (request.parts < MinSplitParts || request.parts > MaxSplitParts)
        throw UserError(QString("The number of parts must be between %1 and %2.").arg(MinSplitParts).arg(MaxSplitParts));
    if (request.recoveryParts < 0 || request.recoveryParts > MaxRecoveryParts)
        throw UserError(QString("The number of recovery parts must be between 0 and %1.").arg(MaxRecoveryParts));
    // The coding and the version-2 manifest number every part in one byte.
    if (request.strong() && request.parts + request.recoveryParts > kMaxCodingParts)
        throw UserError(QString("With recovery parts or SHA-256 a file is split into at most %1 parts in all, not %2 "
                                "data parts and %3 recovery parts.")
                            .arg(kMaxCodingParts)
                            .arg(request.parts)
                            .arg(request.recoveryParts));
    if (sizes.lastSize < 0)
        throw UserError(QString("Cannot split %1 into %2 parts: its %3 bytes are too few for that many parts.")
                            .arg(request.sourcePath)
                            .arg(request.parts)
                            .arg(sizes.fileSize));
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

CodingLayout sizesOf(const SplitRequest& request, qint64 total) {
    CodingLayout layout = PartSizeRule(total, std::max(request.parts, 1));
    layout.recoveryParts = request.recoveryParts;
    return layout;
}

}  // namespace

SplitPlan PlanSplit(const SplitRequest& request) {
    const OrdinaryFile source = InspectOrdinaryFile(request.sourcePath);
    if (!source.problem.isEmpty())
        throw UserError("Cannot split " + request.sourcePath + ": " + source.problem);
    refuseImpossibleSplit(request, sizesOf(request, source.size));

    SplitPlan plan;
    plan.reader = std::make_unique<SplitReader>(request.sourcePath);
    // The size of the file now open, in case it changed since it was inspected.
    plan.layout = sizesOf(request, plan.reader->size());
    refuseImpossibleSplit(request, plan.layout);

    plan.uploadDir = UploadDirectory(request.savePath, request.sourcePath);
    plan.baseName = request.baseName;
    plan.extension = request.extension;
    QStringList paths;
    for (int i = 1; i <= request.parts; ++i)
        paths << plan.dataPath(i);
    for (int j = 1; j <= request.recoveryParts; ++j)
        paths << plan.recoveryPath(j);
    for (const QString& path : paths) {
        if (plan.reader->isSourceFile(path))
            throw UserError("Cannot split " + request.sourcePath + ": part file " + path +
                            " would overwrite the source file itself.");
    }
    // A split that writes no file (the data parts sent from the source, no recovery
    // parts) makes no upload folder.
    if (!request.writeDataParts && request.recoveryParts == 0)
        return plan;
    // The upload folder is never a link planted in the save folder: a part written
    // through it would land elsewhere.
    QString error;
    const AnchoredName upload = SplitPrefixedPath(request.savePath, FileNameOfPath(request.sourcePath) + ".uldir");
    plan.folder = SafeFolder::Open(upload.anchor, {upload.name}, error);
    if (!plan.folder.valid())
        throw UserError(error);
    return plan;
}
