// Normalisation: what the renderers rely on that the parameter table does not
// state (the ranges are the host's settings fill's, tested there).
#include <gtest/gtest.h>

#include "engine/render_settings.h"

namespace lumatrail {
namespace {

TEST(NormalisedSettings, OrdersTheBrightnessBounds) {
    RenderSettings s{};
    s.lower_brightness = 1.5f;
    s.upper_brightness = 0.25f;
    const RenderSettings n = normalised_settings(s);
    EXPECT_EQ(n.lower_brightness, 0.25f);
    EXPECT_EQ(n.upper_brightness, 1.5f);
}

TEST(NormalisedSettings, UnknownChoicesFallBackToTheFirst) {
    RenderSettings s{};
    s.direction = StretchDirection(7);
    s.render_mode = RenderMode(-1);
    s.sweep_mode = SweepMode(4);
    s.sweep_direction = SweepDirection(4);
    s.mask_channel = MaskChannel(2);
    s.composite = Composite(2);
    s.mask_mode = MaskMode(StretchFromMask);
    const RenderSettings n = normalised_settings(s);
    EXPECT_EQ(n.direction, Horizontal);
    EXPECT_EQ(n.render_mode, ClassicLines);
    EXPECT_EQ(n.sweep_mode, SweepOff);
    EXPECT_EQ(n.sweep_direction, LeftToRight);
    EXPECT_EQ(n.mask_channel, Alpha);
    EXPECT_EQ(n.composite, OverOriginal);
    EXPECT_EQ(n.mask_mode, StretchFromMask);  // a valid choice stays
}

}  // namespace
}  // namespace lumatrail
