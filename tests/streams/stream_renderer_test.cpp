// The whole stream renderer: gate, emitter sampling, determinism, abort.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "host/settings_fill.h"
#include "streams/stream_renderer.h"
#include "tests/support/image_buffer.h"

namespace lumatrail {
namespace {

using testing::ImageBuffer;

RenderSettings force_lines() {
    RenderSettings s = DEFAULT_SETTINGS;
    s.render_mode = ForceLines;
    s.emitter_spacing = 8.0f;
    s.streak_length = 40.0f;
    return s;
}

template <class Pixel>
ImageBuffer<Pixel> render(ImageBuffer<Pixel>& input, const RenderSettings& s, Pixel fill = Pixel{},
                          float scale = 1.0f, const MaskSampler& mask = {}) {
    ImageBuffer<Pixel> out(input.width, input.height, fill);
    render_streams<Pixel>(input.view(), out.view(), s, {{0, 0, input.width, input.height}, scale, scale},
                          mask);
    return out;
}

TEST(StreamRenderer, GateCasesCopyTheInputExactly) {
    auto input = testing::test_picture(40, 30);
    input.at(3, 3).alpha = 0;  // copied as stored, not re-premultiplied
    std::vector<RenderSettings> gated(6, force_lines());
    gated[0].amount = 0.0f;
    gated[1].sweep_mode = PassThrough, gated[1].sweep_position = 0.0f;
    gated[2].sweep_mode = PassThrough, gated[2].sweep_position = 1.0f;
    gated[3].sweep_mode = BuildUp, gated[3].sweep_position = 0.0f;
    gated[4].sweep_mode = ClearAway, gated[4].sweep_position = 1.0f;
    gated[5].mask_mode = SortInsideMask;  // without a mask layer
    for (RenderSettings& s : gated) {
        s.composite = StreamsOnly;
        EXPECT_EQ(render(input, s, Pixel8{7, 7, 7, 7}), input);
    }
}

TEST(StreamRenderer, NoQualifyingPixelGivesThePreparedOutput) {
    auto input = testing::test_picture(40, 30);
    RenderSettings s = force_lines();
    s.lower_brightness = 2.0f;
    s.upper_brightness = 3.0f;
    s.amount = 0.5f;  // not applied: no composite without emitters
    EXPECT_EQ(render(input, s, Pixel8{7, 7, 7, 7}), input);
    s.composite = StreamsOnly;
    EXPECT_EQ(render(input, s, Pixel8{7, 7, 7, 7}), ImageBuffer<Pixel8>(40, 30));
}

TEST(StreamRenderer, OutputWithoutDataIsLeftAlone) {
    auto input = testing::test_picture(8, 8);
    const ImageView no_data{nullptr, 8, 8, 32, 0, 0};
    int polls = 0;
    render_streams<Pixel8>(input.view(), no_data, force_lines(),
                           {{0, 0, 8, 8}, 1, 1, [](void* n) { ++*static_cast<int*>(n); }, &polls}, {});
    EXPECT_EQ(polls, 0);
}

TEST(EmitterGrid, CellsNeverFallBelowTheAreaLimit) {
    RenderSettings s = DEFAULT_SETTINGS;
    EmitterGrid g = emitter_grid({0, 0, 1920, 1080}, s, 1, 1);
    EXPECT_EQ(g.columns, 160);
    EXPECT_EQ(g.rows, 90);
    s.emitter_spacing = 1.0f;
    g = emitter_grid({0, 0, 1920, 1080}, s, 1, 1);
    EXPECT_EQ(g.cell_x, 5.625f);
    EXPECT_EQ(g.columns, 342);
    EXPECT_EQ(g.rows, 192);
    // At half resolution the cells are the same in full-resolution pixels.
    s.emitter_spacing = 12.0f;
    g = emitter_grid({0, 0, 960, 540}, s, 0.5f, 0.5f);
    EXPECT_EQ(g.cell_x, 6.0f);
    EXPECT_EQ(g.columns, 160);
    EXPECT_EQ(g.rows, 90);
}

TEST(EmitterSampling, PositionsAreInFullResolutionPixels) {
    ImageBuffer<Pixel8> input(40, 40, Pixel8{255, 0, 0, 0});
    input.at(10, 20) = Pixel8{255, 255, 255, 255};
    const RenderSettings s = force_lines();
    const StreamGeometry g = stream_geometry({0, 0, 40, 40}, input.view(), {}, s, 0.5f, 0.5f);
    const auto emitters = sample_emitters<Pixel8>(input.view(), {0, 0, 40, 40}, s, g, {}, nullptr, nullptr);
    ASSERT_EQ(emitters.size(), 1u);
    EXPECT_EQ(emitters[0].x, 21.0f);
    EXPECT_EQ(emitters[0].y, 41.0f);
    EXPECT_EQ(emitters[0].weight, 1.0f);
    EXPECT_EQ(emitters[0].colour.red, 255);
}

TEST(EmitterSampling, TransparentAndOutOfWindowPixelsNeverEmit) {
    ImageBuffer<Pixel8> input(16, 16, Pixel8{0, 255, 255, 255});  // colour without alpha
    input.at(4, 4) = Pixel8{255, 10, 10, 10};                     // too dark
    input.at(9, 9) = Pixel8{255, 200, 200, 200};
    const RenderSettings s = force_lines();
    const StreamGeometry g = stream_geometry({0, 0, 16, 16}, input.view(), {}, s, 1, 1);
    const auto emitters = sample_emitters<Pixel8>(input.view(), {0, 0, 16, 16}, s, g, {}, nullptr, nullptr);
    ASSERT_EQ(emitters.size(), 1u);
    EXPECT_EQ(emitters[0].x, 9.5f);
}

// An area reaching past an input that starts elsewhere in the layer, its rows
// going upward in memory: with cells of one pixel, every input pixel becomes
// the emitter of its cell, with its own colour, and nothing outside emits.
TEST(EmitterSampling, AreaPastTheInputFindsEveryInputPixelOnce) {
    auto picture = testing::test_picture(20, 12);
    ImageView input = picture.view(5, -3);
    input.data += 11 * input.row_bytes;
    input.row_bytes = -input.row_bytes;  // layer row -3 is the picture's last row
    RenderSettings s = force_lines();
    s.emitter_spacing = 1.0f;
    s.lower_brightness = 0.0f;
    const RenderArea area{-4, -6, 40, 20};
    const StreamGeometry g = stream_geometry(area, input, {}, s, 1, 1);
    const auto emitters = sample_emitters<Pixel8>(input, area, s, g, {}, nullptr, nullptr);
    ASSERT_EQ(emitters.size(), 240u);
    for (const auto& e : emitters) {
        const auto x = std::int32_t(std::floor(e.x)), y = std::int32_t(std::floor(e.y));
        ASSERT_TRUE(x >= 5 && x < 25 && y >= -3 && y < 9) << x << ", " << y;
        const Pixel8 expected = picture.at(x - 5, 8 - y);
        EXPECT_EQ(std::memcmp(&e.colour, &expected, sizeof expected), 0) << x << ", " << y;
    }
}

TEST(EmitterSampling, SeedChoosesTheEmittersRepeatably) {
    auto input = testing::test_picture(64, 48);
    RenderSettings s = force_lines();
    const StreamGeometry g = stream_geometry({0, 0, 64, 48}, input.view(), {}, s, 1, 1);
    auto pick = [&](const RenderSettings& settings) {
        return sample_emitters<Pixel8>(input.view(), {0, 0, 64, 48}, settings, g, {}, nullptr, nullptr);
    };
    const auto a = pick(s), b = pick(s);
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof a[0]), 0);
    s.random_seed = 43;
    const auto c = pick(s);
    std::size_t moved = 0;
    for (std::size_t i = 0; i < std::min(a.size(), c.size()); ++i)
        moved += a[i].x != c[i].x || a[i].y != c[i].y;
    EXPECT_GT(moved, a.size() / 2);
}

