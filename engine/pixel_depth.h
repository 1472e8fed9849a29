// The three pixel depths and the few pixel operations whose form depends on
// the depth. Every renderer is written once over the pixel type; where the
// depths differ (how a computed value is stored, which alpha may be divided
// by, how a stamp reads its colour's alpha) the difference lives in
// PixelTraits, not in the algorithms.
//
// Pixels are premultiplied, channels in memory order alpha, red, green, blue.
// Full value (PIXEL_MAX): 255 for 8-bit, 32768 (not 65535) for 16-bit, 1.0 for
// float. Integer channels enter float arithmetic as their unsigned values; every
// channel an integer renderer computes is stored through quantize_channel, channels
// that are copied are copied whole. Float channels are not limited to 0..1.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/effect_math.h"

namespace lumatrail {

// The pixel types, one per depth; their memory layout is the host's.
struct Pixel8 {
    std::uint8_t alpha, red, green, blue;
};
struct Pixel16 {
    std::uint16_t alpha, red, green, blue;
};
struct PixelFloat {
    float alpha, red, green, blue;
};

enum class PixelDepth : std::int32_t { Bits8, Bits16, Float };

// The one list of pixel types: every template over the pixel type is
// instantiated through it, e.g. LUMATRAIL_FOR_EACH_PIXEL(INSTANTIATE).
#define LUMATRAIL_FOR_EACH_PIXEL(X) X(Pixel8) X(Pixel16) X(PixelFloat)

// Calls f with a value of the pixel type of the depth: the one place a depth
// chosen at run time becomes a type, once per frame.
template <class F>
decltype(auto) with_pixel_type(PixelDepth depth, F&& f) {
    switch (depth) {
    case PixelDepth::Bits16: return f(Pixel16{});
    case PixelDepth::Float: return f(PixelFloat{});
    case PixelDepth::Bits8: break;
    }
    return f(Pixel8{});
}

// Only the three depths below exist: any other pixel type fails to compile.
template <class Pixel>
struct PixelTraits;

// min(v, PIXEL_MAX), max(·, 0), + 0.5, truncation to the channel type. A NaN
// (which min and max pass through) stores 0.
template <class Channel, int MAX>
Channel quantize_channel(float v) {
    const float limited = std::max(std::min(v, float(MAX)), 0.0f);
    if (!(limited == limited)) return 0;
    return Channel(limited + 0.5f);
}

// The integer depths: computed values are quantized, any alpha but 0 counts,
// and a stamp reads its colour's alpha as alpha / PIXEL_MAX (for 16 bits a
// division by 32768, which is exact: the same as multiplying by 2^-15). unit
// brings any channel value to the unit scale the same way.
template <class ChannelType, int MAX, PixelDepth D>
struct IntegerPixelTraits {
    using Channel = ChannelType;
    static constexpr float PIXEL_MAX = float(MAX);
    static constexpr PixelDepth DEPTH = D;
    static Channel store(float v) { return quantize_channel<Channel, MAX>(v); }
    static bool alpha_positive(Channel a) { return a != 0; }
    static bool key_alpha_usable(Channel a) { return a != 0; }
    static bool divisor_alpha_usable(Channel a) { return a != 0; }
    static float unit(float v) { return v / PIXEL_MAX; }
    static float unit_alpha(Channel a) { return unit(float(a)); }
};

template <>
struct PixelTraits<Pixel8> : IntegerPixelTraits<std::uint8_t, 255, PixelDepth::Bits8> {};

template <>
struct PixelTraits<Pixel16> : IntegerPixelTraits<std::uint16_t, 32768, PixelDepth::Bits16> {};

template <>
struct PixelTraits<PixelFloat> {
    using Channel = float;
    static constexpr float PIXEL_MAX = 1.0f;
    static constexpr PixelDepth DEPTH = PixelDepth::Float;
    static Channel store(float v) { return v; }
    static bool alpha_positive(Channel a) { return a > 0.0f; }
    static bool key_alpha_usable(Channel a) { return a > 0.0f && std::isfinite(a); }
    static bool divisor_alpha_usable(Channel a) { return a > MIN_DIVISOR_ALPHA; }
    static float unit(float v) { return v; }
    static float unit_alpha(Channel a) { return a; }
};

template <class Pixel>
inline constexpr float PIXEL_MAX = PixelTraits<Pixel>::PIXEL_MAX;

// Brightness divided by alpha, so that it means the same at every depth:
// opaque white is exactly 1. Unusable alpha, or a result that is infinite or
// NaN, gives 0.
template <class Pixel>
float brightness_key(const Pixel& p) {
    using T = PixelTraits<Pixel>;
    if (!T::key_alpha_usable(p.alpha)) return 0.0f;
    const float key = luma(float(p.red), float(p.green), float(p.blue)) / float(p.alpha);
    return std::isfinite(key) ? key : 0.0f;
}

#if defined(__SSE2__)
// Four pixels' channels side by side, as floats.
struct ChannelLanes {
    __m128 alpha, red, green, blue;
};

inline ChannelLanes channel_lanes(const Pixel8* pixels) {
    const __m128i byte = _mm_set1_epi32(0xFF);
    __m128i packed;
    std::memcpy(&packed, pixels, sizeof packed);
    return {_mm_cvtepi32_ps(_mm_and_si128(packed, byte)),
            _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(packed, 8), byte)),
            _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(packed, 16), byte)),
            _mm_cvtepi32_ps(_mm_srli_epi32(packed, 24))};
}

