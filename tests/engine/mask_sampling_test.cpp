// Bilinear mask sampling over worlds of each depth.
#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "engine/mask_sampling.h"

namespace lumatrail {
namespace {

template <class Pixel>
struct MaskWorld {
    std::vector<Pixel> pixels;
    PF_EffectWorld world{};
    MaskSource source;

    MaskWorld(std::int32_t w, std::int32_t h, std::vector<Pixel> px, std::int32_t format)
        : pixels(std::move(px)) {
        world.data = pixels.data();
        world.width = w;
        world.height = h;
        world.rowbytes = std::int32_t(w * sizeof(Pixel));
        source = {&world, format, w, h};
    }
    float at_centre(std::int32_t x, std::int32_t y, std::int32_t channel, float norm_w, float norm_h) const {
        return sample_mask(&source, (float(x) + 0.5f) / norm_w, (float(y) + 0.5f) / norm_h, channel);
    }
};

TEST(MaskSampling, SameSizeMaskSamplesEachTexelAtItsCentre) {
    std::vector<PF_Pixel> px;
    for (int i = 0; i < 12; ++i) px.push_back(PF_Pixel{std::uint8_t(i * 20), 0, 0, 0});
    const MaskWorld<PF_Pixel> m(4, 3, px, PF_PixelFormat_ARGB32);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_NEAR(m.at_centre(x, y, 0, 4, 3), float((y * 4 + x) * 20) / 255.0f, 1e-6f) << x << "," << y;
}

TEST(MaskSampling, FadesToZeroOverHalfAPixelAtTheBorder) {
    const MaskWorld<PF_Pixel> m(2, 2, std::vector<PF_Pixel>(4, PF_Pixel{255, 0, 0, 0}), PF_PixelFormat_ARGB32);
    EXPECT_EQ(sample_mask(&m.source, 0.0f, 0.25f, 0), 0.5f);   // left edge, mid row
    EXPECT_EQ(sample_mask(&m.source, 1.0f, 0.75f, 0), 0.5f);   // right edge
    EXPECT_EQ(sample_mask(&m.source, 0.0f, 0.0f, 0), 0.25f);   // corner
    EXPECT_EQ(sample_mask(&m.source, 0.25f, 0.75f, 0), 1.0f);  // a centre
    EXPECT_EQ(sample_mask(&m.source, -3.0f, 0.5f, 0), 0.0f);   // far outside
}

TEST(MaskSampling, HalfSizeMaskIsScaledUpWithBilinearSmoothing) {
    // Columns 0 and 1 of a 2 x 2 mask: transparent and opaque, over a 4 x 4 layer.
    const std::vector<PF_Pixel> px = {{0, 0, 0, 0}, {255, 0, 0, 0}, {0, 0, 0, 0}, {255, 0, 0, 0}};
    const MaskWorld<PF_Pixel> m(2, 2, px, PF_PixelFormat_ARGB32);
    EXPECT_EQ(m.at_centre(1, 1, 0, 4, 4), 0.25f);
    EXPECT_EQ(m.at_centre(2, 2, 0, 4, 4), 0.75f);
    EXPECT_EQ(m.at_centre(0, 1, 0, 4, 4), 0.0f);
    EXPECT_EQ(m.at_centre(3, 1, 0, 4, 4), 0.75f);  // beyond the last centre: fading out
}

TEST(MaskSampling, WhiteIsOneAtIntegerDepths) {
    const MaskWorld<PF_Pixel16> deep(1, 1, {{32768, 32768, 32768, 32768}}, PF_PixelFormat_ARGB64);
    EXPECT_EQ(deep.at_centre(0, 0, 0, 1, 1), 1.0f);
    EXPECT_EQ(deep.at_centre(0, 0, 1, 1, 1), 1.0f);
    const MaskWorld<PF_Pixel> byte(1, 1, {{255, 255, 255, 255}}, PF_PixelFormat_ARGB32);
    EXPECT_EQ(byte.at_centre(0, 0, 0, 1, 1), 1.0f);
    EXPECT_EQ(byte.at_centre(0, 0, 1, 1, 1), 1.0f);
    // A 16-bit value above 32768 is limited to 1; an unknown format reads 8-bit pixels.
    const MaskWorld<PF_Pixel16> over(1, 1, {{65535, 0, 0, 0}}, PF_PixelFormat_ARGB64);
    EXPECT_EQ(over.at_centre(0, 0, 0, 1, 1), 1.0f);
    const MaskWorld<PF_Pixel> unknown(1, 1, {{51, 0, 0, 0}}, 0x12345678);
    EXPECT_EQ(unknown.at_centre(0, 0, 0, 1, 1), 0.2f);
}

TEST(MaskSampling, FloatValuesAreBroughtIntoTheUnitRange) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct { PF_PixelFloat p; std::int32_t channel; float expected; } cases[] = {
        {{2.0f, 0, 0, 0}, 0, 1.0f},
        {{0.5f, -1, -1, -1}, 1, 0.0f},  // negative luminance
        {{-0.5f, 0, 0, 0}, 0, 0.0f},
        {{inf, 0, 0, 0}, 0, 0.0f},      // infinite counts as nothing
        {{nan, 0, 0, 0}, 0, 0.0f},
        {{0.25f, 0, 0, 0}, 0, 0.25f},
        {{0.0f, 0.5f, 0.5f, 0.5f}, 7, 0.5f},  // transparent colour still counts as luminance
    };
    for (const auto& c : cases) {
        const MaskWorld<PF_PixelFloat> m(1, 1, {c.p}, PF_PixelFormat_ARGB128);
        EXPECT_EQ(m.at_centre(0, 0, c.channel, 1, 1), c.expected) << c.p.alpha << " " << c.p.red;
    }
}

TEST(MaskSampling, TransparentPixelsCountTheirColourAsLuminance) {
    const MaskWorld<PF_Pixel> m(1, 1, {{0, 255, 255, 255}}, PF_PixelFormat_ARGB32);
    EXPECT_EQ(m.at_centre(0, 0, 0, 1, 1), 0.0f);
    EXPECT_EQ(m.at_centre(0, 0, 1, 1, 1), 1.0f);
}

TEST(MaskSampling, WorldOriginAndNegativeRowBytes) {
    // Two rows stored bottom-up; the world's pixel (0, 0) sits at layer (5, 7).
    std::vector<PF_Pixel> px = {{255, 0, 0, 0}, {0, 0, 0, 0}};
    MaskWorld<PF_Pixel> m(1, 2, px, PF_PixelFormat_ARGB32);
    m.world.data = &m.pixels[1];
    m.world.rowbytes = -std::int32_t(sizeof(PF_Pixel));
    m.world.origin_x = 5;
    m.world.origin_y = 7;
    m.source.mask_width = 6;  // stretched so that mask texels 5 and 7, 8 are addressed
    m.source.mask_height = 9;
    EXPECT_EQ(sample_mask(&m.source, 5.5f / 6.0f, 7.5f / 9.0f, 0), 0.0f);  // row 0 = pixels[1]
    EXPECT_EQ(sample_mask(&m.source, 5.5f / 6.0f, 8.5f / 9.0f, 0), 1.0f);  // row 1 = pixels[0]
}

TEST(MaskSampling, AbsentWorldOrDataGivesZero) {
    EXPECT_EQ(sample_mask(nullptr, 0.5f, 0.5f, 0), 0.0f);
    MaskSource none;
    EXPECT_EQ(sample_mask(&none, 0.5f, 0.5f, 0), 0.0f);
    PF_EffectWorld empty{};
    empty.width = empty.height = 4;
    const MaskSource no_data{&empty, PF_PixelFormat_ARGB32, 4, 4};
    EXPECT_EQ(sample_mask(&no_data, 0.5f, 0.5f, 1), 0.0f);
}

}  // namespace
}  // namespace lumatrail