// A mask world whose alpha is opaque left of column `edge` and clear beyond.
struct HalfMask {
    ImageBuffer<Pixel8> pixels;
    MaskSampler sampler;
    HalfMask(std::int32_t w, std::int32_t h, std::int32_t edge, std::uint8_t inside = 255) : pixels(w, h) {
        for (std::int32_t y = 0; y < h; ++y)
            for (std::int32_t x = 0; x < edge; ++x) pixels.at(x, y).alpha = inside;
        sampler = testing::mask_sampler_of(pixels, float(w), float(h));
    }
};

TEST(EmitterWeight, ThresholdedAndInvertedMask) {
    ImageBuffer<Pixel8> input(8, 8, Pixel8{255, 200, 200, 200});
    const HalfMask mask(8, 8, 8, 153);  // 0.6 everywhere
    RenderSettings s = force_lines();
    s.mask_mode = SortInsideMask;
    auto weight = [&](float threshold, bool invert) {
        s.mask_threshold = threshold;
        s.invert_mask = invert;
        return emitter_weight<Pixel8>(input.view(), mask.sampler, s, 4.5f, 4.5f);
    };
    EXPECT_EQ(weight(0.0f, false), 0.6f);
    EXPECT_NEAR(weight(0.2f, false), 0.5f, 1e-6f);  // (0.6 - 0.2) / 0.8
    EXPECT_EQ(weight(1.0f, false), 0.0f);           // only a full mask passes 100 %
    EXPECT_NEAR(weight(0.0f, true), 0.4f, 1e-6f);
    EXPECT_EQ(weight(0.7f, false), 0.0f);
    s.mask_mode = MaskOff;
    EXPECT_EQ(emitter_weight<Pixel8>(input.view(), mask.sampler, s, 4.5f, 4.5f), 1.0f);
    EXPECT_EQ(emitter_weight<Pixel8>(input.view(), {}, s, 40.5f, 4.5f), 0.0f);  // no pixel there
}

