// Pictures made in memory for the offline host's layers: the built-in test
// card and its mask, the photo-like picture, and the painting of any picture
// given as a colour per position. Nothing here reads or writes image files.
#pragma once

#include <cstdint>
#include <functional>

#include "offline/offline_world.h"

namespace lumatrail::offline {

// A straight (not premultiplied) colour; 1 is full value.
struct StraightColour {
    float r, g, b, a;
};

// The colour at the pixel centre (u, v), normalised to 0..1 across the
// picture, of pixel (x, y).
using PictureColour = std::function<StraightColour(float u, float v, std::int32_t x, std::int32_t y)>;

// A world painted pixel by pixel: premultiplied, and at 8 or 16 bits (full
// value 32768) clamped to 0..1 and rounded to the nearest level; float
// worlds keep the values as they are.
OfflineWorld paint_world(std::int32_t width, std::int32_t height, PF_PixelFormat format,
                         const PictureColour& colour);

// The built-in test card: a deterministic picture at any size and depth with
// colour bars, gradients, soft shapes, fine detail and a soft transparent
// corner, so that every mode of the effect has something to work on.
OfflineWorld test_card(std::int32_t width, std::int32_t height, PF_PixelFormat format);

// A photo-like picture: a sky gradient with a bright sun, a noisy ground, a
// building with hard edges and lit windows, a transparent hole and a
// half-transparent bottom band. In float it also holds values above 1 (the
// sun) and below 0 (the building's shadow). Its detail is counted in pixels,
// so a larger picture shows more of the same fine texture.
OfflineWorld test_photo(std::int32_t width, std::int32_t height, PF_PixelFormat format);

// A matching mask: soft-edged discs in the alpha channel, a luminance ramp in
// the colour channels.
OfflineWorld test_mask(std::int32_t width, std::int32_t height, PF_PixelFormat format);

}  // namespace lumatrail::offline
