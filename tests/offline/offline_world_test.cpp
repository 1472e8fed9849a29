// Worlds of the offline host: pixel types per depth and the packed copy of a
// world's pixels.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "offline/offline_world.h"

namespace lumatrail::offline {
namespace {

TEST(PixelType, EachDepthHasItsPixelAndFullValue) {
    EXPECT_EQ(pixel_size(PF_PixelFormat_ARGB32), sizeof(PF_Pixel));
    EXPECT_EQ(pixel_size(PF_PixelFormat_ARGB64), sizeof(PF_Pixel16));
    EXPECT_EQ(pixel_size(PF_PixelFormat_ARGB128), sizeof(PF_PixelFloat));
    EXPECT_THROW(pixel_size(PF_PixelFormat(0)), std::invalid_argument);
    const auto full = [](PF_PixelFormat f) {
        return with_pixel_type(f, [](auto pixel) { return FULL_VALUE<decltype(pixel)>; });
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

}  // namespace
}  // namespace lumatrail::offline
