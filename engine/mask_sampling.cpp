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
float texel_value(const Pixel& p, bool luminance) {
    const float raw = luminance ? luma(float(p.red), float(p.green), float(p.blue)) : float(p.alpha);
    return unit_value(PixelTraits<Pixel>::unit(raw));
}

// texel_value of count pixels into values, four at a time where the machine
// has vectors: the same quotient, comparisons and limit, the same bits.
template <class Pixel>
void texel_values(const Pixel* pixels, std::int32_t count, bool luminance, float* values) {
    std::int32_t index = 0;
#if defined(__SSE2__)
    const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f), infinity = _mm_set1_ps(HUGE_VALF);
    for (; index + 4 <= count; index += 4) {
        const ChannelLanes lanes = channel_lanes(pixels + index);
        const __m128 raw = luminance ? lane_luma(lanes) : lanes.alpha;
        const __m128 unit = std::is_same_v<Pixel, PixelFloat>
                                ? raw
                                : _mm_div_ps(raw, _mm_set1_ps(PixelTraits<Pixel>::PIXEL_MAX));
        // unit_value: above 0 and finite (NaN fails both), then at most 1.
        const __m128 usable = _mm_and_ps(_mm_cmpgt_ps(unit, zero), _mm_cmplt_ps(unit, infinity));
        _mm_storeu_ps(values + index, _mm_and_ps(usable, _mm_min_ps(unit, one)));
    }
#endif
    for (; index < count; ++index) values[index] = texel_value(pixels[index], luminance);
}

