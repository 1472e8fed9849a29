// The frei0r filter called in-process, as a frei0r host calls it: the
// parameter table against the effect's own declaration, values set and read
// back, what is refused, and frames against the offline host's own renders.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <frei0r.h>
}

#include "host/parameters.h"
#include "offline/frei0r_controls.h"
#include "offline/offline_frame.h"
#include "offline/test_card.h"
#include "tests/support/effect_host.h"
#include "tools/frei0r/frei0r_bridge.h"

namespace lumatrail::frei0r {
namespace {

int param_count() {
    f0r_plugin_info_t info{};
    f0r_get_plugin_info(&info);
    return info.num_params;
}

int index_of(const std::string& name) {
    for (int i = 0; i < param_count(); ++i) {
        f0r_param_info_t info{};
        f0r_get_param_info(&info, i);
        if (name == info.name) return i;
    }
    ADD_FAILURE() << "no frei0r parameter " << name;
    return -1;
}

struct Frei0rParams : testing::EffectHostTest {
    f0r_instance_t instance = nullptr;
    void SetUp() override {
        EffectHostTest::SetUp();
        ASSERT_EQ(f0r_init(), 1);
        instance = f0r_construct(64, 36);
        ASSERT_NE(instance, nullptr);
    }
    void TearDown() override { f0r_destruct(instance); }

