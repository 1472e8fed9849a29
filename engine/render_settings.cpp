#include "engine/render_settings.h"

#include <utility>

namespace lumatrail {
namespace {

// A choice outside its enumeration falls back to the first value.
template <class Enum>
void keep_choice(Enum& e, Enum last) {
    if (e < Enum(0) || e > last) e = Enum(0);
}

}  // namespace

RenderSettings normalised_settings(RenderSettings s) {
    if (s.lower_brightness > s.upper_brightness) std::swap(s.lower_brightness, s.upper_brightness);
    keep_choice(s.sweep_mode, ClearAway);
    keep_choice(s.sweep_direction, BottomToTop);
    keep_choice(s.mask_mode, StretchFromMask);
    keep_choice(s.mask_channel, Luminance);
    keep_choice(s.render_mode, Particles);
    keep_choice(s.direction, RadialIn);
    keep_choice(s.composite, StreamsOnly);
    return s;
}

}  // namespace lumatrail
