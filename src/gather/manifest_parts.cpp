#include "gather/manifest_parts.h"

#include "common/manifest_format.h"
#include "common/path_rules.h"
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

}  // namespace

QString ManifestRefusal(const ManifestLines& lines) {
    if (lines.value(ManifestLine::Signature) != QLatin1String(ManifestSignature))
        return "Not a Parcelwick file!";
    if (lines.value(ManifestLine::Version) != QLatin1String(ManifestVersion))
        return QString("Cannot handle this version of Parcelwick file.  Please upgrade at ") + ProductHostName + ".";
    if (const QString tooMany = PartCountRefusal(lines); !tooMany.isEmpty())
        return tooMany;
    const QString fileName = lines.value(ManifestLine::FileName);
    if (!IsPlainFileName(fileName))
        return "Refused: this Parcelwick file names the file \"" + VisibleName(fileName) +
               "\", which is not a plain file name. Nothing was created.";
    const QList<ManifestPart> parts = ManifestParts(lines);
    // Two parts of one local name would share one part file, and neither could ever be
    // right. A hash of the names seen keeps the check linear in the number of parts.
    QHash<QString, qsizetype> firstWithName;
    firstWithName.reserve(parts.size());
    for (qsizetype j = 0; j < parts.size(); ++j) {
        const QString local = LocalPartName(parts[j].url);
        if (!IsPlainFileName(local))
            return QString("Refused: part %1 of this Parcelwick file has the URL \"%2\", whose local file name \"%3\" "
                           "is not a plain file name. Nothing was created.")
                .arg(j + 1)
                .arg(VisibleName(parts[j].url), VisibleName(local));
        const auto seen = firstWithName.constFind(local);
        if (seen != firstWithName.constEnd())
            return QString("Refused: parts %1 and %2 of this Parcelwick file have the same local file name \"%3\", "
                           "so they would share one part file. Nothing was created.")
                .arg(seen.value() + 1)
                .arg(j + 1)
                .arg(VisibleName(local));
        firstWithName.insert(local, j);
    }
    return QString();
}
