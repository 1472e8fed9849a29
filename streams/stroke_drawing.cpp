#include "streams/stroke_drawing.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

namespace {

// What every pixel of one segment shares.
struct SegmentSpan {
    std::int32_t x_lo, x_hi, y_lo, y_hi;  // the bounding box cut to the clip
    Vec2 d;
    float len2;
    bool point;
    float colour_alpha, e, ramp;
};

template <class Pixel>
bool segment_span(const RenderArea& clip, Vec2 p0, Vec2 p1, float size0, float size1, const Pixel& colour,
                  float sx, float sy, SegmentSpan& g) {
    using T = PixelTraits<Pixel>;
    const float r = std::max(size0, size1) * 0.5f;
    g.e = 0.65f / std::max(std::min(sx, sy), 0.01f);
    g.x_lo = std::max(to_int32_saturated(std::floor((std::min(p0.x, p1.x) - r - g.e) * sx)), clip.left);
    g.x_hi = std::min(to_int32_saturated(std::ceil((std::max(p0.x, p1.x) + r + g.e) * sx)), clip.right);
    g.y_lo = std::max(to_int32_saturated(std::floor((std::min(p0.y, p1.y) - r - g.e) * sy)), clip.top);
    g.y_hi = std::min(to_int32_saturated(std::ceil((std::max(p0.y, p1.y) + r + g.e) * sy)), clip.bottom);
    if (g.x_lo >= g.x_hi || g.y_lo >= g.y_hi) return false;
    g.d = {p1.x - p0.x, p1.y - p0.y};
    g.len2 = g.d.x * g.d.x + g.d.y * g.d.y;
    g.point = g.len2 <= 0.000001f;
    g.colour_alpha = std::clamp(T::unit_alpha(colour.alpha), 0.0f, 1.0f);
    g.ramp = 2.0f * g.e;
    return true;
}

template <class Pixel>
void stamp_at(const ImageView& output, std::int32_t px, std::int32_t py, const Pixel& colour, float w) {
    if (std::uint8_t* at = pixel_address<Pixel>(output, px, py)) {
        Pixel dst;
        std::memcpy(&dst, at, sizeof dst);
        const Pixel result = stamp(dst, colour, w);
        std::memcpy(at, &result, sizeof result);
    }
}

#if defined(__SSE2__)
// std::clamp(v, 0, 1) lane by lane, a NaN kept as std::clamp keeps it.
inline __m128 clamp_unit(__m128 v) { return _mm_min_ps(_mm_set1_ps(1.0f), _mm_max_ps(_mm_setzero_ps(), v)); }
#endif

}  // namespace

template <class Pixel>
void draw_stream_segment_by_pixel(const ImageView& output, const RenderArea& clip, Vec2 p0, Vec2 p1,
                                  float size0, float size1, const Pixel& colour, float alpha0, float alpha1,
                                  float sx, float sy) {
    SegmentSpan g;
    if (!segment_span(clip, p0, p1, size0, size1, colour, sx, sy, g)) return;
    for (std::int32_t py = g.y_lo; py < g.y_hi; ++py) {
        const float y = (float(py) + 0.5f) / sy;
        for (std::int32_t px = g.x_lo; px < g.x_hi; ++px) {
            const float x = (float(px) + 0.5f) / sx;
            const float t =
                g.point ? 1.0f : std::clamp(((x - p0.x) * g.d.x + (y - p0.y) * g.d.y) / g.len2, 0.0f, 1.0f);
            const float size = (size1 - size0) * t + size0;
            if (size <= 0.0f) continue;
            const float dist = length(Vec2{x - (p0.x + t * g.d.x), y - (p0.y + t * g.d.y)});
            const float cov = std::clamp((size * 0.5f + g.e - dist) / g.ramp, 0.0f, 1.0f);
            const float a = std::clamp((alpha1 - alpha0) * t + alpha0, 0.0f, 1.0f);
            const float w = cov * a;
            if (g.colour_alpha * w <= 0.0f) continue;
            stamp_at(output, px, py, colour, w);
        }
    }
}

