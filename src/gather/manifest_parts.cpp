#include "gather/manifest_parts.h"

#include "common/manifest_format.h"
#include "common/path_rules.h"
#include "gather/gather_paths.h"

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
    for (qsizetype j = 0; j < parts.size(); ++j) {
        const QString local = LocalPartName(parts[j].url);
        if (!IsPlainFileName(local))
            return QString("Refused: part %1 of this Parcelwick file has the URL \"%2\", whose local file name \"%3\" "
                           "is not a plain file name. Nothing was created.")
                .arg(j + 1)
                .arg(VisibleName(parts[j].url), VisibleName(local));
    }
    return QString();
}
