// Small helpers shared by every renderer. All arithmetic is float32 in the
// order written here; a rewrite that is equal in algebra but rounds
// differently changes pictures.
//
// min, max and clamp are std::min, std::max and std::clamp with the arguments
// in the order written, so a NaN argument gives what those give.
#pragma once

#include <algorithm>
#include <cstdint>

namespace lumatrail {

// The effect's one integer hash, on 32-bit values with wrap-around. Signed
// inputs (seed, coordinates, indices) are taken as their two's-complement bits.
constexpr std::uint32_t hash32(std::uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}
static_assert(hash32(0) == 0 && hash32(1) == 0x688990C0u && hash32(42) == 0x172733C2u);

// The low 24 bits of a hash as a float in [0, 1).
constexpr float hash_unit(std::uint32_t h) { return float(h & 0xFFFFFFu) * (1.0f / 16777216.0f); }

// s clamped to [0, 1], then s² (3 − 2s). Soft edges fade with 1 − smoothstep.
inline float smoothstep(float s) {
    s = std::clamp(s, 0.0f, 1.0f);
    return s * s * (3.0f - 2.0f * s);
}

// Brightness weights of red, green and blue, summed in this order.
inline constexpr float LUMA_RED = 0.2126f;
inline constexpr float LUMA_GREEN = 0.7152f;
inline constexpr float LUMA_BLUE = 0.0722f;

inline float luma(float red, float green, float blue) {
    return (LUMA_RED * red + LUMA_GREEN * green) + LUMA_BLUE * blue;
}

// Truncation toward zero to 32 bits, saturating outside the int range; NaN
// gives 0. Values inside the range convert as a plain cast does, so this
// changes nothing for valid inputs and keeps absurd ones defined.
constexpr std::int32_t to_int32_saturated(float v) {
    if (!(v == v)) return 0;
    if (v >= 2147483648.0f) return INT32_MAX;
    if (v < -2147483648.0f) return INT32_MIN;
    return std::int32_t(v);
}

// to_int32_saturated(std::floor(v)) and (std::ceil(v)), without a call into
// the maths library (x86-64's baseline has no rounding instruction).
inline std::int32_t floor_to_int32_saturated(float v) {
    if (!(v == v)) return 0;
    if (v >= 2147483648.0f) return INT32_MAX;
    if (v < -2147483648.0f) return INT32_MIN;
    const std::int64_t truncated = std::int64_t(v);
    return std::int32_t(truncated - (v < float(truncated) ? 1 : 0));
}

inline std::int32_t ceil_to_int32_saturated(float v) {
    if (!(v == v)) return 0;
    if (v >= 2147483648.0f) return INT32_MAX;
    if (v < -2147483648.0f) return INT32_MIN;
    const std::int64_t truncated = std::int64_t(v);
    return std::int32_t(truncated + (v > float(truncated) ? 1 : 0));
}

// Guards that recur: the smallest soft width, and the smallest alpha to divide by.
inline constexpr float MIN_SOFT_WIDTH = 0.000001f;
inline constexpr float MIN_DIVISOR_ALPHA = 1e-12f;

}  // namespace lumatrail
