#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// SHA-256 of a byte stream through OpenSSL's EVP interface (the SHA extensions of the CPU
// where it has them: about 1.6-2 GB/s per core here). The strong check of a part beside
// its CRC-32: a CRC can be forged in microseconds, a SHA-256 cannot.

using Sha256Digest = std::array<unsigned char, 32>;

class Sha256 {
public:
    // Throws std::runtime_error when OpenSSL offers no SHA-256 (a broken installation).
    Sha256();
    ~Sha256();
    Sha256(Sha256&& other) noexcept;
    Sha256& operator=(Sha256&& other) noexcept;
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const void* data, std::size_t size);
    // The digest of everything updated since construction or the last finish; the hash
    // then starts again from nothing.
    Sha256Digest finish();

    static Sha256Digest of(const void* data, std::size_t size);

private:
    struct evp_md_ctx_st* m_context;
};

// The one text form of a digest: 64 lower-case hexadecimal digits.
std::string Sha256Text(const Sha256Digest& digest);

// The digest a text form stands for: exactly 64 lower-case hexadecimal digits, nothing
// else (no upper case, no spaces), so that one digest has one text.
std::optional<Sha256Digest> Sha256FromText(std::string_view text);
