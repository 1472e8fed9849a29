// Bilinear mask sampling over worlds of each depth, and the mask weight both
// renderers use.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <vector>

#include "engine/mask_sampling.h"
#include "host/settings_fill.h"
#include "tests/support/image_buffer.h"

namespace lumatrail {
namespace {

using testing::ImageBuffer;

template <class Pixel>
struct MaskWorld {
    ImageBuffer<Pixel> image;
    MaskSampler alpha, luminance;

    MaskWorld(std::int32_t w, std::int32_t h, std::vector<Pixel> px) : image(w, h) {
        image.pixels = std::move(px);
        alpha = testing::mask_sampler_of(image, float(w), float(h), Alpha);
        luminance = testing::mask_sampler_of(image, float(w), float(h), Luminance);
    }
    float at_centre(std::int32_t x, std::int32_t y, MaskChannel channel, float norm_w, float norm_h) const {
        return sample_mask(channel == Alpha ? alpha : luminance, (float(x) + 0.5f) / norm_w,
                           (float(y) + 0.5f) / norm_h);
    }
};

TEST(MaskSampling, SameSizeMaskSamplesEachTexelAtItsCentre) {
    std::vector<Pixel8> px;
    for (int i = 0; i < 12; ++i) px.push_back(Pixel8{std::uint8_t(i * 20), 0, 0, 0});
    const MaskWorld<Pixel8> m(4, 3, px);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_NEAR(m.at_centre(x, y, Alpha, 4, 3), float((y * 4 + x) * 20) / 255.0f, 1e-6f)
                << x << "," << y;
}

TEST(MaskSampling, FadesToZeroOverHalfAPixelAtTheBorder) {
    const MaskWorld<Pixel8> m(2, 2, std::vector<Pixel8>(4, Pixel8{255, 0, 0, 0}));
    EXPECT_EQ(sample_mask(m.alpha, 0.0f, 0.25f), 0.5f);   // left edge, mid row
    EXPECT_EQ(sample_mask(m.alpha, 1.0f, 0.75f), 0.5f);   // right edge
    EXPECT_EQ(sample_mask(m.alpha, 0.0f, 0.0f), 0.25f);   // corner
    EXPECT_EQ(sample_mask(m.alpha, 0.25f, 0.75f), 1.0f);  // a centre
    EXPECT_EQ(sample_mask(m.alpha, -3.0f, 0.5f), 0.0f);   // far outside
}

TEST(MaskSampling, HalfSizeMaskIsScaledUpWithBilinearSmoothing) {
    // Columns 0 and 1 of a 2 x 2 mask: transparent and opaque, over a 4 x 4 layer.
    const std::vector<Pixel8> px = {{0, 0, 0, 0}, {255, 0, 0, 0}, {0, 0, 0, 0}, {255, 0, 0, 0}};
    const MaskWorld<Pixel8> m(2, 2, px);
    EXPECT_EQ(m.at_centre(1, 1, Alpha, 4, 4), 0.25f);
    EXPECT_EQ(m.at_centre(2, 2, Alpha, 4, 4), 0.75f);
    EXPECT_EQ(m.at_centre(0, 1, Alpha, 4, 4), 0.0f);
    EXPECT_EQ(m.at_centre(3, 1, Alpha, 4, 4), 0.75f);  // beyond the last centre: fading out
}

TEST(MaskSampling, WhiteIsOneAtIntegerDepths) {
    const MaskWorld<Pixel16> deep(1, 1, {{32768, 32768, 32768, 32768}});
    EXPECT_EQ(deep.at_centre(0, 0, Alpha, 1, 1), 1.0f);
    EXPECT_EQ(deep.at_centre(0, 0, Luminance, 1, 1), 1.0f);
    const MaskWorld<Pixel8> byte(1, 1, {{255, 255, 255, 255}});
    EXPECT_EQ(byte.at_centre(0, 0, Alpha, 1, 1), 1.0f);
    EXPECT_EQ(byte.at_centre(0, 0, Luminance, 1, 1), 1.0f);
    // A 16-bit value above 32768 is limited to 1; 8-bit 51 is exactly 0.2.
    const MaskWorld<Pixel16> over(1, 1, {{65535, 0, 0, 0}});
    EXPECT_EQ(over.at_centre(0, 0, Alpha, 1, 1), 1.0f);
    const MaskWorld<Pixel8> fifth(1, 1, {{51, 0, 0, 0}});
    EXPECT_EQ(fifth.at_centre(0, 0, Alpha, 1, 1), 0.2f);
}

TEST(MaskSampling, FloatValuesAreBroughtIntoTheUnitRange) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        PixelFloat p;
        MaskChannel channel;
        float expected;
    } cases[] = {
        {{2.0f, 0, 0, 0}, Alpha, 1.0f},
        {{0.5f, -1, -1, -1}, Luminance, 0.0f},  // negative luminance
        {{-0.5f, 0, 0, 0}, Alpha, 0.0f},
        {{inf, 0, 0, 0}, Alpha, 0.0f},  // infinite counts as nothing
        {{nan, 0, 0, 0}, Alpha, 0.0f},
        {{0.25f, 0, 0, 0}, Alpha, 0.25f},
        {{0.0f, 0.5f, 0.5f, 0.5f}, Luminance, 0.5f},  // transparent colour still counts as luminance
    };
    for (const auto& c : cases) {
        const MaskWorld<PixelFloat> m(1, 1, {c.p});
        EXPECT_EQ(m.at_centre(0, 0, c.channel, 1, 1), c.expected) << c.p.alpha << " " << c.p.red;
    }
}

