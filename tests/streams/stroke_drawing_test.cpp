// Strokes, fades, output preparation and the composite.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "host/settings_fill.h"
#include "streams/stroke_drawing.h"
#include "tests/support/image_buffer.h"

namespace lumatrail {
namespace {

using testing::ImageBuffer;
constexpr PixelFloat WHITE{1, 1, 1, 1};

// A horizontal opaque white stroke along the centre of pixel row 5.
ImageBuffer<PixelFloat> horizontal_stroke(float size, float alpha = 1.0f) {
    ImageBuffer<PixelFloat> out(30, 12);
    const RenderArea clip{0, 0, 30, 12};
    draw_stream_segment(out.view(), clip, {2.0f, 5.5f}, {25.0f, 5.5f}, size, size, WHITE, alpha, alpha, 1.0f,
                        1.0f);
    return out;
}

TEST(StreamSegment, SizeOneStrokeHasTheEdgeRamp) {
    const auto out = horizontal_stroke(1.0f);
    EXPECT_NEAR(out.at(10, 5).alpha, 1.15f / 1.3f, 1e-6f);  // about 0.885 on the centre line
    EXPECT_NEAR(out.at(10, 4).alpha, 0.15f / 1.3f, 1e-6f);  // a pixel away
    EXPECT_EQ(out.at(10, 6).alpha, out.at(10, 4).alpha);
    EXPECT_EQ(out.at(10, 3).alpha, 0.0f);  // 2 pixels away: beyond 1.15
    EXPECT_EQ(out.at(10, 7).alpha, 0.0f);
    EXPECT_EQ(out.at(10, 5).red, out.at(10, 5).alpha);  // white premultiplied by coverage
}

TEST(StreamSegment, SizeThreeStrokeIsFullWithinPointEightFive) {
    const auto out = horizontal_stroke(3.0f);
    EXPECT_EQ(out.at(10, 5).alpha, 1.0f);
    EXPECT_NEAR(out.at(10, 4).alpha, 1.15f / 1.3f, 1e-6f);
    EXPECT_NEAR(out.at(10, 3).alpha, 0.15f / 1.3f, 1e-6f);
    EXPECT_EQ(out.at(10, 2).alpha, 0.0f);
    // Round caps: the end at x = 25 reaches 1.5 + 0.65 beyond it, no more.
    EXPECT_GT(out.at(26, 5).alpha, 0.0f);
    EXPECT_EQ(out.at(28, 5).alpha, 0.0f);
}

TEST(StreamSegment, HalfResolutionHalvesWidthButNotTheRamp) {
    ImageBuffer<PixelFloat> out(40, 40);
    // Full-resolution y = 41 is the centre of frame row 20 at scale 0.5.
    draw_stream_segment(out.view(), {0, 0, 40, 40}, {4.0f, 41.0f}, {70.0f, 41.0f}, 10.0f, 10.0f, WHITE, 1.0f,
                        1.0f, 0.5f, 0.5f);
    float column = 0.0f;
    for (int y = 0; y < 40; ++y) column += out.at(15, y).alpha;
    EXPECT_NEAR(column, 5.0f, 1e-5f);  // 5 frame pixels wide
    EXPECT_EQ(out.at(15, 19).alpha, 1.0f);
    EXPECT_EQ(out.at(15, 21).alpha, 1.0f);
    EXPECT_NEAR(out.at(15, 22).alpha, 1.15f / 1.3f, 1e-6f);  // the ramp is still 1.3 frame pixels
    EXPECT_EQ(out.at(15, 24).alpha, 0.0f);
}

TEST(StreamSegment, NothingIsDrawnWithoutSizeOpacityOrColourAlpha) {
    const ImageBuffer<PixelFloat> empty(30, 12);
    EXPECT_EQ(horizontal_stroke(0.0f), empty);
    EXPECT_EQ(horizontal_stroke(3.0f, 0.0f), empty);
    ImageBuffer<PixelFloat> out(30, 12);
    draw_stream_segment(out.view(), {0, 0, 30, 12}, {2, 5.5f}, {25, 5.5f}, 3, 3, PixelFloat{0, 1, 1, 1}, 1, 1,
                        1, 1);
    EXPECT_EQ(out, empty);
}

TEST(StreamSegment, WritesOnlyInsideTheClip) {
    ImageBuffer<Pixel8> out(30, 12);
    draw_stream_segment(out.view(), {12, 0, 20, 12}, {2, 5.5f}, {25, 5.5f}, 3, 3, Pixel8{255, 255, 255, 255},
                        1, 1, 1, 1);
    for (int x = 0; x < 30; ++x) EXPECT_EQ(out.at(x, 5).alpha, (x >= 12 && x < 20) ? 255 : 0) << x;
}

TEST(StrokeStyle, TipAndTrailFadeEndValues) {
    RenderSettings s = DEFAULT_SETTINGS;
    s.stretch_tip_feather = 0.15f;
    StrokeStyle st = stroke_style(s);
    EXPECT_EQ(line_tip_fade(st, 0.5f), 1.0f);
    EXPECT_EQ(line_tip_fade(st, st.tip_start), 1.0f);
    EXPECT_EQ(line_tip_fade(st, 1.0f), 0.0f);
    s.stretch_tip_feather = 0.0f;
    st = stroke_style(s);
    EXPECT_EQ(line_tip_fade(st, 1.0f), 1.0f);  // no feather: full opacity to the end

    s.trail_length = 1.2f;  // fade 0.3 s
    st = stroke_style(s);
    EXPECT_EQ(trail_fade_in(st, 2.0f, 2.0f), 0.0f);
    EXPECT_EQ(trail_fade_in(st, 2.0f, 2.31f), 1.0f);
    s.trail_length = 0.0f;  // the fade never gets shorter than 0.02 s
    EXPECT_EQ(stroke_style(s).trail_fade, 0.02f);
}

TEST(StrokeStyle, SizeCurveAndParticleOpacity) {
    RenderSettings s = DEFAULT_SETTINGS;  // size 3, birth 100 %, end 0 %, growth 1
    const StrokeStyle st = stroke_style(s);
    EXPECT_EQ(segment_size(st, 0.0f), 3.0f);
    EXPECT_EQ(segment_size(st, 1.0f), 0.0f);
    EXPECT_EQ(segment_size(st, 2.0f), 0.0f);  // clamped life fraction
    EXPECT_EQ(stream_opacity(s, 0.5f, false, 0.0f, 1.0f), s.stream_opacity * 0.5f);
    EXPECT_EQ(stream_opacity(s, 1.0f, true, 0.0f, 1.0f), 0.0f);  // fades in
    EXPECT_EQ(stream_opacity(s, 1.0f, true, 0.5f, 1.0f), s.stream_opacity);
    EXPECT_EQ(stream_opacity(s, 1.0f, true, 1.0f, 1.0f), 0.0f);  // and out
}

TEST(Composite, HalfAmountIsTheAverage) {
    RenderSettings s = DEFAULT_SETTINGS;
    s.amount = 0.5f;
    ImageBuffer<Pixel8> in8(4, 2, Pixel8{0, 0, 0, 0}), out8(4, 2, Pixel8{255, 255, 255, 255});
    composite_streams<Pixel8>(in8.view(), out8.view(), {0, 0, 4, 2}, {0, 0, 4, 2}, s, nullptr, nullptr);
    EXPECT_EQ(out8, (ImageBuffer<Pixel8>(4, 2, Pixel8{128, 128, 128, 128})));

    ImageBuffer<Pixel16> in16(4, 2), out16(4, 2, Pixel16{32768, 32768, 32768, 32768});
    composite_streams<Pixel16>(in16.view(), out16.view(), {0, 0, 4, 2}, {0, 0, 4, 2}, s, nullptr, nullptr);
    EXPECT_EQ(out16, (ImageBuffer<Pixel16>(4, 2, Pixel16{16384, 16384, 16384, 16384})));

    ImageBuffer<PixelFloat> inf(4, 2, PixelFloat{0.25f, 0.25f, 1, 0}),
        outf(4, 2, PixelFloat{0.75f, 0.75f, 0, 2});
    composite_streams<PixelFloat>(inf.view(), outf.view(), {0, 0, 4, 2}, {0, 0, 4, 2}, s, nullptr, nullptr);
    EXPECT_EQ(outf, (ImageBuffer<PixelFloat>(4, 2, PixelFloat{0.5f, 0.5f, 0.5f, 1})));
}

TEST(Composite, PreserveAlphaInStreamsOnly) {
    RenderSettings s = DEFAULT_SETTINGS;
    s.composite = StreamsOnly;
    s.preserve_input_alpha = true;
    ImageBuffer<PixelFloat> in(2, 1, PixelFloat{1, 0.3f, 0.3f, 0.3f});
    ImageBuffer<PixelFloat> out(2, 1);
    out.at(1, 0) = PixelFloat{0.5f, 0.25f, 0.5f, 0};  // a stroke fell here
    composite_streams<PixelFloat>(in.view(), out.view(), {0, 0, 2, 1}, {0, 0, 2, 1}, s, nullptr, nullptr);
    const PixelFloat black_with_input_alpha{1, 0, 0, 0};
    EXPECT_EQ(std::memcmp(&out.at(0, 0), &black_with_input_alpha, sizeof(PixelFloat)), 0);
    const PixelFloat rescaled{1, 0.5f, 1, 0};
    EXPECT_EQ(std::memcmp(&out.at(1, 0), &rescaled, sizeof rescaled), 0);
}

TEST(PrepareOutput, CopiesOrClearsTheClipOnly) {
    ImageBuffer<Pixel16> in(3, 3, Pixel16{40000, 1, 2, 3});
    ImageBuffer<Pixel16> out(4, 4, Pixel16{9, 9, 9, 9});
    prepare_output<Pixel16>(in.view(), out.view(), {0, 0, 4, 2}, OverOriginal, nullptr, nullptr);
    EXPECT_EQ(out.at(2, 1).alpha, 40000);  // copied unchanged
    EXPECT_EQ(out.at(3, 1).alpha, 0);      // the input has no pixel there
    EXPECT_EQ(out.at(0, 2).alpha, 9);      // outside the clip
    prepare_output<Pixel16>(in.view(), out.view(), {0, 0, 4, 2}, StreamsOnly, nullptr, nullptr);
    EXPECT_EQ(out.at(2, 1).alpha, 0);
}

}  // namespace
}  // namespace lumatrail

