// The animated sweep: a weight in [0, 1] for a position in the rendered area
// that multiplies the effect's amount there. Pass Through moves a soft band
// across the area as Sweep Position goes from 0 to 1; Build Up grows the
// effect from the starting edge behind a soft front; Clear Away is its
// complement.
#pragma once

#include "engine/render_settings.h"

namespace lumatrail {

// Settings as normalised_settings gives them. x and y are the position
// normalised to the area: (offset + 0.5) / size.
float sweep_factor(const RenderSettings& settings, float x, float y);

// Whether the sweep makes the weight 0 everywhere: Pass Through at a position
// of 0 or 1 or beyond, Build Up at 0, Clear Away at 1.
bool sweep_hides_everything(const RenderSettings& settings);

}  // namespace lumatrail
