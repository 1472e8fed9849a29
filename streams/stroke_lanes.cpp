#include "streams/stroke_lanes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include <immintrin.h>

#include "engine/pixel_depth.h"

namespace lumatrail {
namespace {

constexpr double UNBOUNDED = std::numeric_limits<double>::infinity();

// floor(v) for v well inside the int range.
std::int32_t floor_to_column(double v) {
    const std::int32_t truncated = std::int32_t(v);
    return truncated - (v < double(truncated) ? 1 : 0);
}

// std::clamp(v, 0, 1) lane by lane, a NaN kept as std::clamp keeps it: the
// min and max instructions return their second operand when either is NaN.
inline __m128 clamp_unit(__m128 v) { return _mm_min_ps(_mm_set1_ps(1.0f), _mm_max_ps(_mm_setzero_ps(), v)); }

[[gnu::target("avx2")]] inline __m256 clamp_unit8(__m256 v) {
    return _mm256_min_ps(_mm256_set1_ps(1.0f), _mm256_max_ps(_mm256_setzero_ps(), v));
}

// All bits of each lane whose bit is set in bits (bit 0 is lane 0).
inline __m128i lane_mask(std::uint32_t bits) {
    const __m128i lane_bits = _mm_setr_epi32(1, 2, 4, 8);
    return _mm_cmpeq_epi32(_mm_and_si128(_mm_set1_epi32(std::int32_t(bits)), lane_bits), lane_bits);
}

// The 8-bit store of four values: min(v, 255), max(·, 0), a NaN gives 0, + 0.5,
// truncated.
inline __m128i quantize_four_8bit(__m128 v) {
    const __m128 limited = _mm_max_ps(_mm_setzero_ps(), _mm_min_ps(_mm_set1_ps(255.0f), v));
    return _mm_cvttps_epi32(
        _mm_and_ps(_mm_add_ps(limited, _mm_set1_ps(0.5f)), _mm_cmpord_ps(limited, limited)));
}

}  // namespace

CapsuleCut capsule_cut(const SegmentRows& g) {
    CapsuleCut c;
    const double largest = std::max({std::abs(double(g.p0.x)), std::abs(double(g.p0.y)),
                                     std::abs(double(g.p1.x)), std::abs(double(g.p1.y))});
    // A pixel's coverage is float arithmetic on coordinates of this size:
    // its errors are a few units in the last place of `largest` and `reach`.
    const double reach = double(g.reach);
    c.reach = reach + 4e-6 * (largest + reach + double(g.box.bottom) / double(g.sy)) + 1e-4;
    c.finite = std::isfinite(c.reach) && std::isfinite(largest);
    c.band_lo = UNBOUNDED;  // no band
    c.band_hi = -UNBOUNDED;
    const double dx = double(g.d.x), dy = double(g.d.y);
    const double length2 = dx * dx + dy * dy;
    if (g.point || !c.finite || !(length2 > 0.0)) return c;
    if (std::abs(dy) < 1e-3 * std::abs(dx) || std::abs(dx) < 1e-3 * std::abs(dy)) {
        // Within a thousandth of an axis the band's own bounds would be
        // differences of huge numbers: its bounding box is as tight and exact.
        c.perp_slope = c.along_slope = 0.0;
        c.perp_half = UNBOUNDED;
        c.along_lo = std::min(0.0, dx) - c.reach;
        c.along_hi = std::max(0.0, dx) + c.reach;
        c.band_lo = std::min(0.0, dy) - c.reach;
        c.band_hi = std::max(0.0, dy) + c.reach;
        return c;
    }
    // With the unit direction u = d / |d|, the band is |Y ux - X uy| <= reach
    // across and 0 <= X ux + Y uy <= |d| along; both are divided through by
    // the direction's components (neither below a thousandth of the other).
    const double length = std::sqrt(length2), per_dx = 1.0 / dx, per_dy = 1.0 / dy;
    c.band_lo = -UNBOUNDED;
    c.band_hi = UNBOUNDED;
    c.perp_slope = dx * per_dy;
    c.perp_half = c.reach * length * std::abs(per_dy);
    c.along_slope = -dy * per_dx;
    c.along_lo = std::min(0.0, length2 * per_dx);
    c.along_hi = std::max(0.0, length2 * per_dx);
    return c;
}

ColumnRange covered_columns(const SegmentRows& g, float y) {
    const CapsuleCut& c = g.cut;
    if (!c.finite) return {g.box.left, g.box.right};
    double lo = UNBOUNDED, hi = -UNBOUNDED;
    const double row = double(y);
    for (const Vec2 end : {g.p0, g.p1})
        if (std::abs(row - double(end.y)) <= c.reach) {
            lo = std::min(lo, double(end.x) - c.reach);
            hi = std::max(hi, double(end.x) + c.reach);
        }
    const double across = row - double(g.p0.y);
    if (across >= c.band_lo && across <= c.band_hi) {
        const double middle = across * c.perp_slope, along = across * c.along_slope;
        const double band_lo = std::max(middle - c.perp_half, along + c.along_lo);
        const double band_hi = std::min(middle + c.perp_half, along + c.along_hi);
        if (band_lo <= band_hi) {
            lo = std::min(lo, double(g.p0.x) + band_lo);
            hi = std::max(hi, double(g.p0.x) + band_hi);
        }
    }
    // Column x has its centre at (x + 0.5) / sx; the cut is first brought
    // inside the box, so the columns fit an int.
    const double sx = double(g.sx), left = double(g.box.left), right = double(g.box.right);
    if (!(lo <= hi)) return {g.box.left, g.box.left};
    const std::int32_t first = -floor_to_column(-std::clamp(lo * sx - 0.5, left, right));
    const std::int32_t last = floor_to_column(std::clamp(hi * sx - 0.5, left - 1.0, right - 1.0)) + 1;
    return {first, std::max(first, last)};
}

namespace {

// The weights of four columns; returns their stamped bits.
inline std::uint32_t weigh_four(const SegmentRows& g, const LaneGroup& group, float* weights) {
    const __m128 zero = _mm_setzero_ps(), half = _mm_set1_ps(0.5f);
    const __m128 p0x = _mm_set1_ps(g.p0.x), dx = _mm_set1_ps(g.d.x), dy = _mm_set1_ps(g.d.y);
    const __m128 y = _mm_set1_ps(group.y), across = _mm_set1_ps((group.y - g.p0.y) * g.d.y);
    const __m128i columns = _mm_add_epi32(_mm_set1_epi32(group.column), _mm_setr_epi32(0, 1, 2, 3));
    const __m128 centre = _mm_add_ps(_mm_cvtepi32_ps(columns), half);
    // At full resolution a column's centre needs no division: x / 1 is x.
    const __m128 x = g.sx == 1.0f ? centre : _mm_div_ps(centre, _mm_set1_ps(g.sx));
    const __m128 t = g.point ? _mm_set1_ps(1.0f)
                             : clamp_unit(_mm_div_ps(_mm_add_ps(_mm_mul_ps(_mm_sub_ps(x, p0x), dx), across),
                                                     _mm_set1_ps(g.len2)));
    const __m128 size = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(g.size1 - g.size0), t), _mm_set1_ps(g.size0));
    const __m128 ox = _mm_sub_ps(x, _mm_add_ps(p0x, _mm_mul_ps(t, dx)));
    const __m128 oy = _mm_sub_ps(y, _mm_add_ps(_mm_set1_ps(g.p0.y), _mm_mul_ps(t, dy)));
    const __m128 dist = _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(ox, ox), _mm_mul_ps(oy, oy)));
    const __m128 cov = clamp_unit(_mm_div_ps(
        _mm_sub_ps(_mm_add_ps(_mm_mul_ps(size, half), _mm_set1_ps(g.e)), dist), _mm_set1_ps(g.ramp)));
    const __m128 a =
        clamp_unit(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(g.alpha1 - g.alpha0), t), _mm_set1_ps(g.alpha0)));
    const __m128 w = _mm_mul_ps(cov, a);
    _mm_storeu_ps(weights + group.slot, w);
    const __m128 stamps = _mm_and_ps(_mm_cmpnle_ps(size, zero),
                                     _mm_cmpnle_ps(_mm_mul_ps(_mm_set1_ps(g.colour_alpha), w), zero));
    return std::uint32_t(_mm_movemask_ps(stamps));
}

