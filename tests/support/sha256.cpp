#include "tests/support/sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace lumatrail::testing {

std::array<std::uint8_t, 32> sha256(std::span<const std::uint8_t> bytes) {
    std::array<std::uint8_t, 32> digest{};
    unsigned int size = 0;
    if (!EVP_Digest(bytes.data(), bytes.size(), digest.data(), &size, EVP_sha256(), nullptr) ||
        size != digest.size())
        throw std::runtime_error("libcrypto could not compute a SHA-256 digest");
    return digest;
}

std::string sha256_hex(std::span<const std::uint8_t> bytes) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string hex;
    for (const std::uint8_t b : sha256(bytes)) {
        hex += DIGITS[b >> 4];
        hex += DIGITS[b & 15];
    }
    return hex;
}

}  // namespace lumatrail::testing
