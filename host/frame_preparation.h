// Frame preparation: turning what the host hands over for one frame into what
// the renderers take (views, area, resolution factors, mask sampler, abort
// poll, settings copy), and choosing the renderer of the output's depth.
#pragma once

#include <cstdint>

#include "engine/image_view.h"
#include "engine/mask_sampling.h"
#include "engine/render_inputs.h"
#include "engine/render_settings.h"
#include "host/host_contract.h"

namespace lumatrail {

// One frame's record, carried from smart pre-render to smart render (owned by
// the host in between), or kept on the stack by the plain render command.
struct FrameRecord {
    RenderSettings settings;
    RenderArea layer_rect;  // the area to render, layer pixels at render resolution
    float scale_x = 1.0f, scale_y = 1.0f;
    std::int32_t mask_width = 0, mask_height = 0;  // the mask's size at render resolution
    bool mask_checked_out = false;  // the mask layer was requested with checkout id 201
};

// numerator / denominator, or 1 for a denominator of 0.
float resolution_factor(PF_RationalScale downsample);

// ceilf(size * scale), the layer's size at render resolution.
std::int32_t size_at_resolution(std::int32_t size, float scale);

// A view of a host world; a null world gives a view without data.
ImageView render_view(const PF_EffectWorld* world);

// The abort poll handed to the renderers: asks the host's abort callback of
// the PF_InData passed as user data and raises its nonzero answer as HostError.
void poll_abort(void* in_data);

// Builds the mask sampler, views and settings copy, and runs the renderer of
// the depth given by Pixel over the record's area.
template <class Pixel>
void run_renderer(const PF_InData& in_data, const PF_EffectWorld* input, const PF_EffectWorld* output,
                  const FrameRecord& record, const MaskSource& mask);

// The same, choosing the depth from a pixel format; false for an unsupported format.
bool run_renderer_for_format(PF_PixelFormat format, const PF_InData& in_data,
                             const PF_EffectWorld* input, const PF_EffectWorld* output,
                             const FrameRecord& record, const MaskSource& mask);

}  // namespace lumatrail