// The same, eight columns.
[[gnu::target("avx2")]] inline std::uint32_t weigh_eight(const SegmentRows& g, const LaneGroup& group,
                                                         float* weights) {
    const __m256 zero = _mm256_setzero_ps(), half = _mm256_set1_ps(0.5f);
    const __m256 p0x = _mm256_set1_ps(g.p0.x), dx = _mm256_set1_ps(g.d.x), dy = _mm256_set1_ps(g.d.y);
    const __m256 y = _mm256_set1_ps(group.y), across = _mm256_set1_ps((group.y - g.p0.y) * g.d.y);
    const __m256i columns =
        _mm256_add_epi32(_mm256_set1_epi32(group.column), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    const __m256 centre = _mm256_add_ps(_mm256_cvtepi32_ps(columns), half);
    const __m256 x = g.sx == 1.0f ? centre : _mm256_div_ps(centre, _mm256_set1_ps(g.sx));
    const __m256 t =
        g.point ? _mm256_set1_ps(1.0f)
                : clamp_unit8(_mm256_div_ps(_mm256_add_ps(_mm256_mul_ps(_mm256_sub_ps(x, p0x), dx), across),
                                            _mm256_set1_ps(g.len2)));
    const __m256 size =
        _mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(g.size1 - g.size0), t), _mm256_set1_ps(g.size0));
    const __m256 ox = _mm256_sub_ps(x, _mm256_add_ps(p0x, _mm256_mul_ps(t, dx)));
    const __m256 oy = _mm256_sub_ps(y, _mm256_add_ps(_mm256_set1_ps(g.p0.y), _mm256_mul_ps(t, dy)));
    const __m256 dist = _mm256_sqrt_ps(_mm256_add_ps(_mm256_mul_ps(ox, ox), _mm256_mul_ps(oy, oy)));
    const __m256 cov = clamp_unit8(
        _mm256_div_ps(_mm256_sub_ps(_mm256_add_ps(_mm256_mul_ps(size, half), _mm256_set1_ps(g.e)), dist),
                      _mm256_set1_ps(g.ramp)));
    const __m256 a = clamp_unit8(
        _mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(g.alpha1 - g.alpha0), t), _mm256_set1_ps(g.alpha0)));
    const __m256 w = _mm256_mul_ps(cov, a);
    _mm256_storeu_ps(weights + group.slot, w);
    const __m256 stamps =
        _mm256_and_ps(_mm256_cmp_ps(size, zero, _CMP_NLE_UQ),
                      _mm256_cmp_ps(_mm256_mul_ps(_mm256_set1_ps(g.colour_alpha), w), zero, _CMP_NLE_UQ));
    return std::uint32_t(_mm256_movemask_ps(stamps));
}

}  // namespace

