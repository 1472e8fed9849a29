#include "engine/sweep_band.h"

#include <algorithm>
#include <cmath>

#include "engine/effect_math.h"

namespace lumatrail {
namespace {

// 1 at t = 0 falling to 0 at t = 1, for t already in [0, 1].
float fall(float t) { return 1.0f - smoothstep(t); }

// For p strictly between 0 and 1.
float pass_through(const RenderSettings& s, float f, float p) {
    if (s.band_width <= 0.0f) return 0.0f;
    const float hw = s.band_width * 0.5f;
    // The centre runs from -hw (wholly before the start) to 1 + hw.
    const float m = p * ((hw + hw) + 1.0f) - hw;
    const float d = std::fabs(f - m);
    const float fw = s.edge_feather * hw;
    if (fw > MIN_SOFT_WIDTH) {
        const float t = std::clamp((d - (hw - fw)) / std::max(hw - (hw - fw), MIN_SOFT_WIDTH), 0.0f, 1.0f);
        return fall(t);
    }
    return d < hw ? 1.0f : 0.0f;
}

// Share of the area behind the front, seen from the starting edge.
float behind_front(const RenderSettings& s, float f, float p) {
    if (p <= 0.0f) return 0.0f;
    if (p >= 1.0f) return 1.0f;
    const float sw = s.band_width * s.edge_feather;
    const float e = p * (1.0f + sw) + (-0.5f * sw);
    if (sw > MIN_SOFT_WIDTH) {
        const float lo = e + (-0.5f * sw);
        const float hi = e + 0.5f * sw;
        const float t = std::clamp((f - lo) / std::max(hi - lo, MIN_SOFT_WIDTH), 0.0f, 1.0f);
        return fall(t);
    }
    return f < e ? 1.0f : 0.0f;
}

}  // namespace

bool sweep_hides_everything(const RenderSettings& s) {
    const float p = s.sweep_position;
    switch (s.sweep_mode) {
    case PassThrough: return !(p > 0.0f && p < 1.0f);  // the band is wholly off the area
    case BuildUp: return p <= 0.0f;                    // nothing built yet
    case ClearAway: return p >= 1.0f;                  // everything cleared
    default: return false;
    }
}

float sweep_factor(const RenderSettings& s, float x, float y) {
    if (s.sweep_mode == SweepOff) return 1.0f;
    if (sweep_hides_everything(s)) return 0.0f;
    float f = (s.sweep_direction == TopToBottom || s.sweep_direction == BottomToTop) ? y : x;
    if (s.sweep_direction == RightToLeft || s.sweep_direction == BottomToTop) f = 1.0f - f;
    const float p = s.sweep_position;
    if (s.sweep_mode == PassThrough) return pass_through(s, f, p);
    const float g = behind_front(s, f, p);
    return s.sweep_mode == BuildUp ? g : 1.0f - g;
}

}  // namespace lumatrail
