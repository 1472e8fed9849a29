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
void read_texels(const ImageView& view, bool luminance, std::vector<float>& texels) {
    for (std::int32_t row = 0; row < view.height; ++row) {
        const std::uint8_t* at = view.data + std::int64_t(row) * view.row_bytes;
        for (std::int32_t column = 0; column < view.width; ++column, at += sizeof(Pixel)) {
            Pixel p;
            std::memcpy(&p, at, sizeof p);
            const float raw = luminance ? luma(float(p.red), float(p.green), float(p.blue)) : float(p.alpha);
            texels.push_back(unit_value(PixelTraits<Pixel>::unit(raw)));
        }
    }
}

float texel(const MaskSampler& m, std::int32_t x, std::int32_t y) {
    const std::int64_t column = std::int64_t(x) - m.origin_x;
    const std::int64_t row = std::int64_t(y) - m.origin_y;
    if (column < 0 || row < 0 || column >= m.texel_columns || row >= m.texel_rows) return 0.0f;
    return m.texels[std::size_t(row * m.texel_columns + column)];
}

}  // namespace

MaskSampler make_mask_sampler(const MaskSource& source, const RenderSettings& settings) {
    MaskSampler m;
    const ImageView& view = source.view;
    if (!view.data || source.mask_width <= 0 || source.mask_height <= 0) return m;
    m.present = true;
    m.norm_width = source.norm_width;
    m.norm_height = source.norm_height;
    m.mask_width = source.mask_width;
    m.mask_height = source.mask_height;
    m.texel_columns = std::max(view.width, 0);
    m.texel_rows = std::max(view.height, 0);
    m.origin_x = view.origin_x;
    m.origin_y = view.origin_y;
    if (settings.mask_mode == MaskOff && !settings.show_mask) return m;  // never sampled
    m.texels.reserve(std::size_t(m.texel_columns) * std::size_t(m.texel_rows));
    const bool luminance = settings.mask_channel != Alpha;
    with_pixel_type(source.depth,
                    [&](auto pixel) { read_texels<decltype(pixel)>(view, luminance, m.texels); });
    return m;
}

float sample_mask(const MaskSampler& m, float u, float v) {
    if (!m.present) return 0.0f;
    const float mx = u * float(m.mask_width) - 0.5f;
    const float my = v * float(m.mask_height) - 0.5f;
    // Far outside (or NaN): every texel is outside the world.
    constexpr float LIMIT = 1073741824.0f;  // 2^30
    if (!(mx > -LIMIT && mx < LIMIT && my > -LIMIT && my < LIMIT)) return 0.0f;
    const std::int32_t x0 = std::int32_t(std::floor(mx));
    const std::int32_t y0 = std::int32_t(std::floor(my));
    const float fx = mx - float(x0);
    const float fy = my - float(y0);
    const float s00 = texel(m, x0, y0);
    const float s10 = texel(m, x0 + 1, y0);
    const float s01 = texel(m, x0, y0 + 1);
    const float s11 = texel(m, x0 + 1, y0 + 1);
    return ((1.0f - fx) * s01 + fx * s11) * fy + (s00 * (1.0f - fx) + s10 * fx) * (1.0f - fy);
}

float mask_weight_at(const MaskSampler& m, const RenderSettings& s, float x, float y) {
    if (!m.present) return 0.0f;
    float d = sample_mask(m, x / std::max(m.norm_width, 1.0f), y / std::max(m.norm_height, 1.0f));
    d = d > 0.0f ? std::min(d, 1.0f) : 0.0f;
    if (s.invert_mask) d = 1.0f - d;
    const float t = s.mask_threshold;
    if (t <= 0.0f) return d;
    if (t >= 1.0f) return d >= 1.0f ? 1.0f : 0.0f;
    return std::clamp((d - t) / (1.0f - t), 0.0f, 1.0f);
}

}  // namespace lumatrail