void weigh_groups_four(const SegmentRows& g, const LaneGroup* groups, std::int32_t count, float* weights,
                       std::uint32_t* stamped) {
    for (std::int32_t k = 0; k < count; ++k) stamped[k] = weigh_four(g, groups[k], weights);
}

[[gnu::target("avx2")]] void weigh_groups_eight(const SegmentRows& g, const LaneGroup* groups,
                                                std::int32_t count, float* weights, std::uint32_t* stamped) {
    for (std::int32_t k = 0; k < count; ++k) stamped[k] = weigh_eight(g, groups[k], weights);
}

bool eight_lanes_available() { return __builtin_cpu_supports("avx2"); }

namespace {

// The four stamps side by side, channel by channel: the same products, sums,
// limits and rounding as stamp_by_channel in each lane.
inline void stamp_four(std::uint8_t* first, const float* weights, std::uint32_t bits, const Pixel8& colour,
                       float colour_alpha) {
    const __m128i byte = _mm_set1_epi32(0xFF);
    __m128i pixels;
    std::memcpy(&pixels, first, sizeof pixels);
    const __m128 w = _mm_loadu_ps(weights);
    const __m128 a = _mm_mul_ps(_mm_set1_ps(colour_alpha), w);
    const __m128 keep = _mm_sub_ps(_mm_set1_ps(1.0f), a);
    auto channel = [&](int shift) {
        return _mm_mul_ps(_mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(pixels, shift), byte)), keep);
    };
    auto painted = [&](std::uint8_t value) { return _mm_mul_ps(w, _mm_set1_ps(float(value))); };
    const __m128i alpha = quantize_four_8bit(_mm_add_ps(_mm_mul_ps(a, _mm_set1_ps(255.0f)), channel(0)));
    const __m128i red = quantize_four_8bit(_mm_add_ps(painted(colour.red), channel(8)));
    const __m128i green = quantize_four_8bit(_mm_add_ps(painted(colour.green), channel(16)));
    const __m128i blue = quantize_four_8bit(_mm_add_ps(painted(colour.blue), channel(24)));
    const __m128i stamped = _mm_or_si128(_mm_or_si128(alpha, _mm_slli_epi32(red, 8)),
                                         _mm_or_si128(_mm_slli_epi32(green, 16), _mm_slli_epi32(blue, 24)));
    const __m128i chosen = lane_mask(bits);
    const __m128i result = _mm_or_si128(_mm_and_si128(chosen, stamped), _mm_andnot_si128(chosen, pixels));
    std::memcpy(first, &result, sizeof result);
}