namespace lumatrail {
namespace {

using testing::from_8bit;
using testing::ImageBuffer;

// A random segment of every shape: points and segments just longer than the
// shortest with a direction, long and short ones, sizes that grow, shrink,
// vanish or are far below a pixel, opacities beyond 0..1, at reduced and
// enlarged resolutions, cut by the clip, at small coordinates and at
// coordinates of an 8K frame's far corner, some along or almost along an
// axis.
struct RandomSegment {
    Vec2 p0, p1;
    float size0, size1, alpha0, alpha1, sx, sy;
    RenderArea clip;
    std::int32_t origin_x, origin_y;
};

RandomSegment random_segment(int trial, const std::function<float()>& unit) {
    RandomSegment r;
    r.sx = trial % 3 == 0 ? 1.0f : 0.1f + unit() * 2.0f;
    r.sy = trial % 5 == 0 ? 1.0f : 0.1f + unit() * 2.0f;
    const bool far = trial % 4 == 1;
    r.origin_x = far ? 7600 : 0;
    r.origin_y = far ? 4300 : 0;
    r.p0 = {(unit() * 60.0f - 10.0f + float(r.origin_x)) / r.sx,
            (unit() * 50.0f - 10.0f + float(r.origin_y)) / r.sy};
    const float reach = trial % 13 == 0 ? 0.0012f : trial % 6 == 0 ? 3.0f : 40.0f;
    // Some segments lie within a few thousandths of an axis.
    const float tilt = trial % 9 == 2 || trial % 9 == 4 ? unit() * 0.004f : 1.0f;
    const Vec2 step{(unit() - 0.5f) * reach, (unit() - 0.5f) * reach * tilt};
    r.p1 = trial % 7 == 0   ? r.p0
           : trial % 9 == 4 ? Vec2{r.p0.x + step.y, r.p0.y + step.x}
                            : Vec2{r.p0.x + step.x, r.p0.y + step.y};
    r.size0 = trial % 11 == 0 ? 0.0f : trial % 17 == 0 ? unit() * 0.05f : unit() * 12.0f;
    r.size1 = trial % 17 == 0 ? unit() * 0.05f : unit() * 12.0f - 2.0f;
    r.alpha0 = unit() * 1.4f - 0.2f;
    r.alpha1 = unit() * 1.4f - 0.2f;
    r.clip = {r.origin_x + int(unit() * 6), r.origin_y + int(unit() * 6), r.origin_x + 37 - int(unit() * 6),
              r.origin_y + 29 - int(unit() * 6)};
    return r;
}

// Strokes in lanes against the pixel-by-pixel statement over the whole
// bounding box, bit for bit: a lane that computed differently, or a row cut
// that left out a pixel the capsule covers, changes the picture.
template <class Pixel>
void expect_same_strokes(StrokeLanes lanes) {
    std::uint32_t seed = 2024;
    const std::function<float()> unit = [&] {
        seed = seed * 1664525u + 1013904223u;
        return float(seed >> 8) / 16777216.0f;
    };
    const Pixel colours[] = {from_8bit<Pixel>(Pixel8{255, 250, 120, 10}),
                             from_8bit<Pixel>(Pixel8{90, 40, 90, 12}), from_8bit<Pixel>(Pixel8{0, 0, 0, 0})};
    for (int trial = 0; trial < 3000; ++trial) {
        const RandomSegment r = random_segment(trial, unit);
        ImageBuffer<Pixel> by_pixel(37, 29, from_8bit<Pixel>(Pixel8{200, 30, 60, 90}));
        ImageBuffer<Pixel> in_lanes = by_pixel;
        ImageView pixel_view = by_pixel.view(), lane_view = in_lanes.view();
        pixel_view.origin_x = lane_view.origin_x = r.origin_x;
        pixel_view.origin_y = lane_view.origin_y = r.origin_y;
        const Pixel colour = colours[trial % 3];
        draw_stream_segment_by_pixel(pixel_view, r.clip, r.p0, r.p1, r.size0, r.size1, colour, r.alpha0,
                                     r.alpha1, r.sx, r.sy);
        draw_stream_segment_in_lanes(lanes, lane_view, r.clip, r.p0, r.p1, r.size0, r.size1, colour, r.alpha0,
                                     r.alpha1, r.sx, r.sy);
        ASSERT_EQ(in_lanes, by_pixel) << "trial " << trial;
    }
}

TEST(StrokeLanes, FourAndEightAtATimeMatchPixelByPixel) {
    for (const StrokeLanes lanes : {StrokeLanes::Four, StrokeLanes::Eight}) {
        if (lanes == StrokeLanes::Eight && widest_stroke_lanes() != StrokeLanes::Eight) continue;
        expect_same_strokes<Pixel8>(lanes);
        expect_same_strokes<Pixel16>(lanes);
        expect_same_strokes<PixelFloat>(lanes);
    }
}

}  // namespace
}  // namespace lumatrail