TEST(EmitterSampling, StretchFromMaskKeepsOnlyTheEdgeFacingTheLaunch) {
    ImageBuffer<Pixel8> input(40, 16, Pixel8{255, 200, 200, 200});
    const HalfMask mask(40, 16, 20);
    RenderSettings s = force_lines();
    s.mask_mode = StretchFromMask;
    s.emitter_spacing = 1.0f;
    const RenderArea area{0, 0, 40, 16};
    const StreamGeometry g = stream_geometry(area, input.view(), mask.sampler, s, 1, 1);
    auto columns = [&](const RenderSettings& settings) {
        std::vector<float> xs;
        for (const auto& e :
             sample_emitters<Pixel8>(input.view(), area, settings, g, mask.sampler, nullptr, nullptr))
            xs.push_back(e.x);
        return xs;
    };
    const auto rightward = columns(s);
    ASSERT_FALSE(rightward.empty());
    for (float x : rightward) EXPECT_TRUE(x > 17.0f && x < 20.0f) << x;  // the mask's right edge
    s.render_mode = Particles;                                           // particles emit from the whole mask
    const auto particles = columns(s);
    EXPECT_GT(particles.size(), rightward.size());
    EXPECT_LT(*std::min_element(particles.begin(), particles.end()), 10.0f);
}

