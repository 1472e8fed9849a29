// Drawing streams into the output: preparing it, the tapered antialiased
// capsule of one simulated step, and the final composite by amount and sweep
// band. Everything here writes only inside the clip rectangle, at the output's
// own depth through the per-depth stamp and blend.
#pragma once

#include <algorithm>
#include <cstdint>

#include "engine/image_view.h"
#include "engine/render_inputs.h"
#include "engine/render_settings.h"
#include "streams/stream_geometry.h"

namespace lumatrail {

// Per-frame style constants of the strokes.
struct StrokeStyle {
    float size;        // stream diameter, full-resolution pixels, at least 0
    float birth, end;  // size factors at the start and end of a life, at least 0
    float growth;      // exponent of the size curve, 0.1 .. 8
    float tip_start;   // life fraction where a line's tip begins to fade
    float tip_width;
    float trail_fade;  // seconds over which a particle's trail fades in
};

StrokeStyle stroke_style(const RenderSettings& settings);

// Diameter at life fraction u.
float segment_size(const StrokeStyle& style, float u);

// A line's opacity factor at life fraction u: 1 until the tip starts, falling
// to 0 at the end (no fall without Stretch Tip Feather).
float line_tip_fade(const StrokeStyle& style, float u);

// A particle trail's opacity factor at time t: 0 at the oldest visible point
// (tail_start), full after the trail fade.
float trail_fade_in(const StrokeStyle& style, float tail_start, float t);

// Opacity of one stream: the stream opacity times its emitter's weight; a
// particle also fades in over the first 6 % of its life (its age over its life) and
// out over the last 18 %.
float stream_opacity(const RenderSettings& settings, float emitter_weight, bool particle, float age,
                     float life);

// Fills the clip with the input ("Over Original"; all-zero where the input
// has no pixel) or transparent black ("Streams Only"), polling before every
// row whose index is a multiple of 16.
template <class Pixel>
void prepare_output(const ImageView& input, const ImageView& output, const RenderArea& clip,
                    Composite composite, AbortPoll poll, void* poll_data);

// An antialiased capsule from p0 to p1 (full-resolution pixels) whose diameter
// and opacity run linearly from the first end to the second, over an edge ramp
// 1.3 frame pixels wide. On each row of its bounding box cut to the clip it
// visits only the columns the capsule can reach, with the widest lanes this
// processor has.
template <class Pixel>
void draw_stream_segment(const ImageView& output, const RenderArea& clip, Vec2 p0, Vec2 p1, float size0,
                         float size1, const Pixel& colour, float alpha0, float alpha1, float sx, float sy);

// How many pixels of a row draw_stream_segment weighs at once: four (SSE2,
// every x86-64 processor) or eight (AVX2). The bits are the same either way.
enum class StrokeLanes { Four, Eight };

// The widest lanes this processor runs.
StrokeLanes widest_stroke_lanes();

// draw_stream_segment with the lanes given; Eight only where the processor
// has them. The stream phase chooses once per frame.
template <class Pixel>
void draw_stream_segment_in_lanes(StrokeLanes lanes, const ImageView& output, const RenderArea& clip, Vec2 p0,
                                  Vec2 p1, float size0, float size1, const Pixel& colour, float alpha0,
                                  float alpha1, float sx, float sy);

// Calls visit(px, py, w) for every pixel a segment stamps, with its weight,
// row by row over the segment's bounding box cut to the clip: the plain
// statement of a stroke's arithmetic, which the lanes reproduce bit for bit.
template <class Pixel, class Visit>
void for_each_stamp(const RenderArea& clip, Vec2 p0, Vec2 p1, float size0, float size1, const Pixel& colour,
                    float alpha0, float alpha1, float sx, float sy, Visit&& visit);

// The same, one pixel after another over the whole bounding box, each stamp
// as `stamp` makes it.
template <class Pixel>
void draw_stream_segment_by_pixel(const ImageView& output, const RenderArea& clip, Vec2 p0, Vec2 p1,
                                  float size0, float size1, const Pixel& colour, float alpha0, float alpha1,
                                  float sx, float sy);

// Mixes the drawn output with the input by amount and sweep band over the
// clip, optionally keeping the input's alpha.
template <class Pixel>
void composite_streams(const ImageView& input, const ImageView& output, const RenderArea& area,
                       const RenderArea& clip, const RenderSettings& settings, AbortPoll poll,
                       void* poll_data);

// What every pixel of a segment shares in for_each_stamp.
struct StampSpan {
    std::int32_t x_lo, x_hi, y_lo, y_hi;  // the bounding box cut to the clip
    Vec2 d;
    float len2;
    bool point;
    float colour_alpha, e, ramp;
};

template <class Pixel>
bool stamp_span(const RenderArea& clip, Vec2 p0, Vec2 p1, float size0, float size1, const Pixel& colour,
                float sx, float sy, StampSpan& g);

template <class Pixel, class Visit>
void for_each_stamp(const RenderArea& clip, Vec2 p0, Vec2 p1, float size0, float size1, const Pixel& colour,
                    float alpha0, float alpha1, float sx, float sy, Visit&& visit) {
    StampSpan g;
    if (!stamp_span(clip, p0, p1, size0, size1, colour, sx, sy, g)) return;
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
            visit(px, py, w);
        }
    }
}

}  // namespace lumatrail
