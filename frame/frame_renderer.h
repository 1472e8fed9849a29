// The frame entry: the one call that renders a frame. It checks the canvas
// limit before anything is allocated, normalises the settings once, builds
// the mask sampler once, and hands the frame to the renderer its settings
// choose: the linear stretch pass or the stream renderer. Everything below
// takes the settings as they come.
#pragma once

#include <cstdint>

#include "engine/image_view.h"
#include "engine/mask_sampling.h"
#include "engine/pixel_depth.h"
#include "engine/render_inputs.h"
#include "engine/render_settings.h"

namespace lumatrail {

// Raised (as std::runtime_error) for an area wider or taller than 65536
// pixels or larger than 134217728 pixels, before anything is allocated.
inline constexpr const char* CANVAS_LIMIT_MESSAGE = "Canvas exceeds 128 megapixels";
inline constexpr std::int64_t MAX_CANVAS_SIDE = 65536;
inline constexpr std::int64_t MAX_CANVAS_PIXELS = 134217728;

enum class Renderer { LinearPass, Streams };

// "Classic Lines" along rows or columns, and every frame with Show Mask on,
// go to the linear stretch pass; everything else to the stream renderer.
Renderer renderer_for(const RenderSettings& settings);

// Renders the frame's area into the output view, with the pixel type of the
// depth chosen once for the whole frame.
void render_frame(PixelDepth depth, const ImageView& input, const ImageView& output,
                  const RenderSettings& settings, const FrameContext& frame, const MaskSource& mask);

}  // namespace lumatrail
