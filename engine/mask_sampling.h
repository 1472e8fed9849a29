// Mask sampling: a position in normalised layer coordinates (0..1 across the
// rendered layer) becomes a mask value in [0, 1], by bilinear interpolation
// over the mask layer's pixels. The mask layer is stretched over the rendered
// layer independently in x and y, whatever the two sizes, and may have any of
// the three depths. Texels outside the mask world read 0, so the value fades
// to 0 over the half pixel at the mask's border.
//
// The sampler is built once per frame: it holds the chosen channel of every
// texel already in the unit range, so sampling neither looks at the depth
// nor calls through a pointer.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/image_view.h"
#include "engine/pixel_depth.h"
#include "engine/render_inputs.h"
#include "engine/render_settings.h"

namespace lumatrail {

// The mask layer of one frame, as frame preparation finds it.
struct MaskSource {
    ImageView view;  // the mask world; may have no data
    PixelDepth depth = PixelDepth::Bits8;
    std::int32_t mask_width = 0, mask_height = 0;  // the size the mask is stretched to
    float norm_width = 0.0f, norm_height = 0.0f;   // the rendered layer's size at render resolution
};

// A usable mask (data and a positive size), ready to sample. Without one,
// present is false, the sizes are 0 and every mask weight counts as 0.
struct MaskSampler {
    bool present = false;
    float norm_width = 0.0f, norm_height = 0.0f;
    std::int32_t mask_width = 0, mask_height = 0;
    // The channel of every texel of the mask world, in [0, 1], row by row.
    std::vector<float> texels;
    std::int32_t texel_columns = 0, texel_rows = 0, origin_x = 0, origin_y = 0;
    // Where the centres of the area's columns and rows fall among the texels
    // (place_pixel_centres): the same positions sample_mask computes, once
    // per column and row instead of once per pixel.
    struct Axis {
        std::int32_t first = 0;
        std::vector<std::int32_t> texel;  // the texel before the centre
        std::vector<float> fraction;      // how far past it; NaN: too far outside to sample
    } columns, rows;
};

// Reads the Mask Channel (alpha, or luminance not divided by alpha) of every
// texel once, when the settings sample the mask at all (a mask mode or Show
// Mask). Values above 1 give 1; 0 or less, infinite or NaN give 0.
MaskSampler make_mask_sampler(const MaskSource& source, const RenderSettings& settings);

// The mask value at (u, v) in normalised layer coordinates; 0 without a mask.
float sample_mask(const MaskSampler& sampler, float u, float v);

// Fills the sampler's column and row positions for the pixel centres of the
// area, when it has texels to sample.
void place_pixel_centres(MaskSampler& sampler, const RenderArea& area);

// mask_weight_at for the centre of pixel (x, y), through the placed
// positions where the pixel lies in the placed area: the same value.
float mask_weight_at_pixel(const MaskSampler& sampler, const RenderSettings& settings, std::int32_t x,
                           std::int32_t y);

// mask_weight_at_pixel for `count` pixels from (x, y) on, along the row, or
// down the column with `vertical`, into weights: the same values, a line at
// a time with nothing called per pixel.
void mask_weights_along_line(const MaskSampler& sampler, const RenderSettings& settings, std::int32_t x,
                             std::int32_t y, std::int32_t count, bool vertical, float* weights);

// The mask weight both renderers use at layer position (x, y) (a pixel's
// centre is its coordinate plus 0.5): the sampled value, inverted if asked,
// then thresholded so that the threshold maps to 0 and full mask to 1. A
// threshold of 1 keeps only full mask. 0 without a mask.
float mask_weight_at(const MaskSampler& sampler, const RenderSettings& settings, float x, float y);

}  // namespace lumatrail
