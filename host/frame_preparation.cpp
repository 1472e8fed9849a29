#include "host/frame_preparation.h"

#include <cmath>
#include <cstddef>
#include <type_traits>

#include "engine/effect_math.h"
#include "frame/frame_renderer.h"
#include "host/host_error.h"

namespace lumatrail {
namespace {

// The engine's pixel types read the host's pixels in place: same size, same
// channel types, same channel order.
template <class Engine, class Host>
constexpr bool same_layout() {
    return sizeof(Engine) == sizeof(Host) && std::is_same_v<decltype(Engine::alpha), decltype(Host::alpha)> &&
           std::is_same_v<decltype(Engine::blue), decltype(Host::blue)> &&
           offsetof(Engine, alpha) == offsetof(Host, alpha) && offsetof(Engine, red) == offsetof(Host, red) &&
           offsetof(Engine, green) == offsetof(Host, green) && offsetof(Engine, blue) == offsetof(Host, blue);
}
static_assert(same_layout<Pixel8, PF_Pixel>());
static_assert(same_layout<Pixel16, PF_Pixel16>());
static_assert(same_layout<PixelFloat, PF_PixelFloat>());

}  // namespace

float resolution_factor(PF_RationalScale d) { return d.den == 0 ? 1.0f : float(d.num) / float(d.den); }

std::int32_t size_at_resolution(std::int32_t size, float scale) {
    return to_int32_saturated(std::ceil(float(size) * scale));
}

ImageView render_view(const PF_EffectWorld* world) {
    if (!world) return {};
    return {static_cast<std::uint8_t*>(world->data), world->width,    world->height,
            std::int64_t(world->rowbytes),           world->origin_x, world->origin_y};
}

std::optional<PixelDepth> depth_of(PF_PixelFormat format) {
    switch (format) {
    case PF_PixelFormat_ARGB32: return PixelDepth::Bits8;
    case PF_PixelFormat_ARGB64: return PixelDepth::Bits16;
    case PF_PixelFormat_ARGB128: return PixelDepth::Float;
    default: return std::nullopt;
    }
}

MaskSource mask_source(const PF_InData& in_data, const FrameRecord& record, const PF_EffectWorld* world,
                       PixelDepth depth, std::int32_t mask_width, std::int32_t mask_height) {
    MaskSource mask;
    mask.view = render_view(world);
    mask.depth = depth;
    mask.mask_width = mask_width;
    mask.mask_height = mask_height;
    mask.norm_width = record.scale_x * float(in_data.width);
    mask.norm_height = record.scale_y * float(in_data.height);
    return mask;
}

void poll_abort(void* user_data) {
    const auto& in_data = *static_cast<const PF_InData*>(user_data);
    if (in_data.inter.abort) throw_if_error(in_data.inter.abort(in_data.effect_ref));
}

void run_renderer(PixelDepth depth, const PF_InData& in_data, const PF_EffectWorld* input,
                  const PF_EffectWorld* output, const FrameRecord& record, const MaskSource& mask) {
    const FrameContext frame{record.layer_rect, record.scale_x, record.scale_y, poll_abort,
                             const_cast<PF_InData*>(&in_data)};
    render_frame(depth, render_view(input), render_view(output), record.settings, frame, mask);
}

}  // namespace lumatrail
