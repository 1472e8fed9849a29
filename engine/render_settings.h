// RenderSettings: everything the renderers need to know about what the user
// asked for, in renderer units (fractions instead of percentages, zero-based
// choices as their enumerations, whole counts), plus the frame's time. A plain
// value record: no pointers, copied by value. The renderers rely on every
// number lying in its control's valid range, which the host's settings fill
// guarantees (it limits each value to the range its parameter row states).
// The frame entry normalises its copy once (normalised_settings); the
// renderers take it as it comes.
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

// Every member starts at zero (the first value of an enumeration): the
// controls' defaults and valid ranges are the host's parameter table's, and
// the host derives the default record from it (DEFAULT_SETTINGS).
struct RenderSettings {
    bool reverse_direction{};
    bool preserve_input_alpha{};
    float lower_brightness{};
    float upper_brightness{};
    float streak_length{};  // pixels
    float length_variation{};
    float amount{};
    std::int32_t random_seed{};
    SweepMode sweep_mode{};
    SweepDirection sweep_direction{};
    float sweep_position{};
    float band_width{};
    float edge_feather{};
    MaskMode mask_mode{};
    MaskChannel mask_channel{};
    bool invert_mask{};
    bool show_mask{};
    float mask_threshold{};
    float stretch_tip_feather{};
    RenderMode render_mode{};
    StretchDirection direction{};
    Composite composite{};
    bool preroll_particles{};
    float emitter_spacing{};  // pixels
    float stream_size{};      // pixels
    float lifespan{};         // seconds
    float launch_speed{};     // pixels per second
    float trail_length{};     // seconds
    float birth_size{};
    float end_size{};
    float growth_curve{};
    float stream_opacity{};
    std::int32_t particle_count{};
    float launch_spread{};  // degrees
    float center_x{};       // fraction of width
    float center_y{};       // fraction of height
    float repeller_x{};
    float repeller_y{};
    float attractor_strength{};
    float repeller_strength{};
    float force_radius{};    // pixels
    float wind_direction{};  // degrees
    float wind_strength{};
    float random_force{};
    float random_scale{};  // pixels
    float random_evolution{};
    float drag{};
    double time_seconds = 0.0;
};

}  // namespace lumatrail

namespace lumatrail {

// The settings as the renderers take them, normalised once per frame: the
// two brightness bounds in order (a Lower above the Upper is the two swapped)
// and every choice one of its enumeration's values (others give the first).
// Numbers are left as they come: limiting them to the controls' valid ranges
// is the host's settings fill's, from the parameter table.
RenderSettings normalised_settings(RenderSettings settings);

}  // namespace lumatrail