    void set(const std::string& name, double v) { f0r_set_param_value(instance, &v, index_of(name)); }
    void set(const std::string& name, const char* text) {
        f0r_set_param_value(instance, &text, index_of(name));
    }
    double get(const std::string& name) {
        double v = -7.0;
        f0r_get_param_value(instance, &v, index_of(name));
        return v;
    }
    std::string text(const std::string& name) {
        char* v = nullptr;
        f0r_get_param_value(instance, &v, index_of(name));
        return v ? v : "(null)";
    }
    // The value the effect will be handed, as the offline host keeps it.
    double host_value(std::int32_t index) {
        return static_cast<Instance*>(instance)->host.params[std::size_t(index)].keys.front().value;
    }
};

TEST_F(Frei0rParams, EveryControlButTheMaskOnesInTheEffectsOrderAfterRenderMode) {
    f0r_plugin_info_t plugin{};
    f0r_get_plugin_info(&plugin);
    EXPECT_EQ(plugin.plugin_type, F0R_PLUGIN_TYPE_FILTER);
    EXPECT_EQ(plugin.color_model, F0R_COLOR_MODEL_RGBA8888);
    EXPECT_EQ(plugin.frei0r_version, FREI0R_MAJOR_VERSION);

    // The frei0r controls, named and typed as the module declares them.
    const std::vector<std::int32_t> expected = offline::frei0r_controls();
    ASSERT_EQ(plugin.num_params, int(expected.size()));
    for (int k = 0; k < plugin.num_params; ++k) {
        SCOPED_TRACE(k);
        const offline::OfflineParam& p = host.params[std::size_t(expected[std::size_t(k)])];
        f0r_param_info_t info{};
        f0r_get_param_info(&info, k);
        EXPECT_EQ(std::string(info.name), p.name);
        EXPECT_EQ(info.type, p.declared.param_type == PF_Param_POPUP      ? F0R_PARAM_STRING
                             : p.declared.param_type == PF_Param_CHECKBOX ? F0R_PARAM_BOOL
                                                                          : F0R_PARAM_DOUBLE);
        ASSERT_NE(info.explanation, nullptr);
        if (p.declared.param_type == PF_Param_POPUP) {
            EXPECT_NE(std::string(info.explanation).find(p.choices.back()), std::string::npos);
        }
    }
    // What a host shows next to a slider: what 0 to 1 is, and the default both ways.
    f0r_param_info_t center{}, wind{};
    f0r_get_param_info(&center, index_of("Center X (%)"));
    f0r_get_param_info(&wind, index_of("Wind Direction (deg)"));
    EXPECT_STREQ(center.explanation,
                 "0 to 1 is 0 % to 100 % of the frame's width, left to right; accepts -2 to 3 (-200 % to "
                 "300 %); default 0.5 (50 %)");
    EXPECT_STREQ(wind.explanation,
                 "0 to 1 is one turn, 0 deg to 360 deg; accepts -10 to 10 (-3600 deg to 3600 deg); default 0 "
                 "(0 deg)");

    // Beyond the table the record is left as it was.
    for (int bad : {-1, plugin.num_params, std::numeric_limits<int>::max()}) {
        f0r_param_info_t info{"untouched", 77, "untouched"};
        f0r_get_param_info(&info, bad);
        EXPECT_STREQ(info.name, "untouched");
        EXPECT_EQ(info.type, 77);
    }
}

TEST_F(Frei0rParams, DefaultsAreTheEffectsAndValuesRoundTrip) {
    EXPECT_EQ(text("Render Mode"), "Classic Lines");
    EXPECT_EQ(get("Pre-roll Particles"), 1.0);
    // 640 px over the slider's top, 2000 px; 50 % over 100.
    EXPECT_EQ(get("Streak Length (px)"), 0.32);
    EXPECT_EQ(get("Center Y (%)"), 0.5);

    // Values in units go to the effect and come back.
    set("Streak Length (px)", 0.0);
    EXPECT_EQ(host_value(PARAM_STREAK_LENGTH), 1.0);  // the valid minimum
    set("Streak Length (px)", 1.0);
    EXPECT_EQ(host_value(PARAM_STREAK_LENGTH), 2000.0);
    set("Wind Direction (deg)", 0.375);
    EXPECT_EQ(host_value(PARAM_WIND_DIRECTION), 135.0);
    EXPECT_EQ(get("Wind Direction (deg)"), 0.375);
    set("Center X (%)", 0.5);
    EXPECT_EQ(host_value(PARAM_CENTER_X), 50.0);
    set("Center X (%)", 1.0);
    EXPECT_EQ(host_value(PARAM_CENTER_X), 100.0);

    set("Reverse Direction", 0.5);
    EXPECT_EQ(get("Reverse Direction"), 1.0);
    EXPECT_EQ(host_value(PARAM_REVERSE_DIRECTION), 1.0);
    set("Reverse Direction", 0.49);
    EXPECT_EQ(get("Reverse Direction"), 0.0);

    // Popups by text (any case), slug or number.
    set("Render Mode", "Force Lines");
    EXPECT_EQ(text("Render Mode"), "Force Lines");
    set("Render Mode", "particles");
    EXPECT_EQ(text("Render Mode"), "Particles");
    EXPECT_EQ(host_value(PARAM_RENDER_MODE), 3.0);
    set("Direction", "radial-out");
    EXPECT_EQ(text("Direction"), "Radial Out");
    set("Sweep Direction", "BOTTOM TO TOP");
    EXPECT_EQ(text("Sweep Direction"), "Bottom to Top");
    set("Composite", "2");
    EXPECT_EQ(text("Composite"), "Streams Only");
}

TEST_F(Frei0rParams, OutOfRangeClampsAndWhatCannotBeTakenChangesNothing) {
    // Beyond 0..1 reaches the valid range beyond the slider's, then stops.
    set("Streak Length (px)", 10.0);
    EXPECT_EQ(host_value(PARAM_STREAK_LENGTH), 20000.0);
    set("Streak Length (px)", 1e300);
    EXPECT_EQ(host_value(PARAM_STREAK_LENGTH), 32768.0);
    set("Streak Length (px)", -std::numeric_limits<double>::infinity());
    EXPECT_EQ(host_value(PARAM_STREAK_LENGTH), 1.0);
    set("Lower Brightness (%)", 3.0);
    EXPECT_EQ(host_value(PARAM_LOWER_BRIGHTNESS), 300.0);
    set("Amount (%)", 2.0);
    EXPECT_EQ(host_value(PARAM_AMOUNT), 100.0);
    set("Center Y (%)", -4.0);
    EXPECT_EQ(host_value(PARAM_CENTER_Y), -200.0);

    const double nan = std::numeric_limits<double>::quiet_NaN();
    set("Amount (%)", 0.25);
    set("Amount (%)", nan);
    EXPECT_EQ(host_value(PARAM_AMOUNT), 25.0);
    set("Reverse Direction", 1.0);
    set("Reverse Direction", nan);
    EXPECT_EQ(get("Reverse Direction"), 1.0);

    set("Render Mode", "Particles");
    set("Render Mode", "Sparkles");
    set("Render Mode", "4");
    set("Render Mode", "0");
    set("Render Mode", "");
    set("Render Mode", static_cast<const char*>(nullptr));
    EXPECT_EQ(text("Render Mode"), "Particles");

    // Bad indices and null pointers are ignored; a get leaves its value alone.
    for (int bad : {-1, param_count(), 1 << 30}) {
        double v = 0.75;
        f0r_set_param_value(instance, &v, bad);
        f0r_get_param_value(instance, &v, bad);
        EXPECT_EQ(v, 0.75);
    }
    f0r_set_param_value(instance, nullptr, 0);
    f0r_get_param_value(instance, nullptr, 0);
    f0r_set_param_value(nullptr, nullptr, 0);
    EXPECT_EQ(text("Render Mode"), "Particles");

    EXPECT_EQ(f0r_construct(0, 36), nullptr);
    EXPECT_EQ(f0r_construct(64, 0), nullptr);
    f0r_destruct(nullptr);
}

TEST(Frei0rRows, FfmpegPicturesOfWidthsOffSixteenAreRefusedWithTheFix) {
    // Measured with ffmpeg 5.1: 400, 416, 448 and 464 come packed; 451, 452
    // (8k+4), 456 (16k+8) and 472 come with padded rows.
    for (const unsigned width : {400u, 416u, 448u, 464u, 16u})
        EXPECT_FALSE(pads_rows(HostKind::Libavfilter, width)) << width;
    for (const unsigned width : {451u, 452u, 456u, 472u, 8u, 1u})
        EXPECT_TRUE(pads_rows(HostKind::Libavfilter, width)) << width;
    for (const unsigned width : {451u, 452u, 456u, 1u})
        EXPECT_FALSE(pads_rows(HostKind::Other, width)) << width;

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(make_instance(451, 300, HostKind::Libavfilter), nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "lumatrail: ffmpeg pads the rows of a picture 451 pixels wide and a frei0r filter cannot see "
              "the padding; pad the width to a multiple of 16 first and crop back: -vf "
              "\"pad=464:300,frei0r=lumatrail,crop=451:300:0:0\"\n");
    ::testing::internal::CaptureStderr();
    const std::unique_ptr<Instance> ffmpeg = make_instance(464, 300, HostKind::Libavfilter);
    const std::unique_ptr<Instance> melt = make_instance(451, 300, HostKind::Other);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    ASSERT_TRUE(ffmpeg && melt);
    EXPECT_EQ(ffmpeg->time_unit, TimeUnit::Milliseconds);
    EXPECT_EQ(melt->time_unit, TimeUnit::Seconds);
}

TEST(Frei0rTime, MillisecondsAndSecondsMeetOnTheHostsCountAndNoTimeIsZero) {
    const offline::HostTime at = offline::host_time(0.4);
    for (const offline::HostTime t :
         {frame_time(400.0, TimeUnit::Milliseconds), frame_time(0.4, TimeUnit::Seconds)})
        EXPECT_TRUE(t.time == at.time && t.time_scale == at.time_scale && t.time_step == at.time_step);
    // ffmpeg's "no timestamp" for a still, in milliseconds.
    EXPECT_EQ(frame_time(double(INT64_MIN) * 0.04 * 1000.0, TimeUnit::Milliseconds).time, 0);
    EXPECT_EQ(frame_time(std::numeric_limits<double>::quiet_NaN(), TimeUnit::Seconds).time, 0);
    EXPECT_EQ(frame_time(-3.0, TimeUnit::Seconds).time, offline::host_time(-3.0).time);
    // This test program loads no libavfilter: another host, in seconds.
    EXPECT_EQ(loading_host(), HostKind::Other);
    EXPECT_EQ(time_unit_of(HostKind::Libavfilter), TimeUnit::Milliseconds);
}

TEST(Frei0rPixels, OpaquePixelsPassUnchangedAndPremultipliedNeverExceedsAlpha) {
    std::vector<std::uint32_t> rgba(256 * 256);
    auto* bytes = reinterpret_cast<std::uint8_t*>(rgba.data());
    for (unsigned i = 0; i < rgba.size(); ++i) {
        const std::uint8_t c = std::uint8_t(i % 256), a = std::uint8_t(i / 256);
        bytes[4 * i + 0] = c, bytes[4 * i + 1] = std::uint8_t(255 - c), bytes[4 * i + 2] = c,
                      bytes[4 * i + 3] = a;
    }
    const offline::OfflineWorld world = world_from_rgba(rgba.data(), 256, 256);
    for (std::int32_t y = 0; y < 256; ++y)
        for (std::int32_t x = 0; x < 256; ++x) {
            const PF_Pixel& p = *offline::pixel_at<PF_Pixel>(world, x, y);
            ASSERT_EQ(p.alpha, y);
            ASSERT_TRUE(p.red <= p.alpha && p.green <= p.alpha && p.blue <= p.alpha) << x << "," << y;
        }
    std::vector<std::uint32_t> back(rgba.size());
    rgba_from_world(world, back.data());
    const auto* out = reinterpret_cast<const std::uint8_t*>(back.data());
    for (unsigned i = 0; i < rgba.size(); ++i) {
        const unsigned a = bytes[4 * i + 3];
        for (unsigned c = 0; c < 4; ++c) {
            if (a == 255) {
                ASSERT_EQ(out[4 * i + c], bytes[4 * i + c]) << i;
            }
            if (a == 0) {
                ASSERT_EQ(out[4 * i + c], 0) << i;
            }
            // A premultiplied value loses at most 255 / a steps of the colour.
            if (a > 0 && c < 3) {
                ASSERT_LE(std::abs(int(out[4 * i + c]) - int(bytes[4 * i + c])), int(255 / a) + 1);
            }
        }
    }
}

// Frames: f0r_update against the offline host rendering the same picture
// with the same values, and two instances on two threads against each alone.
struct Frei0rFrames : testing::EffectHostTest {
    static constexpr std::int32_t W = 96, H = 54;
    // The test card made opaque (its soft transparent corner would not come
    // back exactly from straight alpha).
    std::vector<std::uint32_t> picture = [] {
        const offline::OfflineWorld card = offline::test_card(W, H, PF_PixelFormat_ARGB32);
        std::vector<std::uint32_t> rgba(std::size_t(W) * H);
        rgba_from_world(card, rgba.data());
        for (std::uint32_t& p : rgba) reinterpret_cast<std::uint8_t*>(&p)[3] = 255;
        return rgba;
    }();

