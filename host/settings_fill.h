// Reading one frame's parameter values from the host into RenderSettings.
#pragma once

#include "engine/render_settings.h"
#include "host/host_contract.h"

namespace lumatrail {

// The 47 parameters RenderSettings is read from, in ascending index (the
// groups, the input layer and the mask layer are not settings).
extern const std::int32_t SETTINGS_PARAMS[47];

// Checks out each settings parameter at the frame's own time, copies its value,
// checks it in and converts it. A failing check-out raises HostError with the
// host's code; every parameter checked out before it has been checked in.
RenderSettings ReadRenderSettings(const PF_InData& in_data);

}  // namespace lumatrail