inline ChannelLanes channel_lanes(const Pixel16* pixels) {
    __m128i first, second;  // pixels 0 and 1, pixels 2 and 3
    std::memcpy(&first, pixels, sizeof first);
    std::memcpy(&second, pixels + 2, sizeof second);
    // Interleaving twice sorts the channels: a0 a1 a2 a3 r0 r1 r2 r3, then g.. b..
    const __m128i mixed_low = _mm_unpacklo_epi16(first, second),
                  mixed_high = _mm_unpackhi_epi16(first, second);
    const __m128i alpha_red = _mm_unpacklo_epi16(mixed_low, mixed_high);
    const __m128i green_blue = _mm_unpackhi_epi16(mixed_low, mixed_high);
    const __m128i zero = _mm_setzero_si128();
    return {_mm_cvtepi32_ps(_mm_unpacklo_epi16(alpha_red, zero)),
            _mm_cvtepi32_ps(_mm_unpackhi_epi16(alpha_red, zero)),
            _mm_cvtepi32_ps(_mm_unpacklo_epi16(green_blue, zero)),
            _mm_cvtepi32_ps(_mm_unpackhi_epi16(green_blue, zero))};
}

inline ChannelLanes channel_lanes(const PixelFloat* pixels) {
    ChannelLanes lanes{_mm_loadu_ps(&pixels[0].alpha), _mm_loadu_ps(&pixels[1].alpha),
                       _mm_loadu_ps(&pixels[2].alpha), _mm_loadu_ps(&pixels[3].alpha)};
    _MM_TRANSPOSE4_PS(lanes.alpha, lanes.red, lanes.green, lanes.blue);
    return lanes;
}

// luma of four pixels side by side: the same products and sums.
inline __m128 lane_luma(const ChannelLanes& lanes) {
    return _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(LUMA_RED), lanes.red),
                                 _mm_mul_ps(_mm_set1_ps(LUMA_GREEN), lanes.green)),
                      _mm_mul_ps(_mm_set1_ps(LUMA_BLUE), lanes.blue));
}

// brightness_key of four pixels side by side: the same products, sum and
// quotient, and 0 where the alpha is unusable (0; for float, not above 0 or
// not finite) or the quotient is not finite.
template <class Pixel>
__m128 lane_keys(const ChannelLanes& lanes) {
    const __m128 key = _mm_div_ps(lane_luma(lanes), lanes.alpha);
    const __m128 infinity = _mm_set1_ps(HUGE_VALF);
    __m128 usable = _mm_cmpneq_ps(lanes.alpha, _mm_setzero_ps());
    if constexpr (std::is_same_v<Pixel, PixelFloat>)
        usable = _mm_and_ps(_mm_cmpgt_ps(lanes.alpha, _mm_setzero_ps()), _mm_cmplt_ps(lanes.alpha, infinity));
    const __m128 finite = _mm_cmplt_ps(_mm_andnot_ps(_mm_set1_ps(-0.0f), key), infinity);  // NaN fails too
    return _mm_and_ps(_mm_and_ps(usable, finite), key);
}
#endif

// brightness_key of count pixels into keys, four at a time where the machine
// has vectors: the same bits either way.
template <class Pixel>
void brightness_keys(const Pixel* pixels, float* keys, std::int32_t count) {
    std::int32_t index = 0;
#if defined(__SSE2__)
    for (; index + 4 <= count; index += 4)
        _mm_storeu_ps(keys + index, lane_keys<Pixel>(channel_lanes(pixels + index)));
#endif
    for (; index < count; ++index) keys[index] = brightness_key(pixels[index]);
}

