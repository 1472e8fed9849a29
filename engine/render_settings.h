// RenderSettings: everything the renderers need to know about what the user
// asked for, in renderer units (fractions instead of percentages, zero-based
// choices as their enumerations, whole counts), plus the frame's time. A plain
// value record: no pointers, copied by value. The frame entry normalises its
// copy once (normalised_settings); the renderers take it as it comes.
#pragma once

#include <cstdint>

namespace lumatrail {

enum StretchDirection : std::int32_t { Horizontal = 0, Vertical = 1, RadialOut = 2, RadialIn = 3 };
enum SweepMode : std::int32_t { SweepOff = 0, PassThrough = 1, BuildUp = 2, ClearAway = 3 };
enum SweepDirection : std::int32_t { LeftToRight = 0, RightToLeft = 1, TopToBottom = 2, BottomToTop = 3 };
enum MaskMode : std::int32_t { MaskOff = 0, SortInsideMask = 1, StretchFromMask = 2 };
enum MaskChannel : std::int32_t { Alpha = 0, Luminance = 1 };
enum RenderMode : std::int32_t { ClassicLines = 0, ForceLines = 1, Particles = 2 };
enum Composite : std::int32_t { OverOriginal = 0, StreamsOnly = 1 };

// Defaults are the controls' defaults in the fields' units.
struct RenderSettings {
    bool reverse_direction = false;
    bool preserve_input_alpha = false;
    float lower_brightness = 0.08f;
    float upper_brightness = 1.0f;
    float streak_length = 640.0f;  // pixels
    float length_variation = 0.35f;
    float amount = 1.0f;
    std::int32_t random_seed = 42;
    SweepMode sweep_mode = SweepOff;
    SweepDirection sweep_direction = LeftToRight;
    float sweep_position = 0.5f;
    float band_width = 0.3f;
    float edge_feather = 0.5f;
    MaskMode mask_mode = MaskOff;
    MaskChannel mask_channel = Alpha;
    bool invert_mask = false;
    bool show_mask = false;
    float mask_threshold = 0.01f;
    float stretch_tip_feather = 0.15f;
    RenderMode render_mode = ClassicLines;
    StretchDirection direction = Horizontal;
    Composite composite = OverOriginal;
    bool preroll_particles = true;
    float emitter_spacing = 12.0f;  // pixels
    float stream_size = 3.0f;       // pixels
    float lifespan = 2.5f;          // seconds
    float launch_speed = 260.0f;    // pixels per second
    float trail_length = 1.2f;      // seconds
    float birth_size = 1.0f;
    float end_size = 0.0f;
    float growth_curve = 1.0f;
    float stream_opacity = 0.85f;
    std::int32_t particle_count = 1500;
    float launch_spread = 0.0f;  // degrees
    float center_x = 0.5f;       // fraction of width
    float center_y = 0.5f;       // fraction of height
    float repeller_x = 0.5f;
    float repeller_y = 0.5f;
    float attractor_strength = 0.0f;
    float repeller_strength = 0.0f;
    float force_radius = 600.0f;  // pixels
    float wind_direction = 0.0f;  // degrees
    float wind_strength = 0.0f;
    float random_force = 0.0f;
    float random_scale = 180.0f;  // pixels
    float random_evolution = 0.35f;
    float drag = 0.2f;
    double time_seconds = 0.0;
};

}  // namespace lumatrail

namespace lumatrail {

// The settings as the renderers take them, normalised once per frame: the
// two brightness bounds in order, every number limited to the range the
// renderers rely on (the controls' valid ranges in the fields' units; NaN
// gives the low end) and every choice one of its enumeration's values (others
// give the first). Nothing the host can send is changed except the order of
// the brightness bounds, so the renderers never limit a setting again.
RenderSettings normalised_settings(RenderSettings settings);

}  // namespace lumatrail
