#include "manifest_maker.h"

#include "common/manifest_format.h"
#include "crc/crc32.h"

QString CrcTextOf(const QByteArray& bytes) {
    return QString::fromStdString(Crc32Text(~Crc32Update(0xFFFFFFFFu, bytes.constData(), bytes.size())));
}

QStringList ManifestLinesFor(const QString& fileName, const QList<QByteArray>& parts, const QStringList& urls,
                             const QString& fileCrc) {
    QStringList lines = {ManifestSignature, ManifestVersion, fileName,
                         fileCrc.isEmpty() ? CrcTextOf(parts.join()) : fileCrc, QString::number(parts.size())};
    for (qsizetype i = 0; i < parts.size(); ++i)
        lines << urls.value(i) << QString::number(parts[i].size()) << CrcTextOf(parts[i]);
    return lines << "tester" << "a gather under test";
}

QByteArray ManifestFileText(const QStringList& lines) { return (lines.join("\r\n") + "\r\n").toUtf8(); }
