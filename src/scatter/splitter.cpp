#include "scatter/splitter.h"

#include "coding/coding_layout.h"
#include "crc/crc32.h"
#include "scatter/split_source.h"

#include <QFile>

PartSizes ComputePartSizes(qint64 total, int parts) {
    if (total < 0 || parts < 1)
        return {0, -1};
    const CodingLayout layout = PartSizeRule(total, parts);
    return {layout.partSize, layout.lastSize};
}

qint64 FileSizeOf(const QString& path) { return InspectOrdinaryFile(path).size; }

QString RemoveSpecialChars(const QString& text) {
    static const QString special = QStringLiteral("*&^ $!@()+\"'");
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        if (!special.contains(c))
            result += c;
    }
    return result;
}

QString ProposedBaseName(const QString& sourcePath) {
    const QString name = RemoveSpecialChars(FileNameOfPath(sourcePath));
    const qsizetype dot = name.lastIndexOf('.');
    return dot < 0 ? name : name.left(dot);
}

QString UploadDirectory(const QString& savePath, const QString& sourcePath) {
    return savePath + FileNameOfPath(sourcePath) + ".uldir/";
}

QString PartFilePath(const QString& uploadDir, const QString& base, int index, const QString& ext) {
    return uploadDir + base + QString::number(index) + "." + ext;
}

QString RecoveryPartFilePath(const QString& uploadDir, const QString& base, int index, const QString& ext) {
    return uploadDir + base + "r" + QString::number(index) + "." + ext;
}

SplitLabels DescribeSplit(const QString& sourcePath, int parts) {
    const qint64 total = FileSizeOf(sourcePath);
    const PartSizes sizes = ComputePartSizes(total, parts);
    const bool splittable = sizes.lastSize >= 0;
    return {"Total Size: " + (total < 0 ? QString("?") : QString::number(total)),
            "Part Size: " + (splittable ? QString::number(sizes.partSize) : QString("?")),
            "Last File Part Size: " + (splittable ? QString::number(sizes.lastSize) : QString("?"))};
}

QString SourceCrcLabel(const QString& sourcePath) {
    uint32_t crc = 0;
    if (sourcePath.isEmpty() || !FileCrc32(QFile::encodeName(sourcePath).toStdString(), crc))
        crc = 0;
    return "CRC:= " + QString::fromStdString(Crc32Text(crc));
}
