#include "gather/manifest_parts.h"

#include "common/manifest_format.h"
#include "common/path_rules.h"
#include "crc/crc32.h"
#include "gather/gather_paths.h"

#include <QHash>

QList<ManifestPart> ManifestParts(const QStringList& lines) {
    return ManifestParts(ManifestLines(lines));
}

int ManifestPartLine(int entry, int field) { return ManifestLine::FirstPart + 3 * entry + field; }

int ManifestPartCount(const ManifestLines& lines) {
    // Entry starts are lines 5, 8, 11, ... (from 0) up to the third line from the end,
    // which is what keeps the comment and description lines out of every entry.
    return lines.count() < ManifestLine::FirstPart + 3 ? 0 : (lines.count() - ManifestLine::FirstPart) / 3;
}

QList<ManifestPart> ManifestParts(const ManifestLines& lines) {
    QList<ManifestPart> parts;
    const int count = ManifestPartCount(lines);
    parts.reserve(count);
    for (int j = 0; j < count; ++j)
        parts.append({lines.line(ManifestPartLine(j, 0)), lines.line(ManifestPartLine(j, 1)),
                      lines.line(ManifestPartLine(j, 2))});
    return parts;
}

QString ManifestRefusal(const QStringList& lines) { return ManifestRefusal(ManifestLines(lines)); }

namespace {

// Before any row is made: the entries the lines hold, and the count the manifest
// declares for itself when that line is a number.
QString PartCountRefusal(const ManifestLines& lines) {
    bool isNumber = false;
    const qint64 declared = lines.line(ManifestLine::PartCount).toLongLong(&isNumber);
    if (ManifestPartCount(lines) <= MaxManifestParts && (!isNumber || declared <= MaxManifestParts))
        return QString();
    return QString("Refused: this Parcelwick file has more than %1 parts, the most Parcelwick takes. Nothing was "
                   "created.")
        .arg(MaxManifestParts);
}

// The file-name line and each part's local name: plain, and no two alike. Parts from
// `dataParts` on are recovery parts, named so in the message. A hash of the names seen
// keeps the check linear in the number of parts.
QString LocalNamesRefusal(const QString& fileName, const QStringList& urls, qsizetype dataParts) {
    if (!IsPlainFileName(fileName))
        return "Refused: this Parcelwick file names the file \"" + VisibleName(fileName) +
               "\", which is not a plain file name. Nothing was created.";
    const auto name = [dataParts](qsizetype j) {
        return j < dataParts ? QString("part %1").arg(j + 1) : QString("recovery part %1").arg(j - dataParts + 1);
    };
    QHash<QString, qsizetype> firstWithName;
    firstWithName.reserve(urls.size());
    for (qsizetype j = 0; j < urls.size(); ++j) {
        const QString local = LocalPartName(urls[j]);
        if (!IsPlainFileName(local))
            return QString("Refused: %1 of this Parcelwick file has the URL \"%2\", whose local file name \"%3\" "
                           "is not a plain file name. Nothing was created.")
                .arg(name(j), VisibleName(urls[j]), VisibleName(local));
        // Two parts of one local name would share one part file, and neither could ever
        // be right.
        const auto seen = firstWithName.constFind(local);
        if (seen != firstWithName.constEnd()) {
            const QString both = j < dataParts ? QString("parts %1 and %2").arg(seen.value() + 1).arg(j + 1)
                                               : name(seen.value()) + " and " + name(j);
            return QString("Refused: %1 of this Parcelwick file have the same local file name \"%2\", so they would "
                           "share one part file. Nothing was created.")
                .arg(both, VisibleName(local));
        }
        firstWithName.insert(local, j);
    }
    return QString();
}

}  // namespace

bool IsManifestV2(const ManifestLines& lines) {
    return lines.count() > ManifestLine::Version && lines.line(ManifestLine::Signature) == QLatin1String(ManifestSignature) &&
           lines.line(ManifestLine::Version) == QLatin1String(ManifestVersion2);
}

QString ManifestV2Refusal(const ManifestLines& lines, ManifestV2& manifest) {
    ManifestV2 read;
    if (const QString refusal = ParseManifestV2(lines.lines(), read); !refusal.isEmpty())
        return refusal;
    QStringList urls;
    for (const QList<ManifestV2Part>* parts : {&read.data, &read.recovery})
        for (const ManifestV2Part& part : *parts)
            urls.append(part.url);
    if (const QString refusal = LocalNamesRefusal(read.fileName, urls, read.data.size()); !refusal.isEmpty())
        return refusal;
    manifest = std::move(read);
    return QString();
}

ManifestPart ManifestPartOf(const ManifestV2Part& part) {
    return {part.url, QString::number(part.size), QString::fromStdString(Crc32Text(part.crc))};
}

QString ManifestRefusal(const ManifestLines& lines) {
    if (lines.value(ManifestLine::Signature) != QLatin1String(ManifestSignature))
        return "Not a Parcelwick file!";
    if (IsManifestV2(lines)) {
        ManifestV2 manifest;
        return ManifestV2Refusal(lines, manifest);
    }
    if (lines.value(ManifestLine::Version) != QLatin1String(ManifestVersion))
        return QString("Cannot handle this version of Parcelwick file.  Please upgrade at ") + ProductHostName + ".";
    if (const QString tooMany = PartCountRefusal(lines); !tooMany.isEmpty())
        return tooMany;
    QStringList urls;
    const int count = ManifestPartCount(lines);
    urls.reserve(count);
    for (int j = 0; j < count; ++j)
        urls.append(lines.line(ManifestPartLine(j, 0)));
    return LocalNamesRefusal(lines.value(ManifestLine::FileName), urls, urls.size());
}
