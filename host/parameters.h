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
// Layers, group starts and group ends use only the kind and name. Every row
// but a group end carries its explanation.
struct ParamRow {
    std::int32_t index = 0;  // set from the row's position
    std::int32_t kind = 0;   // PF_Param_*
    std::string_view ui_name;
    float dephault = 0, valid_min = 0, valid_max = 0, slider_min = 0, slider_max = 0;
    std::string_view choices;
    std::int16_t num_choices = 0;
    SettingMember member;
    Conversion conversion = Conversion::None;
    // What the control does and how it plays with the others, for the
    // controls reference (docs/controls.md, from `lumatrail params --markdown`).
    std::string_view explanation;
};

namespace param_rows {

constexpr ParamRow unconverted(std::int32_t kind, std::string_view name, std::string_view explanation) {
    ParamRow row;
    row.kind = kind;
    row.ui_name = name;
    row.explanation = explanation;
    return row;
}
constexpr ParamRow group(std::string_view name, std::string_view explanation) {
    return unconverted(PF_Param_GROUP_START, name, explanation);
}
constexpr ParamRow group_end() { return unconverted(PF_Param_GROUP_END, {}, {}); }
constexpr ParamRow layer(std::string_view name, std::string_view explanation) {
    return unconverted(PF_Param_LAYER, name, explanation);
}
constexpr ParamRow converted(std::int32_t kind, std::string_view name, SettingMember member,
                             Conversion conversion, float dephault, std::string_view explanation) {
    ParamRow row = unconverted(kind, name, explanation);
    row.member = member;
    row.conversion = conversion;
    row.dephault = dephault;
    return row;
}
constexpr ParamRow checkbox(std::string_view name, bool RenderSettings::*member, bool on,
                            std::string_view explanation) {
    return converted(PF_Param_CHECKBOX, name, member, Conversion::Checkbox, on ? 1.0f : 0.0f, explanation);
}
template <class Enum>
constexpr ParamRow popup(std::string_view name, Enum RenderSettings::*member, std::string_view choices,
                         std::string_view explanation) {
    ParamRow row = converted(PF_Param_POPUP, name, member, Conversion::Choice, 1, explanation);
    row.choices = choices;
    row.num_choices = 1;
    for (char c : choices) row.num_choices = std::int16_t(row.num_choices + (c == '|'));
    return row;
}
template <class Number>
constexpr ParamRow slider(std::string_view name, Number RenderSettings::*member, Conversion conversion,
                          float dephault, float valid_min, float valid_max, float slider_min,
                          float slider_max, std::string_view explanation) {
    ParamRow row = converted(PF_Param_FLOAT_SLIDER, name, member, conversion, dephault, explanation);
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
        group("Pixels",
              "What moves and how far: the brightness window that chooses the pixels, the seeded lengths of "
              "the sorted chunks and streaks, and how much of the result is mixed in. The stream modes read "
              "the brightness window, Streak Length and the seed too."),
        popup(
            "Direction", &S::direction, "Horizontal|Vertical|Radial Out|Radial In",
            "Horizontal sorts along rows and Vertical along columns (with Render Mode Classic Lines). Radial "
            "Out and Radial In launch colour-sampled streams along rays away from or towards Center X/Y "
            "instead; Force Lines and Particles also start their streams along this direction."),
        checkbox("Reverse Direction", &S::reverse_direction, false,
                 "Sorted chunks run from bright to dark instead of dark to bright; Stretch From Mask smears "
                 "towards the start of the row or column; streams launch the other way (Radial In reversed "
                 "points outward)."),
        slider("Lower Brightness (%)", &S::lower_brightness, PERCENT, 8, 0, 1600, 0, 100,
               "Pixels darker than this take no part. With Upper Brightness it chooses which spans (runs of "
               "neighbouring pixels inside the window) are sorted and which pixels may emit streams: 60 to "
               "100 % sorts only the highlights. Values above 100 % reach the over-bright pixels of float "
               "pictures; a Lower above the Upper is treated as the two swapped."),
        slider("Upper Brightness (%)", &S::upper_brightness, PERCENT, 100, 0, 1600, 0, 100,
               "Pixels brighter than this take no part; see Lower Brightness. 0 to 40 % sorts only the "
               "shadows."),
        slider("Streak Length (px)", &S::streak_length, AS_IS, 640, 1, 32768, 1, 2000,
               "The longest chunk a span is cut into before each chunk is sorted, and the reach of a Stretch "
               "From Mask streak, in full-resolution pixels. For lines it sets how long they travel: Streak "
               "Length / Launch Speed seconds, at most 12."),
        slider("Length Variation (%)", &S::length_variation, PERCENT, 35, 0, 100, 0, 100,
               "How much the chunk lengths, the streak reaches and the lines' lengths vary: at 0 % each is "
               "Streak Length long, at 100 % they spread from Streak Length down to a pixel. Every length "
               "comes from Random Seed and the position, so it stays the same from frame to frame."),
        slider("Random Seed", &S::random_seed, COUNT, 42, 0, 1000000, 0, 1000,
               "Chooses the random pattern: chunk lengths, streak reaches, the pixels that emit, the "
               "particles' phases and the noise field. The same seed always gives the same picture; another "
               "seed gives another pattern of the same look."),
        slider("Amount (%)", &S::amount, PERCENT, 100, 0, 100, 0, 100,
               "Mixes the result with the original layer: 100 % is the full effect, 0 % the layer untouched. "
               "The sweep band (and Sort Inside Mask, by the mask's strength) scales it pixel by pixel."),
        checkbox(
            "Preserve Input Alpha", &S::preserve_input_alpha, false,
            "Keeps the layer's own transparency: a moved pixel or a stream takes the alpha of the pixel it "
            "lands on, so nothing spills into transparent areas."),
        group_end(),

        group("Animated Sweep",
              "Limits the effect to a band or a front that crosses the frame as Sweep Position is animated: "
              "reveals, wipes and passing glitches. Applies to every mode."),
        popup(
            "Sweep Mode", &S::sweep_mode, "Off|Pass Through|Build Up|Clear Away",
            "Off applies the effect everywhere. Pass Through shows it only inside a band that travels from "
            "before the starting edge (Sweep Position 0 %) to past the far edge (100 %). Build Up covers the "
            "frame from the starting edge up to a moving front, all of it at 100 %; Clear Away is its "
            "opposite, the effect left only beyond the front and gone at 100 %."),
        popup("Sweep Direction", &S::sweep_direction,
              "Left to Right|Right to Left|Top to Bottom|Bottom to Top",
              "The edge the band or front starts from and the way it travels."),
        slider("Sweep Position (%)", &S::sweep_position, PERCENT, 50, 0, 100, 0, 100,
               "Where the band or front is, from 0 % to 100 % of its travel; keyframe it from 0 to 100 to "
               "sweep. Pass Through shows nothing at exactly 0 % and 100 %."),
        slider("Band Width (%)", &S::band_width, PERCENT, 30, 0, 100, 0, 100,
               "Pass Through: the band's width, as a share of the frame (0 % shows nothing). Build Up and "
               "Clear Away: the width of the front's soft edge, together with Edge Feather."),
        slider("Edge Feather (%)", &S::edge_feather, PERCENT, 50, 0, 100, 0, 100,
               "How soft the band's edges are: the share of the band's half width (Pass Through) or of the "
               "band width (Build Up, Clear Away) over which the effect fades; 0 % gives hard edges."),
        group_end(),

        group("Mask Source",
              "A second layer that limits the sort to an area or is smeared outward into streaks."),
        popup(
            "Mask Mode", &S::mask_mode, "Off - Full Frame Sort|Sort Inside Mask|Stretch From Mask",
            "Off - Full Frame Sort ignores the mask. Sort Inside Mask sorts only where the mask is on, "
            "blended by its strength, and lets only those pixels emit streams. Stretch From Mask leaves the "
            "masked area as it is and smears the last pixel of each run of the mask outward by up to Streak "
            "Length, with a feathered tip; in the line modes streams start from the mask's edges instead. "
            "Without a Mask Layer both mask modes leave the layer unchanged."),
        layer("Mask Layer",
              "The layer the mask is read from, stretched over the effect's layer whatever its size (on the "
              "command line: --mask PATH, or --mask builtin)."),
        popup("Mask Channel", &S::mask_channel, "Alpha|Luminance",
              "Which of the mask layer's values count: its alpha, or its luminance (for a black and white "
              "matte without transparency)."),
        checkbox("Invert Mask", &S::invert_mask, false, "Swaps the inside and the outside of the mask."),
        slider("Mask Threshold (%)", &S::mask_threshold, PERCENT, 1, 0, 100, 0, 100,
               "Mask values at or below it count as outside; above it the mask's strength rises to full at "
               "100 %. Raise it to ignore a soft matte's faint fringe; at 100 % only fully-on pixels count."),
        slider("Stretch Tip Feather (%)", &S::stretch_tip_feather, PERCENT, 15, 0, 100, 0, 100,
               "The last part of each Stretch From Mask streak, and of each line in the stream modes, over "
               "which it fades out; 0 % gives blunt ends, 100 % a fade over the whole length."),
        checkbox("Show Mask", &S::show_mask, false,
                 "Shows the mask as the effect sees it (after Mask Channel, Invert and Threshold) in grey "
                 "instead of the result, to set it up; turn it off to render."),
        group_end(),

        group("Streams and Particles",
              "How the radial directions, Force Lines and Particles draw: streams launched from emitter "
              "pixels, each in its emitter's colour, drawn as tapered antialiased strokes."),
        popup(
            "Render Mode", &S::render_mode, "Classic Lines|Force Lines|Particles",
            "Classic Lines sorts rows or columns (Horizontal, Vertical) and draws rays of lines (Radial Out, "
            "Radial In). Force Lines draws from up to 6000 emitters the path a stream launched now would "
            "take under the forces; the lines hold still unless the noise evolves or a control is animated. "
            "Particles keeps Particle Count particles alive, each born at a random emitter, moved by the "
            "forces for its Lifespan and drawn with a trail."),
        popup("Composite", &S::composite, "Over Original|Streams Only",
              "Over Original draws the streams over the layer; Streams Only draws them on transparent black, "
              "to be composited later."),
        slider("Emitter Spacing (px)", &S::emitter_spacing, AS_IS, 12, 1, 256, 1, 64,
               "Streams start from at most one pixel in each square cell of this size, chosen at random "
               "among the pixels inside the brightness window (and the mask): smaller spacing, denser "
               "streams. Large frames get coarser cells, about 65536 at most."),
        slider("Stream Size (px)", &S::stream_size, AS_IS, 3, 0, 128, 0, 24,
               "The strokes' width in full-resolution pixels, scaled over each stream's life by Birth Size "
               "and End Size; 0 draws nothing."),
        slider("Lifespan (sec)", &S::lifespan, AS_IS, 2.5f, 0.05f, 12, 0.05f, 6,
               "A particle's life from birth to death, after which it is reborn at another emitter; it fades "
               "in over the first 6 % and out over the last 18 %. Lines do not use it."),
        slider(
            "Launch Speed (px/sec)", &S::launch_speed, AS_IS, 260, 0, 4000, 0, 1000,
            "The speed at which streams leave their emitter along the launch direction, before the forces "
            "act. Lines travel for Streak Length / Launch Speed seconds, so without forces a line is about "
            "Streak Length long whatever the speed."),
        slider("Trail Length (sec)", &S::trail_length, AS_IS, 1.2f, 0, 12, 0, 6,
               "How many seconds of a particle's recent path are drawn behind its head, fading in at the "
               "oldest end; 0 draws only the heads."),
        slider("Particle Count", &S::particle_count, COUNT, 1500, 0, 12000, 0, 4000,
               "How many particles are alive at once (Particles only)."),
        slider("Birth Size (%)", &S::birth_size, PERCENT, 100, 0, 800, 0, 300,
               "A stream's width at the start of its life, as a share of Stream Size."),
        slider("End Size (%)", &S::end_size, PERCENT, 0, 0, 800, 0, 300,
               "A stream's width at the end of its life, as a share of Stream Size: with the defaults "
               "(Birth 100 %, End 0 %) streams taper to a point; above Birth Size they swell."),
        slider("Growth Curve", &S::growth_curve, AS_IS, 1, 0.1f, 8, 0.1f, 4,
               "How the width goes from Birth Size to End Size: 1 evenly, above 1 it keeps near the birth "
               "size for longer, below 1 it changes early."),
        slider("Stream Opacity (%)", &S::stream_opacity, PERCENT, 85, 0, 100, 0, 100,
               "The strokes' opacity; each stream's is also scaled by its emitter's mask strength."),
        checkbox("Pre-roll Particles", &S::preroll_particles, true,
                 "On: particles are already in flight at time 0, as if they had been running before. Off: "
                 "they are born from time 0 on and the frame fills up over the first Lifespan."),
        group_end(),

        group("Forces",
              "Accelerations added together at every 1/60-second step of a stream: wind, the attractor at "
              "the centre, the repeller and a noise field, with Drag slowing everything. They act on the "
              "radial directions, Force Lines and Particles, not on the row and column sort."),
        slider("Launch Spread (deg)", &S::launch_spread, DEGREES, 0, 0, 360, 0, 180,
               "Turns each stream's launch direction by a random angle inside a cone this wide; 360 launches "
               "in every direction."),
        slider("Center X (%)", &S::center_x, PERCENT, 50, -200, 300, -200, 100,
               "The point radial streams start from and the attractor pulls towards, across the layer's "
               "width (0 % left edge, 100 % right edge); it may lie outside the frame."),
        slider("Center Y (%)", &S::center_y, PERCENT, 50, -200, 300, -200, 100,
               "The same point down the layer's height (0 % top, 100 % bottom)."),
        slider("Attractor Strength", &S::attractor_strength, AS_IS, 0, 0, 4000, 0, 1500,
               "Pulls streams towards Center X/Y: full strength near the centre, fading smoothly to nothing "
               "at Force Radius. Strong pull with little Drag makes streams orbit."),
        slider("Repeller X (%)", &S::repeller_x, PERCENT, 50, -200, 300, -200, 100,
               "The repeller's position across the layer's width; it may lie outside the frame."),
        slider("Repeller Y (%)", &S::repeller_y, PERCENT, 50, -200, 300, -200, 100,
               "The repeller's position down the layer's height."),
        slider("Repeller Strength", &S::repeller_strength, AS_IS, 0, 0, 4000, 0, 1500,
               "Pushes streams away from Repeller X/Y, fading to nothing at Force Radius; streams part "
               "around it. At the attractor's point the two cancel."),
        slider("Force Radius (px)", &S::force_radius, AS_IS, 600, 1, 12000, 1, 2000,
               "The reach of the attractor and the repeller, in full-resolution pixels."),
        slider("Wind Direction (deg)", &S::wind_direction, DEGREES, 0, -3600, 3600, -3600, 360,
               "Where the wind blows to: 0 right, 90 down, 180 left, 270 up; animate it past 360 to swing "
               "round."),
        slider("Wind Strength", &S::wind_strength, AS_IS, 0, 0, 4000, 0, 1500,
               "An even push everywhere towards Wind Direction; with Drag, streams settle into a steady "
               "drift, without it they keep speeding up."),
        slider("Random Force", &S::random_force, AS_IS, 0, 0, 4000, 0, 1500,
               "The strength of a smooth swirling noise field that makes paths wander; 0 switches it off."),
        slider("Random Scale (px)", &S::random_scale, AS_IS, 180, 4, 4000, 4, 600,
               "The size of the noise field's swirls, in full-resolution pixels."),
        slider("Random Evolution", &S::random_evolution, AS_IS, 0.35f, 0, 10, 0, 3,
               "How fast the noise field changes, per second: lines then move from frame to frame; 0 "
               "freezes it."),
        slider("Drag", &S::drag, AS_IS, 0.2f, 0, 20, 0, 5,
               "Slows streams in proportion to their speed (per second): 0 lets them coast, high values stop "
               "them soon, so that wind and the point forces steer them."),
        group_end(),
    });
}();

