// Opaque 8-bit noise: no encoder can make it small, so a write of it is
// sure to pass a small size limit, and every format holds its values whole
// when it holds 8 bits.
#pragma once

#include <cstdint>

#include "offline/offline_world.h"

namespace lumatrail::tools::testing_media {

inline offline::OfflineWorld noise_world(std::int32_t w, std::int32_t h, std::uint32_t seed = 1) {
    offline::OfflineWorld world = offline::make_world(PF_PixelFormat_ARGB32, w, h);
    std::uint32_t state = seed;
    const auto next = [&] {
        state = state * 1664525u + 1013904223u;
        return std::uint8_t(state >> 24);
    };
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x) {
            PF_Pixel& p = *offline::pixel_at<PF_Pixel>(world, x, y);
            p.alpha = 255, p.red = next(), p.green = next(), p.blue = next();
        }
    return world;
}

}  // namespace lumatrail::tools::testing_media
