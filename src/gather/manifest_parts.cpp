#include "gather/manifest_parts.h"

#include "common/manifest_format.h"
#include "common/path_rules.h"
#include "gather/gather_paths.h"

#include <QHash>

QList<ManifestPart> ManifestParts(const QStringList& lines) {
    QList<ManifestPart> parts;
    // Entry starts are lines 5, 8, 11, ... (from 0) up to the third line from the end,
    // which is what keeps the comment and description lines out of every entry.
    for (qsizetype i = ManifestLine::FirstPart; i <= lines.size() - 3; i += 3)
        parts.append({lines[i], lines[i + 1], lines[i + 2]});
    return parts;
}

QString ManifestRefusal(const QStringList& lines) {
    if (lines.value(ManifestLine::Signature) != QLatin1String(ManifestSignature))
        return "Not a Parcelwick file!";
    if (lines.value(ManifestLine::Version) != QLatin1String(ManifestVersion))
        return QString("Cannot handle this version of Parcelwick file.  Please upgrade at ") + ProductHostName + ".";
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
