// The render commands through EffectMain, played by the offline host: the
// protocol, every cleanup path, and the pictures against the renderers.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "frame/frame_renderer.h"
#include "host/frame_preparation.h"
#include "host/parameters.h"
#include "host/settings_fill.h"
#include "offline/offline_frame.h"
#include "tests/support/image_buffer.h"

namespace lumatrail {
namespace {

using offline::CallKind;
using offline::count;
using offline::FrameRequest;
using offline::FrameResult;
using offline::OfflineLayer;

// The host's pixel format of an engine pixel type.
template <class Pixel>
PF_PixelFormat format_of() {
    return std::is_same_v<Pixel, Pixel8>    ? PF_PixelFormat_ARGB32
           : std::is_same_v<Pixel, Pixel16> ? PF_PixelFormat_ARGB64
                                            : PF_PixelFormat_ARGB128;
}

template <class Pixel>
OfflineLayer layer_from(testing::ImageBuffer<Pixel> image) {
    OfflineLayer layer;
    layer.pixels = offline::make_world(format_of<Pixel>(), image.width, image.height);
    std::memcpy(layer.pixels.world.data, image.pixels.data(), image.pixels.size() * sizeof(Pixel));
    return layer;
}

struct RenderCommands : ::testing::Test {
    offline::OfflineHost host;
    OfflineLayer input = layer_from(testing::test_picture(48, 32));
    OfflineLayer mask = layer_from(testing::test_picture(24, 16));  // alpha 1 everywhere; luminance varies
    void SetUp() override { ASSERT_EQ(offline::load_parameters(host, EffectMain), 0); }
    void set(std::int32_t index, double v) { offline::set_param_value(host, index, v); }
    FrameRequest request() {
        FrameRequest r;
        r.input = &input;
        return r;
    }
    FrameResult smart(const FrameRequest& r) { return offline::request_frame(host, EffectMain, r); }
};

TEST(Resolution, FactorsAndLayerSize) {
    EXPECT_EQ(resolution_factor({1, 2}), 0.5f);
    EXPECT_EQ(resolution_factor({3, 0}), 1.0f);
    EXPECT_EQ(size_at_resolution(1921, 0.5f), 961);
    EXPECT_EQ(size_at_resolution(1081, 0.5f), 541);
}

TEST_F(RenderCommands, LayerRectIsTheUnionOfTheInputsResultAndItsFrame) {
    OfflineLayer big;
    big.pixels = offline::make_world(PF_PixelFormat_ARGB32, 1920, 1080);
    FrameRequest r;
    r.input = &big;
    r.output_layout.without_data = true;  // the protocol only
    FrameResult res = smart(r);
    EXPECT_EQ(res.render, 0);
    EXPECT_EQ(res.result_rect.left, 0);
    EXPECT_EQ(res.result_rect.right, 1920);
    big.max_result_rect = PF_LRect{-20, -10, 1940, 1090};
    res = smart(r);
    EXPECT_EQ(res.result_rect.left, -20);
    EXPECT_EQ(res.result_rect.top, -10);
    EXPECT_EQ(res.result_rect.right, 1940);
    EXPECT_EQ(res.result_rect.bottom, 1090);
    big.max_result_rect = PF_LRect{10, 10, 100, 100};
    res = smart(r);
    EXPECT_EQ(res.result_rect.left, 0);
    EXPECT_EQ(res.result_rect.bottom, 1080);
    r.downsample_x = r.downsample_y = {1, 2};
    big.max_result_rect.reset();
    res = smart(r);
    EXPECT_EQ(res.result_rect.right, 960);
    EXPECT_EQ(res.output.world.width, 960);
}

TEST_F(RenderCommands, MaskIsRequestedOnlyWhenUsed) {
    FrameRequest r = request();
    r.mask = &mask;
    FrameResult res = smart(r);
    EXPECT_EQ(count(res.calls, CallKind::CheckoutLayer, 200), 0u);
    EXPECT_EQ(count(res.calls, CallKind::CheckoutLayer, 201), 0u);
    set(PARAM_SHOW_MASK, 1);
    res = smart(r);
    EXPECT_EQ(count(res.calls, CallKind::CheckoutLayer, 201), 1u);
    EXPECT_EQ(count(res.calls, CallKind::CheckinLayerPixels, 201), 1u);

    // A mask with no size at render resolution is only probed, and renders as no mask.
    set(PARAM_SHOW_MASK, 0);
    set(PARAM_MASK_MODE, 2);  // Sort Inside Mask: without a usable mask, a copy
    OfflineLayer empty = mask;
    empty.ref_width = 0;
    r.mask = &empty;
    res = smart(r);
    EXPECT_EQ(count(res.calls, CallKind::CheckoutLayer, 200), 1u);
    EXPECT_EQ(count(res.calls, CallKind::CheckoutLayer, 201), 0u);
    EXPECT_EQ(count(res.calls, CallKind::CheckoutLayerPixels, 201), 0u);
    EXPECT_TRUE(offline::same_pixels(res.output, input.pixels));
}

TEST_F(RenderCommands, FormatFailuresAre516BeforeAnyRendering) {
    FrameRequest r = request();
    r.output_format = PF_PixelFormat_ARGB64;  // input is 8-bit
    FrameResult res = smart(r);
    EXPECT_EQ(res.render, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(res.polls, 0);
    EXPECT_FALSE(res.suite_held);
    EXPECT_EQ(count(res.calls, CallKind::CheckinLayerPixels, 101), 1u);

    r = request();
    r.faults.reported_output_format = 0x12345678;
    r.faults.reported_input_format = 0x12345678;
    res = smart(r);
    EXPECT_EQ(res.render, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(res.polls, 0);
    EXPECT_STREQ(res.message.c_str(), "");

    r = request();
    r.faults.world_suite_missing = true;
    res = smart(r);
    EXPECT_EQ(res.render, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(count(res.calls, CallKind::ReleaseSuite), 0u);
    EXPECT_EQ(count(res.calls, CallKind::CheckoutLayerPixels), 0u);

    r = request();
    r.faults.drop_pre_render_data = true;
    res = smart(r);
    EXPECT_EQ(res.render, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(count(res.calls, CallKind::AcquireSuite), 0u);

    r = request();
    r.output_layout.without_data = true;
    res = smart(r);
    EXPECT_EQ(res.render, 0);
    EXPECT_EQ(count(res.calls, CallKind::CheckinLayerPixels, 101), 1u);
    EXPECT_EQ(count(res.calls, CallKind::ReleaseSuite), 1u);
    EXPECT_EQ(res.polls, 0);
}

// Everything checked out is checked in and the suite released.
void expect_given_back(const FrameResult& res, bool mask_held, bool input_held = true) {
    EXPECT_EQ(count(res.calls, CallKind::CheckinLayerPixels, 101), input_held ? 1u : 0u);
    EXPECT_EQ(count(res.calls, CallKind::CheckinLayerPixels, 201), mask_held ? 1u : 0u);
    EXPECT_EQ(count(res.calls, CallKind::AcquireSuite), count(res.calls, CallKind::ReleaseSuite));
    EXPECT_FALSE(res.suite_held);
    EXPECT_EQ(count(res.calls, CallKind::DeletePreRenderData), 1u);
}

TEST_F(RenderCommands, AbortReturnsTheHostsCodeAndGivesEverythingBack) {
    set(PARAM_MASK_MODE, 3);
    FrameRequest r = request();
    r.mask = &mask;
    r.faults.abort_at_poll = 3;
    r.faults.abort_code = -4242;
    const FrameResult res = smart(r);
    EXPECT_EQ(res.render, -4242);
    EXPECT_EQ(res.message, "");
    EXPECT_EQ(res.polls, 3);
    expect_given_back(res, true);

    std::atomic<bool> cancel{true};
    FrameRequest c = request();
    c.faults.cancel = &cancel;
    EXPECT_EQ(smart(c).render, offline::OFFLINE_CANCELLED);
}

TEST_F(RenderCommands, FailingCheckInsReturnTheMasksCodeAfterBoth) {
    set(PARAM_SHOW_MASK, 1);
    FrameRequest r = request();
    r.mask = &mask;
    r.faults.mask_checkin_error = 61;
    r.faults.input_checkin_error = 62;
    FrameResult res = smart(r);
    EXPECT_EQ(res.render, 61);
    expect_given_back(res, true);
    r.faults.mask_checkin_error = 0;
    res = smart(r);
    EXPECT_EQ(res.render, 62);
}

TEST_F(RenderCommands, EveryCheckoutFailureReturnsItsCodeWithEverythingGivenBack) {
    set(PARAM_MASK_MODE, 2);
    for (std::int32_t id : {100, 101, 200, 201}) {
        FrameRequest r = request();
        r.mask = &mask;
        r.faults.fail_checkout_layer_id = id;
        r.faults.checkout_layer_error = 300 + id;
        const FrameResult res = smart(r);
        EXPECT_EQ(res.pre_render, 300 + id);  // the record is freed: the leak checker would say
        EXPECT_EQ(count(res.calls, CallKind::AcquireSuite), 0u);
    }
    for (std::int32_t id : {101, 201}) {
        FrameRequest r = request();
        r.mask = &mask;
        r.faults.fail_checkout_pixels_id = id;
        r.faults.checkout_pixels_error = 400 + id;
        const FrameResult res = smart(r);
        EXPECT_EQ(res.render, 400 + id);
        expect_given_back(res, false, id == 201);
    }
    FrameRequest r = request();
    r.mask = &mask;
    r.faults.checkout_output_error = 77;
    FrameResult res = smart(r);
    EXPECT_EQ(res.render, 77);
    expect_given_back(res, true);
    r.faults.checkout_output_error = 0;
    r.faults.pixel_format_error = 78;
    res = smart(r);
    EXPECT_EQ(res.render, 78);
    expect_given_back(res, true);
    // A failing parameter check-out ends pre-render with its code.
    host.faults.fail_checkout_param = PARAM_DRAG;
    host.faults.checkout_param_error = 79;
    EXPECT_EQ(smart(request()).pre_render, 79);
}

TEST_F(RenderCommands, CanvasLimitArrivesAsAMessage) {
    OfflineLayer wide = input;
    wide.max_result_rect = PF_LRect{0, 0, 65537, 2};
    FrameRequest r;
    r.input = &wide;
    const FrameResult res = smart(r);
    EXPECT_EQ(res.render, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(res.message, "Lumatrail: Canvas exceeds 128 megapixels");
    EXPECT_TRUE(res.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE);
    expect_given_back(res, false);
}

// The renderer called directly on the same layers, for comparison.
template <class Pixel>
offline::OfflineWorld direct(offline::OfflineHost& host, const OfflineLayer& in,
                             const OfflineLayer* mask_layer, offline::HostTime time) {
    const RenderSettings s = ReadRenderSettings(offline::make_in_data(host, time));
    offline::OfflineWorld out =
        offline::make_world(in.pixels.format, in.pixels.world.width, in.pixels.world.height);
    MaskSource source;
    if (mask_layer)
        source = {render_view(&mask_layer->pixels.world), *depth_of(mask_layer->pixels.format),
                  mask_layer->pixels.world.width,         mask_layer->pixels.world.height,
                  float(in.pixels.world.width),           float(in.pixels.world.height)};
    render_frame(PixelTraits<Pixel>::DEPTH, render_view(&in.pixels.world), render_view(&out.world), s,
                 {{0, 0, in.pixels.world.width, in.pixels.world.height}}, source);
    return out;
}

template <class Pixel>
void check_every_mode(RenderCommands& t) {
    const OfflineLayer in = layer_from(testing::convert<Pixel>(testing::test_picture(40, 28)));
    const OfflineLayer mask = layer_from(testing::convert<Pixel>(testing::test_picture(20, 14)));
    t.set(PARAM_STREAK_LENGTH, 12);
    t.set(PARAM_PARTICLE_COUNT, 150);
    t.set(PARAM_MASK_CHANNEL, 2);
    struct Case {
        int mode, direction, mask_mode, show_mask;
    };
    std::vector<Case> cases;
    for (int mode = 1; mode <= 3; ++mode)
        for (int direction = 1; direction <= 4; ++direction) cases.push_back({mode, direction, 1, 0});
    for (int mask_mode = 2; mask_mode <= 3; ++mask_mode) {
        cases.push_back({1, 1, mask_mode, 0});
        cases.push_back({1, 2, mask_mode, 0});
        cases.push_back({3, 3, mask_mode, 0});
    }
    cases.push_back({1, 1, 1, 1});
    cases.push_back({2, 3, 2, 1});
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "mode " << c.mode << " direction " << c.direction << " mask "
                                          << c.mask_mode << " show " << c.show_mask);
        t.set(PARAM_RENDER_MODE, c.mode);
        t.set(PARAM_DIRECTION, c.direction);
        t.set(PARAM_MASK_MODE, c.mask_mode);
        t.set(PARAM_SHOW_MASK, c.show_mask);
        FrameRequest r;
        r.input = &in;
        r.mask = &mask;
        r.time = offline::host_time(1.5);
        const offline::OfflineWorld expected = direct<Pixel>(t.host, in, &mask, r.time);
        const FrameResult res = t.smart(r);
        ASSERT_EQ(res.render, 0);
        EXPECT_TRUE(offline::same_pixels(res.output, expected));
        if constexpr (!std::is_same_v<Pixel, PixelFloat>) {
            // The plain command is handed the mask at render resolution, whose size it keeps.
            const FrameResult plain = offline::request_frame_plain(t.host, EffectMain, r);
            ASSERT_EQ(plain.pre_render, 0);
            EXPECT_TRUE(offline::same_pixels(plain.output, expected));
        }
    }
}

TEST_F(RenderCommands, EveryModeMatchesTheRenderer8Bit) { check_every_mode<Pixel8>(*this); }
TEST_F(RenderCommands, EveryModeMatchesTheRenderer16Bit) { check_every_mode<Pixel16>(*this); }
TEST_F(RenderCommands, EveryModeMatchesTheRendererFloat) { check_every_mode<PixelFloat>(*this); }

TEST_F(RenderCommands, HalfResolutionPlainCommandKeepsTheMasksOwnSize) {
    set(PARAM_MASK_MODE, 2);
    set(PARAM_MASK_CHANNEL, 2);
    FrameRequest r = request();
    r.mask = &mask;
    r.downsample_x = r.downsample_y = {1, 2};
    const FrameResult plain = offline::request_frame_plain(host, EffectMain, r);
    ASSERT_EQ(plain.pre_render, 0);
    // What the renderer makes of the same half-size worlds, with the mask at its own size.
    const offline::OfflineWorld half_in = offline::resample_nearest(input.pixels, 24, 16, 0.5f, 0.5f);
    const offline::OfflineWorld half_mask = offline::resample_nearest(mask.pixels, 12, 8, 0.5f, 0.5f);
    offline::OfflineWorld expected = offline::make_world(PF_PixelFormat_ARGB32, 24, 16);
    const MaskSource source{render_view(&half_mask.world), PixelDepth::Bits8, 12, 8, 24.0f, 16.0f};
    render_frame(PixelDepth::Bits8, render_view(&half_in.world), render_view(&expected.world),
                 ReadRenderSettings(offline::make_in_data(host)), {{0, 0, 24, 16}, 0.5f, 0.5f}, source);
    EXPECT_TRUE(offline::same_pixels(plain.output, expected));
}

TEST_F(RenderCommands, FramesRenderedAtOnceMatchFramesRenderedAlone) {
    set(PARAM_RENDER_MODE, 3);
    set(PARAM_PARTICLE_COUNT, 300);
    set(PARAM_RANDOM_FORCE, 200);
    set(PARAM_LAUNCH_SPEED, 20);  // slow enough to stay in the small picture
    offline::set_param_keys(host, PARAM_SWEEP_POSITION, {{0.0, 10.0}, {2.0, 90.0}});
    set(PARAM_SWEEP_MODE, 2);
    std::vector<FrameRequest> frames(8, request());
    for (std::size_t i = 0; i < frames.size(); ++i) frames[i].time = offline::host_time(0.25 * double(i));
    std::vector<FrameResult> alone;
    for (const auto& f : frames) alone.push_back(smart(f));
    std::vector<FrameResult> together(frames.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < frames.size(); ++i)
        threads.emplace_back([&, i] { together[i] = smart(frames[i]); });
    for (auto& t : threads) t.join();
    for (std::size_t i = 0; i < frames.size(); ++i) {
        ASSERT_EQ(together[i].render, 0);
        EXPECT_TRUE(offline::same_pixels(together[i].output, alone[i].output)) << "frame " << i;
        if (i) {
            EXPECT_FALSE(offline::same_pixels(alone[i].output, alone[i - 1].output)) << "frame " << i;
        }
    }
}

}  // namespace
}  // namespace lumatrail
