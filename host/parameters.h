// The effect's controls: one table that says everything about each of them
// (kind, UI definition, the RenderSettings member it fills and how the host's
// value converts), the declaration to the host on parameter setup, and every
// count derived from the table.
//
// The index of a parameter is its position in the host's list (the input layer
// that the host adds itself is index 0, the first row is index 1). Hosts store
// projects by these indices, so rows are never reordered or removed: a new
// control is one new row at the end plus the RenderSettings member it fills.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>
#include <variant>

#include "engine/render_settings.h"
#include "host/host_contract.h"

namespace lumatrail {

// Names of the indices the code and tests refer to.
enum ParamIndex : std::int32_t {
    PARAM_INPUT = 0,
    PARAM_PIXELS_GROUP,
    PARAM_DIRECTION,
    PARAM_REVERSE_DIRECTION,
    PARAM_LOWER_BRIGHTNESS,
    PARAM_UPPER_BRIGHTNESS,
    PARAM_STREAK_LENGTH,
    PARAM_LENGTH_VARIATION,
    PARAM_RANDOM_SEED,
    PARAM_AMOUNT,
    PARAM_PRESERVE_INPUT_ALPHA,
    PARAM_PIXELS_GROUP_END,
    PARAM_SWEEP_GROUP,
    PARAM_SWEEP_MODE,
    PARAM_SWEEP_DIRECTION,
    PARAM_SWEEP_POSITION,
    PARAM_BAND_WIDTH,
    PARAM_EDGE_FEATHER,
    PARAM_SWEEP_GROUP_END,
    PARAM_MASK_GROUP,
    PARAM_MASK_MODE,
    PARAM_MASK_LAYER,
    PARAM_MASK_CHANNEL,
    PARAM_INVERT_MASK,
    PARAM_MASK_THRESHOLD,
    PARAM_STRETCH_TIP_FEATHER,
    PARAM_SHOW_MASK,
    PARAM_MASK_GROUP_END,
    PARAM_STREAMS_GROUP,
    PARAM_RENDER_MODE,
    PARAM_COMPOSITE,
    PARAM_EMITTER_SPACING,
    PARAM_STREAM_SIZE,
    PARAM_LIFESPAN,
    PARAM_LAUNCH_SPEED,
    PARAM_TRAIL_LENGTH,
    PARAM_PARTICLE_COUNT,
    PARAM_BIRTH_SIZE,
    PARAM_END_SIZE,
    PARAM_GROWTH_CURVE,
    PARAM_STREAM_OPACITY,
    PARAM_PREROLL_PARTICLES,
    PARAM_STREAMS_GROUP_END,
    PARAM_FORCES_GROUP,
    PARAM_LAUNCH_SPREAD,
    PARAM_CENTER_X,
    PARAM_CENTER_Y,
    PARAM_ATTRACTOR_STRENGTH,
    PARAM_REPELLER_X,
    PARAM_REPELLER_Y,
    PARAM_REPELLER_STRENGTH,
    PARAM_FORCE_RADIUS,
    PARAM_WIND_DIRECTION,
    PARAM_WIND_STRENGTH,
    PARAM_RANDOM_FORCE,
    PARAM_RANDOM_SCALE,
    PARAM_RANDOM_EVOLUTION,
    PARAM_DRAG,
    PARAM_FORCES_GROUP_END,
};

// How a value the host hands back becomes a RenderSettings member.
enum class Conversion : std::uint8_t {
    None,      // layers and groups: not a setting
    Percent,   // slider: rounded to single, times the single 0.01 (100 % is exactly 1)
    AsIs,      // slider: rounded to single (pixels, seconds, factors)
    Degrees,   // slider: rounded to single, kept in degrees (the renderers turn angles into radians)
    Count,     // slider: rounded to single, then truncated toward zero (41.99 gives 41)
    Choice,    // popup: the one-based choice minus 1, as the member's enumeration
    Checkbox,  // checkbox: any nonzero value is true
};

// The member a row fills. One alternative per member type; a new enumeration
// for a new popup is added here.
using SettingMember =
    std::variant<std::monostate, float RenderSettings::*, std::int32_t RenderSettings::*,
                 bool RenderSettings::*, StretchDirection RenderSettings::*, SweepMode RenderSettings::*,
                 SweepDirection RenderSettings::*, MaskMode RenderSettings::*, MaskChannel RenderSettings::*,
                 RenderMode RenderSettings::*, Composite RenderSettings::*>;

// One control. Sliders use the float fields; popups use choices ("A|B|C"),
// num_choices and the one-based default; checkboxes the default 0 or 1.
// Layers, group starts and group ends use only the kind and name.
struct ParamRow {
    std::int32_t index = 0;  // set from the row's position
    std::int32_t kind = 0;   // PF_Param_*
    std::string_view ui_name;
    float dephault = 0, valid_min = 0, valid_max = 0, slider_min = 0, slider_max = 0;
    std::string_view choices;
    std::int16_t num_choices = 0;
    SettingMember member;
    Conversion conversion = Conversion::None;
};

namespace param_rows {

constexpr ParamRow unconverted(std::int32_t kind, std::string_view name) {
    ParamRow row;
    row.kind = kind;
    row.ui_name = name;
    return row;
}
constexpr ParamRow group(std::string_view name) { return unconverted(PF_Param_GROUP_START, name); }
constexpr ParamRow group_end() { return unconverted(PF_Param_GROUP_END, {}); }
constexpr ParamRow layer(std::string_view name) { return unconverted(PF_Param_LAYER, name); }
constexpr ParamRow converted(std::int32_t kind, std::string_view name, SettingMember member,
                             Conversion conversion, float dephault) {
    ParamRow row = unconverted(kind, name);
    row.member = member;
    row.conversion = conversion;
    row.dephault = dephault;
    return row;
}
constexpr ParamRow checkbox(std::string_view name, bool RenderSettings::*member, bool on) {
    return converted(PF_Param_CHECKBOX, name, member, Conversion::Checkbox, on ? 1.0f : 0.0f);
}
template <class Enum>
constexpr ParamRow popup(std::string_view name, Enum RenderSettings::*member, std::string_view choices) {
    ParamRow row = converted(PF_Param_POPUP, name, member, Conversion::Choice, 1);
    row.choices = choices;
    row.num_choices = 1;
    for (char c : choices) row.num_choices = std::int16_t(row.num_choices + (c == '|'));
    return row;
}
template <class Number>
constexpr ParamRow slider(std::string_view name, Number RenderSettings::*member, Conversion conversion,
                          float dephault, float valid_min, float valid_max, float slider_min,
                          float slider_max) {
    ParamRow row = converted(PF_Param_FLOAT_SLIDER, name, member, conversion, dephault);
    row.valid_min = valid_min;
    row.valid_max = valid_max;
    row.slider_min = slider_min;
    row.slider_max = slider_max;
    return row;
}

template <std::size_t N>
constexpr std::array<ParamRow, N> numbered(std::array<ParamRow, N> rows) {
    for (std::size_t i = 0; i < N; ++i) rows[i].index = std::int32_t(i + 1);
    return rows;
}

}  // namespace param_rows

// Rows for indices 1 and up, in declaration order.
inline constexpr auto PARAM_TABLE = [] {
    using namespace param_rows;
    using S = RenderSettings;
    constexpr Conversion PERCENT = Conversion::Percent, AS_IS = Conversion::AsIs, COUNT = Conversion::Count,
                         DEGREES = Conversion::Degrees;
    return numbered(std::array{
        group("Pixels"),
        popup("Direction", &S::direction, "Horizontal|Vertical|Radial Out|Radial In"),
        checkbox("Reverse Direction", &S::reverse_direction, false),
        slider("Lower Brightness (%)", &S::lower_brightness, PERCENT, 8, 0, 1600, 0, 100),
        slider("Upper Brightness (%)", &S::upper_brightness, PERCENT, 100, 0, 1600, 0, 100),
        slider("Streak Length (px)", &S::streak_length, AS_IS, 640, 1, 32768, 1, 2000),
        slider("Length Variation (%)", &S::length_variation, PERCENT, 35, 0, 100, 0, 100),
        slider("Random Seed", &S::random_seed, COUNT, 42, 0, 1000000, 0, 1000),
        slider("Amount (%)", &S::amount, PERCENT, 100, 0, 100, 0, 100),
        checkbox("Preserve Input Alpha", &S::preserve_input_alpha, false),
        group_end(),

        group("Animated Sweep"),
        popup("Sweep Mode", &S::sweep_mode, "Off|Pass Through|Build Up|Clear Away"),
        popup("Sweep Direction", &S::sweep_direction,
              "Left to Right|Right to Left|Top to Bottom|Bottom to Top"),
        slider("Sweep Position (%)", &S::sweep_position, PERCENT, 50, 0, 100, 0, 100),
        slider("Band Width (%)", &S::band_width, PERCENT, 30, 0, 100, 0, 100),
        slider("Edge Feather (%)", &S::edge_feather, PERCENT, 50, 0, 100, 0, 100),
        group_end(),

        group("Mask Source"),
        popup("Mask Mode", &S::mask_mode, "Off - Full Frame Sort|Sort Inside Mask|Stretch From Mask"),
        layer("Mask Layer"),
        popup("Mask Channel", &S::mask_channel, "Alpha|Luminance"),
        checkbox("Invert Mask", &S::invert_mask, false),
        slider("Mask Threshold (%)", &S::mask_threshold, PERCENT, 1, 0, 100, 0, 100),
        slider("Stretch Tip Feather (%)", &S::stretch_tip_feather, PERCENT, 15, 0, 100, 0, 100),
        checkbox("Show Mask", &S::show_mask, false),
        group_end(),

        group("Streams and Particles"),
        popup("Render Mode", &S::render_mode, "Classic Lines|Force Lines|Particles"),
        popup("Composite", &S::composite, "Over Original|Streams Only"),
        slider("Emitter Spacing (px)", &S::emitter_spacing, AS_IS, 12, 1, 256, 1, 64),
        slider("Stream Size (px)", &S::stream_size, AS_IS, 3, 0, 128, 0, 24),
        slider("Lifespan (sec)", &S::lifespan, AS_IS, 2.5f, 0.05f, 12, 0.05f, 6),
        slider("Launch Speed (px/sec)", &S::launch_speed, AS_IS, 260, 0, 4000, 0, 1000),
        slider("Trail Length (sec)", &S::trail_length, AS_IS, 1.2f, 0, 12, 0, 6),
        slider("Particle Count", &S::particle_count, COUNT, 1500, 0, 12000, 0, 4000),
        slider("Birth Size (%)", &S::birth_size, PERCENT, 100, 0, 800, 0, 300),
        slider("End Size (%)", &S::end_size, PERCENT, 0, 0, 800, 0, 300),
        slider("Growth Curve", &S::growth_curve, AS_IS, 1, 0.1f, 8, 0.1f, 4),
        slider("Stream Opacity (%)", &S::stream_opacity, PERCENT, 85, 0, 100, 0, 100),
        checkbox("Pre-roll Particles", &S::preroll_particles, true),
        group_end(),

        group("Forces"),
        slider("Launch Spread (deg)", &S::launch_spread, DEGREES, 0, 0, 360, 0, 180),
        slider("Center X (%)", &S::center_x, PERCENT, 50, -200, 300, -200, 100),
        slider("Center Y (%)", &S::center_y, PERCENT, 50, -200, 300, -200, 100),
        slider("Attractor Strength", &S::attractor_strength, AS_IS, 0, 0, 4000, 0, 1500),
        slider("Repeller X (%)", &S::repeller_x, PERCENT, 50, -200, 300, -200, 100),
        slider("Repeller Y (%)", &S::repeller_y, PERCENT, 50, -200, 300, -200, 100),
        slider("Repeller Strength", &S::repeller_strength, AS_IS, 0, 0, 4000, 0, 1500),
        slider("Force Radius (px)", &S::force_radius, AS_IS, 600, 1, 12000, 1, 2000),
        slider("Wind Direction (deg)", &S::wind_direction, DEGREES, 0, -3600, 3600, -3600, 360),
        slider("Wind Strength", &S::wind_strength, AS_IS, 0, 0, 4000, 0, 1500),
        slider("Random Force", &S::random_force, AS_IS, 0, 0, 4000, 0, 1500),
        slider("Random Scale (px)", &S::random_scale, AS_IS, 180, 4, 4000, 4, 600),
        slider("Random Evolution", &S::random_evolution, AS_IS, 0.35f, 0, 10, 0, 3),
        slider("Drag", &S::drag, AS_IS, 0.2f, 0, 20, 0, 5),
        group_end(),
    });
}();

// Counts, derived from the table.
inline constexpr std::int32_t PARAM_COUNT = std::int32_t(PARAM_TABLE.size()) + 1;  // the input layer included
inline constexpr std::size_t SETTINGS_PARAM_COUNT =
    std::size_t(std::count_if(PARAM_TABLE.begin(), PARAM_TABLE.end(),
                              [](const ParamRow& r) { return r.conversion != Conversion::None; }));

// The parameters RenderSettings is read from, in ascending index.
inline constexpr auto SETTINGS_PARAMS = [] {
    std::array<std::int32_t, SETTINGS_PARAM_COUNT> indices{};
    std::size_t n = 0;
    for (const ParamRow& r : PARAM_TABLE)
        if (r.conversion != Conversion::None) indices[n++] = r.index;
    return indices;
}();

constexpr const ParamRow& param_row(std::int32_t index) { return PARAM_TABLE[std::size_t(index - 1)]; }

// The layers the render commands check out are where the code expects them.
static_assert(param_row(PARAM_MASK_LAYER).kind == PF_Param_LAYER &&
              param_row(PARAM_MASK_LAYER).ui_name == "Mask Layer");
static_assert(param_row(PARAM_FORCES_GROUP_END).kind == PF_Param_GROUP_END &&
              PARAM_COUNT > PARAM_FORCES_GROUP_END);

// Sliders show two decimal places.
inline constexpr std::int16_t SLIDER_PRECISION = 2;

// The host record for one row: cleared, then filled as the host expects.
PF_ParamDef make_param_def(std::int32_t index);

// Parameter setup: one add_param call per row, in order. The first nonzero
// result of the host ends the declaration and is returned; num_params is set
// only when every row was accepted.
PF_Err declare_parameters(const PF_InData& in_data, PF_OutData& out_data);

}  // namespace lumatrail
