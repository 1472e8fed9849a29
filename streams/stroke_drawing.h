// Drawing streams into the output: preparing it, the tapered antialiased
// capsule of one simulated step, and the final composite by amount and sweep
// band. Everything here writes only inside the clip rectangle, at the output's
// own depth through the per-depth stamp and blend.
#pragma once

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
// particle also fades in over the first 6 % of its life (age S of life L) and
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
// 1.3 frame pixels wide. Visits only its bounding box cut to the clip.
template <class Pixel>
void draw_stream_segment(const ImageView& output, const RenderArea& clip, Vec2 p0, Vec2 p1, float size0,
                         float size1, const Pixel& colour, float alpha0, float alpha1, float sx, float sy);

// The same, one pixel after another: the plain statement of the arithmetic,
// which draw_stream_segment reproduces bit for bit four pixels at a time.
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

}  // namespace lumatrail
