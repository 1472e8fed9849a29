// SHA-256 of a byte string, for the golden frame digests and the stored
// controls digest, through libcrypto.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace lumatrail::testing {

std::array<std::uint8_t, 32> sha256(std::span<const std::uint8_t> bytes);

// The digest as 64 lower-case hexadecimal digits.
std::string sha256_hex(std::span<const std::uint8_t> bytes);

}  // namespace lumatrail::testing