// Every texel of a world wider than the blocks it is read in, at every depth
// and from either channel, is its channel's value on the unit scale, limited
// to 1, and 0 where that is 0 or less, infinite or NaN: checked bit for bit
// over random pixels (random bit patterns for float).
template <class Pixel>
void check_every_texel(std::uint32_t seed) {
    using Channel = typename PixelTraits<Pixel>::Channel;
    constexpr std::int32_t W = 263, H = 3;
    ImageBuffer<Pixel> image(W, H);
    for (Pixel& p : image.pixels)
        for (Channel* channel : {&p.alpha, &p.red, &p.green, &p.blue}) {
            seed = seed * 1664525u + 1013904223u;
            if constexpr (std::is_same_v<Pixel, PixelFloat>)
                *channel = seed % 3 == 0 ? std::bit_cast<float>(seed) : float(seed >> 8) / 8388608.0f - 0.5f;
            else
                *channel = Channel(seed >> 8);
        }
    for (const MaskChannel channel : {Alpha, Luminance}) {
        const MaskSampler m = testing::mask_sampler_of(image, float(W), float(H), channel);
        ASSERT_EQ(m.texels.size(), image.pixels.size());
        for (std::size_t i = 0; i < image.pixels.size(); ++i) {
            const Pixel& p = image.pixels[i];
            const float raw =
                channel == Alpha ? float(p.alpha) : luma(float(p.red), float(p.green), float(p.blue));
            const float unit = raw / PixelTraits<Pixel>::PIXEL_MAX;
            const float expected = unit > 0.0f && std::isfinite(unit) ? std::min(unit, 1.0f) : 0.0f;
            ASSERT_EQ(std::bit_cast<std::uint32_t>(m.texels[i]), std::bit_cast<std::uint32_t>(expected))
                << "texel " << i << (channel == Alpha ? " alpha" : " luminance");
        }
    }
}

TEST(MaskSampling, EveryTexelIsItsChannelInTheUnitRange) {
    check_every_texel<Pixel8>(1);
    check_every_texel<Pixel16>(2);
    check_every_texel<PixelFloat>(3);
}

TEST(MaskSampling, TransparentPixelsCountTheirColourAsLuminance) {
    const MaskWorld<Pixel8> m(1, 1, {{0, 255, 255, 255}});
    EXPECT_EQ(m.at_centre(0, 0, Alpha, 1, 1), 0.0f);
    EXPECT_EQ(m.at_centre(0, 0, Luminance, 1, 1), 1.0f);
}

