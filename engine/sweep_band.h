// The animated sweep: a weight in [0, 1] for a position in the rendered area
// that multiplies the effect's amount there. Pass Through moves a soft band
// across the area as Sweep Position goes from 0 to 1; Build Up grows the
// effect from the starting edge behind a soft front; Clear Away is its
// complement.
#pragma once

#include "engine/render_settings.h"

namespace lumatrail {

// x and y are the position normalised to the area: (offset + 0.5) / size.
float sweep_factor(const RenderSettings& settings, float x, float y);

}  // namespace lumatrail
