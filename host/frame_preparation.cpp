#include "host/frame_preparation.h"

#include <cmath>

#include "engine/effect_math.h"
#include "engine/linear_pass.h"
#include "host/host_error.h"

namespace lumatrail {

float resolution_factor(PF_RationalScale d) {
    return d.den == 0 ? 1.0f : float(d.num) / float(d.den);
}

std::int32_t size_at_resolution(std::int32_t size, float scale) {
    return to_int32_saturated(std::ceil(float(size) * scale));
}

ImageView render_view(const PF_EffectWorld* world) {
    if (!world) return {};
    return {static_cast<std::uint8_t*>(world->data), world->width, world->height,
            std::int64_t(world->rowbytes), world->origin_x, world->origin_y};
}

void poll_abort(void* user_data) {
    const auto& in_data = *static_cast<const PF_InData*>(user_data);
    if (in_data.inter.abort) throw_if_error(in_data.inter.abort(in_data.effect_ref));
}

template <class Pixel>
void run_renderer(const PF_InData& in_data, const PF_EffectWorld* input, const PF_EffectWorld* output,
                  const FrameRecord& record, const MaskSource& mask) {
    MaskSampler sampler;
    if (mask.world && mask.world->data && mask.mask_width > 0 && mask.mask_height > 0)
        sampler = {&mask, sample_mask, record.scale_x * float(in_data.width),
                   record.scale_y * float(in_data.height)};
    linear_stretch_pass<Pixel>(render_view(input), render_view(output), record.layer_rect,
                               record.settings, record.scale_x, record.scale_y, poll_abort,
                               const_cast<PF_InData*>(&in_data), sampler);
}

bool run_renderer_for_format(PF_PixelFormat format, const PF_InData& in_data,
                             const PF_EffectWorld* input, const PF_EffectWorld* output,
                             const FrameRecord& record, const MaskSource& mask) {
    switch (format) {
    case PF_PixelFormat_ARGB32: run_renderer<PF_Pixel>(in_data, input, output, record, mask); return true;
    case PF_PixelFormat_ARGB64: run_renderer<PF_Pixel16>(in_data, input, output, record, mask); return true;
    case PF_PixelFormat_ARGB128:
        run_renderer<PF_PixelFloat>(in_data, input, output, record, mask);
        return true;
    default: return false;
    }
}

template void run_renderer<PF_Pixel>(const PF_InData&, const PF_EffectWorld*, const PF_EffectWorld*,
                                     const FrameRecord&, const MaskSource&);
template void run_renderer<PF_Pixel16>(const PF_InData&, const PF_EffectWorld*, const PF_EffectWorld*,
                                       const FrameRecord&, const MaskSource&);
template void run_renderer<PF_PixelFloat>(const PF_InData&, const PF_EffectWorld*,
                                          const PF_EffectWorld*, const FrameRecord&, const MaskSource&);

}  // namespace lumatrail
