// Pictures made in memory: the painting of a world from a colour per
// position, and the built-in test card drawn with it.
#include <gtest/gtest.h>

#include "offline/test_card.h"

namespace lumatrail::offline {
namespace {

TEST(PaintWorld, PremultipliesThenRoundsAndClampsIntegerDepthsOnly) {
    // Straight red 3.0 premultiplies to 1.5, blue -0.25 to -0.125.
    const PictureColour colour = [](float, float, std::int32_t, std::int32_t) {
        return StraightColour{3.0f, 0.5f, -0.25f, 0.5f};
    };
    const OfflineWorld w8 = paint_world(2, 1, PF_PixelFormat_ARGB32, colour);
    const PF_Pixel p8 = *pixel_at<PF_Pixel>(w8, 1, 0);
    EXPECT_EQ(p8.alpha, 128);  // 127.5 rounds up
    EXPECT_EQ(p8.red, 255);
    EXPECT_EQ(p8.green, 64);   // 63.75
    EXPECT_EQ(p8.blue, 0);

    const OfflineWorld w16 = paint_world(2, 1, PF_PixelFormat_ARGB64, colour);
    const PF_Pixel16 p16 = *pixel_at<PF_Pixel16>(w16, 1, 0);
    EXPECT_EQ(p16.alpha, 16384);
    EXPECT_EQ(p16.red, 32768);
    EXPECT_EQ(p16.green, 8192);
    EXPECT_EQ(p16.blue, 0);

    const OfflineWorld wf = paint_world(2, 1, PF_PixelFormat_ARGB128, colour);
    const PF_PixelFloat pf = *pixel_at<PF_PixelFloat>(wf, 1, 0);
    EXPECT_EQ(pf.alpha, 0.5f);
    EXPECT_EQ(pf.red, 1.5f);
    EXPECT_EQ(pf.green, 0.25f);
    EXPECT_EQ(pf.blue, -0.125f);
}

TEST(PaintWorld, AsksForEveryPixelCentreWithItsPosition) {
    const OfflineWorld w = paint_world(4, 2, PF_PixelFormat_ARGB128, [](float u, float v, std::int32_t x, std::int32_t y) {
        return StraightColour{u, v, float(x + 10 * y), 1.0f};
    });
    ASSERT_EQ(w.world.width, 4);
    ASSERT_EQ(w.world.height, 2);
    for (std::int32_t y = 0; y < 2; ++y)
        for (std::int32_t x = 0; x < 4; ++x) {
            const PF_PixelFloat& p = *pixel_at<PF_PixelFloat>(w, x, y);
            EXPECT_EQ(p.red, (float(x) + 0.5f) / 4.0f) << x << "," << y;
            EXPECT_EQ(p.green, (float(y) + 0.5f) / 2.0f) << x << "," << y;
            EXPECT_EQ(p.blue, float(x + 10 * y)) << x << "," << y;
        }
}

TEST(TestCard, DeterministicAndPremultipliedAtEveryDepth) {
    const auto a = test_card(64, 36, PF_PixelFormat_ARGB32);
    EXPECT_TRUE(same_pixels(a, test_card(64, 36, PF_PixelFormat_ARGB32)));
    const auto deep = test_card(64, 36, PF_PixelFormat_ARGB64);
    const auto flt = test_card(64, 36, PF_PixelFormat_ARGB128);
    for (std::int32_t y = 0; y < 36; ++y)
        for (std::int32_t x = 0; x < 64; ++x) {
            const PF_Pixel& p = *pixel_at<PF_Pixel>(a, x, y);
            ASSERT_LE(p.red, p.alpha);
            EXPECT_NEAR(pixel_at<PF_Pixel16>(deep, x, y)->alpha / 32768.0f, p.alpha / 255.0f, 0.003f);
            EXPECT_NEAR(pixel_at<PF_PixelFloat>(flt, x, y)->green, p.green / 255.0f, 0.003f);
        }
    EXPECT_LT(pixel_at<PF_Pixel>(a, 63, 0)->alpha, 255);  // the transparent corner
}

TEST(TestMask, SoftDiscsInAlphaOverALuminanceRamp) {
    const OfflineWorld mask = test_mask(100, 50, PF_PixelFormat_ARGB128);
    // The centre of the first disc (0.3, 0.4) is fully inside, the far corner outside.
    EXPECT_EQ(pixel_at<PF_PixelFloat>(mask, 30, 20)->alpha, 1.0f);
    EXPECT_EQ(pixel_at<PF_PixelFloat>(mask, 99, 0)->alpha, 0.0f);
    // Colour is the ramp premultiplied by the disc: brighter to the right inside the discs.
    const PF_PixelFloat& left = *pixel_at<PF_PixelFloat>(mask, 28, 20);
    const PF_PixelFloat& right = *pixel_at<PF_PixelFloat>(mask, 32, 20);
    EXPECT_LT(left.red, right.red);
    EXPECT_EQ(left.red, left.green);
    EXPECT_EQ(left.green, left.blue);
}

}  // namespace
}  // namespace lumatrail::offline