// Float pixels are stored as computed: the four pixels turned into channel
// lanes and back.
inline void stamp_four(std::uint8_t* first, const float* weights, std::uint32_t bits,
                       const PixelFloat& colour, float colour_alpha) {
    __m128 before[4];
    std::memcpy(before, first, sizeof before);
    __m128 alpha = before[0], red = before[1], green = before[2], blue = before[3];
    _MM_TRANSPOSE4_PS(alpha, red, green, blue);
    const __m128 w = _mm_loadu_ps(weights);
    const __m128 a = _mm_mul_ps(_mm_set1_ps(colour_alpha), w);
    const __m128 keep = _mm_sub_ps(_mm_set1_ps(1.0f), a);
    alpha = _mm_add_ps(_mm_mul_ps(a, _mm_set1_ps(1.0f)), _mm_mul_ps(alpha, keep));
    red = _mm_add_ps(_mm_mul_ps(w, _mm_set1_ps(colour.red)), _mm_mul_ps(red, keep));
    green = _mm_add_ps(_mm_mul_ps(w, _mm_set1_ps(colour.green)), _mm_mul_ps(green, keep));
    blue = _mm_add_ps(_mm_mul_ps(w, _mm_set1_ps(colour.blue)), _mm_mul_ps(blue, keep));
    _MM_TRANSPOSE4_PS(alpha, red, green, blue);
    const __m128 after[4] = {alpha, red, green, blue};
    __m128 result[4];
    for (int i = 0; i < 4; ++i) {
        const __m128 chosen = _mm_castsi128_ps(_mm_set1_epi32(-std::int32_t((bits >> i) & 1u)));
        result[i] = _mm_or_ps(_mm_and_ps(chosen, after[i]), _mm_andnot_ps(chosen, before[i]));
    }
    std::memcpy(first, result, sizeof result);
}

