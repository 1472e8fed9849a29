// The effect's controls as every frei0r host sees them (ffmpeg, melt,
// GStreamer and the editors on them), derived from the parameter table so
// that the filter, its explanations and the editors' description files agree.
//
// Which controls, in which order: Render Mode first (ffmpeg takes values by
// position, and the mode is what every use starts from), then every other
// slider, popup and checkbox in the effect's order. The groups, the layers
// and the mask controls are left out: a frei0r filter sees one picture and no
// mask layer.
//
// A slider's frei0r value is its value in units divided by a fixed scale:
//   %          100: 0 to 1 is 0 % to 100 % (Center X 0 is the left edge, 1 the right)
//   degrees    360: 0 to 1 is one turn
//   the others the top of the slider's range: 0 to 1 is 0 to that top
//              (Streak Length 1 is 2000 px)
// Values beyond 0 to 1 reach the rest of the valid range and are limited to it.
#pragma once

#include <cstdint>
#include <vector>

#include "host/parameters.h"

namespace lumatrail::offline {

// What the filter does, in the one line frei0r hosts and the editors' effect
// lists show (without the mask modes, which need a second layer).
inline constexpr const char* FREI0R_SUMMARY =
    "Sorts brightness spans into seeded streaks and launches colour-sampled force lines and particles";

// The parameter indices a frei0r host sees, in frei0r's order.
std::vector<std::int32_t> frei0r_controls();

// Whether a slider is a position across or down the frame (Center X/Y,
// Repeller X/Y): a percentage that may lie outside the frame.
bool is_position(const ParamRow& row);

// Units per frei0r 1.0 of a slider row.
double frei0r_scale(const ParamRow& row);

// A slider's value in units for a frei0r value, limited to the valid range;
// NaN stays NaN (the filter then leaves the value as it was).
double units_from_frei0r(const ParamRow& row, double frei0r_value);

// The frei0r value of a slider's value in units.
double frei0r_from_units(const ParamRow& row, double units);

// The range an editor's slider offers, in units: the slider's range, widened
// to the valid range for positions (which may lie outside the frame) and
// angles (which may turn more than once or spread over a whole turn).
struct EditorRange {
    double low = 0, high = 0;
};
EditorRange editor_range(const ParamRow& row);

}  // namespace lumatrail::offline
