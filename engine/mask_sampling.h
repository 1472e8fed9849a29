// Mask sampling: a position in normalised layer coordinates (0..1 across the
// rendered layer) becomes a mask value in [0, 1], by bilinear interpolation
// over the mask layer's pixels. The mask layer is stretched over the rendered
// layer independently in x and y, whatever the two sizes, and may have any of
// the three depths. Texels outside the mask world read 0, so the value fades
// to 0 over the half pixel at the mask's border. Invert and threshold are the
// caller's.
#pragma once

#include <cstdint>

#include "host/host_contract.h"

namespace lumatrail {

// The mask layer of one frame.
struct MaskSource {
    const PF_EffectWorld* world = nullptr;  // may be absent
    std::int32_t pixel_format = PF_PixelFormat_ARGB32;  // 128: float, 64: 16-bit, else 8-bit
    std::int32_t mask_width = 0, mask_height = 0;       // size the mask is stretched to
};

using MaskSampleFunc = float (*)(const MaskSource* source, float u, float v, std::int32_t channel);

// What the renderers are handed. Without a usable mask the sampler is
// {null, null, 0, 0} and every mask weight counts as 0.
struct MaskSampler {
    const MaskSource* source = nullptr;
    MaskSampleFunc sample = nullptr;
    float norm_width = 0.0f, norm_height = 0.0f;  // the rendered layer's size at render resolution
};

// channel 0 samples alpha; any other value samples luminance (not divided by
// alpha). Callers pass u = (X + 0.5) / max(norm_width, 1), v likewise.
float sample_mask(const MaskSource* source, float u, float v, std::int32_t channel);

}  // namespace lumatrail