TEST(MaskSampling, WorldOriginAndNegativeRowBytes) {
    // Two rows stored bottom-up; the world's pixel (0, 0) sits at layer (5, 7).
    ImageBuffer<Pixel8> image(1, 2);
    image.pixels = {{255, 0, 0, 0}, {0, 0, 0, 0}};
    MaskSource source = testing::mask_source_of(image, 6, 9);
    source.view.data = reinterpret_cast<std::uint8_t*>(&image.pixels[1]);
    source.view.row_bytes = -std::int64_t(sizeof(Pixel8));
    source.view.origin_x = 5;
    source.view.origin_y = 7;
    source.mask_width = 6;  // stretched so that mask texels 5 and 7, 8 are addressed
    source.mask_height = 9;
    RenderSettings s = DEFAULT_SETTINGS;
    s.mask_mode = SortInsideMask;
    const MaskSampler m = make_mask_sampler(source, s);
    EXPECT_EQ(sample_mask(m, 5.5f / 6.0f, 7.5f / 9.0f), 0.0f);  // row 0 = pixels[1]
    EXPECT_EQ(sample_mask(m, 5.5f / 6.0f, 8.5f / 9.0f), 1.0f);  // row 1 = pixels[0]
}

TEST(MaskSampling, NoUsableMaskGivesZeroAndIsNotPresent) {
    RenderSettings s = DEFAULT_SETTINGS;
    s.mask_mode = SortInsideMask;
    const MaskSampler none = make_mask_sampler({}, s);
    EXPECT_FALSE(none.present);
    EXPECT_EQ(sample_mask(none, 0.5f, 0.5f), 0.0f);
    EXPECT_EQ(mask_weight_at(none, s, 0.5f, 0.5f), 0.0f);
    ImageBuffer<Pixel8> image(4, 4, Pixel8{255, 255, 255, 255});
    MaskSource no_data = testing::mask_source_of(image, 4, 4);
    no_data.view.data = nullptr;
    EXPECT_FALSE(make_mask_sampler(no_data, s).present);
    MaskSource no_size = testing::mask_source_of(image, 4, 4);
    no_size.mask_width = 0;
    EXPECT_FALSE(make_mask_sampler(no_size, s).present);
}

// A mask that no setting samples is present (its layer size still places
// radial centres) but its pixels are never read.
TEST(MaskSampling, UnsampledMaskIsPresentWithoutTexels) {
    ImageBuffer<Pixel8> image(4, 4, Pixel8{255, 255, 255, 255});
    const MaskSampler m = make_mask_sampler(testing::mask_source_of(image, 8, 6), DEFAULT_SETTINGS);
    EXPECT_TRUE(m.present);
    EXPECT_EQ(m.norm_width, 8.0f);
    EXPECT_TRUE(m.texels.empty());
}

TEST(MaskWeight, InvertThenThreshold) {
    std::vector<Pixel8> px = {{0, 0, 0, 0}, {51, 0, 0, 0}, {153, 0, 0, 0}, {255, 0, 0, 0}};
    ImageBuffer<Pixel8> image(4, 1);
    image.pixels = px;
    const MaskSampler m = testing::mask_sampler_of(image, 4, 1);
    RenderSettings s = DEFAULT_SETTINGS;
    auto weight = [&](float x) { return mask_weight_at(m, s, x + 0.5f, 0.5f); };
    s.mask_threshold = 0.0f;
    EXPECT_EQ(weight(1), 0.2f);
    s.mask_threshold = 0.2f;  // the threshold maps to 0 and full mask to 1
    EXPECT_EQ(weight(1), 0.0f);
    EXPECT_EQ(weight(2), (0.6f - 0.2f) / (1.0f - 0.2f));
    EXPECT_EQ(weight(3), 1.0f);
    s.invert_mask = true;
    EXPECT_EQ(weight(0), 1.0f);
    EXPECT_EQ(weight(3), 0.0f);
    s.invert_mask = false;
    s.mask_threshold = 1.0f;  // only full mask
    EXPECT_EQ(weight(2), 0.0f);
    EXPECT_EQ(weight(3), 1.0f);
    // Just below 1 the weight still reaches 1 at full mask, as it does at 1.
    s.mask_threshold = 0.99995f;
    EXPECT_EQ(weight(3), 1.0f);
    EXPECT_EQ(weight(2), 0.0f);
}

}  // namespace
}  // namespace lumatrail

