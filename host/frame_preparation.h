// Frame preparation: turning what the host hands over for one frame into what
// the frame entry takes (views, area, resolution factors, mask source, abort
// poll, settings), with the depth chosen from the output's pixel format.
#pragma once

#include <cstdint>
#include <optional>

#include "engine/image_view.h"
#include "engine/mask_sampling.h"
#include "engine/pixel_depth.h"
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
    bool mask_checked_out = false;                 // the mask layer was requested with checkout id 201
};

// numerator / denominator, or 1 for a denominator of 0.
float resolution_factor(PF_RationalScale downsample);

// ceilf(size * scale), the layer's size at render resolution.
std::int32_t size_at_resolution(std::int32_t size, float scale);

// A view of a host world; a null world gives a view without data.
ImageView render_view(const PF_EffectWorld* world);

// The depth of a host pixel format; none for a format the effect does not render.
std::optional<PixelDepth> depth_of(PF_PixelFormat format);

// The mask layer of a frame: the world (may be null) at its depth, stretched
// to mask_width x mask_height over the layer of the in-data's size at the
// record's resolution.
MaskSource mask_source(const PF_InData& in_data, const FrameRecord& record, const PF_EffectWorld* world,
                       PixelDepth depth, std::int32_t mask_width, std::int32_t mask_height);

// The abort poll handed to the renderers: asks the host's abort callback of
// the PF_InData passed as user data and raises its nonzero answer as HostError.
void poll_abort(void* in_data);

// Renders the record's area of the frame at the given depth.
void run_renderer(PixelDepth depth, const PF_InData& in_data, const PF_EffectWorld* input,
                  const PF_EffectWorld* output, const FrameRecord& record, const MaskSource& mask);

}  // namespace lumatrail