template <class Pixel>
void draw_stream_segment(const ImageView& output, const RenderArea& clip, Vec2 p0, Vec2 p1, float size0,
                         float size1, const Pixel& colour, float alpha0, float alpha1, float sx, float sy) {
#if defined(__SSE2__)
    // Four pixels of a row at a time: each lane computes exactly what
    // draw_stream_segment_by_pixel computes for its pixel (plain IEEE add,
    // multiply, divide and square root, clamps that keep a NaN), so the
    // divisions and square roots of four pixels cost about what one did.
    SegmentSpan g;
    if (!segment_span(clip, p0, p1, size0, size1, colour, sx, sy, g)) return;
    const __m128 half = _mm_set1_ps(0.5f), sx4 = _mm_set1_ps(sx), p0x = _mm_set1_ps(p0.x),
                 p0y = _mm_set1_ps(p0.y);
    const __m128 dx = _mm_set1_ps(g.d.x), dy = _mm_set1_ps(g.d.y), len2 = _mm_set1_ps(g.len2);
    const __m128 size_step = _mm_set1_ps(size1 - size0), size_start = _mm_set1_ps(size0);
    const __m128 alpha_step = _mm_set1_ps(alpha1 - alpha0), alpha_start = _mm_set1_ps(alpha0);
    const __m128 e = _mm_set1_ps(g.e), ramp = _mm_set1_ps(g.ramp);
    const __m128i lane_offsets = _mm_setr_epi32(0, 1, 2, 3);
    alignas(16) float sizes[4], weights[4];
    for (std::int32_t py = g.y_lo; py < g.y_hi; ++py) {
        const float y = (float(py) + 0.5f) / sy;
        const __m128 y4 = _mm_set1_ps(y), across = _mm_set1_ps((y - p0.y) * g.d.y);
        for (std::int64_t column = g.x_lo; column < g.x_hi; column += 4) {
            const std::int32_t px = std::int32_t(column);
            const __m128i columns = _mm_add_epi32(_mm_set1_epi32(px), lane_offsets);
            const __m128 x = _mm_div_ps(_mm_add_ps(_mm_cvtepi32_ps(columns), half), sx4);
            const __m128 t =
                g.point
                    ? _mm_set1_ps(1.0f)
                    : clamp_unit(_mm_div_ps(_mm_add_ps(_mm_mul_ps(_mm_sub_ps(x, p0x), dx), across), len2));
            const __m128 size = _mm_add_ps(_mm_mul_ps(size_step, t), size_start);
            const __m128 ox = _mm_sub_ps(x, _mm_add_ps(p0x, _mm_mul_ps(t, dx)));
            const __m128 oy = _mm_sub_ps(y4, _mm_add_ps(p0y, _mm_mul_ps(t, dy)));
            const __m128 dist = _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(ox, ox), _mm_mul_ps(oy, oy)));
            const __m128 cov =
                clamp_unit(_mm_div_ps(_mm_sub_ps(_mm_add_ps(_mm_mul_ps(size, half), e), dist), ramp));
            const __m128 a = clamp_unit(_mm_add_ps(_mm_mul_ps(alpha_step, t), alpha_start));
            _mm_store_ps(sizes, size);
            _mm_store_ps(weights, _mm_mul_ps(cov, a));
            const std::int32_t lanes = std::int32_t(std::min<std::int64_t>(4, g.x_hi - column));
            for (std::int32_t lane = 0; lane < lanes; ++lane) {
                if (sizes[lane] <= 0.0f || g.colour_alpha * weights[lane] <= 0.0f) continue;
                stamp_at(output, px + lane, py, colour, weights[lane]);
            }
        }
    }
#else
    draw_stream_segment_by_pixel(output, clip, p0, p1, size0, size1, colour, alpha0, alpha1, sx, sy);
#endif
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
    template void draw_stream_segment_by_pixel<Pixel>(const ImageView&, const RenderArea&, Vec2, Vec2, \
                                                      float, float, const Pixel&, float, float, float, \
                                                      float); \
    template void draw_stream_segment<Pixel>(const ImageView&, const RenderArea&, Vec2, Vec2, float, float, \
                                             const Pixel&, float, float, float, float); \
    template void composite_streams<Pixel>(const ImageView&, const ImageView&, const RenderArea&, \
                                           const RenderArea&, const RenderSettings&, AbortPoll, void*);
LUMATRAIL_FOR_EACH_PIXEL(LUMATRAIL_STROKES_FOR)
#undef LUMATRAIL_STROKES_FOR

}  // namespace lumatrail
