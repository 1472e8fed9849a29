#include "streams/stream_geometry.h"

#include <algorithm>

#include "engine/effect_math.h"

namespace lumatrail {

RenderArea clip_to_view(const RenderArea& area, const ImageView& output) {
    const std::int64_t view_right = std::int64_t(output.origin_x) + output.width;
    const std::int64_t view_bottom = std::int64_t(output.origin_y) + output.height;
    return {std::max(area.left, output.origin_x), std::max(area.top, output.origin_y),
            std::int32_t(std::min<std::int64_t>(area.right, view_right)),
            std::int32_t(std::min<std::int64_t>(area.bottom, view_bottom))};
}

StreamGeometry stream_geometry(const RenderArea& area, const ImageView& output, const MaskSampler& mask,
                               const RenderSettings& s, float scale_x, float scale_y) {
    StreamGeometry g;
    g.clip = clip_to_view(area, output);
    g.sx = std::max(scale_x, MIN_SCALE);
    g.sy = std::max(scale_y, MIN_SCALE);
    const float rw = mask.norm_width > 0.0f ? mask.norm_width : float(area.right);
    const float rh = mask.norm_height > 0.0f ? mask.norm_height : float(area.bottom);
    g.reference = {rw / g.sx, rh / g.sy};
    g.centre = {s.center_x * g.reference.x, s.center_y * g.reference.y};
    g.repeller = {s.repeller_x * g.reference.x, s.repeller_y * g.reference.y};
    return g;
}

Vec2 launch_direction(const RenderSettings& s, const StreamGeometry& g, Vec2 at) {
    Vec2 d;
    if (s.direction == RadialOut || s.direction == RadialIn) {
        const Vec2 ray{at.x - g.centre.x, at.y - g.centre.y};
        const float divisor = std::max(length(ray), 0.0001f);
        d = {ray.x / divisor, ray.y / divisor};
    } else {
        d = s.direction == Vertical ? Vec2{0.0f, 1.0f} : Vec2{1.0f, 0.0f};
    }
    if (length(d) < 0.001f) d = {1.0f, 0.0f};
    if (s.reverse_direction != (s.direction == RadialIn)) d = {-d.x, -d.y};
    return d;
}

Vec2 rotate_by_launch_angle(Vec2 d, float launch_spread, std::uint32_t h) {
    const float phi = launch_spread * (hash_unit(h) - 0.5f) * DEGREES_TO_RADIANS;
    const float c = std::cos(phi);
    const float s = std::sin(phi);
    return {c * d.x - s * d.y, s * d.x + c * d.y};
}

}  // namespace lumatrail