// Float pixels that are not finite. A NaN alpha is not above 0, so the pixel
// never emits, even with the brightness window open from 0 (where it would
// otherwise weigh 1 and paint NaN strokes). An infinite alpha or a NaN colour
// gives brightness 0: weight 1 when the window starts at 0, else none. A mask
// whose values are all NaN counts as empty, so inverted as full.
TEST(EmitterWeight, NonFiniteFloatPixels) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    ImageBuffer<PixelFloat> input(16, 16, PixelFloat{nan, 1, 1, 1});
    input.at(1, 0) = PixelFloat{inf, 1, 1, 1};
    input.at(2, 0) = PixelFloat{1, nan, 1, 1};
    input.at(3, 0) = PixelFloat{-0.0f, 1, 1, 1};
    input.at(4, 0) = PixelFloat{1, 1, 1, 1};
    RenderSettings s = force_lines();
    s.lower_brightness = 0.0f;
    auto weights = [&](const MaskSampler& mask) {
        std::vector<std::uint32_t> bits;
        for (int x = 0; x < 5; ++x)
            bits.push_back(std::bit_cast<std::uint32_t>(
                emitter_weight<PixelFloat>(input.view(), mask, s, float(x) + 0.5f, 0.5f)));
        return bits;
    };
    const std::uint32_t one = 0x3F800000u;
    EXPECT_EQ(weights({}), (std::vector<std::uint32_t>{0, one, one, 0, one}));
    s.lower_brightness = 0.01f;
    EXPECT_EQ(weights({}), (std::vector<std::uint32_t>{0, 0, 0, 0, one}));

    ImageBuffer<PixelFloat> holes(4, 4, PixelFloat{nan, nan, nan, nan});
    const MaskSampler mask = testing::mask_sampler_of(holes, 16, 16);
    s.lower_brightness = 0.0f;
    s.mask_mode = SortInsideMask;
    EXPECT_EQ(weights(mask), (std::vector<std::uint32_t>{0, 0, 0, 0, 0}));
    s.invert_mask = true;
    EXPECT_EQ(weights(mask), (std::vector<std::uint32_t>{0, one, one, 0, one}));

    // A frame of NaN alpha alone has no emitter and renders as its copy.
    s = force_lines();
    s.lower_brightness = 0.0f;
    ImageBuffer<PixelFloat> blank(16, 16, PixelFloat{nan, 1, 1, 1});
    const StreamGeometry g = stream_geometry({0, 0, 16, 16}, blank.view(), {}, s, 1, 1);
    EXPECT_TRUE(
        sample_emitters<PixelFloat>(blank.view(), {0, 0, 16, 16}, s, g, {}, nullptr, nullptr).empty());
    const auto out = render(blank, s);
    EXPECT_EQ(
        std::memcmp(out.pixels.data(), blank.pixels.data(), blank.pixels.size() * sizeof blank.pixels[0]), 0);
}

TEST(StreamGeometry, ReferenceSizeCentreAndLaunchDirections) {
    RenderSettings s = DEFAULT_SETTINGS;
    s.direction = RadialOut;
    const ImageView out{nullptr, 100, 80, 0, 0, 0};
    StreamGeometry g = stream_geometry({0, 0, 100, 80}, out, {}, s, 0.5f, 0.5f);
    EXPECT_EQ(g.reference.x, 200.0f);  // the area's right edge over the scale, without a mask sampler
    EXPECT_EQ(g.centre.x, 100.0f);
    MaskSampler mask;
    mask.norm_width = 50.0f;
    mask.norm_height = 40.0f;
    g = stream_geometry({0, 0, 100, 80}, out, mask, s, 0.5f, 0.5f);
    EXPECT_EQ(g.reference.x, 100.0f);

    const Vec2 at_centre = launch_direction(s, g, g.centre);
    EXPECT_EQ(at_centre.x, 1.0f);
    EXPECT_EQ(at_centre.y, 0.0f);
    s.reverse_direction = true;
    EXPECT_EQ(launch_direction(s, g, g.centre).x, -1.0f);

    // "Radial In" reversed points away from the centre, like "Radial Out".
    const Vec2 p{g.centre.x + 3, g.centre.y + 4};
    s.direction = RadialIn;
    const Vec2 in_reversed = launch_direction(s, g, p);
    s.direction = RadialOut;
    s.reverse_direction = false;
    const Vec2 out_plain = launch_direction(s, g, p);
    EXPECT_EQ(in_reversed.x, out_plain.x);
    EXPECT_EQ(in_reversed.y, out_plain.y);
    EXPECT_EQ(out_plain.x, 0.6f);

    s.direction = Vertical;
    EXPECT_EQ(launch_direction(s, g, p).y, 1.0f);
    // Spread 0 leaves the direction as it is.
    const Vec2 same = rotate_by_launch_angle(out_plain, 0.0f, 12345u);
    EXPECT_EQ(same.x, out_plain.x);
    EXPECT_EQ(same.y, out_plain.y);
}