    struct Look {
        std::vector<std::pair<const char*, const char*>> choices;
        struct Slider {
            const char* name;
            double frei0r_value, units;
        };
        std::vector<Slider> sliders;
        double time;
    };

    f0r_instance_t make(const Look& look) {
        f0r_instance_t instance = f0r_construct(W, H);
        for (const auto& [name, choice] : look.choices) {
            const char* text = choice;
            f0r_set_param_value(instance, &text, index_of(name));
        }
        for (auto [name, v, units] : look.sliders) f0r_set_param_value(instance, &v, index_of(name));
        return instance;
    }

    // The look rendered by the offline host from the effect's defaults, the
    // sliders set in units.
    std::vector<std::uint32_t> through_offline_host(const Look& look) {
        offline::OfflineHost own;
        EXPECT_EQ(offline::load_parameters(own, EffectMain), PF_Err_NONE);
        for (const auto& [name, choice] : look.choices) {
            const offline::OfflineParam& p = own.params[std::size_t(offline::find_param(own, name))];
            for (std::size_t c = 0; c < p.choices.size(); ++c)
                if (p.choices[c] == choice) offline::set_param_value(own, name, double(c + 1));
        }
        for (auto [name, v, units] : look.sliders) offline::set_param_value(own, name, units);
        offline::OfflineLayer input{offline::make_world(PF_PixelFormat_ARGB32, W, H), {}, {}, {}};
        for (std::int32_t y = 0; y < H; ++y)
            for (std::int32_t x = 0; x < W; ++x) {
                const auto* c = reinterpret_cast<const std::uint8_t*>(&picture[std::size_t(y * W + x)]);
                *offline::pixel_at<PF_Pixel>(input.pixels, x, y) = {255, c[0], c[1], c[2]};
            }
        offline::FrameRequest request;
        request.input = &input;
        request.time = offline::host_time(look.time);
        const offline::FrameResult result = offline::request_frame(own, EffectMain, request);
        EXPECT_EQ(result.pre_render, PF_Err_NONE);
        EXPECT_EQ(result.render, PF_Err_NONE);
        std::vector<std::uint32_t> rgba(std::size_t(W) * H);
        rgba_from_world(result.output, rgba.data());
        return rgba;
    }

