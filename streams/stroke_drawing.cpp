#include "streams/stroke_drawing.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/effect_math.h"
#include "engine/pixel_depth.h"
#include "engine/sweep_band.h"
#include "streams/stroke_lanes.h"

namespace lumatrail {
namespace {

bool starts_polled_row(std::int32_t y, std::int32_t every) { return y % every == 0; }

// Columns [left, right) of row y of the view, all inside it, set to zero bytes.
template <class Pixel>
void zero_pixels(const ImageView& view, std::int32_t left, std::int32_t right, std::int32_t y) {
    if (left < right)
        std::memset(pixel_address<Pixel>(view, left, y), 0, std::size_t(right - left) * sizeof(Pixel));
}

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
    const RenderArea out = clip_to_view(clip, output);
    const RenderArea in = streams_only ? RenderArea{} : clip_to_view(out, input);
    const bool copies = input.data && in.left < in.right;
    for (std::int32_t y = clip.top; y < clip.bottom; ++y) {
        if (starts_polled_row(y, 16)) poll_if_present(poll, poll_data);
        if (!output.data || y < out.top || y >= out.bottom || out.left >= out.right) continue;
        // The row of the output inside the clip: the input's pixels where it
        // has them, zero bytes elsewhere.
        const bool row_copied = copies && y >= in.top && y < in.bottom;
        const std::int32_t copy_left = row_copied ? in.left : out.right;
        const std::int32_t copy_right = row_copied ? in.right : out.right;
        zero_pixels<Pixel>(output, out.left, copy_left, y);
        if (row_copied)
            std::memcpy(pixel_address<Pixel>(output, copy_left, y), pixel_address<Pixel>(input, copy_left, y),
                        std::size_t(copy_right - copy_left) * sizeof(Pixel));
        zero_pixels<Pixel>(output, copy_right, out.right, y);
    }
}

namespace {

// The segment's shared values, its bounding box cut to `bounds`. False when
// the box is empty.
template <class Pixel>
bool segment_rows(const RenderArea& bounds, Vec2 p0, Vec2 p1, float size0, float size1, const Pixel& colour,
                  float alpha0, float alpha1, float sx, float sy, SegmentRows& g) {
    using T = PixelTraits<Pixel>;
    const float r = std::max(size0, size1) * 0.5f;
    g.e = 0.65f / std::max(std::min(sx, sy), 0.01f);
    g.box.left = std::max(floor_to_int32_saturated(((std::min(p0.x, p1.x) - r - g.e) * sx)), bounds.left);
    g.box.right = std::min(ceil_to_int32_saturated(((std::max(p0.x, p1.x) + r + g.e) * sx)), bounds.right);
    g.box.top = std::max(floor_to_int32_saturated(((std::min(p0.y, p1.y) - r - g.e) * sy)), bounds.top);
    g.box.bottom = std::min(ceil_to_int32_saturated(((std::max(p0.y, p1.y) + r + g.e) * sy)), bounds.bottom);
    if (g.box.left >= g.box.right || g.box.top >= g.box.bottom) return false;
    g.p0 = p0;
    g.p1 = p1;
    g.d = {p1.x - p0.x, p1.y - p0.y};
    g.len2 = g.d.x * g.d.x + g.d.y * g.d.y;
    g.point = g.len2 <= 0.000001f;
    g.size0 = size0;
    g.size1 = size1;
    g.alpha0 = alpha0;
    g.alpha1 = alpha1;
    g.sx = sx;
    g.sy = sy;
    g.colour_alpha = std::clamp(T::unit_alpha(colour.alpha), 0.0f, 1.0f);
    g.ramp = 2.0f * g.e;
    // Coverage needs size * 0.5 + e above the distance, and the size never
    // exceeds the larger end's.
    g.reach = std::max(r, 0.0f) + g.e;
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

// Columns [first, first + count) of row py, weighed as the lane groups from
// first_group on.
struct RowRun {
    std::int32_t py, first, count, first_group;
};

inline constexpr std::int32_t WEIGHT_RUN = 32;  // the most columns of one run
inline constexpr std::int32_t RUN_BATCH = 16;   // the most runs weighed together

// Runs of rows queued for weighing, with their lane groups.
struct RunBatch {
    alignas(32) float weights[RUN_BATCH * WEIGHT_RUN];
    RowRun runs[RUN_BATCH];
    LaneGroup groups[RUN_BATCH * WEIGHT_RUN / 4];
    std::uint32_t stamped[RUN_BATCH * WEIGHT_RUN / 4];
    std::int32_t run_count = 0, group_count = 0;
};

// Weighs the queued runs in one call and stamps them.
template <class Pixel>
void flush_runs(const ImageView& output, const SegmentRows& g, std::int32_t clip_right, const Pixel& colour,
                GroupWeights weigh, std::int32_t lanes, RunBatch& b) {
    weigh(g, b.groups, b.group_count, b.weights, b.stamped);
    for (std::int32_t r = 0; r < b.run_count; ++r) {
        const RowRun& run = b.runs[r];
        const std::int32_t end = r + 1 < b.run_count ? b.runs[r + 1].first_group : b.group_count;
        std::uint32_t stamped = 0;
        for (std::int32_t k = run.first_group; k < end; ++k)
            stamped |= b.stamped[k] << ((k - run.first_group) * lanes);
        if (run.count < 32) stamped &= (1u << run.count) - 1u;
        std::uint8_t* first = output.data + (std::int64_t(run.py) - output.origin_y) * output.row_bytes +
                              (std::int64_t(run.first) - output.origin_x) * std::int64_t(sizeof(Pixel));
        stamp_columns(lanes, first, b.weights + r * WEIGHT_RUN, stamped, run.count, clip_right - run.first,
                      colour, g.colour_alpha);
    }
    b.run_count = b.group_count = 0;
}

// The rows of a segment whose box lies inside the view and the clip: on each
// row only the columns the capsule can reach (with cut_rows) or the box's
// row, cut into runs; the runs of several rows are weighed together, then
// stamped.
template <class Pixel>
void draw_segment_rows(const ImageView& output, const SegmentRows& g, bool cut_rows, std::int32_t clip_right,
                       const Pixel& colour, GroupWeights weigh, std::int32_t lanes) {
    RunBatch b;
    for (std::int32_t py = g.box.top; py < g.box.bottom; ++py) {
        const float centre = float(py) + 0.5f;
        const float y = g.sy == 1.0f ? centre : centre / g.sy;  // x / 1 is x
        const ColumnRange columns = cut_rows ? covered_columns(g, y) : ColumnRange{g.box.left, g.box.right};
        for (std::int32_t first = columns.first; first < columns.last; first += WEIGHT_RUN) {
            const std::int32_t count = std::min(WEIGHT_RUN, columns.last - first);
            b.runs[b.run_count] = {py, first, count, b.group_count};
            for (std::int32_t i = 0; i < count; i += lanes)
                b.groups[b.group_count++] = {y, first + i, b.run_count * WEIGHT_RUN + i};
            if (++b.run_count == RUN_BATCH) flush_runs(output, g, clip_right, colour, weigh, lanes, b);
        }
    }
    if (b.run_count) flush_runs(output, g, clip_right, colour, weigh, lanes, b);
}

}  // namespace

template <class Pixel>
bool stamp_span(const RenderArea& clip, Vec2 p0, Vec2 p1, float size0, float size1, const Pixel& colour,
                float sx, float sy, StampSpan& span) {
    SegmentRows g;
    if (!segment_rows(clip, p0, p1, size0, size1, colour, 0.0f, 0.0f, sx, sy, g)) return false;
    span = {g.box.left, g.box.right, g.box.top,      g.box.bottom, g.d,
            g.len2,     g.point,     g.colour_alpha, g.e,          g.ramp};
    return true;
}

template <class Pixel>
void draw_stream_segment_by_pixel(const ImageView& output, const RenderArea& clip, Vec2 p0, Vec2 p1,
                                  float size0, float size1, const Pixel& colour, float alpha0, float alpha1,
                                  float sx, float sy) {
    for_each_stamp(clip, p0, p1, size0, size1, colour, alpha0, alpha1, sx, sy,
                   [&](std::int32_t px, std::int32_t py, float w) { stamp_at(output, px, py, colour, w); });
}

template <class Pixel>
void draw_stream_segment_in_lanes(StrokeLanes lanes, const ImageView& output, const RenderArea& clip, Vec2 p0,
                                  Vec2 p1, float size0, float size1, const Pixel& colour, float alpha0,
                                  float alpha1, float sx, float sy) {
    if (!output.data) return;
    const RenderArea inside = clip_to_view(clip, output);
    SegmentRows g;
    if (!segment_rows(inside, p0, p1, size0, size1, colour, alpha0, alpha1, sx, sy, g)) return;
    // Cutting a row costs about what weighing one group of lanes does: on
    // boxes up to two groups wide it cannot save enough to pay for itself.
    const std::int32_t group = lanes == StrokeLanes::Eight ? 8 : 4;
    const bool cut_rows = g.box.right - g.box.left > 2 * group;
    if (cut_rows) g.cut = capsule_cut(g);
    if (lanes == StrokeLanes::Eight)
        draw_segment_rows(output, g, cut_rows, inside.right, colour, weigh_groups_eight, 8);
    else
        draw_segment_rows(output, g, cut_rows, inside.right, colour, weigh_groups_four, 4);
}

StrokeLanes widest_stroke_lanes() { return eight_lanes_available() ? StrokeLanes::Eight : StrokeLanes::Four; }

template <class Pixel>
void draw_stream_segment(const ImageView& output, const RenderArea& clip, Vec2 p0, Vec2 p1, float size0,
                         float size1, const Pixel& colour, float alpha0, float alpha1, float sx, float sy) {
    draw_stream_segment_in_lanes(widest_stroke_lanes(), output, clip, p0, p1, size0, size1, colour, alpha0,
                                 alpha1, sx, sy);
}

template <class Pixel>
void composite_streams(const ImageView& input, const ImageView& output, const RenderArea& area,
                       const RenderArea& clip, const RenderSettings& s, AbortPoll poll, void* poll_data) {
    const float width = float(area.right - area.left);
    const float height = float(area.bottom - area.top);
    // Without a sweep every weight is the amount: at full amount, and unless
    // the input's alpha is kept, every pixel stays as drawn.
    const bool as_drawn = s.sweep_mode == SweepOff && !(s.amount < 1.0f) && !s.preserve_input_alpha;
    for (std::int32_t y = clip.top; y < clip.bottom && !as_drawn; ++y) {
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
    template bool stamp_span<Pixel>(const RenderArea&, Vec2, Vec2, float, float, const Pixel&, float, float, \
                                    StampSpan&); \
    template void draw_stream_segment_by_pixel<Pixel>(const ImageView&, const RenderArea&, Vec2, Vec2, \
                                                      float, float, const Pixel&, float, float, float, \
                                                      float); \
    template void draw_stream_segment<Pixel>(const ImageView&, const RenderArea&, Vec2, Vec2, float, float, \
                                             const Pixel&, float, float, float, float); \
    template void draw_stream_segment_in_lanes<Pixel>(StrokeLanes, const ImageView&, const RenderArea&, \
                                                      Vec2, Vec2, float, float, const Pixel&, float, float, \
                                                      float, float); \
    template void composite_streams<Pixel>(const ImageView&, const ImageView&, const RenderArea&, \
                                           const RenderArea&, const RenderSettings&, AbortPoll, void*);
LUMATRAIL_FOR_EACH_PIXEL(LUMATRAIL_STROKES_FOR)
#undef LUMATRAIL_STROKES_FOR

}  // namespace lumatrail
