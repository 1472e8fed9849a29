// Reading one frame's parameter values from the host into RenderSettings, row
// by row of the parameter table.
#pragma once

#include "engine/render_settings.h"
#include "host/host_contract.h"
#include "host/parameters.h"

namespace lumatrail {

// The value a parameter had when it was checked out, in the host's own types.
struct HostValue {
    double slider = 0.0;
    std::int32_t choice = 0;  // popups: one-based; checkboxes: 0 or not
};

// Converts a value as the row says and stores it into the member the row
// names; rows that are not settings change nothing.
void store_setting(RenderSettings& settings, const ParamRow& row, const HostValue& value);

// Checks out each settings parameter at the frame's own time, copies its value,
// checks it in and stores it. A failing check-out raises HostError with the
// host's code; every parameter checked out before it has been checked in.
RenderSettings ReadRenderSettings(const PF_InData& in_data);

}  // namespace lumatrail