namespace lumatrail {
namespace {

using testing::ImageBuffer;

// Weights at pixel centres through the positions placed once per frame, one
// by one and a row or column at a time, against the weights computed from
// scratch, bit for bit: inside and outside the placed area (lines starting,
// ending or passing outside it), stretched either way, and positions too far
// out to sample.
TEST(MaskWeight, PlacedPixelCentresGiveTheSameWeights) {
    ImageBuffer<Pixel8> image(9, 7);
    for (std::int32_t y = 0; y < 7; ++y)
        for (std::int32_t x = 0; x < 9; ++x)
            image.at(x, y) =
                Pixel8{std::uint8_t((x * 37 + y * 71) % 256), std::uint8_t(x * 20), 90, std::uint8_t(y * 30)};
    struct Setup {
        float norm_width, norm_height;
        std::int32_t mask_width, mask_height;
    };
    for (const Setup setup :
         {Setup{9, 7, 9, 7}, Setup{23, 5, 9, 7}, Setup{4, 13, 30, 2}, Setup{1, 1, 1 << 28, 7}}) {
        MaskSource source = testing::mask_source_of(image, setup.norm_width, setup.norm_height);
        source.mask_width = setup.mask_width;
        source.mask_height = setup.mask_height;
        RenderSettings s = DEFAULT_SETTINGS;
        s.mask_mode = StretchFromMask;
        s.mask_channel = Luminance;
        s.invert_mask = setup.norm_width > 10;
        s.mask_threshold = 0.3f;
        MaskSampler m = make_mask_sampler(source, s);
        const MaskSampler unplaced = m;
        place_pixel_centres(m, {-3, -2, 20, 15});
        std::vector<float> rows(31 * 25), columns(31 * 25);  // [y][x], [x][y]
        for (std::int32_t y = -6; y < 19; ++y)
            mask_weights_along_line(m, s, -6, y, 31, false, rows.data() + (y + 6) * 31);
        for (std::int32_t x = -6; x < 25; ++x)
            mask_weights_along_line(m, s, x, -6, 25, true, columns.data() + (x + 6) * 25);
        for (std::int32_t y = -6; y < 19; ++y)
            for (std::int32_t x = -6; x < 25; ++x) {
                const float direct = mask_weight_at(unplaced, s, float(x) + 0.5f, float(y) + 0.5f);
                const std::uint32_t expected = std::bit_cast<std::uint32_t>(direct);
                ASSERT_EQ(std::bit_cast<std::uint32_t>(mask_weight_at_pixel(m, s, x, y)), expected)
                    << x << "," << y << " mask " << setup.mask_width;
                ASSERT_EQ(std::bit_cast<std::uint32_t>(rows[std::size_t((y + 6) * 31 + x + 6)]), expected)
                    << "row " << y << ", x " << x << " mask " << setup.mask_width;
                ASSERT_EQ(std::bit_cast<std::uint32_t>(columns[std::size_t((x + 6) * 25 + y + 6)]), expected)
                    << "column " << x << ", y " << y << " mask " << setup.mask_width;
            }
        // A line that starts inside the placed area and runs past its end.
        std::vector<float> tail(12);
        mask_weights_along_line(m, s, 14, 3, 12, false, tail.data());
        for (std::int32_t x = 14; x < 26; ++x)
            ASSERT_EQ(std::bit_cast<std::uint32_t>(tail[std::size_t(x - 14)]),
                      std::bit_cast<std::uint32_t>(mask_weight_at(unplaced, s, float(x) + 0.5f, 3.5f)))
                << "x " << x;
    }
}

}  // namespace
}  // namespace lumatrail
