#include "manifest_maker.h"

#include "coding/reed_solomon.h"
#include "common/manifest_format.h"
#include "common/manifest_v2.h"
#include "crc/crc32.h"

#include <vector>

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

CodedFile CodedManifestFor(const QString& fileName, const QByteArray& file, int k, int m, const QStringList& urls) {
    const CodingLayout layout = *MakeCodingLayout(file.size(), k, m);
    const auto size = static_cast<std::size_t>(layout.partSize);
    std::vector<QByteArray> padded(k + m, QByteArray(qsizetype(size), '\0'));
    std::vector<const unsigned char*> data;
    std::vector<unsigned char*> recovery;
    CodedFile coded;
    for (int j = 0; j < k; ++j) {
        coded.parts << file.mid(layout.dataPartOffset(j), layout.dataPartSize(j));
        padded[j].replace(0, coded.parts[j].size(), coded.parts[j]);
        data.push_back(reinterpret_cast<const unsigned char*>(padded[j].constData()));
    }
    for (int r = 0; r < m; ++r)
        recovery.push_back(reinterpret_cast<unsigned char*>(padded[k + r].data()));
    RecoveryEncoder(k, m).encode(size, data.data(), recovery.data());
    ManifestV2 manifest;
    manifest.fileName = fileName;
    manifest.fileCrc = ~Crc32Update(0xFFFFFFFFu, file.constData(), file.size());
    manifest.fileSha256 = Sha256::of(file.constData(), file.size());
    manifest.layout = layout;
    manifest.comment = "tester";
    for (int i = 0; i < k + m; ++i) {
        if (i >= k)
            coded.parts << padded[i];
        const QByteArray& part = coded.parts[i];
        (i < k ? manifest.data : manifest.recovery)
            .append({urls.value(i), part.size(), ~Crc32Update(0xFFFFFFFFu, part.constData(), part.size()),
                     Sha256::of(part.constData(), part.size())});
    }
    coded.lines = ManifestV2Lines(manifest);
    coded.lines.removeAll(QString());
    return coded;
}

QByteArray SameCrcOtherBytes(const QByteArray& original) {
    const auto crcOf = [](const QByteArray& b) { return ~Crc32Update(0xFFFFFFFFu, b.constData(), b.size()); };
    QByteArray forged = original;
    forged[0] = static_cast<char>(forged[0] ^ 0x5A);
    const qsizetype at = forged.size() - 4;
    forged.replace(at, 4, QByteArray(4, '\0'));
    const uint32_t base = crcOf(forged);
    // The CRC is affine in the bits: each of the last 32 bits flips a fixed pattern of
    // the CRC; elimination finds the bits whose patterns add up to the difference.
    uint32_t basis[32] = {}, picks[32] = {};
    for (uint32_t bit = 0; bit < 32; ++bit) {
        QByteArray flipped = forged;
        flipped[at + bit / 8] = static_cast<char>(flipped[at + bit / 8] ^ (1 << (bit % 8)));
        uint32_t v = crcOf(flipped) ^ base, pick = 1u << bit;
        for (int b = 31; b >= 0 && v; --b) {
            if (!((v >> b) & 1))
                continue;
            if (!basis[b]) {
                basis[b] = v, picks[b] = pick;
                break;
            }
            v ^= basis[b], pick ^= picks[b];
        }
    }
    uint32_t rest = crcOf(original) ^ base, chosen = 0;
    for (int b = 31; b >= 0; --b)
        if ((rest >> b) & 1)
            rest ^= basis[b], chosen ^= picks[b];
    for (uint32_t bit = 0; bit < 32; ++bit)
        if ((chosen >> bit) & 1)
            forged[at + bit / 8] = static_cast<char>(forged[at + bit / 8] ^ (1 << (bit % 8)));
    return forged;
}
