// The sweep weight across the area for each mode and direction.
#include <gtest/gtest.h>

#include <bit>

#include "engine/sweep_band.h"
#include "host/settings_fill.h"

namespace lumatrail {
namespace {

RenderSettings sweep(SweepMode mode, float position, float band, float feather,
                     SweepDirection direction = LeftToRight) {
    RenderSettings s = DEFAULT_SETTINGS;
    s.sweep_mode = mode;
    s.sweep_position = position;
    s.band_width = band;
    s.edge_feather = feather;
    s.sweep_direction = direction;
    return normalised_settings(s);  // as the frame entry hands them on
}

float at(const RenderSettings& s, float f) { return sweep_factor(s, f, 0.5f); }

TEST(SweepBand, OffIsOneEverywhere) {
    const RenderSettings s = sweep(SweepOff, 0.0f, 0.0f, 0.0f, BottomToTop);
    for (float f : {0.001f, 0.3f, 0.999f}) EXPECT_EQ(sweep_factor(s, f, f), 1.0f);
}

TEST(SweepBand, PassThroughBandAtHalfway) {
    const RenderSettings s = sweep(PassThrough, 0.5f, 0.3f, 0.5f);  // hw 0.15, soft 0.075
    for (float f : {0.5f, 0.43f, 0.57f}) EXPECT_EQ(at(s, f), 1.0f) << f;
    for (float f : {0.349f, 0.651f, 0.05f, 0.95f}) EXPECT_EQ(at(s, f), 0.0f) << f;
    // Falls smoothly and strictly between the flat top and the edge.
    float previous = 1.0f;
    for (float f = 0.58f; f < 0.645f; f += 0.005f) {
        const float w = at(s, f);
        EXPECT_LT(w, previous) << f;
        EXPECT_GT(w, 0.0f) << f;
        previous = w;
    }
    EXPECT_NEAR(at(s, 0.5f + 0.1125f), 0.5f, 1e-5f);  // midway down the soft edge
}

TEST(SweepBand, PassThroughIsEmptyAtTheEndsAndWithoutWidth) {
    for (float p : {0.0f, 1.0f})
        for (float f : {0.01f, 0.5f, 0.99f}) EXPECT_EQ(at(sweep(PassThrough, p, 0.3f, 0.5f), f), 0.0f);
    for (float f : {0.01f, 0.5f, 0.99f}) EXPECT_EQ(at(sweep(PassThrough, 0.5f, 0.0f, 0.5f), f), 0.0f);
}

TEST(SweepBand, PassThroughWithoutFeatherIsAHardBandOfTheWidth) {
    const RenderSettings s = sweep(PassThrough, 0.5f, 0.3f, 0.0f);
    EXPECT_EQ(at(s, 0.36f), 1.0f);
    EXPECT_EQ(at(s, 0.64f), 1.0f);
    EXPECT_EQ(at(s, 0.34f), 0.0f);
    EXPECT_EQ(at(s, 0.66f), 0.0f);
}

TEST(SweepBand, BuildUpFrontAndClearAwayComplement) {
    const RenderSettings build = sweep(BuildUp, 0.5f, 0.3f, 0.5f);  // sw 0.15, e 0.5
    const RenderSettings clear = sweep(ClearAway, 0.5f, 0.3f, 0.5f);
    for (float f : {0.01f, 0.3f, 0.42f}) EXPECT_EQ(at(build, f), 1.0f) << f;
    for (float f : {0.58f, 0.7f, 0.99f}) EXPECT_EQ(at(build, f), 0.0f) << f;
    EXPECT_NEAR(at(build, 0.5f), 0.5f, 1e-5f);
    for (float f = 0.005f; f < 1.0f; f += 0.01f) EXPECT_EQ(at(clear, f), 1.0f - at(build, f)) << f;
}

TEST(SweepBand, BuildUpAndClearAwayAtTheEnds) {
    for (float f : {0.01f, 0.5f, 0.99f}) {
        EXPECT_EQ(at(sweep(BuildUp, 0.0f, 0.3f, 0.5f), f), 0.0f);
        EXPECT_EQ(at(sweep(BuildUp, 1.0f, 0.3f, 0.5f), f), 1.0f);
        EXPECT_EQ(at(sweep(ClearAway, 0.0f, 0.3f, 0.5f), f), 1.0f);
        EXPECT_EQ(at(sweep(ClearAway, 1.0f, 0.3f, 0.5f), f), 0.0f);
    }
}

TEST(SweepBand, HardFrontAtThePositionWithoutSoftWidth) {
    for (const RenderSettings& s : {sweep(BuildUp, 0.3f, 0.0f, 0.5f), sweep(BuildUp, 0.3f, 0.5f, 0.0f)}) {
        EXPECT_EQ(at(s, 0.2999f), 1.0f);
        EXPECT_EQ(at(s, 0.3f), 0.0f);
        EXPECT_EQ(at(s, 0.3001f), 0.0f);
    }
}

TEST(SweepBand, DirectionsChooseTheAxisAndMirror) {
    for (SweepMode mode : {PassThrough, BuildUp, ClearAway}) {
        const RenderSettings ltr = sweep(mode, 0.35f, 0.4f, 0.6f, LeftToRight);
        const RenderSettings rtl = sweep(mode, 0.35f, 0.4f, 0.6f, RightToLeft);
        const RenderSettings ttb = sweep(mode, 0.35f, 0.4f, 0.6f, TopToBottom);
        const RenderSettings btt = sweep(mode, 0.35f, 0.4f, 0.6f, BottomToTop);
        for (float t = 0.005f; t < 1.0f; t += 0.01f) {
            const float w = sweep_factor(ltr, 1.0f - t, 0.9f);
            EXPECT_EQ(sweep_factor(rtl, t, 0.1f), w);
            EXPECT_EQ(sweep_factor(btt, 0.3f, t), w);
            EXPECT_EQ(sweep_factor(ttb, 0.7f, 1.0f - t), w);
        }
    }
}

}  // namespace
}  // namespace lumatrail
