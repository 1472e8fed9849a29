#include "host/settings_fill.h"

#include <cstring>

#include "engine/effect_math.h"
#include "host/host_error.h"
#include "host/parameters.h"

namespace lumatrail {

const std::int32_t SETTINGS_PARAMS[47] = {
    PARAM_DIRECTION,        PARAM_REVERSE_DIRECTION,  PARAM_LOWER_BRIGHTNESS,
    PARAM_UPPER_BRIGHTNESS, PARAM_STREAK_LENGTH,      PARAM_LENGTH_VARIATION,
    PARAM_RANDOM_SEED,      PARAM_AMOUNT,             PARAM_PRESERVE_INPUT_ALPHA,
    PARAM_SWEEP_MODE,       PARAM_SWEEP_DIRECTION,    PARAM_SWEEP_POSITION,
    PARAM_BAND_WIDTH,       PARAM_EDGE_FEATHER,       PARAM_MASK_MODE,
    PARAM_MASK_CHANNEL,     PARAM_INVERT_MASK,        PARAM_MASK_THRESHOLD,
    PARAM_STRETCH_TIP_FEATHER, PARAM_SHOW_MASK,       PARAM_RENDER_MODE,
    PARAM_COMPOSITE,        PARAM_EMITTER_SPACING,    PARAM_STREAM_SIZE,
    PARAM_LIFESPAN,         PARAM_LAUNCH_SPEED,       PARAM_TRAIL_LENGTH,
    PARAM_PARTICLE_COUNT,   PARAM_BIRTH_SIZE,         PARAM_END_SIZE,
    PARAM_GROWTH_CURVE,     PARAM_STREAM_OPACITY,     PARAM_PREROLL_PARTICLES,
    PARAM_LAUNCH_SPREAD,    PARAM_CENTER_X,           PARAM_CENTER_Y,
    PARAM_ATTRACTOR_STRENGTH, PARAM_REPELLER_X,       PARAM_REPELLER_Y,
    PARAM_REPELLER_STRENGTH, PARAM_FORCE_RADIUS,      PARAM_WIND_DIRECTION,
    PARAM_WIND_STRENGTH,    PARAM_RANDOM_FORCE,       PARAM_RANDOM_SCALE,
    PARAM_RANDOM_EVOLUTION, PARAM_DRAG,
};

namespace {

// The value a parameter had when it was checked out, in the host's own types.
struct HostValue {
    double slider = 0.0;
    std::int32_t choice = 0;  // popups: one-based; checkboxes: 0 or not
};

// Percentages become fractions by a float multiplication (not a division by
// 100), so that 100 % is exactly 1 and 15 % is 15 * 0.01f.
float percent(double v) { return float(v) * 0.01f; }
float as_is(double v) { return float(v); }

// Rounded to single precision, then truncated toward zero (41.99 gives 41).
// Values the host should never send (NaN, beyond the int range) saturate
// instead of being undefined.
std::int32_t count(double v) { return to_int32_saturated(float(v)); }

std::int32_t zero_based(std::int32_t choice) { return choice - 1; }

void store(RenderSettings& s, std::int32_t index, const HostValue& v) {
    switch (index) {
    case PARAM_DIRECTION:
        s.vertical = v.choice == 2;
        s.direction = zero_based(v.choice);
        break;
    case PARAM_REVERSE_DIRECTION: s.reverse_direction = v.choice != 0; break;
    case PARAM_LOWER_BRIGHTNESS: s.lower_brightness = percent(v.slider); break;
    case PARAM_UPPER_BRIGHTNESS: s.upper_brightness = percent(v.slider); break;
    case PARAM_STREAK_LENGTH: s.streak_length = as_is(v.slider); break;
    case PARAM_LENGTH_VARIATION: s.length_variation = percent(v.slider); break;
    case PARAM_RANDOM_SEED: s.random_seed = count(v.slider); break;
    case PARAM_AMOUNT: s.amount = percent(v.slider); break;
    case PARAM_PRESERVE_INPUT_ALPHA: s.preserve_input_alpha = v.choice != 0; break;
    case PARAM_SWEEP_MODE: s.sweep_mode = zero_based(v.choice); break;
    case PARAM_SWEEP_DIRECTION: s.sweep_direction = zero_based(v.choice); break;
    case PARAM_SWEEP_POSITION: s.sweep_position = percent(v.slider); break;
    case PARAM_BAND_WIDTH: s.band_width = percent(v.slider); break;
    case PARAM_EDGE_FEATHER: s.edge_feather = percent(v.slider); break;
    case PARAM_MASK_MODE: s.mask_mode = zero_based(v.choice); break;
    case PARAM_MASK_CHANNEL: s.mask_channel = zero_based(v.choice); break;
    case PARAM_INVERT_MASK: s.invert_mask = v.choice != 0; break;
    case PARAM_MASK_THRESHOLD: s.mask_threshold = percent(v.slider); break;
    case PARAM_STRETCH_TIP_FEATHER: s.stretch_tip_feather = percent(v.slider); break;
    case PARAM_SHOW_MASK: s.show_mask = v.choice != 0; break;
    case PARAM_RENDER_MODE: s.render_mode = zero_based(v.choice); break;
    case PARAM_COMPOSITE: s.streams_only = v.choice == 2; break;
    case PARAM_EMITTER_SPACING: s.emitter_spacing = as_is(v.slider); break;
    case PARAM_STREAM_SIZE: s.stream_size = as_is(v.slider); break;
    case PARAM_LIFESPAN: s.lifespan = as_is(v.slider); break;
    case PARAM_LAUNCH_SPEED: s.launch_speed = as_is(v.slider); break;
    case PARAM_TRAIL_LENGTH: s.trail_length = as_is(v.slider); break;
    case PARAM_PARTICLE_COUNT: s.particle_count = count(v.slider); break;
    case PARAM_BIRTH_SIZE: s.birth_size = percent(v.slider); break;
    case PARAM_END_SIZE: s.end_size = percent(v.slider); break;
    case PARAM_GROWTH_CURVE: s.growth_curve = as_is(v.slider); break;
    case PARAM_STREAM_OPACITY: s.stream_opacity = percent(v.slider); break;
    case PARAM_PREROLL_PARTICLES: s.preroll_particles = v.choice != 0; break;
    case PARAM_LAUNCH_SPREAD: s.launch_spread = as_is(v.slider); break;
    case PARAM_CENTER_X: s.center_x = percent(v.slider); break;
    case PARAM_CENTER_Y: s.center_y = percent(v.slider); break;
    case PARAM_ATTRACTOR_STRENGTH: s.attractor_strength = as_is(v.slider); break;
    case PARAM_REPELLER_X: s.repeller_x = percent(v.slider); break;
    case PARAM_REPELLER_Y: s.repeller_y = percent(v.slider); break;
    case PARAM_REPELLER_STRENGTH: s.repeller_strength = as_is(v.slider); break;
    case PARAM_FORCE_RADIUS: s.force_radius = as_is(v.slider); break;
    case PARAM_WIND_DIRECTION: s.wind_direction = as_is(v.slider); break;
    case PARAM_WIND_STRENGTH: s.wind_strength = as_is(v.slider); break;
    case PARAM_RANDOM_FORCE: s.random_force = as_is(v.slider); break;
    case PARAM_RANDOM_SCALE: s.random_scale = as_is(v.slider); break;
    case PARAM_RANDOM_EVOLUTION: s.random_evolution = as_is(v.slider); break;
    case PARAM_DRAG: s.drag = as_is(v.slider); break;
    default: break;
    }
}

HostValue copy_value(std::int32_t index, const PF_ParamDef& def) {
    HostValue v;
    switch (param_row(index).kind) {
    case PF_Param_FLOAT_SLIDER: v.slider = def.u.fs_d.value; break;
    case PF_Param_POPUP: v.choice = def.u.pd.value; break;
    case PF_Param_CHECKBOX: v.choice = def.u.bd.value; break;
    default: break;
    }
    return v;
}

}  // namespace

RenderSettings ReadRenderSettings(const PF_InData& in_data) {
    RenderSettings settings;
    for (const std::int32_t index : SETTINGS_PARAMS) {
        PF_ParamDef def;
        std::memset(&def, 0, sizeof def);
        throw_if_error(in_data.inter.checkout_param(in_data.effect_ref, index,
                                                    in_data.current_time, in_data.time_step,
                                                    in_data.time_scale, &def));
        const HostValue value = copy_value(index, def);
        in_data.inter.checkin_param(in_data.effect_ref, &def);  // its result is not examined
        store(settings, index, value);
    }
    settings.time_seconds = in_data.time_scale == 0
                                ? 0.0
                                : double(in_data.current_time) / double(in_data.time_scale);
    return settings;
}

}  // namespace lumatrail
