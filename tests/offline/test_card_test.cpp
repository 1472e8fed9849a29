// Pictures made in memory: the painting of a world from a colour per
// position, and the built-in test card drawn with it.
#include <gtest/gtest.h>

#include <array>

#include "offline/test_card.h"

namespace lumatrail::offline {
namespace {

// The pixel's channels as {alpha, red, green, blue}.
template <class Pixel>
auto channels(const OfflineWorld& world, std::int32_t x, std::int32_t y) {
    const Pixel& p = *pixel_at<Pixel>(world, x, y);
    return std::array{p.alpha, p.red, p.green, p.blue};
}

TEST(PaintWorld, PremultipliesThenRoundsAndClampsIntegerDepthsOnly) {
    // Straight red 3.0 premultiplies to 1.5, blue -0.25 to -0.125; alpha 0.5
    // is 127.5 levels at 8 bits, which rounds up.
    const PictureColour colour = [](float, float, std::int32_t, std::int32_t) {
        return StraightColour{3.0f, 0.5f, -0.25f, 0.5f};
    };
    EXPECT_EQ(channels<PF_Pixel>(paint_world(2, 1, PF_PixelFormat_ARGB32, colour), 1, 0),
              (std::array<std::uint8_t, 4>{128, 255, 64, 0}));
    EXPECT_EQ(channels<PF_Pixel16>(paint_world(2, 1, PF_PixelFormat_ARGB64, colour), 1, 0),
              (std::array<std::uint16_t, 4>{16384, 32768, 8192, 0}));
    EXPECT_EQ(channels<PF_PixelFloat>(paint_world(2, 1, PF_PixelFormat_ARGB128, colour), 1, 0),
              (std::array<float, 4>{0.5f, 1.5f, 0.25f, -0.125f}));
}

TEST(PaintWorld, AsksForEveryPixelCentreWithItsPosition) {
    const PictureColour colour = [](float u, float v, std::int32_t x, std::int32_t y) {
        return StraightColour{u, v, float(x + 10 * y), 1.0f};
    };
    const OfflineWorld w = paint_world(4, 2, PF_PixelFormat_ARGB128, colour);
    ASSERT_EQ(w.world.width, 4);
    ASSERT_EQ(w.world.height, 2);
    for (std::int32_t y = 0; y < 2; ++y)
        for (std::int32_t x = 0; x < 4; ++x) {
            EXPECT_EQ(
                channels<PF_PixelFloat>(w, x, y),
                (std::array{1.0f, (float(x) + 0.5f) / 4.0f, (float(y) + 0.5f) / 2.0f, float(x + 10 * y)}))
                << x << "," << y;
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