// The pixels of the four from `first` on whose bit is set, one at a time.
template <class Pixel>
void stamp_one_by_one(std::uint8_t* first, const float* weights, std::uint32_t bits, const Pixel& colour) {
    for (; bits; bits &= bits - 1u) {
        const int lane = __builtin_ctz(bits);
        std::uint8_t* at = first + lane * sizeof(Pixel);
        Pixel under;
        std::memcpy(&under, at, sizeof under);
        const Pixel result = stamp(under, colour, weights[lane]);
        std::memcpy(at, &result, sizeof result);
    }
}

// 16-bit pixels one at a time.
inline void stamp_four(std::uint8_t* first, const float* weights, std::uint32_t bits, const Pixel16& colour,
                       float) {
    stamp_one_by_one(first, weights, bits, colour);
}

// The 8-bit store of eight values, as quantize_four_8bit's.
[[gnu::target("avx2")]] inline __m256i quantize_eight_8bit(__m256 v) {
    const __m256 limited = _mm256_max_ps(_mm256_setzero_ps(), _mm256_min_ps(_mm256_set1_ps(255.0f), v));
    return _mm256_cvttps_epi32(_mm256_and_ps(_mm256_add_ps(limited, _mm256_set1_ps(0.5f)),
                                             _mm256_cmp_ps(limited, limited, _CMP_ORD_Q)));
}

// One channel of eight 8-bit pixels (the byte `shift` bits up) times keep.
[[gnu::target("avx2")]] inline __m256 kept_channel(__m256i pixels, int shift, __m256 keep) {
    const __m256i bytes =
        _mm256_and_si256(_mm256_srl_epi32(pixels, _mm_cvtsi32_si128(shift)), _mm256_set1_epi32(0xFF));
    return _mm256_mul_ps(_mm256_cvtepi32_ps(bytes), keep);
}

// The 8-bit stamps of eight neighbours side by side, as stamp_four's.
[[gnu::target("avx2")]] inline void stamp_eight(std::uint8_t* first, const float* weights, std::uint32_t bits,
                                                const Pixel8& colour, float colour_alpha) {
    const __m256i pixels = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(first));
    const __m256 w = _mm256_loadu_ps(weights);
    const __m256 a = _mm256_mul_ps(_mm256_set1_ps(colour_alpha), w);
    const __m256 keep = _mm256_sub_ps(_mm256_set1_ps(1.0f), a);
    const __m256i alpha = quantize_eight_8bit(
        _mm256_add_ps(_mm256_mul_ps(a, _mm256_set1_ps(255.0f)), kept_channel(pixels, 0, keep)));
    const __m256i red = quantize_eight_8bit(
        _mm256_add_ps(_mm256_mul_ps(w, _mm256_set1_ps(float(colour.red))), kept_channel(pixels, 8, keep)));
    const __m256i green = quantize_eight_8bit(
        _mm256_add_ps(_mm256_mul_ps(w, _mm256_set1_ps(float(colour.green))), kept_channel(pixels, 16, keep)));
    const __m256i blue = quantize_eight_8bit(
        _mm256_add_ps(_mm256_mul_ps(w, _mm256_set1_ps(float(colour.blue))), kept_channel(pixels, 24, keep)));
    const __m256i stamped =
        _mm256_or_si256(_mm256_or_si256(alpha, _mm256_slli_epi32(red, 8)),
                        _mm256_or_si256(_mm256_slli_epi32(green, 16), _mm256_slli_epi32(blue, 24)));
    const __m256i lane_bits = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
    const __m256i chosen =
        _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32(std::int32_t(bits)), lane_bits), lane_bits);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(first), _mm256_blendv_epi8(pixels, stamped, chosen));
}

