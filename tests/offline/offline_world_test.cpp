// Worlds of the offline host: pixel types per depth, the packed copy of a
// world's pixels, and the nearest-pixel copy at another resolution.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "offline/offline_world.h"

namespace lumatrail::offline {
namespace {

TEST(PixelType, EachDepthHasItsPixelAndFullValue) {
    EXPECT_EQ(pixel_size(PF_PixelFormat_ARGB32), sizeof(PF_Pixel));
    EXPECT_EQ(pixel_size(PF_PixelFormat_ARGB64), sizeof(PF_Pixel16));
    EXPECT_EQ(pixel_size(PF_PixelFormat_ARGB128), sizeof(PF_PixelFloat));
    EXPECT_THROW(pixel_size(PF_PixelFormat(0)), std::invalid_argument);
    const auto full = [](PF_PixelFormat f) {
        return with_world_pixel_type(f, [](auto pixel) { return FULL_VALUE<decltype(pixel)>; });
    };
    EXPECT_EQ(full(PF_PixelFormat_ARGB32), 255.0f);
    EXPECT_EQ(full(PF_PixelFormat_ARGB64), 32768.0f);
    EXPECT_EQ(full(PF_PixelFormat_ARGB128), 1.0f);
}

TEST(PackedPixels, DropRowPaddingAndKeepRowOrder) {
    for (const bool bottom_up : {false, true}) {
        SCOPED_TRACE(bottom_up ? "bottom-up rows" : "top-down rows");
        WorldLayout layout;
        layout.row_padding = 12;
        layout.bottom_up = bottom_up;
        OfflineWorld w = make_world(PF_PixelFormat_ARGB64, 3, 2, layout);
        for (std::int32_t y = 0; y < 2; ++y)
            for (std::int32_t x = 0; x < 3; ++x)
                *pixel_at<PF_Pixel16>(w, x, y) = {std::uint16_t(y), std::uint16_t(x), 7, 9};
        const std::vector<std::uint8_t> packed = packed_pixels(w);
        ASSERT_EQ(packed.size(), 3u * 2u * sizeof(PF_Pixel16));
        for (std::size_t i = 0; i < 6; ++i) {
            PF_Pixel16 p;
            std::memcpy(&p, packed.data() + i * sizeof p, sizeof p);
            EXPECT_EQ(p.alpha, i / 3) << i;  // the row
            EXPECT_EQ(p.red, i % 3) << i;    // the column
            EXPECT_EQ(p.blue, 9) << i;
        }
    }
}

// Each pixel of the resampled world is the source pixel whose centre is
// nearest: column min(floor((x + 0.5) / scale), width - 1), the same for rows.
TEST(ResampleNearest, TakesTheNearestSourcePixelWhateverTheSourceLayout) {
    for (const bool bottom_up : {false, true}) {
        SCOPED_TRACE(bottom_up ? "bottom-up rows" : "top-down rows");
        WorldLayout layout;
        layout.row_padding = 12;
        layout.bottom_up = bottom_up;
        OfflineWorld source = make_world(PF_PixelFormat_ARGB32, 7, 5, layout);
        for (std::int32_t y = 0; y < 5; ++y)
            for (std::int32_t x = 0; x < 7; ++x)
                *pixel_at<PF_Pixel>(source, x, y) = {255, std::uint8_t(x), std::uint8_t(y),
                                                     std::uint8_t(x + y)};
        const struct {
            std::int32_t width, height;
            float scale_x, scale_y;
            std::vector<std::int32_t> columns, rows;
        } cases[] = {
            {7, 5, 1.0f, 1.0f, {0, 1, 2, 3, 4, 5, 6}, {0, 1, 2, 3, 4}},
            {4, 3, 0.5f, 0.5f, {1, 3, 5, 6}, {1, 3, 4}},
            {7, 3, 1.0f, 0.5f, {0, 1, 2, 3, 4, 5, 6}, {1, 3, 4}},
            {3, 5, 1.0f / 3.0f, 1.0f, {1, 4, 6}, {0, 1, 2, 3, 4}},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
            const OfflineWorld out = resample_nearest(source, c.width, c.height, c.scale_x, c.scale_y);
            ASSERT_EQ(out.world.width, c.width);
            ASSERT_EQ(out.world.height, c.height);
            for (std::int32_t y = 0; y < c.height; ++y)
                for (std::int32_t x = 0; x < c.width; ++x) {
                    const PF_Pixel& p = *pixel_at<PF_Pixel>(out, x, y);
                    EXPECT_EQ(p.red, c.columns[std::size_t(x)]) << x << "," << y;
                    EXPECT_EQ(p.green, c.rows[std::size_t(y)]) << x << "," << y;
                    EXPECT_EQ(p.blue, c.columns[std::size_t(x)] + c.rows[std::size_t(y)]) << x << "," << y;
                    EXPECT_EQ(p.alpha, 255);
                }
        }
    }
}

}  // namespace
}  // namespace lumatrail::offline