// The final mix of a source pixel O and a replacement P by weight w. With
// preserve set, P takes O's alpha and its colour is rescaled to it.
template <class Pixel>
Pixel blend_pixel(const Pixel& o, const Pixel& p, float w, bool preserve) {
    using T = PixelTraits<Pixel>;
    if (w <= 0.0f) return o;
    Pixel r = p;
    if (preserve) {
        const float f = T::divisor_alpha_usable(p.alpha) ? float(o.alpha) / float(p.alpha) : 0.0f;
        r.alpha = o.alpha;
        r.red = T::store(float(p.red) * f);
        r.green = T::store(float(p.green) * f);
        r.blue = T::store(float(p.blue) * f);
    }
    if (w >= 1.0f) return r;
    auto mix = [w](float from, float to) { return PixelTraits<Pixel>::store(w * (to - from) + from); };
    return Pixel{mix(float(o.alpha), float(r.alpha)), mix(float(o.red), float(r.red)),
                 mix(float(o.green), float(r.green)), mix(float(o.blue), float(r.blue))};
}

// The show-mask pixel for a mask weight m in 0..1: opaque grey.
template <class Pixel>
Pixel grey(float m) {
    using T = PixelTraits<Pixel>;
    const auto v = T::store(m * T::PIXEL_MAX);
    return Pixel{T::store(T::PIXEL_MAX), v, v, v};
}

// One stream stamp of coverage k with an emitter's colour over D, written
// out channel by channel.
template <class Pixel>
Pixel stamp_by_channel(const Pixel& d, const Pixel& colour, float k) {
    using T = PixelTraits<Pixel>;
    const float a = std::clamp(T::unit_alpha(colour.alpha), 0.0f, 1.0f) * k;
    const float keep = 1.0f - a;
    return Pixel{T::store(a * T::PIXEL_MAX + float(d.alpha) * keep),
                 T::store(k * float(colour.red) + float(d.red) * keep),
                 T::store(k * float(colour.green) + float(d.green) * keep),
                 T::store(k * float(colour.blue) + float(d.blue) * keep)};
}

#if defined(__SSE2__)
// The 8-bit stamp with the four channels side by side: the same products,
// sums, limits and rounding as stamp_by_channel, lane by lane (plain IEEE
// multiply and add give the same bits in a vector; min and max are taken in
// the order that keeps a NaN, and a NaN lane stores 0 as quantize_channel does).
inline Pixel8 stamp_sse2(const Pixel8& d, const Pixel8& colour, float k) {
    using T = PixelTraits<Pixel8>;
    const float a = std::clamp(T::unit_alpha(colour.alpha), 0.0f, 1.0f) * k;
    const float keep = 1.0f - a;
    // Lanes in memory order: alpha, red, green, blue.
    const __m128 source =
        _mm_setr_ps(a * T::PIXEL_MAX, k * float(colour.red), k * float(colour.green), k * float(colour.blue));
    std::uint32_t packed;
    std::memcpy(&packed, &d, sizeof packed);
    const __m128i zero = _mm_setzero_si128();
    const __m128 under = _mm_cvtepi32_ps(
        _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(std::int32_t(packed)), zero), zero));
    const __m128 v = _mm_add_ps(source, _mm_mul_ps(under, _mm_set1_ps(keep)));
    // std::min(v, 255) and std::max(., 0) keep v when the comparison fails (NaN);
    // _mm_min_ps and _mm_max_ps return their second operand then, so v goes second.
    const __m128 limited = _mm_max_ps(_mm_setzero_ps(), _mm_min_ps(_mm_set1_ps(T::PIXEL_MAX), v));
    const __m128 rounded =
        _mm_and_ps(_mm_add_ps(limited, _mm_set1_ps(0.5f)), _mm_cmpord_ps(limited, limited));
    const __m128i lanes = _mm_cvttps_epi32(rounded);
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(lanes, zero), zero);
    const std::uint32_t out = std::uint32_t(_mm_cvtsi128_si32(bytes));
    Pixel8 result;
    std::memcpy(&result, &out, sizeof result);
    return result;
}
#endif

// One stream stamp of coverage k with an emitter's colour over D: the lanes
// of a vector where the machine has them, the same bits either way.
template <class Pixel>
Pixel stamp(const Pixel& d, const Pixel& colour, float k) {
#if defined(__SSE2__)
    if constexpr (std::is_same_v<Pixel, Pixel8>) return stamp_sse2(d, colour, k);
#endif
    return stamp_by_channel(d, colour, k);
}

}  // namespace lumatrail
