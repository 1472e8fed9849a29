// Reading a frame's parameter values into RenderSettings, through the offline
// host that learned the parameters from the effect itself.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>

#include "host/host_error.h"
#include "host/parameters.h"
#include "host/settings_fill.h"
#include "offline/offline_host.h"

namespace lumatrail {
namespace {

using offline::CallKind;

struct SettingsFill : ::testing::Test {
    offline::OfflineHost host;
    void SetUp() override { ASSERT_EQ(offline::load_parameters(host, EffectMain), 0); }
    RenderSettings read(offline::HostTime time = {}) {
        clear_calls(host);
        return ReadRenderSettings(offline::make_in_data(host, time));
    }
    void set(std::int32_t index, double value) { offline::set_param_value(host, index, value); }
};

TEST_F(SettingsFill, DirectionFeedsBothDirectionAndVertical) {
    const struct { int choice; std::int32_t direction; bool vertical; } cases[] = {
        {1, Horizontal, false}, {2, Vertical, true}, {3, RadialOut, false}, {4, RadialIn, false}};
    for (const auto& c : cases) {
        set(PARAM_DIRECTION, c.choice);
        const RenderSettings s = read();
        EXPECT_EQ(s.direction, c.direction) << c.choice;
        EXPECT_EQ(s.vertical, c.vertical) << c.choice;
    }
}

TEST_F(SettingsFill, CompositeIsStreamsOnlyFlag) {
    set(PARAM_COMPOSITE, 2);
    EXPECT_TRUE(read().streams_only);
    set(PARAM_COMPOSITE, 1);
    EXPECT_FALSE(read().streams_only);
}

TEST_F(SettingsFill, PercentagesBecomeFractionsByFloatMultiplication) {
    set(PARAM_LOWER_BRIGHTNESS, 150);
    set(PARAM_UPPER_BRIGHTNESS, 50);
    set(PARAM_STRETCH_TIP_FEATHER, 15);
    set(PARAM_BIRTH_SIZE, 300);
    set(PARAM_END_SIZE, 800);
    set(PARAM_AMOUNT, 100);
    set(PARAM_CENTER_X, -200);
    const RenderSettings s = read();
    EXPECT_EQ(s.lower_brightness, 1.5f);
    EXPECT_EQ(s.upper_brightness, 0.5f);  // a lower bound above the upper is stored as is
    // 15 * 0.01f is one unit in the last place below 0.15f.
    EXPECT_EQ(std::bit_cast<std::uint32_t>(s.stretch_tip_feather), 0x3E199999u);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(s.stretch_tip_feather) + 1,
              std::bit_cast<std::uint32_t>(RenderSettings{}.stretch_tip_feather));
    EXPECT_EQ(s.birth_size, 3.0f);
    EXPECT_EQ(s.end_size, 8.0f);
    EXPECT_EQ(s.amount, 1.0f);
    EXPECT_EQ(s.center_x, -2.0f);

