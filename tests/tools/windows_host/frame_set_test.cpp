// The frame set rendered by the Windows module and the native build, and the
// comparison of the two renders.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <set>
#include <tuple>

#include "frame/frame_renderer.h"
#include "host/effect_entry.h"
#include "host/parameters.h"
#include "host/settings_fill.h"
#include "offline/offline_host.h"
#include "offline/test_card.h"
#include "tools/windows_host/frame_set.h"

namespace lumatrail::tools {
namespace {

FramePlan plan_named(const std::string& name) {
    for (const FramePlan& s : frame_set())
        if (s.name == name) return s;
    ADD_FAILURE() << "no frame named " << name;
    return {};
}

// The settings the effect reads for the frame, through its own settings fill.
RenderSettings settings_of(const FramePlan& plan) {
    offline::OfflineHost host;
    EXPECT_EQ(offline::load_parameters(host, EffectMain), PF_Err_NONE);
    for (const FrameSetting& s : plan.settings) offline::set_param_value(host, s.name, s.value);
    return ReadRenderSettings(offline::make_in_data(host, offline::host_time(FRAME_SET_SECONDS)));
}

TEST(FrameSet, NamesAreUniqueFileNames) {
    std::set<std::string> names;
    for (const FramePlan& s : frame_set()) {
        EXPECT_TRUE(names.insert(s.name).second) << s.name;
        EXPECT_EQ(frame_file_name(s), s.name + ".raw");
        EXPECT_EQ(s.name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-"), std::string::npos)
            << s.name;
    }
}

TEST(FrameSet, BitForBitExactlyForTheFramesOfTheLinearPass) {
    std::size_t linear = 0, streams = 0;
    for (const FramePlan& s : frame_set()) {
        EXPECT_EQ(s.linear_pass, (renderer_for(normalised_settings(settings_of(s))) == Renderer::LinearPass))
            << s.name;
        (s.linear_pass ? linear : streams) += 1;
    }
    EXPECT_GT(linear, 0u);
    EXPECT_GT(streams, 0u);
}

TEST(FrameSet, CoversEveryModeAtEachDepthAMaskModeHalfResolutionAndThePlainCommand) {
    // (render mode, direction, depth) for full-resolution smart renders without a mask mode.
    std::set<std::tuple<std::int32_t, std::int32_t, PF_PixelFormat>> modes;
    std::set<std::int32_t> mask_modes_with_a_mask;
    bool half = false, plain = false, shown_mask = false, stream_from_mask = false;
    for (const FramePlan& s : frame_set()) {
        const RenderSettings r = settings_of(s);
        if (!s.half_resolution && s.command == RenderCommand::Smart && r.mask_mode == MaskOff && !r.show_mask)
            modes.insert({r.render_mode, r.direction, s.format});
        if (s.with_mask && r.mask_mode != MaskOff) mask_modes_with_a_mask.insert(r.mask_mode);
        half = half || s.half_resolution;
        plain = plain || s.command == RenderCommand::Plain;
        shown_mask = shown_mask || (r.show_mask && s.with_mask);
        stream_from_mask = stream_from_mask || (!s.linear_pass && s.with_mask && r.mask_mode != MaskOff);
        EXPECT_FALSE(s.command == RenderCommand::Plain && s.format == PF_PixelFormat_ARGB128) << s.name;
    }
    for (PF_PixelFormat f : {PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB64, PF_PixelFormat_ARGB128}) {
        SCOPED_TRACE(::testing::Message() << "format " << f);
        EXPECT_TRUE(modes.count({ClassicLines, Horizontal, f}));
        EXPECT_TRUE(modes.count({ClassicLines, Vertical, f}));
        EXPECT_TRUE(modes.count({ClassicLines, RadialOut, f}));
        bool force = false, particles = false;
        for (const auto& [mode, direction, format] : modes) {
            force = force || (mode == ForceLines && format == f);
            particles = particles || (mode == Particles && format == f);
        }
        EXPECT_TRUE(force);
        EXPECT_TRUE(particles);
    }
    EXPECT_TRUE(mask_modes_with_a_mask.count(SortInsideMask));
    EXPECT_TRUE(mask_modes_with_a_mask.count(StretchFromMask));
    EXPECT_TRUE(half);
    EXPECT_TRUE(plain);
    EXPECT_TRUE(shown_mask);
    EXPECT_TRUE(stream_from_mask);
}

TEST(FrameSet, EveryFrameRendersAtItsSizeAndChangesTheCard) {
    for (const FramePlan& s : frame_set()) {
        SCOPED_TRACE(s.name);
        const std::vector<std::uint8_t> pixels = render_set_frame(EffectMain, s);
        ASSERT_EQ(pixels.size(), frame_bytes(s));
        const offline::OfflineWorld card = offline::resample_nearest(
            offline::test_card(FRAME_SET_WIDTH, FRAME_SET_HEIGHT, s.format), frame_width(s), frame_height(s),
            s.half_resolution ? 0.5f : 1.0f, s.half_resolution ? 0.5f : 1.0f);
        EXPECT_NE(pixels, offline::packed_pixels(card)) << "the effect left the card as it was";
    }
}

TEST(FrameSet, RendersAreRepeatable) {
    for (const char* name : {"particles-float", "force-lines-8bit-half", "stretch-from-mask-16bit"}) {
        const FramePlan s = plan_named(name);
        EXPECT_EQ(render_set_frame(EffectMain, s), render_set_frame(EffectMain, s)) << name;
    }
}

// Comparison of two renders, on frames of the set with made-up pixels.
struct Compare : ::testing::Test {
    FramePlan exact = plan_named("classic-horizontal-8bit");
    FramePlan stream8 = plan_named("particles-8bit");
    FramePlan stream16 = plan_named("particles-16bit");
    FramePlan stream_float = plan_named("particles-float");
    static std::vector<std::uint8_t> blank(const FramePlan& s) {
        return std::vector<std::uint8_t>(frame_bytes(s), 100);
    }
    // Sets channel `channel` (counted over the whole frame) of a render.
    template <class Channel>
    static void set_channel(std::vector<std::uint8_t>& render, std::size_t channel, Channel v) {
        std::memcpy(render.data() + channel * sizeof v, &v, sizeof v);
    }
};

TEST_F(Compare, IdenticalRendersMatch) {
    for (const FramePlan& s : {exact, stream8, stream16, stream_float}) {
        const FrameComparison c = compare_frames(s, blank(s), blank(s));
        EXPECT_TRUE(c.matches) << s.name;
        EXPECT_EQ(c.differing_channels, 0u);
        EXPECT_EQ(c.largest_difference, 0.0);
    }
}

TEST_F(Compare, LinearPassFramesFailOnOneBitAndSayWhere) {
    std::vector<std::uint8_t> other = blank(exact);
    const std::size_t pixel = 3 * std::size_t(FRAME_SET_WIDTH) + 5;  // (5, 3)
    other[pixel * 4 + 2] ^= 1;                                       // green
    const FrameComparison c = compare_frames(exact, blank(exact), other);
    EXPECT_FALSE(c.matches);
    EXPECT_EQ(c.differing_channels, 1u);
    EXPECT_EQ(c.detail, "first difference at pixel (5, 3) green");
}

TEST_F(Compare, StreamFramesAllowOneEightBitLevel) {
    std::vector<std::uint8_t> other = blank(stream8);
    other[40] = 101;
    FrameComparison c = compare_frames(stream8, blank(stream8), other);
    EXPECT_TRUE(c.matches);
    EXPECT_EQ(c.largest_difference, 1.0 / 255.0);
    EXPECT_EQ(c.differing_channels, 1u);
    other[41] = 98;
    c = compare_frames(stream8, blank(stream8), other);
    EXPECT_FALSE(c.matches);
    EXPECT_EQ(c.largest_difference, 2.0 / 255.0);
    EXPECT_EQ(c.differing_channels, 2u);
    EXPECT_EQ(c.detail, "largest difference at pixel (10, 0) red");
}

TEST_F(Compare, SixteenBitStreamFramesAllowOneLevel) {
    std::vector<std::uint8_t> a = blank(stream16), b = blank(stream16);
    set_channel<std::uint16_t>(a, 9, 32768);
    set_channel<std::uint16_t>(b, 9, 32767);
    FrameComparison c = compare_frames(stream16, a, b);
    EXPECT_TRUE(c.matches);
    EXPECT_EQ(c.largest_difference, 1.0 / 32768.0);
    set_channel<std::uint16_t>(b, 9, 32766);
    c = compare_frames(stream16, a, b);
    EXPECT_FALSE(c.matches);
    EXPECT_EQ(c.detail, "largest difference at pixel (2, 0) red");
}

TEST_F(Compare, FloatStreamFramesAllowStreamFloatTolerance) {
    std::vector<std::uint8_t> a = blank(stream_float), b = blank(stream_float);
    set_channel(a, 7, 0.5f);
    set_channel(b, 7, std::nextafter(0.5f, 1.0f));
    FrameComparison c = compare_frames(stream_float, a, b);
    EXPECT_TRUE(c.matches);
    EXPECT_EQ(c.largest_difference, double(std::nextafter(0.5f, 1.0f)) - 0.5);
    set_channel(b, 7, 0.5f + float(STREAM_FLOAT_TOLERANCE));
    EXPECT_TRUE(compare_frames(stream_float, a, b).matches);
    set_channel(b, 7, std::nextafter(0.5f + float(STREAM_FLOAT_TOLERANCE), 1.0f));
    EXPECT_FALSE(compare_frames(stream_float, a, b).matches);
    set_channel(b, 7, std::numeric_limits<float>::quiet_NaN());
    c = compare_frames(stream_float, a, b);
    EXPECT_FALSE(c.matches);
    EXPECT_EQ(c.detail, "largest difference at pixel (1, 0) blue");
}

TEST(StreamFrameTolerance, IsOneLevelOfEachIntegerDepthAndSmallForFloat) {
    EXPECT_EQ(stream_frame_tolerance(PF_PixelFormat_ARGB32), 1.0 / 255.0);
    EXPECT_EQ(stream_frame_tolerance(PF_PixelFormat_ARGB64), 1.0 / 32768.0);
    EXPECT_EQ(stream_frame_tolerance(PF_PixelFormat_ARGB128), STREAM_FLOAT_TOLERANCE);
    EXPECT_LE(STREAM_FLOAT_TOLERANCE, 1.0 / 32768.0);
}

TEST_F(Compare, RendersOfTheWrongSizeNeverMatch) {
    std::vector<std::uint8_t> short_render = blank(stream8);
    short_render.pop_back();
    const FrameComparison c = compare_frames(stream8, blank(stream8), short_render);
    EXPECT_FALSE(c.matches);
    EXPECT_NE(c.detail.find("expected " + std::to_string(frame_bytes(stream8))), std::string::npos);
    EXPECT_FALSE(compare_frames(exact, {}, {}).matches);
}

}  // namespace
}  // namespace lumatrail::tools
