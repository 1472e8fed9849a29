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

namespace {

// Far outside (or NaN): every texel is outside the world.
constexpr float LIMIT = 1073741824.0f;  // 2^30
bool samplable(float m) { return m > -LIMIT && m < LIMIT; }

float bilinear(const MaskSampler& m, std::int32_t x0, float fx, std::int32_t y0, float fy) {
    const float s00 = texel(m, x0, y0);
    const float s10 = texel(m, x0 + 1, y0);
    const float s01 = texel(m, x0, y0 + 1);
    const float s11 = texel(m, x0 + 1, y0 + 1);
    return ((1.0f - fx) * s01 + fx * s11) * fy + (s00 * (1.0f - fx) + s10 * fx) * (1.0f - fy);
}

// Invert, then threshold: the threshold maps to 0 and full mask to 1.
float weight_of(float d, const RenderSettings& s) {
    d = d > 0.0f ? std::min(d, 1.0f) : 0.0f;
    if (s.invert_mask) d = 1.0f - d;
    const float t = s.mask_threshold;
    if (t <= 0.0f) return d;
    if (t >= 1.0f) return d >= 1.0f ? 1.0f : 0.0f;
    return std::clamp((d - t) / (1.0f - t), 0.0f, 1.0f);
}

void place_axis(MaskSampler::Axis& axis, std::int32_t first, std::int64_t count, float norm,
                std::int32_t size) {
    axis.first = first;
    axis.texel.resize(std::size_t(std::max<std::int64_t>(count, 0)));
    axis.fraction.resize(axis.texel.size());
    for (std::size_t i = 0; i < axis.texel.size(); ++i) {
        const float u = (float(first + std::int32_t(i)) + 0.5f) / std::max(norm, 1.0f);
        const float m = u * float(size) - 0.5f;
        if (!samplable(m)) {
            axis.texel[i] = 0;
            axis.fraction[i] = std::nanf("");
            continue;
        }
        axis.texel[i] = std::int32_t(std::floor(m));
        axis.fraction[i] = m - float(axis.texel[i]);
    }
}

}  // namespace

float sample_mask(const MaskSampler& m, float u, float v) {
    if (!m.present) return 0.0f;
    const float mx = u * float(m.mask_width) - 0.5f;
    const float my = v * float(m.mask_height) - 0.5f;
    if (!(samplable(mx) && samplable(my))) return 0.0f;
    const std::int32_t x0 = std::int32_t(std::floor(mx));
    const std::int32_t y0 = std::int32_t(std::floor(my));
    return bilinear(m, x0, mx - float(x0), y0, my - float(y0));
}

void place_pixel_centres(MaskSampler& m, const RenderArea& area) {
    if (m.texels.empty()) return;
    place_axis(m.columns, area.left, area_width(area), m.norm_width, m.mask_width);
    place_axis(m.rows, area.top, area_height(area), m.norm_height, m.mask_height);
}

float mask_weight_at_pixel(const MaskSampler& m, const RenderSettings& s, std::int32_t x, std::int32_t y) {
    const std::int64_t column = std::int64_t(x) - m.columns.first, row = std::int64_t(y) - m.rows.first;
    if (column < 0 || row < 0 || column >= std::int64_t(m.columns.texel.size()) ||
        row >= std::int64_t(m.rows.texel.size()))
        return mask_weight_at(m, s, float(x) + 0.5f, float(y) + 0.5f);
    const float fx = m.columns.fraction[std::size_t(column)], fy = m.rows.fraction[std::size_t(row)];
    const float d = fx == fx && fy == fy ? bilinear(m, m.columns.texel[std::size_t(column)], fx,
                                                    m.rows.texel[std::size_t(row)], fy)
                                         : 0.0f;
    return weight_of(d, s);
}

float mask_weight_at(const MaskSampler& m, const RenderSettings& s, float x, float y) {
    if (!m.present) return 0.0f;
    return weight_of(sample_mask(m, x / std::max(m.norm_width, 1.0f), y / std::max(m.norm_height, 1.0f)), s);
}

}  // namespace lumatrail
