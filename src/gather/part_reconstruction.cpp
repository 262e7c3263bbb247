#include "gather/part_reconstruction.h"

#include "coding/reed_solomon.h"
#include "common/safe_folder.h"
#include "common/system_error.h"
#include "common/write_fully.h"
#include "crc/crc32.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

constexpr std::size_t MinStripe = 4096;
constexpr std::size_t MaxStripe = 1 << 20;
constexpr std::size_t StripeBudget = 24 << 20;

std::size_t StripeSize(const CodingLayout& layout, std::size_t buffers) {
    const std::size_t share = std::clamp(StripeBudget / buffers / MinStripe * MinStripe, MinStripe, MaxStripe);
    return std::min<std::size_t>(share, static_cast<std::size_t>(std::max<std::int64_t>(layout.partSize, 1)));
}

// Fills `size` bytes from the file at `offset`: 0, or the errno of the failure (EIO for
// a file that ends too early: it was cut after it was checked).
int ReadFull(int fd, unsigned char* data, std::size_t size, std::int64_t offset) {
    while (size > 0) {
        const ssize_t n = ::pread(fd, data, size, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
    return 0;
}

std::int64_t PartSize(const CodingLayout& layout, int part) {
    return part < layout.dataParts ? layout.dataPartSize(part) : layout.partSize;
}

}  // namespace

bool OpenReconstructionFiles(const SafeFolder& folder, const std::vector<int>& present, const std::vector<int>& missing,
                             const QStringList& localNames, ReconstructionFiles& files, QString& error) {
    files.present = present;
    files.missing = missing;
    for (const int part : present) {
        files.parts.push_back(folder.openForReading(localNames.value(part), error, "the part file "));
        files.partNames << folder.path() + localNames.value(part);
        if (!files.parts.back().valid())
            return false;
    }
    for (const int part : missing) {
        files.rebuilt.push_back(folder.createFile(localNames.value(part), error));
        files.rebuiltNames << folder.path() + localNames.value(part);
        if (!files.rebuilt.back().valid())
            return false;
    }
    return true;
}

ReconstructionResult ReconstructParts(const CodingLayout& layout, ReconstructionFiles& files,
                                      const std::atomic<bool>* cancel) {
    ReconstructionResult result;
    const RecoveryDecoder decoder(layout.dataParts, layout.recoveryParts, files.present);
    const std::size_t k = files.present.size();
    const std::size_t f = files.missing.size();
    const std::size_t stripe = StripeSize(layout, k + f);
    std::vector<unsigned char> buffers((k + f) * stripe);
    std::vector<const unsigned char*> in(k);
    std::vector<unsigned char*> out(f);
    for (std::size_t i = 0; i < k; ++i)
        in[i] = buffers.data() + i * stripe;
    for (std::size_t j = 0; j < f; ++j)
        out[j] = buffers.data() + (k + j) * stripe;
    std::vector<Sha256> sha(f);
    std::vector<uint32_t> crc(f, 0xFFFFFFFFu);

    for (std::int64_t offset = 0; offset < layout.partSize; offset += static_cast<std::int64_t>(stripe)) {
        if (cancel && cancel->load(std::memory_order_relaxed)) {
            result.error = QStringLiteral("cancelled");
            return result;
        }
        const auto length = static_cast<std::size_t>(std::min<std::int64_t>(layout.partSize - offset, stripe));
        for (std::size_t i = 0; i < k; ++i) {
            // The last data part counts as zero-padded to the full part size.
            const auto held = static_cast<std::size_t>(
                std::clamp<std::int64_t>(PartSize(layout, files.present[i]) - offset, 0, static_cast<std::int64_t>(length)));
            auto* data = const_cast<unsigned char*>(in[i]);
            std::memset(data + held, 0, length - held);
            if (const int error = ReadFull(files.parts[i].get(), data, held, offset)) {
                result.error = SystemError("Cannot read the part file ", files.partNames.value(int(i)), error);
                return result;
            }
        }
        decoder.decode(length, in.data(), out.data());
        for (std::size_t j = 0; j < f; ++j) {
            const auto kept = static_cast<std::size_t>(std::clamp<std::int64_t>(
                layout.dataPartSize(files.missing[j]) - offset, 0, static_cast<std::int64_t>(length)));
            if (const int error = WriteFully(files.rebuilt[j].get(), out[j], kept)) {
                result.error = SystemError("Cannot write ", files.rebuiltNames.value(int(j)), error);
                return result;
            }
            sha[j].update(out[j], kept);
            crc[j] = Crc32Update(crc[j], out[j], kept);
        }
    }
    for (std::size_t j = 0; j < f; ++j) {
        if (files.rebuilt[j].close() != 0) {
            result.error = SystemError("Cannot write ", files.rebuiltNames.value(int(j)), errno);
            return result;
        }
        result.parts.push_back({files.missing[j], layout.dataPartSize(files.missing[j]), ~crc[j], sha[j].finish()});
    }
    return result;
}

QString RebuiltFromText(const std::vector<int>& present, int dataParts) {
    QStringList numbers;
    for (const int part : present)
        if (part >= dataParts)
            numbers << QString::number(part - dataParts + 1);
    if (numbers.size() <= 1)
        return "recovery part " + numbers.value(0);
    const QString last = numbers.takeLast();
    return "recovery parts " + numbers.join(", ") + " and " + last;
}
