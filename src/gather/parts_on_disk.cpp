#include "gather/parts_on_disk.h"

#include "common/safe_folder.h"
#include "gather/file_hasher.h"
#include "gather/gather_paths.h"
#include "gather/part_reconstruction.h"

namespace {

QList<ManifestV2Part> AllParts(const ManifestV2& manifest) { return manifest.data + manifest.recovery; }

}  // namespace

PartsOnDisk CheckPartsOnDisk(const SafeFolder& folder, const ManifestV2& manifest) {
    PartsOnDisk onDisk;
    const QList<ManifestV2Part> parts = AllParts(manifest);
    for (qsizetype i = 0; i < parts.size(); ++i) {
        PartsOnDisk::State state = PartsOnDisk::Missing;
        QString error;
        const UniqueFd in = folder.valid() ? folder.openForReading(LocalPartName(parts[i].url), error) : UniqueFd();
        if (in.valid()) {
            const FileHash hash = HashDescriptor(in.get(), true);
            const bool good = hash.error == 0 && hash.bytes == parts[i].size && hash.crc == parts[i].crc &&
                              hash.sha256 == parts[i].sha256;
            state = good ? PartsOnDisk::Good : PartsOnDisk::Wrong;
        }
        onDisk.state.push_back(state);
        if (state == PartsOnDisk::Good)
            ++(i < manifest.data.size() ? onDisk.goodData : onDisk.goodRecovery);
    }
    return onDisk;
}

QString PartsLostMessage(int lostData, int dataParts, int lostRecovery, int recoveryParts) {
    return QString("%1 of %2 data parts and %3 of %4 recovery parts are lost: cannot rebuild")
        .arg(lostData)
        .arg(dataParts)
        .arg(lostRecovery)
        .arg(recoveryParts);
}

bool RebuildMissingParts(const SafeFolder& folder, const ManifestV2& manifest, const PartsOnDisk& onDisk,
                         QStringList& lines, QString& error) {
    const int k = manifest.layout.dataParts;
    const int m = manifest.layout.recoveryParts;
    if (onDisk.goodData + onDisk.goodRecovery < k) {
        error = PartsLostMessage(k - onDisk.goodData, k, m - onDisk.goodRecovery, m);
        return false;
    }
    std::vector<int> present;
    std::vector<int> missing;
    for (int part = 0; part < k + m; ++part) {
        if (onDisk.state[part] == PartsOnDisk::Good && static_cast<int>(present.size()) < k)
            present.push_back(part);
        else if (part < k)
            missing.push_back(part);
    }
    QStringList names;
    for (const ManifestV2Part& part : AllParts(manifest))
        names << LocalPartName(part.url);
    ReconstructionFiles files;
    if (!OpenReconstructionFiles(folder, present, missing, names, files, error))
        return false;
    const ReconstructionResult result = ReconstructParts(manifest.layout, files);
    if (!result.error.isEmpty()) {
        error = result.error;
        return false;
    }
    const QString from = RebuiltFromText(present, k);
    for (const RebuiltPart& part : result.parts) {
        const ManifestV2Part& expected = manifest.data[part.part];
        const QString line = QString("part %1 rebuilt from %2").arg(part.part + 1).arg(from);
        if (part.size != expected.size || part.crc != expected.crc || part.sha256 != expected.sha256) {
            error = line + " does not match its CRC-32 and SHA-256";
            return false;
        }
        lines << line;
    }
    return true;
}
