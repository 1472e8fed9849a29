// The built-in test card: a deterministic picture at any size and depth with
// colour bars, gradients, soft shapes, fine detail and a soft transparent
// corner, so that every mode of the effect has something to work on.
#pragma once

#include <cstdint>

#include "offline/offline_world.h"

namespace lumatrail::tools {

// Premultiplied pixels in the given format (8-bit, 16-bit with full value
// 32768, or float).
offline::OfflineWorld test_card(std::int32_t width, std::int32_t height, PF_PixelFormat format);

// A matching mask: soft-edged discs in the alpha channel, a luminance ramp in
// the colour channels.
offline::OfflineWorld test_mask(std::int32_t width, std::int32_t height, PF_PixelFormat format);

}  // namespace lumatrail::tools
