// The three render commands and their protocol with the host: what is
// requested, acquired and checked out, in which order, and how everything is
// given back on every path. Failures leave as exceptions for EffectMain.
#pragma once

#include "host/host_contract.h"

namespace lumatrail {

// Command 11: renders one 8-bit or 16-bit frame from the parameter list's
// worlds. Nothing is acquired, so nothing needs releasing.
PF_Err render_plain(const PF_InData& in_data, PF_ParamDef* params[], PF_EffectWorld* output);

// Command 23: reads the settings, states the areas needed from the input and
// mask layers, and hands the host a FrameRecord with its delete function.
PF_Err smart_pre_render(const PF_InData& in_data, PF_PreRenderExtra* extra);

// Command 24: renders the frame recorded by command 23 at any of the three
// depths.
PF_Err smart_render(const PF_InData& in_data, PF_SmartRenderExtra* extra);

// Checkout ids of the layer requests.
inline constexpr std::int32_t INPUT_PROBE_ID = 100;
inline constexpr std::int32_t INPUT_CHECKOUT_ID = 101;
inline constexpr std::int32_t MASK_PROBE_ID = 200;
inline constexpr std::int32_t MASK_CHECKOUT_ID = 201;

}  // namespace lumatrail