// The float stamps of eight neighbours, two pixels to a register: the
// weight spread over a pixel's four channels, the alpha channel painted with
// the colour's unit alpha (w * alpha is the stamp's a; a * 1 is a).
[[gnu::target("avx2")]] inline void stamp_eight(std::uint8_t* first, const float* weights, std::uint32_t bits,
                                                const PixelFloat& colour, float colour_alpha) {
    const __m256 paint = _mm256_setr_ps(colour_alpha, colour.red, colour.green, colour.blue, colour_alpha,
                                        colour.red, colour.green, colour.blue);
    const __m256 all_weights = _mm256_loadu_ps(weights);
    for (int pair = 0; pair < 4; ++pair) {
        const int left = 2 * pair, right = 2 * pair + 1;
        const __m256 w = _mm256_permutevar8x32_ps(
            all_weights, _mm256_setr_epi32(left, left, left, left, right, right, right, right));
        const __m256 keep =
            _mm256_sub_ps(_mm256_set1_ps(1.0f), _mm256_mul_ps(_mm256_set1_ps(colour_alpha), w));
        float* at = reinterpret_cast<float*>(first) + 8 * pair;
        const __m256 under = _mm256_loadu_ps(at);
        const __m256 stamped = _mm256_add_ps(_mm256_mul_ps(w, paint), _mm256_mul_ps(under, keep));
        const std::int32_t lo = 1 << left, hi = 1 << right;
        const __m256i pixel_bits = _mm256_setr_epi32(lo, lo, lo, lo, hi, hi, hi, hi);
        const __m256i chosen = _mm256_cmpeq_epi32(
            _mm256_and_si256(_mm256_set1_epi32(std::int32_t(bits)), pixel_bits), pixel_bits);
        _mm256_storeu_ps(at, _mm256_blendv_ps(under, stamped, _mm256_castsi256_ps(chosen)));
    }
}

// A run's stamps four columns at a time.
template <class Pixel>
void stamp_columns_four(std::uint8_t* first, const float* weights, std::uint32_t stamped, std::int32_t count,
                        std::int32_t whole, const Pixel& colour, float colour_alpha) {
    for (std::int32_t i = 0; i < count && (stamped >> i); i += 4) {
        const std::uint32_t bits = (stamped >> i) & 0xFu;
        if (!bits) continue;
        std::uint8_t* at = first + std::size_t(i) * sizeof(Pixel);
        if (i + 4 <= whole)
            stamp_four(at, weights + i, bits, colour, colour_alpha);
        else
            stamp_one_by_one(at, weights + i, bits, colour);
    }
}

// An 8-bit or float run's stamps eight columns at a time.
template <class Pixel>
[[gnu::target("avx2")]] void stamp_columns_eight(std::uint8_t* first, const float* weights,
                                                 std::uint32_t stamped, std::int32_t count,
                                                 std::int32_t whole, const Pixel& colour,
                                                 float colour_alpha) {
    for (std::int32_t i = 0; i < count && (stamped >> i); i += 8) {
        const std::uint32_t bits = (stamped >> i) & 0xFFu;
        if (!bits) continue;
        std::uint8_t* at = first + std::size_t(i) * sizeof(Pixel);
        if (i + 8 <= whole)
            stamp_eight(at, weights + i, bits, colour, colour_alpha);
        else
            stamp_columns_four(at, weights + i, bits, count - i, whole - i, colour, colour_alpha);
    }
}

}  // namespace

template <class Pixel>
void stamp_columns(std::int32_t lanes, std::uint8_t* first, const float* weights, std::uint32_t stamped,
                   std::int32_t count, std::int32_t whole, const Pixel& colour, float colour_alpha) {
    if constexpr (!std::is_same_v<Pixel, Pixel16>)
        if (lanes == 8)
            return stamp_columns_eight(first, weights, stamped, count, whole, colour, colour_alpha);
    stamp_columns_four(first, weights, stamped, count, whole, colour, colour_alpha);
}

#define LUMATRAIL_INSTANTIATE(Pixel) \
    template void stamp_columns<Pixel>(std::int32_t, std::uint8_t*, const float*, std::uint32_t, \
                                       std::int32_t, std::int32_t, const Pixel&, float);
LUMATRAIL_FOR_EACH_PIXEL(LUMATRAIL_INSTANTIATE)
#undef LUMATRAIL_INSTANTIATE

}  // namespace lumatrail
