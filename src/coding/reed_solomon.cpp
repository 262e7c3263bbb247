#include "coding/reed_solomon.h"

#include "coding/coding_layout.h"

#include <isa-l/erasure_code.h>

#include <algorithm>
#include <stdexcept>

namespace {

void checkCounts(int k, int m) {
    if (k < 1 || m < 0 || k > kMaxCodingParts - m)
        throw std::invalid_argument("Reed-Solomon coding needs 1 <= k, 0 <= m and k + m <= 255");
}

// The (k + m) x k generator, row by row: the identity, then the recovery rows.
std::vector<unsigned char> generator(int k, int m) {
    std::vector<unsigned char> matrix(static_cast<std::size_t>((k + m) * k));
    gf_gen_cauchy1_matrix(matrix.data(), k + m, k);
    return matrix;
}

// ISA-L takes lengths as int and never writes through its source pointers.
void codeStripes(std::size_t size, int sources, int outputs, const std::vector<unsigned char>& tables,
                 const unsigned char* const* in, unsigned char* const* out) {
    if (outputs == 0)
        return;
    std::vector<unsigned char*> src(static_cast<std::size_t>(sources));
    std::vector<unsigned char*> dst(static_cast<std::size_t>(outputs));
    constexpr std::size_t kMaxChunk = std::size_t{1} << 30;
    for (std::size_t done = 0; done < size;) {
        const std::size_t chunk = std::min(size - done, kMaxChunk);
        for (int i = 0; i < sources; ++i)
            src[static_cast<std::size_t>(i)] = const_cast<unsigned char*>(in[i]) + done;
        for (int i = 0; i < outputs; ++i)
            dst[static_cast<std::size_t>(i)] = out[i] + done;
        ec_encode_data(static_cast<int>(chunk), sources, outputs, const_cast<unsigned char*>(tables.data()),
                       src.data(), dst.data());
        done += chunk;
    }
}

}  // namespace

RecoveryEncoder::RecoveryEncoder(int dataParts, int recoveryParts) : m_k(dataParts), m_m(recoveryParts) {
    checkCounts(m_k, m_m);
    std::vector<unsigned char> matrix = generator(m_k, m_m);
    m_tables.resize(static_cast<std::size_t>(32 * m_k * m_m));
    if (m_m > 0)
        ec_init_tables(m_k, m_m, matrix.data() + m_k * m_k, m_tables.data());
}

void RecoveryEncoder::encode(std::size_t size, const unsigned char* const* data, unsigned char* const* recovery) const {
    codeStripes(size, m_k, m_m, m_tables, data, recovery);
}

RecoveryDecoder::RecoveryDecoder(int dataParts, int recoveryParts, std::vector<int> present)
    : m_k(dataParts), m_present(std::move(present)) {
    checkCounts(m_k, recoveryParts);
    const int total = m_k + recoveryParts;
    std::vector<bool> seen(static_cast<std::size_t>(total), false);
    if (static_cast<int>(m_present.size()) != m_k)
        throw std::invalid_argument("decoding needs exactly k present parts");
    for (const int p : m_present) {
        if (p < 0 || p >= total || seen[static_cast<std::size_t>(p)])
            throw std::invalid_argument("present parts must be distinct part numbers below k + m");
        seen[static_cast<std::size_t>(p)] = true;
    }
    for (int j = 0; j < m_k; ++j)
        if (!seen[static_cast<std::size_t>(j)])
            m_missing.push_back(j);
    if (m_missing.empty())
        return;

    // The rows of the present parts map the data to what is at hand; their inverse maps
    // what is at hand back to the data, and its rows for the missing parts rebuild them.
    const std::vector<unsigned char> matrix = generator(m_k, recoveryParts);
    const auto k = static_cast<std::size_t>(m_k);
    std::vector<unsigned char> rows(k * k);
    for (std::size_t i = 0; i < k; ++i)
        std::copy_n(matrix.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(m_present[i]) * k), k,
                    rows.begin() + static_cast<std::ptrdiff_t>(i * k));
    std::vector<unsigned char> inverse(k * k);
    if (gf_invert_matrix(rows.data(), inverse.data(), m_k) != 0)
        throw std::logic_error("a Cauchy sub-matrix was singular");
    std::vector<unsigned char> decoding;
    for (const int j : m_missing)
        decoding.insert(decoding.end(), inverse.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(j) * k),
                        inverse.begin() + static_cast<std::ptrdiff_t>((static_cast<std::size_t>(j) + 1) * k));
    const int missing = static_cast<int>(m_missing.size());
    m_tables.resize(static_cast<std::size_t>(32 * m_k * missing));
    ec_init_tables(m_k, missing, decoding.data(), m_tables.data());
}

void RecoveryDecoder::decode(std::size_t size, const unsigned char* const* parts, unsigned char* const* rebuilt) const {
    codeStripes(size, m_k, static_cast<int>(m_missing.size()), m_tables, parts, rebuilt);
}