TEST(StreamRenderer, FramesRenderTheSameInAnyOrder) {
    auto input = testing::test_picture(48, 36);
    RenderSettings s = force_lines();
    s.render_mode = Particles;
    s.particle_count = 200;
    s.random_force = 200.0f;
    s.time_seconds = 3.0;
    const auto first = render(input, s);
    s.time_seconds = 1.0;
    const auto other = render(input, s);
    s.time_seconds = 3.0;
    EXPECT_EQ(render(input, s), first);
    EXPECT_FALSE(other == first);
}

struct AbortAt {
    int k;
    int polls = 0;
};
struct Cancelled {
    int code;
};

TEST(StreamRenderer, AbortStopsAndPropagatesAtEveryPoll) {
    auto input = testing::test_picture(48, 36);
    RenderSettings s = force_lines();
    int total = 0;
    ImageBuffer<Pixel8> out(48, 36);
    render_streams<Pixel8>(input.view(), out.view(), s,
                           {{0, 0, 48, 36}, 1, 1, [](void* n) { ++*static_cast<int*>(n); }, &total}, {});
    ASSERT_GT(total, 10);
    const AbortPoll abort_at_k = [](void* d) {
        auto& a = *static_cast<AbortAt*>(d);
        if (++a.polls == a.k) throw Cancelled{-99};
    };
    for (int k = 1; k <= total; ++k) {
        AbortAt abort{k};
        try {
            render_streams<Pixel8>(input.view(), out.view(), s, {{0, 0, 48, 36}, 1, 1, abort_at_k, &abort},
                                   {});
            ADD_FAILURE() << "no abort at poll " << k;
        } catch (const Cancelled& c) {
            EXPECT_EQ(c.code, -99);
            EXPECT_EQ(abort.polls, k);
        }
    }
}

// The same opaque picture at the three depths chooses the same emitters and
// draws nearly the same strokes. The tolerance covers the 8-bit and 16-bit
// quantisation of colours and coverage: about 2 steps of 8 bits.
TEST(StreamRenderer, DepthsAgree) {
    const auto picture = testing::test_picture(64, 48);
    auto in8 = picture;
    auto in16 = testing::convert<Pixel16>(picture);
    auto inf = testing::convert<PixelFloat>(picture);
    RenderSettings s = force_lines();
    s.lower_brightness = 0.0f;
    s.upper_brightness = 1.0f;
    const RenderArea area{0, 0, 64, 48};
    const StreamGeometry g = stream_geometry(area, in8.view(), {}, s, 1, 1);
    const auto e8 = sample_emitters<Pixel8>(in8.view(), area, s, g, {}, nullptr, nullptr);
    const auto e16 = sample_emitters<Pixel16>(in16.view(), area, s, g, {}, nullptr, nullptr);
    const auto ef = sample_emitters<PixelFloat>(inf.view(), area, s, g, {}, nullptr, nullptr);
    ASSERT_EQ(e8.size(), ef.size());
    ASSERT_EQ(e16.size(), ef.size());
    for (std::size_t i = 0; i < ef.size(); ++i) {
        EXPECT_EQ(e8[i].hash, ef[i].hash);
        EXPECT_EQ(e16[i].hash, ef[i].hash);
        EXPECT_EQ(e8[i].key, ef[i].key);
    }

    const auto o8 = render(in8, s);
    const auto of = render(inf, s);
    constexpr float DEPTH_TOLERANCE = 2.5f / 255.0f;
    float largest = 0.0f;
    for (std::size_t i = 0; i < o8.pixels.size(); ++i) {
        largest = std::max(largest, std::fabs(float(o8.pixels[i].red) / 255.0f - of.pixels[i].red));
        largest = std::max(largest, std::fabs(float(o8.pixels[i].alpha) / 255.0f - of.pixels[i].alpha));
    }
    EXPECT_LE(largest, DEPTH_TOLERANCE);
    EXPECT_FALSE(render(inf, s) == inf);  // strokes were drawn at all
}

}  // namespace
}  // namespace lumatrail
