#include "coding/sha256.h"

#include <openssl/evp.h>

#include <stdexcept>
#include <utility>

namespace {

// Fetched once: an implicit fetch inside every init would cost a provider lookup per part.
const EVP_MD* sha256Method() {
    static EVP_MD* const method = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    if (!method)
        throw std::runtime_error("OpenSSL offers no SHA-256");
    return method;
}

void begin(EVP_MD_CTX* context) {
    if (EVP_DigestInit_ex2(context, sha256Method(), nullptr) != 1)
        throw std::runtime_error("OpenSSL cannot start a SHA-256");
}

constexpr char kHexDigits[] = "0123456789abcdef";

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

}  // namespace

Sha256::Sha256() : m_context(EVP_MD_CTX_new()) {
    if (!m_context)
        throw std::runtime_error("OpenSSL cannot allocate a SHA-256");
    try {
        begin(m_context);
    } catch (...) {
        EVP_MD_CTX_free(m_context);
        throw;
    }
}

Sha256::~Sha256() { EVP_MD_CTX_free(m_context); }

Sha256::Sha256(Sha256&& other) noexcept : m_context(std::exchange(other.m_context, nullptr)) {}

Sha256& Sha256::operator=(Sha256&& other) noexcept {
    std::swap(m_context, other.m_context);
    return *this;
}

void Sha256::update(const void* data, std::size_t size) {
    if (size != 0 && EVP_DigestUpdate(m_context, data, size) != 1)
        throw std::runtime_error("OpenSSL failed a SHA-256 update");
}

Sha256Digest Sha256::finish() {
    Sha256Digest digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(m_context, digest.data(), &length) != 1 || length != digest.size())
        throw std::runtime_error("OpenSSL failed to finish a SHA-256");
    begin(m_context);
    return digest;
}

Sha256Digest Sha256::of(const void* data, std::size_t size) {
    Sha256 hash;
    hash.update(data, size);
    return hash.finish();
}

std::string Sha256Text(const Sha256Digest& digest) {
    std::string text;
    text.reserve(2 * digest.size());
    for (const unsigned char byte : digest) {
        text += kHexDigits[byte >> 4];
        text += kHexDigits[byte & 0xFu];
    }
    return text;
}

std::optional<Sha256Digest> Sha256FromText(std::string_view text) {
    Sha256Digest digest{};
    if (text.size() != 2 * digest.size())
        return std::nullopt;
    for (std::size_t i = 0; i < digest.size(); ++i) {
        const int high = hexValue(text[2 * i]);
        const int low = hexValue(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        digest[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return digest;
}
