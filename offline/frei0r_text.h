// The frei0r controls (offline/frei0r_controls.h) as text: what a slider's 0
// to 1 covers, what it accepts beyond, and its default both as a frei0r value
// and in units. The frei0r filter's explanations and the README's table of
// frei0r parameters (`lumatrail params --frei0r`) say it the same way.
#pragma once

#include <string>

#include "host/parameters.h"
#include "offline/offline_host.h"

namespace lumatrail::offline {

// A value in the slider's units: "50 %", "640 px", "90 deg", "1500".
std::string units_text(const ParamRow& row, double units);

// What frei0r's 0 to 1 covers: "0 % to 100 % of the frame's width, left to
// right", "one turn, 0 to 360 deg", "0 to 2000 px".
std::string frei0r_span_text(const ParamRow& row);

// The valid range as frei0r values: "0.0005 to 16.384".
std::string frei0r_accepts_text(const ParamRow& row);

// A value in units as a frei0r value in as few digits as give the effect the
// same value again (it rounds a slider's value to single precision): "0.32",
// "0.41666667" for Lifespan's 2.5 s over 6, where 0.4166667 would be
// 2.5000002 s.
std::string frei0r_number_text(const ParamRow& row, double units);

// A value in units as its frei0r value with the units after it: "0.5 (50 %)".
std::string frei0r_value_text(const ParamRow& row, double units);

// The explanation a frei0r host shows for a control the module declared:
// the span, the valid range and the default of a slider; the choices of a
// popup; on and off of a checkbox.
std::string frei0r_explanation(const OfflineParam& param, const ParamRow& row);

}  // namespace lumatrail::offline
