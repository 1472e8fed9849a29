#include "streams/stroke_drawing.h"

#include <algorithm>
#include <cmath>

#include "engine/effect_math.h"
#include "engine/pixel_depth.h"
#include "engine/sweep_band.h"

namespace lumatrail {
namespace {

bool starts_polled_row(std::int32_t y, std::int32_t every) { return y % every == 0; }

}  // namespace

StrokeStyle stroke_style(const RenderSettings& s) {
    StrokeStyle st;
    st.size = s.stream_size;
    st.birth = s.birth_size;
    st.end = s.end_size;
    st.growth = s.growth_curve;
    st.tip_start = 1.0f - s.stretch_tip_feather;
    st.tip_width = std::max(1.0f - st.tip_start, MIN_SOFT_WIDTH);
    st.trail_fade = std::max(s.trail_length * 0.25f, 0.02f);
    return st;
}

float segment_size(const StrokeStyle& st, float u) {
    return (std::pow(std::clamp(u, 0.0f, 1.0f), st.growth) * (st.end - st.birth) + st.birth) * st.size;
}

float line_tip_fade(const StrokeStyle& st, float u) {
    return 1.0f - smoothstep((u - st.tip_start) / st.tip_width);
}

float trail_fade_in(const StrokeStyle& st, float tail_start, float t) {
    const float width = std::max(tail_start + st.trail_fade - tail_start, MIN_SOFT_WIDTH);
    return smoothstep((t - tail_start) / width);
}

float stream_opacity(const RenderSettings& s, float emitter_weight, bool particle, float age, float life) {
    float f = 1.0f;
    if (particle) {
        const float u = age / life;
        f = smoothstep(u / 0.06f) * (1.0f - smoothstep((u - 0.82f) / 0.18f));
    }
    return s.stream_opacity * emitter_weight * f;
}

template <class Pixel>
void prepare_output(const ImageView& input, const ImageView& output, const RenderArea& clip,
                    Composite composite, AbortPoll poll, void* poll_data) {
    const bool streams_only = composite == StreamsOnly;
    for (std::int32_t y = clip.top; y < clip.bottom; ++y) {
        if (starts_polled_row(y, 16)) poll_if_present(poll, poll_data);
        for (std::int32_t x = clip.left; x < clip.right; ++x)
            write_pixel_if_inside(output, x, y,
                                  streams_only ? Pixel{} : read_pixel_or_zero<Pixel>(input, x, y));
    }
}

template <class Pixel>
void draw_stream_segment(const ImageView& output, const RenderArea& clip, Vec2 p0, Vec2 p1, float size0,
                         float size1, const Pixel& colour, float alpha0, float alpha1, float sx, float sy) {
    using T = PixelTraits<Pixel>;
    const float r = std::max(size0, size1) * 0.5f;
    const float e = 0.65f / std::max(std::min(sx, sy), 0.01f);
    const std::int32_t x_lo =
        std::max(to_int32_saturated(std::floor((std::min(p0.x, p1.x) - r - e) * sx)), clip.left);
    const std::int32_t x_hi =
        std::min(to_int32_saturated(std::ceil((std::max(p0.x, p1.x) + r + e) * sx)), clip.right);
    const std::int32_t y_lo =
        std::max(to_int32_saturated(std::floor((std::min(p0.y, p1.y) - r - e) * sy)), clip.top);
    const std::int32_t y_hi =
        std::min(to_int32_saturated(std::ceil((std::max(p0.y, p1.y) + r + e) * sy)), clip.bottom);
    if (x_lo >= x_hi || y_lo >= y_hi) return;

    const Vec2 d{p1.x - p0.x, p1.y - p0.y};
    const float len2 = d.x * d.x + d.y * d.y;
    const bool point = len2 <= 0.000001f;
    const float colour_alpha = std::clamp(T::unit_alpha(colour.alpha), 0.0f, 1.0f);
    const float ramp = 2.0f * e;

    // The centres of the first columns, divided once per segment rather than
    // once per pixel (the same quotients).
    constexpr std::int32_t CACHED_COLUMNS = 64;
    float column_x[CACHED_COLUMNS];
    const std::int32_t cached_end = std::min(x_hi, x_lo + CACHED_COLUMNS);
    for (std::int32_t px = x_lo; px < cached_end; ++px) column_x[px - x_lo] = (float(px) + 0.5f) / sx;

    for (std::int32_t py = y_lo; py < y_hi; ++py) {
        const float y = (float(py) + 0.5f) / sy;
        for (std::int32_t px = x_lo; px < x_hi; ++px) {
            const float x = px < cached_end ? column_x[px - x_lo] : (float(px) + 0.5f) / sx;
            const float t =
                point ? 1.0f : std::clamp(((x - p0.x) * d.x + (y - p0.y) * d.y) / len2, 0.0f, 1.0f);
            const float size = (size1 - size0) * t + size0;
            if (size <= 0.0f) continue;
            const float ox = x - (p0.x + t * d.x), oy = y - (p0.y + t * d.y);
            const float q = ox * ox + oy * oy;
            const float reach = size * 0.5f + e;
            // At or beyond reach the coverage is 0: skip the square root and the
            // division. Exact, as float products are exact in double and the
            // rounded square root of q is at least reach whenever q is at least
            // reach squared.
            const double reach2 = double(reach) * double(reach);
            if (double(q) >= reach2 && reach2 < HUGE_VAL) continue;
            const float dist = std::sqrt(q);
            const float cov = std::clamp((reach - dist) / ramp, 0.0f, 1.0f);
            const float a = std::clamp((alpha1 - alpha0) * t + alpha0, 0.0f, 1.0f);
            const float w = cov * a;
            if (colour_alpha * w <= 0.0f) continue;
            if (std::uint8_t* at = pixel_address<Pixel>(output, px, py)) {
                Pixel dst;
                std::memcpy(&dst, at, sizeof dst);
                const Pixel result = stamp(dst, colour, w);
                std::memcpy(at, &result, sizeof result);
            }
        }
    }
}

template <class Pixel>
void composite_streams(const ImageView& input, const ImageView& output, const RenderArea& area,
                       const RenderArea& clip, const RenderSettings& s, AbortPoll poll, void* poll_data) {
    const float width = float(area.right - area.left);
    const float height = float(area.bottom - area.top);
    for (std::int32_t y = clip.top; y < clip.bottom; ++y) {
        if (starts_polled_row(y, 16)) poll_if_present(poll, poll_data);
        const float fy = (float(y - area.top) + 0.5f) / height;
        for (std::int32_t x = clip.left; x < clip.right; ++x) {
            const float w = s.amount * sweep_factor(s, (float(x - area.left) + 0.5f) / width, fy);
            if (!(w < 1.0f) && !s.preserve_input_alpha) continue;  // stays as drawn
            const Pixel o = read_pixel_or_zero<Pixel>(input, x, y);
            const Pixel drawn = read_pixel_or_zero<Pixel>(output, x, y);
            write_pixel_if_inside(output, x, y, blend_pixel(o, drawn, w, s.preserve_input_alpha));
        }
    }
}

#define LUMATRAIL_STROKES_FOR(Pixel) \
    template void prepare_output<Pixel>(const ImageView&, const ImageView&, const RenderArea&, Composite, \
                                        AbortPoll, void*); \
    template void draw_stream_segment<Pixel>(const ImageView&, const RenderArea&, Vec2, Vec2, float, float, \
                                             const Pixel&, float, float, float, float); \
    template void composite_streams<Pixel>(const ImageView&, const ImageView&, const RenderArea&, \
                                           const RenderArea&, const RenderSettings&, AbortPoll, void*);
LUMATRAIL_FOR_EACH_PIXEL(LUMATRAIL_STROKES_FOR)
#undef LUMATRAIL_STROKES_FOR

}  // namespace lumatrail
