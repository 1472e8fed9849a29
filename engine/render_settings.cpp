#include "engine/render_settings.h"

#include <utility>

namespace lumatrail {
namespace {

// v within [low, high]; NaN, and -0.0 at a low end of 0, give low.
float limited(float v, float low, float high) { return v > low ? (v < high ? v : high) : low; }

std::int32_t limited(std::int32_t v, std::int32_t low, std::int32_t high) {
    return v > low ? (v < high ? v : high) : low;
}

// A choice outside its enumeration falls back to the first value.
template <class Enum>
void keep_choice(Enum& e, Enum last) {
    if (e < Enum(0) || e > last) e = Enum(0);
}

}  // namespace

RenderSettings normalised_settings(RenderSettings s) {
    s.lower_brightness = limited(s.lower_brightness, 0.0f, 16.0f);
    s.upper_brightness = limited(s.upper_brightness, 0.0f, 16.0f);
    if (s.lower_brightness > s.upper_brightness) std::swap(s.lower_brightness, s.upper_brightness);
    s.streak_length = limited(s.streak_length, 1.0f, 32768.0f);
    s.length_variation = limited(s.length_variation, 0.0f, 1.0f);
    s.amount = limited(s.amount, 0.0f, 1.0f);
    s.random_seed = limited(s.random_seed, 0, 1000000);
    keep_choice(s.sweep_mode, ClearAway);
    keep_choice(s.sweep_direction, BottomToTop);
    s.sweep_position = limited(s.sweep_position, 0.0f, 1.0f);
    s.band_width = limited(s.band_width, 0.0f, 1.0f);
    s.edge_feather = limited(s.edge_feather, 0.0f, 1.0f);
    keep_choice(s.mask_mode, StretchFromMask);
    keep_choice(s.mask_channel, Luminance);
    s.mask_threshold = limited(s.mask_threshold, 0.0f, 1.0f);
    s.stretch_tip_feather = limited(s.stretch_tip_feather, 0.0f, 1.0f);
    keep_choice(s.render_mode, Particles);
    keep_choice(s.direction, RadialIn);
    keep_choice(s.composite, StreamsOnly);
    s.emitter_spacing = limited(s.emitter_spacing, 1.0f, 256.0f);
    s.stream_size = limited(s.stream_size, 0.0f, 128.0f);
    s.lifespan = limited(s.lifespan, 0.05f, 12.0f);
    s.launch_speed = limited(s.launch_speed, 0.0f, 4000.0f);
    s.trail_length = limited(s.trail_length, 0.0f, 12.0f);
    s.birth_size = limited(s.birth_size, 0.0f, 8.0f);
    s.end_size = limited(s.end_size, 0.0f, 8.0f);
    s.growth_curve = limited(s.growth_curve, 0.1f, 8.0f);
    s.stream_opacity = limited(s.stream_opacity, 0.0f, 1.0f);
    s.particle_count = limited(s.particle_count, 0, 12000);
    s.launch_spread = limited(s.launch_spread, 0.0f, 360.0f);
    s.center_x = limited(s.center_x, -2.0f, 3.0f);
    s.center_y = limited(s.center_y, -2.0f, 3.0f);
    s.repeller_x = limited(s.repeller_x, -2.0f, 3.0f);
    s.repeller_y = limited(s.repeller_y, -2.0f, 3.0f);
    s.attractor_strength = limited(s.attractor_strength, 0.0f, 4000.0f);
    s.repeller_strength = limited(s.repeller_strength, 0.0f, 4000.0f);
    s.force_radius = limited(s.force_radius, 1.0f, 12000.0f);
    s.wind_direction = limited(s.wind_direction, -3600.0f, 3600.0f);
    s.wind_strength = limited(s.wind_strength, 0.0f, 4000.0f);
    s.random_force = limited(s.random_force, 0.0f, 4000.0f);
    s.random_scale = limited(s.random_scale, 4.0f, 4000.0f);
    s.random_evolution = limited(s.random_evolution, 0.0f, 10.0f);
    s.drag = limited(s.drag, 0.0f, 20.0f);
    return s;
}

}  // namespace lumatrail
