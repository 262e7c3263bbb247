#pragma once

#include <cstddef>
#include <vector>

// Reed-Solomon erasure coding over GF(2^8) through Intel ISA-L, on stripes: k data
// buffers of one length give m recovery buffers of that length, and any k of the k + m
// rebuild the others. Parts are numbered 0..k-1 (data) and k..k+m-1 (recovery).
//
// The generator is ISA-L's gf_gen_cauchy1_matrix(k + m, k): the identity on top (data
// parts are stored as they are), below it the Cauchy rows, where recovery part r (from
// 0) has the coefficient 1 / ((k + r) XOR j) for data part j, in GF(2^8) modulo
// x^8 + x^4 + x^3 + x^2 + 1. Every k x k sub-matrix of it can be inverted, so every
// choice of k parts decodes. All field arithmetic is ISA-L's.
//
// Both classes compute their tables once, at construction, and are then only read:
// one object can code any number of stripes, from several threads at once.

class RecoveryEncoder {
public:
    // Throws std::invalid_argument unless 1 <= k, 0 <= m and k + m <= 255.
    RecoveryEncoder(int dataParts, int recoveryParts);

    int dataParts() const { return m_k; }
    int recoveryParts() const { return m_m; }

    // data: k buffers of `size` bytes (a short last part zero-padded by the caller);
    // recovery: m buffers of `size` bytes, overwritten with the recovery stripes.
    void encode(std::size_t size, const unsigned char* const* data, unsigned char* const* recovery) const;

private:
    int m_k;
    int m_m;
    std::vector<unsigned char> m_tables;
};

class RecoveryDecoder {
public:
    // present: k distinct part numbers (0..k+m-1) whose stripes are at hand, in the order
    // decode() receives them. Throws std::invalid_argument otherwise.
    RecoveryDecoder(int dataParts, int recoveryParts, std::vector<int> present);

    const std::vector<int>& present() const { return m_present; }
    // The data parts that are not present, ascending: what decode() rebuilds.
    const std::vector<int>& missingData() const { return m_missing; }

    // parts[i]: the stripe of present()[i]; rebuilt[j]: overwritten with the stripe of
    // missingData()[j]. All buffers `size` bytes.
    void decode(std::size_t size, const unsigned char* const* parts, unsigned char* const* rebuilt) const;

private:
    int m_k;
    std::vector<int> m_present;
    std::vector<int> m_missing;
    std::vector<unsigned char> m_tables;
};
