#include "gather/manifest_entries.h"

#include "common/manifest_format.h"
#include "common/manifest_v2.h"
#include "crc/crc32.h"
#include "gather/manifest_parts.h"

namespace {

void appendParts(const QList<ManifestV2Part>& parts, bool recovery, QList<ManifestEntry>& entries) {
    for (const ManifestV2Part& part : parts)
        entries.append({part.url, part.size, QString::fromStdString(Crc32Text(part.crc)), recovery});
}

}  // namespace

QString ReadManifestEntries(const QStringList& lines, ManifestEntries& entries) {
    ManifestEntries read;
    if (lines.value(ManifestLine::Signature) == QLatin1String(ManifestSignature) &&
        lines.value(ManifestLine::Version) == QLatin1String(ManifestVersion2)) {
        ManifestV2 manifest;
        const QString refusal = ParseManifestV2(lines, manifest);
        if (!refusal.isEmpty())
            return refusal;
        read.version = 2;
        read.dataParts = manifest.layout.dataParts;
        read.recoveryParts = manifest.layout.recoveryParts;
        appendParts(manifest.data, false, read.parts);
        appendParts(manifest.recovery, true, read.parts);
    } else {
        const QString refusal = ManifestRefusal(lines);
        if (!refusal.isEmpty())
            return refusal;
        for (const ManifestPart& part : ManifestParts(lines)) {
            bool isNumber = false;
            const qint64 size = part.size.toLongLong(&isNumber);
            read.parts.append({part.url, isNumber && size >= 0 ? size : -1, part.crc, false});
        }
        read.dataParts = int(read.parts.size());
    }
    entries = read;
    return QString();
}