    std::vector<std::uint32_t> update(f0r_instance_t instance, double time) {
        std::vector<std::uint32_t> out(picture.size());
        f0r_update(instance, time, picture.data(), out.data());
        return out;
    }
};

TEST_F(Frei0rFrames, EqualTheOfflineHostsAndRenderAlikeOnTwoThreads) {
    const Look particles{{{"Render Mode", "Particles"}, {"Direction", "Vertical"}},
                         {{"Launch Speed (px/sec)", 0.4, 400}, {"Particle Count", 0.1, 400}},
                         0.4};
    const Look lines{{{"Render Mode", "Force Lines"}, {"Direction", "Radial Out"}},
                     {{"Streak Length (px)", 0.02, 40},
                      {"Lower Brightness (%)", 0.3, 30},
                      {"Center X (%)", 0.25, 25},
                      {"Wind Direction (deg)", 0.25, 90},
                      {"Wind Strength", 0.2, 300}},
                     1.25};
    f0r_instance_t a = make(particles), b = make(lines);
    const std::vector<std::uint32_t> alone_a = update(a, particles.time), alone_b = update(b, lines.time);
    EXPECT_NE(alone_a, picture);
    EXPECT_NE(alone_b, picture);
    EXPECT_EQ(alone_a, through_offline_host(particles));
    EXPECT_EQ(alone_b, through_offline_host(lines));

    std::vector<std::uint32_t> together_a, together_b;
    std::thread ta([&] {
        for (int i = 0; i < 3; ++i) together_a = update(a, particles.time);
    });
    std::thread tb([&] {
        for (int i = 0; i < 3; ++i) together_b = update(b, lines.time);
    });
    ta.join();
    tb.join();
    EXPECT_EQ(together_a, alone_a);
    EXPECT_EQ(together_b, alone_b);
    f0r_destruct(a);
    f0r_destruct(b);
}

TEST_F(Frei0rFrames, AFrameTheEffectRefusesIsTheInputUnchanged) {
    // A canvas beyond the effect's limit: EffectMain fails, the input passes.
    f0r_instance_t wide = f0r_construct(70000, 1);
    ASSERT_NE(wide, nullptr);
    std::vector<std::uint32_t> in(70000), out(70000, 0);
    for (std::size_t i = 0; i < in.size(); ++i) in[i] = std::uint32_t(i * 2654435761u) | 0xFF000000u;
    f0r_update(wide, 0.0, in.data(), out.data());
    EXPECT_EQ(out, in);
    f0r_destruct(wide);
}

}  // namespace
}  // namespace lumatrail::frei0r
