#include "host/parameters.h"

#include <algorithm>
#include <cstring>

namespace lumatrail {
namespace {

constexpr ParamRow group(std::string_view name) { return {PF_Param_GROUP_START, name, 0, 0, 0, 0, 0, {}, 0}; }
constexpr ParamRow group_end() { return {PF_Param_GROUP_END, {}, 0, 0, 0, 0, 0, {}, 0}; }
constexpr ParamRow layer(std::string_view name) { return {PF_Param_LAYER, name, 0, 0, 0, 0, 0, {}, 0}; }
constexpr ParamRow checkbox(std::string_view name, bool on) {
    return {PF_Param_CHECKBOX, name, on ? 1.0f : 0.0f, 0, 0, 0, 0, {}, 0};
}
constexpr ParamRow popup(std::string_view name, std::string_view choices) {
    std::int16_t count = 1;
    for (char c : choices) count = std::int16_t(count + (c == '|'));
    return {PF_Param_POPUP, name, 1, 0, 0, 0, 0, choices, count};
}
constexpr ParamRow slider(std::string_view name, float dephault, float valid_min, float valid_max,
                          float slider_min, float slider_max) {
    return {PF_Param_FLOAT_SLIDER, name, dephault, valid_min, valid_max, slider_min, slider_max, {}, 0};
}

}  // namespace

const std::array<ParamRow, PARAM_COUNT - 1> PARAM_TABLE = {{
    group("Pixels"),
    popup("Direction", "Horizontal|Vertical|Radial Out|Radial In"),
    checkbox("Reverse Direction", false),
    slider("Lower Brightness (%)", 8, 0, 1600, 0, 100),
    slider("Upper Brightness (%)", 100, 0, 1600, 0, 100),
    slider("Streak Length (px)", 640, 1, 32768, 1, 2000),
    slider("Length Variation (%)", 35, 0, 100, 0, 100),
    slider("Random Seed", 42, 0, 1000000, 0, 1000),
    slider("Amount (%)", 100, 0, 100, 0, 100),
    checkbox("Preserve Input Alpha", false),
    group_end(),

    group("Animated Sweep"),
    popup("Sweep Mode", "Off|Pass Through|Build Up|Clear Away"),
    popup("Sweep Direction", "Left to Right|Right to Left|Top to Bottom|Bottom to Top"),
    slider("Sweep Position (%)", 50, 0, 100, 0, 100),
    slider("Band Width (%)", 30, 0, 100, 0, 100),
    slider("Edge Feather (%)", 50, 0, 100, 0, 100),
    group_end(),

    group("Mask Source"),
    popup("Mask Mode", "Off - Full Frame Sort|Sort Inside Mask|Stretch From Mask"),
    layer("Mask Layer"),
    popup("Mask Channel", "Alpha|Luminance"),
    checkbox("Invert Mask", false),
    slider("Mask Threshold (%)", 1, 0, 100, 0, 100),
    slider("Stretch Tip Feather (%)", 15, 0, 100, 0, 100),
    checkbox("Show Mask", false),
    group_end(),

    group("Streams and Particles"),
    popup("Render Mode", "Classic Lines|Force Lines|Particles"),
    popup("Composite", "Over Original|Streams Only"),
    slider("Emitter Spacing (px)", 12, 1, 256, 1, 64),
    slider("Stream Size (px)", 3, 0, 128, 0, 24),
    slider("Lifespan (sec)", 2.5f, 0.05f, 12, 0.05f, 6),
    slider("Launch Speed (px/sec)", 260, 0, 4000, 0, 1000),
    slider("Trail Length (sec)", 1.2f, 0, 12, 0, 6),
    slider("Particle Count", 1500, 0, 12000, 0, 4000),
    slider("Birth Size (%)", 100, 0, 800, 0, 300),
    slider("End Size (%)", 0, 0, 800, 0, 300),
    slider("Growth Curve", 1, 0.1f, 8, 0.1f, 4),
    slider("Stream Opacity (%)", 85, 0, 100, 0, 100),
    checkbox("Pre-roll Particles", true),
    group_end(),

    group("Forces"),
    slider("Launch Spread (deg)", 0, 0, 360, 0, 180),
    slider("Center X (%)", 50, -200, 300, -200, 100),
    slider("Center Y (%)", 50, -200, 300, -200, 100),
    slider("Attractor Strength", 0, 0, 4000, 0, 1500),
    slider("Repeller X (%)", 50, -200, 300, -200, 100),
    slider("Repeller Y (%)", 50, -200, 300, -200, 100),
    slider("Repeller Strength", 0, 0, 4000, 0, 1500),
    slider("Force Radius (px)", 600, 1, 12000, 1, 2000),
    slider("Wind Direction (deg)", 0, -3600, 3600, -3600, 360),
    slider("Wind Strength", 0, 0, 4000, 0, 1500),
    slider("Random Force", 0, 0, 4000, 0, 1500),
    slider("Random Scale (px)", 180, 4, 4000, 4, 600),
    slider("Random Evolution", 0.35f, 0, 10, 0, 3),
    slider("Drag", 0.2f, 0, 20, 0, 5),
    group_end(),
}};

PF_ParamDef make_param_def(std::int32_t index) {
    const ParamRow& row = param_row(index);
    PF_ParamDef def;
    std::memset(&def, 0, sizeof def);
    def.param_type = row.kind;
    def.uu.id = index;
    const std::size_t name_length = std::min(row.ui_name.size(), sizeof def.name - 1);
    if (name_length > 0) std::memcpy(def.name, row.ui_name.data(), name_length);  // group ends have none
    switch (row.kind) {
    case PF_Param_FLOAT_SLIDER:
        def.u.fs_d.value = double(row.dephault);  // the single-precision default, widened
        def.u.fs_d.dephault = row.dephault;
        def.u.fs_d.valid_min = row.valid_min;
        def.u.fs_d.valid_max = row.valid_max;
        def.u.fs_d.slider_min = row.slider_min;
        def.u.fs_d.slider_max = row.slider_max;
        def.u.fs_d.precision = SLIDER_PRECISION;
        break;
    case PF_Param_POPUP:
        def.u.pd.num_choices = row.num_choices;
        def.u.pd.dephault = std::int16_t(row.dephault);
        def.u.pd.value = std::int32_t(row.dephault);
        def.u.pd.u.namesptr = row.choices.data();  // a string literal: zero-terminated
        break;
    case PF_Param_CHECKBOX:
        def.u.bd.value = std::int32_t(row.dephault);
        def.u.bd.dephault = std::uint8_t(row.dephault);
        def.u.bd.u.nameptr = "";
        break;
    default:  // layer (no default layer), group start and end
        break;
    }
    return def;
}

PF_Err declare_parameters(const PF_InData& in_data, PF_OutData& out_data) {
    for (std::int32_t index = 1; index < PARAM_COUNT; ++index) {
        PF_ParamDef def = make_param_def(index);
        if (const PF_Err err = in_data.inter.add_param(in_data.effect_ref, -1, &def)) return err;
    }
    out_data.num_params = PARAM_COUNT;
    return PF_Err_NONE;
}

}  // namespace lumatrail