    set(PARAM_LOWER_BRIGHTNESS, 1600);
    EXPECT_EQ(read().lower_brightness, 16.0f);
}

TEST_F(SettingsFill, CountsTruncateAfterRoundingToSingle) {
    set(PARAM_RANDOM_SEED, 41.99);
    set(PARAM_PARTICLE_COUNT, 0);
    RenderSettings s = read();
    EXPECT_EQ(s.random_seed, 41);
    EXPECT_EQ(s.particle_count, 0);
    // 999999.99 rounds to the single 1000000 before truncation.
    set(PARAM_RANDOM_SEED, 999999.99);
    set(PARAM_PARTICLE_COUNT, 11999.5);
    s = read();
    EXPECT_EQ(s.random_seed, 1000000);
    EXPECT_EQ(s.particle_count, 11999);
}

TEST_F(SettingsFill, FrameTimeInSeconds) {
    EXPECT_EQ(read({90, 1, 30}).time_seconds, 3.0);
    EXPECT_EQ(read({-45, 1, 30}).time_seconds, -1.5);
    EXPECT_EQ(read({1001, 1001, 24000}).time_seconds, 1001.0 / 24000.0);
    EXPECT_EQ(read({90, 1, 0}).time_seconds, 0.0);
}

TEST_F(SettingsFill, ValuesAreReadAtTheFramesOwnTime) {
    offline::set_param_keys(host, PARAM_SWEEP_POSITION, {{0.0, 0.0}, {2.0, 100.0}});
    offline::set_param_keys(host, PARAM_SWEEP_MODE, {{0.0, 2.0}, {1.5, 4.0}});
    RenderSettings s = read({30, 1, 30});  // 1 s
    EXPECT_EQ(s.sweep_position, 0.5f);
    EXPECT_EQ(s.sweep_mode, PassThrough);
    s = read({60, 1, 30});  // 2 s
    EXPECT_EQ(s.sweep_position, 1.0f);
    EXPECT_EQ(s.sweep_mode, ClearAway);
}

// Every parameter lands in its own field: give each one a value that differs
// from its default and from its neighbours, then look at every field.
TEST_F(SettingsFill, EachParameterLandsInItsField) {
    set(PARAM_DIRECTION, 4);
    set(PARAM_REVERSE_DIRECTION, 1);
    set(PARAM_LOWER_BRIGHTNESS, 3);
    set(PARAM_UPPER_BRIGHTNESS, 4);
    set(PARAM_STREAK_LENGTH, 5);
    set(PARAM_LENGTH_VARIATION, 6);
    set(PARAM_RANDOM_SEED, 7);
    set(PARAM_AMOUNT, 8);
    set(PARAM_PRESERVE_INPUT_ALPHA, 1);
    set(PARAM_SWEEP_MODE, 3);
    set(PARAM_SWEEP_DIRECTION, 4);
    set(PARAM_SWEEP_POSITION, 9);
    set(PARAM_BAND_WIDTH, 10);
    set(PARAM_EDGE_FEATHER, 11);
    set(PARAM_MASK_MODE, 3);
    set(PARAM_MASK_CHANNEL, 2);
    set(PARAM_INVERT_MASK, 1);
    set(PARAM_MASK_THRESHOLD, 12);
    set(PARAM_STRETCH_TIP_FEATHER, 13);
    set(PARAM_SHOW_MASK, 1);
    set(PARAM_RENDER_MODE, 3);
    set(PARAM_COMPOSITE, 2);
    set(PARAM_EMITTER_SPACING, 14);
    set(PARAM_STREAM_SIZE, 15);
    set(PARAM_LIFESPAN, 1.25);
    set(PARAM_LAUNCH_SPEED, 16);
    set(PARAM_TRAIL_LENGTH, 0.75);
    set(PARAM_PARTICLE_COUNT, 17);
    set(PARAM_BIRTH_SIZE, 18);
    set(PARAM_END_SIZE, 19);
    set(PARAM_GROWTH_CURVE, 0.5);
    set(PARAM_STREAM_OPACITY, 20);
    set(PARAM_PREROLL_PARTICLES, 0);
    set(PARAM_LAUNCH_SPREAD, 21);
    set(PARAM_CENTER_X, 22);
    set(PARAM_CENTER_Y, 23);
    set(PARAM_ATTRACTOR_STRENGTH, 24);
    set(PARAM_REPELLER_X, 25);
    set(PARAM_REPELLER_Y, 26);
    set(PARAM_REPELLER_STRENGTH, 27);
    set(PARAM_FORCE_RADIUS, 28);
    set(PARAM_WIND_DIRECTION, -29);
    set(PARAM_WIND_STRENGTH, 30);
    set(PARAM_RANDOM_FORCE, 31);
    set(PARAM_RANDOM_SCALE, 32);
    set(PARAM_RANDOM_EVOLUTION, 0.25);
    set(PARAM_DRAG, 0.5);
    const RenderSettings s = read();
    const float pc = 0.01f;
    EXPECT_EQ(s.direction, RadialIn);
    EXPECT_FALSE(s.vertical);
    EXPECT_TRUE(s.reverse_direction);
    EXPECT_TRUE(s.preserve_input_alpha);
    EXPECT_EQ(s.lower_brightness, 3 * pc);
    EXPECT_EQ(s.upper_brightness, 4 * pc);
    EXPECT_EQ(s.streak_length, 5.0f);
    EXPECT_EQ(s.length_variation, 6 * pc);
    EXPECT_EQ(s.random_seed, 7);
    EXPECT_EQ(s.amount, 8 * pc);
    EXPECT_EQ(s.sweep_mode, BuildUp);
    EXPECT_EQ(s.sweep_direction, BottomToTop);
    EXPECT_EQ(s.sweep_position, 9 * pc);
    EXPECT_EQ(s.band_width, 10 * pc);
    EXPECT_EQ(s.edge_feather, 11 * pc);
    EXPECT_EQ(s.mask_mode, StretchFromMask);
    EXPECT_EQ(s.mask_channel, Luminance);
    EXPECT_TRUE(s.invert_mask);
    EXPECT_EQ(s.mask_threshold, 12 * pc);
    EXPECT_EQ(s.stretch_tip_feather, 13 * pc);
    EXPECT_TRUE(s.show_mask);
    EXPECT_EQ(s.render_mode, Particles);
    EXPECT_TRUE(s.streams_only);
    EXPECT_EQ(s.emitter_spacing, 14.0f);
    EXPECT_EQ(s.stream_size, 15.0f);
    EXPECT_EQ(s.lifespan, 1.25f);
    EXPECT_EQ(s.launch_speed, 16.0f);
    EXPECT_EQ(s.trail_length, 0.75f);
    EXPECT_EQ(s.particle_count, 17);
    EXPECT_EQ(s.birth_size, 18 * pc);
    EXPECT_EQ(s.end_size, 19 * pc);
    EXPECT_EQ(s.growth_curve, 0.5f);
    EXPECT_EQ(s.stream_opacity, 20 * pc);
    EXPECT_FALSE(s.preroll_particles);
    EXPECT_EQ(s.launch_spread, 21.0f);
    EXPECT_EQ(s.center_x, 22 * pc);
    EXPECT_EQ(s.center_y, 23 * pc);
    EXPECT_EQ(s.attractor_strength, 24.0f);
    EXPECT_EQ(s.repeller_x, 25 * pc);
    EXPECT_EQ(s.repeller_y, 26 * pc);
    EXPECT_EQ(s.repeller_strength, 27.0f);
    EXPECT_EQ(s.force_radius, 28.0f);
    EXPECT_EQ(s.wind_direction, -29.0f);
    EXPECT_EQ(s.wind_strength, 30.0f);
    EXPECT_EQ(s.random_force, 31.0f);
    EXPECT_EQ(s.random_scale, 32.0f);
    EXPECT_EQ(s.random_evolution, 0.25f);
    EXPECT_EQ(s.drag, 0.5f);
}

TEST_F(SettingsFill, ReadsTheFortySevenParametersInOrderEachCheckedInAfterItsCheckOut) {
    read();
    const auto calls = offline::recorded_calls(host);
    ASSERT_EQ(calls.size(), 2u * 47u);
    for (std::size_t i = 0; i < 47; ++i) {
        EXPECT_EQ(calls[2 * i].kind, CallKind::CheckoutParam);
        EXPECT_EQ(calls[2 * i].index, SETTINGS_PARAMS[i]);
        EXPECT_EQ(calls[2 * i + 1].kind, CallKind::CheckinParam);
        EXPECT_EQ(calls[2 * i + 1].index, SETTINGS_PARAMS[i]);
        if (i) {
            EXPECT_LT(SETTINGS_PARAMS[i - 1], SETTINGS_PARAMS[i]);
        }
        const std::int32_t kind = param_row(SETTINGS_PARAMS[i]).kind;
        EXPECT_TRUE(kind == PF_Param_FLOAT_SLIDER || kind == PF_Param_POPUP ||
                    kind == PF_Param_CHECKBOX);
    }
}

TEST_F(SettingsFill, FailingCheckOutReturnsItsCodeWithEverythingEarlierCheckedIn) {
    for (std::size_t failing = 0; failing < 47; ++failing) {
        SCOPED_TRACE(SETTINGS_PARAMS[failing]);
        host.faults.fail_checkout_param = SETTINGS_PARAMS[failing];
        host.faults.checkout_param_error = 1000 + std::int32_t(failing);
        clear_calls(host);
        try {
            ReadRenderSettings(offline::make_in_data(host));
            ADD_FAILURE() << "no error raised";
        } catch (const HostError& e) {
            EXPECT_EQ(e.code, 1000 + std::int32_t(failing));
        }
        const auto calls = offline::recorded_calls(host);
        ASSERT_EQ(calls.size(), 2 * failing + 1);  // the failed one is not checked in
        for (std::size_t i = 0; i < failing; ++i)
            EXPECT_EQ(calls[2 * i + 1].kind, CallKind::CheckinParam);
        EXPECT_EQ(calls.back().kind, CallKind::CheckoutParam);
        EXPECT_EQ(calls.back().index, SETTINGS_PARAMS[failing]);
    }
}

}  // namespace
}  // namespace lumatrail