// The texels of every row, a block of pixels at a time: copied out of the
// view, turned into values side by side, and appended together.
template <class Pixel>
void read_texels(const ImageView& view, bool luminance, std::vector<float>& texels) {
    constexpr std::int32_t BLOCK = 256;
    Pixel pixels[BLOCK];
    float values[BLOCK];
    for (std::int32_t row = 0; row < view.height; ++row) {
        const std::uint8_t* at = view.data + std::int64_t(row) * view.row_bytes;
        for (std::int32_t first = 0; first < view.width; first += BLOCK) {
            const std::int32_t count = std::min(BLOCK, view.width - first);
            std::memcpy(pixels, at + std::int64_t(first) * std::int64_t(sizeof(Pixel)),
                        std::size_t(count) * sizeof(Pixel));
            texel_values(pixels, count, luminance, values);
            texels.insert(texels.end(), values, values + count);
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

namespace {

// mask_weight_at_pixel, inlined into both of its callers.
inline float weight_at_pixel(const MaskSampler& m, const RenderSettings& s, std::int32_t x, std::int32_t y) {
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

}  // namespace

float mask_weight_at_pixel(const MaskSampler& m, const RenderSettings& s, std::int32_t x, std::int32_t y) {
    return weight_at_pixel(m, s, x, y);
}

namespace {

// One row of the mask world's texels by layer column; a row outside the world
// reads 0 everywhere, as texel() does.
struct TexelRow {
    const float* texels = nullptr;
    std::int64_t first_column = 0, columns = 0;

    float operator[](std::int64_t x) const {
        const std::int64_t column = x - first_column;
        return texels && column >= 0 && column < columns ? texels[column] : 0.0f;
    }
};

TexelRow texel_row(const MaskSampler& m, std::int64_t y) {
    const std::int64_t row = y - m.origin_y;
    if (row < 0 || row >= m.texel_rows) return {};
    return {m.texels.data() + row * m.texel_columns, m.origin_x, m.texel_columns};
}

// bilinear over the two texel rows around the sample: the same texels, the
// same arithmetic.
float bilinear_rows(const TexelRow& top, const TexelRow& bottom, std::int32_t x0, float fx, float fy) {
    const float s00 = top[x0], s10 = top[std::int64_t(x0) + 1];
    const float s01 = bottom[x0], s11 = bottom[std::int64_t(x0) + 1];
    return ((1.0f - fx) * s01 + fx * s11) * fy + (s00 * (1.0f - fx) + s10 * fx) * (1.0f - fy);
}

// bilinear_rows for a sample whose four texels lie inside the mask world, as
// nearly all do: the rows' texels by index from `column` on, unchecked.
float bilinear_inside(const float* top, const float* bottom, std::int64_t column, float fx, float fy) {
    const float s00 = top[column], s10 = top[column + 1];
    const float s01 = bottom[column], s11 = bottom[column + 1];
    return ((1.0f - fx) * s01 + fx * s11) * fy + (s00 * (1.0f - fx) + s10 * fx) * (1.0f - fy);
}

// weight_at_pixel for count pixels of a row whose placed positions are
// column .. column + count - 1 and row: the row's two texel rows found once,
// and a sample read unchecked when its columns are inside the world.
void row_weights(const MaskSampler& m, const RenderSettings& s, std::size_t column, std::size_t row,
                 std::int32_t count, float* weights) {
    const float fy = m.rows.fraction[row];
    const TexelRow top = texel_row(m, m.rows.texel[row]), bottom = texel_row(m, m.rows.texel[row] + 1);
    const bool rows_inside = top.texels && bottom.texels && fy == fy;
    for (std::int32_t index = 0; index < count; ++index) {
        const float fx = m.columns.fraction[column + std::size_t(index)];
        const std::int32_t x0 = m.columns.texel[column + std::size_t(index)];
        const std::int64_t inside_column = std::int64_t(x0) - m.origin_x;
        float d = 0.0f;
        if (rows_inside && fx == fx && inside_column >= 0 && inside_column + 1 < m.texel_columns)
            d = bilinear_inside(top.texels, bottom.texels, inside_column, fx, fy);
        else if (fx == fx && fy == fy)
            d = bilinear_rows(top, bottom, x0, fx, fy);
        weights[index] = weight_of(d, s);
    }
}

// The same for count pixels of a column, placed at column and rows row ..
// row + count - 1.
void column_weights(const MaskSampler& m, const RenderSettings& s, std::size_t column, std::size_t row,
                    std::int32_t count, float* weights) {
    const float fx = m.columns.fraction[column];
    const std::int32_t x0 = m.columns.texel[column];
    const std::int64_t inside_column = std::int64_t(x0) - m.origin_x;
    const bool column_inside = fx == fx && inside_column >= 0 && inside_column + 1 < m.texel_columns;
    for (std::int32_t index = 0; index < count; ++index) {
        const float fy = m.rows.fraction[row + std::size_t(index)];
        const std::int32_t y0 = m.rows.texel[row + std::size_t(index)];
        const std::int64_t inside_row = std::int64_t(y0) - m.origin_y;
        float d = 0.0f;
        if (column_inside && fy == fy && inside_row >= 0 && inside_row + 1 < m.texel_rows) {
            const float* top = m.texels.data() + inside_row * m.texel_columns;
            d = bilinear_inside(top, top + m.texel_columns, inside_column, fx, fy);
        } else if (fx == fx && fy == fy) {
            d = bilinear_rows(texel_row(m, y0), texel_row(m, y0 + 1), x0, fx, fy);
        }
        weights[index] = weight_of(d, s);
    }
}

}  // namespace

void mask_weights_along_line(const MaskSampler& m, const RenderSettings& s, std::int32_t x, std::int32_t y,
                             std::int32_t count, bool vertical, float* weights) {
    // The pixels of the line with placed positions, [begin, end), go a line
    // at a time; any others (outside the placed area) pixel by pixel.
    const MaskSampler::Axis& along = vertical ? m.rows : m.columns;
    const MaskSampler::Axis& across = vertical ? m.columns : m.rows;
    const std::int64_t first = std::int64_t(vertical ? y : x) - along.first;  // the first pixel's place
    const std::int64_t place_across = std::int64_t(vertical ? x : y) - across.first;
    const std::int64_t along_size = std::int64_t(along.texel.size());
    std::int32_t begin = 0, end = 0;
    if (place_across >= 0 && place_across < std::int64_t(across.texel.size())) {
        begin = std::int32_t(std::clamp<std::int64_t>(-first, 0, count));
        end = std::int32_t(std::clamp<std::int64_t>(along_size - first, begin, count));
    }
    auto pixel_by_pixel = [&](std::int32_t from, std::int32_t to) {
        if (vertical)
            for (std::int32_t index = from; index < to; ++index)
                weights[index] = weight_at_pixel(m, s, x, y + index);
        else
            for (std::int32_t index = from; index < to; ++index)
                weights[index] = weight_at_pixel(m, s, x + index, y);
    };
    if (begin >= end) {
        pixel_by_pixel(0, count);
        return;
    }
    pixel_by_pixel(0, begin);
    pixel_by_pixel(end, count);
    const std::size_t place = std::size_t(first + begin);
    if (vertical)
        column_weights(m, s, std::size_t(place_across), place, end - begin, weights + begin);
    else
        row_weights(m, s, place, std::size_t(place_across), end - begin, weights + begin);
}

float mask_weight_at(const MaskSampler& m, const RenderSettings& s, float x, float y) {
    if (!m.present) return 0.0f;
    return weight_of(sample_mask(m, x / std::max(m.norm_width, 1.0f), y / std::max(m.norm_height, 1.0f)), s);
}

}  // namespace lumatrail
