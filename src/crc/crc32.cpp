// Crc32Update over the fastest kernel this machine runs, and the text form.
#include "crc/crc32.h"
#include "crc/crc32_clmul.h"
#include "crc/crc32_impl.h"

namespace crc32_detail {

std::vector<NamedKernel> availableCrc32Kernels() {
    std::vector<NamedKernel> kernels{{"bytewise", crc32Bytewise}, {"slice16", crc32Slice16}};
#if PW_CRC32_HAVE_CLMUL
    if (cpuHasClmul())
        kernels.push_back({"pclmul", crc32Clmul});
    if (cpuHasVclmul())
        kernels.push_back({"vpclmul-avx512", crc32Vclmul});
#endif
    return kernels;
}

NamedKernel selectedCrc32Kernel() { return availableCrc32Kernels().back(); }

}  // namespace crc32_detail

uint32_t Crc32Update(uint32_t crc, const void* data, std::size_t size) {
    // The CPU does not change under a running program, so the choice is made once (a
    // function-local static is initialised thread-safely, whoever calls first).
    static const crc32_detail::Crc32Kernel kernel = crc32_detail::selectedCrc32Kernel().kernel;
    if (size == 0)
        return crc;
    return kernel(crc, static_cast<const unsigned char*>(data), size);
}

std::string Crc32Text(uint32_t crc) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text(8, '0');
    for (int i = 7; i >= 0; --i) {
        text[static_cast<std::size_t>(i)] = kDigits[crc & 0xFu];
        crc >>= 4;
    }
    return text;
}
