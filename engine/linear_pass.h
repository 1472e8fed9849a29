// The linear stretch pass: the renderer for "Classic Lines" along rows or
// columns, and for every frame with Show Mask on. It processes the frame line
// by line: rows, or columns for "Vertical". On each line, spans of pixels
// inside the brightness window are sorted in chunks of seeded random length,
// or, with "Stretch From Mask", the last pixel of each mask run is smeared
// outward over a feathered streak. The result is blended over the input by
// amount, mask weight and sweep band, or replaced by a grey picture of the
// mask.
//
// The random pattern depends only on the seed and on line and position keys
// counted in full-resolution pixels, so it is the same on every frame and at
// every resolution.
#pragma once

#include <cstdint>

#include "engine/image_view.h"
#include "engine/mask_sampling.h"
#include "engine/render_inputs.h"
#include "engine/render_settings.h"

namespace lumatrail {

// Settings as normalised_settings gives them; the frame's area within the
// canvas limit (the frame entry checks both). Writes the output inside the area only.
template <class Pixel>
void linear_stretch_pass(const ImageView& input, const ImageView& output, const RenderSettings& settings,
                         const FrameContext& frame, const MaskSampler& mask);

// The seeded hash of a line key and a position key (both in full-resolution
// pixels), in 0 .. 16777215. Symmetric in the two keys.
std::uint32_t streak_hash(std::int32_t seed, std::int32_t line_key, std::int32_t position_key);

// A chunk or streak length around the base length, shortened by up to
// length_variation of it for larger hashes; at least 1.
std::int32_t chunk_length(std::uint32_t r, float length_variation, float base_length);

}  // namespace lumatrail
