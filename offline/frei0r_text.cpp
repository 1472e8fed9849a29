#include "offline/frei0r_text.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "offline/frei0r_controls.h"
#include "offline/param_text.h"
#include "offline/param_values.h"

namespace lumatrail::offline {
namespace {

// The unit in the control's name, "Streak Length (px)" -> "px"; empty for a
// control without one.
std::string_view unit_of(const ParamRow& row) {
    const std::string_view name = row.ui_name;
    const std::size_t open = name.rfind(" (");
    if (open == std::string_view::npos || name.back() != ')') return {};
    return name.substr(open + 2, name.size() - open - 3);
}

}  // namespace

std::string units_text(const ParamRow& row, double units) {
    const std::string_view unit = unit_of(row);
    std::string text = number_text(units);
    if (!unit.empty()) text.append(" ").append(unit);
    return text;
}

std::string frei0r_span_text(const ParamRow& row) {
    const std::string span = units_text(row, 0.0) + " to " + units_text(row, frei0r_scale(row));
    if (is_position(row))
        return row.ui_name.find(" Y (") != std::string_view::npos
                   ? span + " of the frame's height, top to bottom"
                   : span + " of the frame's width, left to right";
    if (row.conversion == Conversion::Degrees) return "one turn, " + span;
    return span;
}

std::string frei0r_accepts_text(const ParamRow& row) {
    return number_text(frei0r_from_units(row, row.valid_min)) + " to " +
           number_text(frei0r_from_units(row, row.valid_max));
}

std::string frei0r_number_text(const ParamRow& row, double units) {
    const double value = frei0r_from_units(row, units);
    char text[32];
    for (int digits = 7; digits < 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (float(units_from_frei0r(row, std::strtod(text, nullptr))) == float(units)) return text;
    }
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string frei0r_value_text(const ParamRow& row, double units) {
    return frei0r_number_text(row, units) + " (" + units_text(row, units) + ")";
}

std::string frei0r_explanation(const OfflineParam& p, const ParamRow& row) {
    switch (p.declared.param_type) {
    case PF_Param_FLOAT_SLIDER:
        return "0 to 1 is " + frei0r_span_text(row) + "; accepts " + frei0r_accepts_text(row) + " (" +
               units_text(row, row.valid_min) + " to " + units_text(row, row.valid_max) + "); default " +
               frei0r_value_text(row, p.declared.u.fs_d.value);
    case PF_Param_POPUP:
        return "one of " + choices_text(p, ", ", " or ") + " (or the slug, e.g. " + slug(p.choices.back()) +
               "); default " + default_text(p);
    default: return "1 on, 0 off (0.5 and above is on); default " + default_text(p);
    }
}

}  // namespace lumatrail::offline
