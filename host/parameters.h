// The effect's controls: their indices, the one table that describes them, and
// their declaration to the host on parameter setup.
//
// The index of a parameter is its position in the host's list (the input layer
// that the host adds itself is index 0). Hosts store projects by these indices
// and identifiers, so rows are never reordered or removed.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "host/host_contract.h"

namespace lumatrail {

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
    PARAM_COUNT
};
static_assert(PARAM_MASK_LAYER == 21 && PARAM_FORCES_GROUP_END == 58 && PARAM_COUNT == 59);

// One declared control. Sliders use the float fields; popups use choices
// ("A|B|C"), num_choices and the one-based default; checkboxes the default
// 0 or 1. Layers, group starts and group ends use only the kind and name.
struct ParamRow {
    std::int32_t kind;  // PF_Param_*
    std::string_view ui_name;
    float dephault;
    float valid_min, valid_max;
    float slider_min, slider_max;
    std::string_view choices;
    std::int16_t num_choices;
};

// Rows for indices 1 .. PARAM_COUNT - 1, in declaration order.
extern const std::array<ParamRow, PARAM_COUNT - 1> PARAM_TABLE;

inline const ParamRow& param_row(std::int32_t index) { return PARAM_TABLE[std::size_t(index - 1)]; }

// Sliders show two decimal places.
inline constexpr std::int16_t SLIDER_PRECISION = 2;

// The host record for one row: cleared, then filled as the host expects.
PF_ParamDef make_param_def(std::int32_t index);

// Parameter setup: one add_param call per row, in order. The first nonzero
// result of the host ends the declaration and is returned; num_params is set
// only when every row was accepted.
PF_Err declare_parameters(const PF_InData& in_data, PF_OutData& out_data);

}  // namespace lumatrail
