#include "engine/mask_sampling.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/effect_math.h"

namespace lumatrail {
namespace {

// A channel value brought to the unit range: above 1 gives 1; 0 or less,
// infinite (either sign) or NaN gives 0.
float unit_value(float v) {
    if (!(v > 0.0f) || !std::isfinite(v)) return 0.0f;
    return std::min(v, 1.0f);
}

template <class Pixel>
float depth_scale(float v);
template <>
float depth_scale<PF_Pixel>(float v) { return v / 255.0f; }
template <>
float depth_scale<PF_Pixel16>(float v) { return v * (1.0f / 32768.0f); }
template <>
float depth_scale<PF_PixelFloat>(float v) { return v; }

template <class Pixel>
float texel_value(const PF_EffectWorld& world, std::int32_t x, std::int32_t y, bool luminance) {
    const std::int64_t column = std::int64_t(x) - world.origin_x;
    const std::int64_t row = std::int64_t(y) - world.origin_y;
    if (column < 0 || row < 0 || column >= world.width || row >= world.height) return 0.0f;
    Pixel p;
    std::memcpy(&p,
                static_cast<const std::uint8_t*>(world.data) + row * world.rowbytes +
                    column * std::int64_t(sizeof(Pixel)),
                sizeof p);
    const float raw =
        luminance ? luma(float(p.red), float(p.green), float(p.blue)) : float(p.alpha);
    return unit_value(depth_scale<Pixel>(raw));
}

template <class Pixel>
float bilinear(const MaskSource& source, float u, float v, bool luminance) {
    const float mx = u * float(source.mask_width) - 0.5f;
    const float my = v * float(source.mask_height) - 0.5f;
    // Far outside (or NaN): every texel is outside the world.
    constexpr float LIMIT = 1073741824.0f;  // 2^30
    if (!(mx > -LIMIT && mx < LIMIT && my > -LIMIT && my < LIMIT)) return 0.0f;
    const std::int32_t x0 = std::int32_t(std::floor(mx));
    const std::int32_t y0 = std::int32_t(std::floor(my));
    const float fx = mx - float(x0);
    const float fy = my - float(y0);
    const PF_EffectWorld& w = *source.world;
    const float s00 = texel_value<Pixel>(w, x0, y0, luminance);
    const float s10 = texel_value<Pixel>(w, x0 + 1, y0, luminance);
    const float s01 = texel_value<Pixel>(w, x0, y0 + 1, luminance);
    const float s11 = texel_value<Pixel>(w, x0 + 1, y0 + 1, luminance);
    return ((1.0f - fx) * s01 + fx * s11) * fy + (s00 * (1.0f - fx) + s10 * fx) * (1.0f - fy);
}

}  // namespace

float sample_mask(const MaskSource* source, float u, float v, std::int32_t channel) {
    if (!source || !source->world || !source->world->data) return 0.0f;
    const bool luminance = channel != 0;
    switch (source->pixel_format) {
    case PF_PixelFormat_ARGB128: return bilinear<PF_PixelFloat>(*source, u, v, luminance);
    case PF_PixelFormat_ARGB64: return bilinear<PF_Pixel16>(*source, u, v, luminance);
    default: return bilinear<PF_Pixel>(*source, u, v, luminance);
    }
}

}  // namespace lumatrail
