// The frame entry: the canvas limit, the choice of renderer, normalisation
// before either renderer runs, and the depth chosen once per frame.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "engine/linear_pass.h"
#include "frame/frame_renderer.h"
#include "host/settings_fill.h"
#include "streams/stream_renderer.h"
#include "tests/support/image_buffer.h"

namespace lumatrail {
namespace {

using testing::ImageBuffer;

template <class Pixel>
ImageBuffer<Pixel> rendered(ImageBuffer<Pixel>& in, const RenderSettings& s, const MaskSource& mask = {}) {
    ImageBuffer<Pixel> out(in.width, in.height);
    render_frame(PixelTraits<Pixel>::DEPTH, in.view(), out.view(), s, {{0, 0, in.width, in.height}}, mask);
    return out;
}

TEST(CanvasLimit, LargestCanvasRendersAndLargerFailsWithTheMessageBeforeAnyWork) {
    const ImageView none{};
    int polls = 0;
    auto count = [](void* n) { ++*static_cast<int*>(n); };
    render_frame(PixelDepth::Bits8, none, none, DEFAULT_SETTINGS, {{0, 0, 65536, 2048}, 1, 1, count, &polls},
                 {});
    EXPECT_EQ(polls, 2048 / 8 + 1);  // at the limit: rendered (every line skipped)

    for (const RenderArea too_big : {RenderArea{0, 0, 65536, 2049}, RenderArea{0, 0, 65537, 1},
                                     RenderArea{-10, 0, 65530, 1}, RenderArea{0, 0, 1, 70000}}) {
        for (const RenderMode mode : {ClassicLines, Particles}) {
            RenderSettings s = DEFAULT_SETTINGS;
            s.render_mode = mode;
            polls = 0;
            EXPECT_THAT(
                [&] {
                    render_frame(PixelDepth::Float, none, none, s, {too_big, 1, 1, count, &polls}, {});
                },
                ::testing::ThrowsMessage<std::runtime_error>(::testing::StrEq(CANVAS_LIMIT_MESSAGE)));
            EXPECT_EQ(polls, 0);
        }
    }
    EXPECT_STREQ(CANVAS_LIMIT_MESSAGE, "Canvas exceeds 128 megapixels");
}

TEST(RendererChoice, LinesAlongRowsOrColumnsAndShowMaskGoToTheLinearPass) {
    RenderSettings s = DEFAULT_SETTINGS;
    for (const RenderMode mode : {ClassicLines, ForceLines, Particles})
        for (const StretchDirection direction : {Horizontal, Vertical, RadialOut, RadialIn})
            for (const bool show_mask : {false, true}) {
                s.render_mode = mode;
                s.direction = direction;
                s.show_mask = show_mask;
                const bool linear =
                    show_mask || (mode == ClassicLines && (direction == Horizontal || direction == Vertical));
                EXPECT_EQ(renderer_for(s), linear ? Renderer::LinearPass : Renderer::Streams)
                    << mode << " " << direction << " " << show_mask;
            }
}

// Each renderer receives the settings normalised once, whichever it is.
TEST(FrameEntry, RunsTheChosenRendererOnNormalisedSettings) {
    auto in = testing::convert<PixelFloat>(testing::test_picture(32, 24));
    RenderSettings wild = DEFAULT_SETTINGS;
    wild.lower_brightness = 0.9f;  // above the upper bound: the two are swapped
    wild.upper_brightness = 0.2f;
    wild.sweep_mode = SweepMode(7);  // not a choice: the first, Off
    wild.composite = Composite(-2);  // not a choice: the first, Over Original
    for (const RenderMode mode : {ClassicLines, Particles}) {
        wild.render_mode = mode;
        const RenderSettings s = normalised_settings(wild);
        ImageBuffer<PixelFloat> expected(32, 24);
        if (mode == ClassicLines)
            linear_stretch_pass<PixelFloat>(in.view(), expected.view(), s, {{0, 0, 32, 24}}, {});
        else
            render_streams<PixelFloat>(in.view(), expected.view(), s, {{0, 0, 32, 24}}, {});
        EXPECT_EQ(rendered(in, wild), expected) << mode;
        EXPECT_FALSE(expected == in) << mode;
    }
}

// Each depth renders with its own pixel type: the same views read as
// another type would give other pixels.
template <class Pixel>
void expect_depth_renders_with_its_type() {
    auto in = testing::convert<Pixel>(testing::test_picture(24, 16));
    RenderSettings s = DEFAULT_SETTINGS;
    s.render_mode = ForceLines;
    ImageBuffer<Pixel> expected(24, 16);
    render_streams<Pixel>(in.view(), expected.view(), normalised_settings(s), {{0, 0, 24, 16}}, {});
    EXPECT_EQ(rendered(in, s), expected);
}

TEST(FrameEntry, DepthChosenAtRunTimeRendersWithThatPixelType) {
    expect_depth_renders_with_its_type<Pixel8>();
    expect_depth_renders_with_its_type<Pixel16>();
    expect_depth_renders_with_its_type<PixelFloat>();
}

// Without a usable mask layer a mask mode leaves the streams nothing to
// emit from, so the frame is the input; with one, the mask decides.
TEST(FrameEntry, MaskSourceBecomesTheRenderersSampler) {
    auto in = testing::test_picture(24, 16);
    ImageBuffer<Pixel8> mask(12, 8, Pixel8{255, 255, 255, 255});
    RenderSettings s = DEFAULT_SETTINGS;
    s.render_mode = Particles;
    s.mask_mode = SortInsideMask;
    EXPECT_EQ(rendered(in, s), in);
    const auto with_mask = rendered(in, s, testing::mask_source_of(mask, 24, 16));
    EXPECT_FALSE(with_mask == in);
    s.mask_mode = MaskOff;
    EXPECT_EQ(with_mask, rendered(in, s));  // an all-opaque mask weighs every emitter 1
}

}  // namespace
}  // namespace lumatrail