// Counts, derived from the table.
inline constexpr std::int32_t PARAM_COUNT = std::int32_t(PARAM_TABLE.size()) + 1;  // the input layer included
constexpr const ParamRow& param_row(std::int32_t index) { return PARAM_TABLE[std::size_t(index - 1)]; }

// The layers the render commands check out are where the code expects them.
static_assert(param_row(PARAM_MASK_LAYER).kind == PF_Param_LAYER &&
              param_row(PARAM_MASK_LAYER).ui_name == "Mask Layer");
static_assert(param_row(PARAM_FORCES_GROUP_END).kind == PF_Param_GROUP_END &&
              PARAM_COUNT > PARAM_FORCES_GROUP_END);

// Every control says what it does; only group ends are silent.
static_assert(std::all_of(PARAM_TABLE.begin(), PARAM_TABLE.end(), [](const ParamRow& r) {
    return r.kind == PF_Param_GROUP_END ? r.explanation.empty() : !r.explanation.empty();
}));

// Sliders show two decimal places.
inline constexpr std::int16_t SLIDER_PRECISION = 2;

// The host record for one row: cleared, then filled as the host expects.
PF_ParamDef make_param_def(std::int32_t index);

// Parameter setup: one add_param call per row, in order. The first nonzero
// result of the host ends the declaration and is returned; num_params is set
// only when every row was accepted.
PF_Err declare_parameters(const PF_InData& in_data, PF_OutData& out_data);

}  // namespace lumatrail
