// The stream renderer: every frame the linear stretch pass does not process
// itself ("Classic Lines" along rays, "Force Lines", "Particles"). One call
// renders one frame in four phases: the gate (nothing to draw: copy the
// input), emitter sampling (at most one pixel per grid cell, chosen with
// probability proportional to its weight), the streams (simulated and drawn),
// and the composite by amount and sweep band. Nothing is kept between calls;
// the grid and the emitter list are released on every way out.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/image_view.h"
#include "engine/mask_sampling.h"
#include "engine/render_inputs.h"
#include "engine/render_settings.h"
#include "streams/stream_geometry.h"

namespace lumatrail {

// Settings as normalised_settings gives them. Writes the output inside the
// frame's area cut to the output view only.
template <class Pixel>
void render_streams(const ImageView& input, const ImageView& output, const RenderSettings& settings,
                    const FrameContext& frame, const MaskSampler& mask);

// How strongly the input pixel under layer position (x, y) qualifies as an
// emitter, in [0, 1]: inside the brightness window, weighted by the
// thresholded mask when a mask mode is on.
template <class Pixel>
float emitter_weight(const ImageView& input, const MaskSampler& mask, const RenderSettings& settings, float x,
                     float y);

// The grid of emitter cells over the area.
struct EmitterGrid {
    std::int32_t columns, rows;  // cells across and down
    float cell_x, cell_y;        // cell edge in frame pixels
};

EmitterGrid emitter_grid(const RenderArea& area, const RenderSettings& settings, float sx, float sy);

// Scans the area and returns the chosen emitters in row-major cell order,
// polling before every row whose index is a multiple of 8.
template <class Pixel>
std::vector<EmitterCell<Pixel>> sample_emitters(const ImageView& input, const RenderArea& area,
                                                const RenderSettings& settings,
                                                const StreamGeometry& geometry, const MaskSampler& mask,
                                                AbortPoll poll, void* poll_data);

}  // namespace lumatrail
