// Any bytes as a version-2 manifest, loaded into lines as every reader loads them. An
// accepted one must be consistent (counts, sizes of the layout) and must write out and
// read back as the same manifest; nothing may crash, read out of bounds or overflow.
#include "common/manifest_v2.h"
#include "gather/manifest_text.h"

#include <QByteArray>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    ManifestV2 manifest;
    if (!ParseManifestV2(ManifestTextLines(bytes), manifest).isEmpty())
        return 0;
    const CodingLayout& layout = manifest.layout;
    if (MakeCodingLayout(layout.fileSize, layout.dataParts, layout.recoveryParts) != layout ||
        manifest.data.size() != layout.dataParts || manifest.recovery.size() != layout.recoveryParts)
        std::abort();
    qint64 total = 0;
    for (const ManifestV2Part& part : manifest.data)
        total += part.size;
    for (const ManifestV2Part& part : manifest.recovery)
        if (part.size != layout.partSize)
            std::abort();
    if (total != layout.fileSize)
        std::abort();
    ManifestV2 again;
    if (!ParseManifestV2(ManifestV2Lines(manifest), again).isEmpty() || !(again == manifest))
        std::abort();
    return 0;
}
