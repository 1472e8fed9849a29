// Normalisation: the one place settings are brought into the ranges the
// renderers rely on.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/render_settings.h"

namespace lumatrail {
namespace {

TEST(NormalisedSettings, OrdersTheBrightnessBounds) {
    RenderSettings s;
    s.lower_brightness = 1.5f;
    s.upper_brightness = 0.25f;
    const RenderSettings n = normalised_settings(s);
    EXPECT_EQ(n.lower_brightness, 0.25f);
    EXPECT_EQ(n.upper_brightness, 1.5f);
}

TEST(NormalisedSettings, LimitsNumbersAndTurnsNaNIntoTheLowEnd) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    RenderSettings s;
    s.amount = 3.0f;
    s.length_variation = -1.0f;
    s.lifespan = 0.0f;
    s.drag = nan;
    s.growth_curve = 100.0f;
    s.center_x = -9.0f;
    s.particle_count = -4;
    s.random_seed = 2000000;
    const RenderSettings n = normalised_settings(s);
    EXPECT_EQ(n.amount, 1.0f);
    EXPECT_EQ(n.length_variation, 0.0f);
    EXPECT_EQ(n.lifespan, 0.05f);
    EXPECT_EQ(n.drag, 0.0f);
    EXPECT_FALSE(std::signbit(normalised_settings([] {
                                  RenderSettings z;
                                  z.drag = -0.0f;
                                  return z;
                              }())
                                  .drag));
    EXPECT_EQ(n.growth_curve, 8.0f);
    EXPECT_EQ(n.center_x, -2.0f);
    EXPECT_EQ(n.particle_count, 0);
    EXPECT_EQ(n.random_seed, 1000000);
}

TEST(NormalisedSettings, UnknownChoicesFallBackToTheFirst) {
    RenderSettings s;
    s.direction = StretchDirection(7);
    s.render_mode = RenderMode(-1);
    s.sweep_mode = SweepMode(4);
    s.mask_mode = MaskMode(StretchFromMask);
    const RenderSettings n = normalised_settings(s);
    EXPECT_EQ(n.direction, Horizontal);
    EXPECT_EQ(n.render_mode, ClassicLines);
    EXPECT_EQ(n.sweep_mode, SweepOff);
    EXPECT_EQ(n.mask_mode, StretchFromMask);  // a valid choice stays
}

TEST(NormalisedSettings, DefaultsAreAlreadyNormal) {
    const RenderSettings d;
    const RenderSettings n = normalised_settings(d);
    EXPECT_EQ(n.lower_brightness, d.lower_brightness);
    EXPECT_EQ(n.streak_length, d.streak_length);
    EXPECT_EQ(n.particle_count, d.particle_count);
    EXPECT_EQ(n.drag, d.drag);
    EXPECT_EQ(n.lifespan, d.lifespan);
}

}  // namespace
}  // namespace lumatrail
