#include "offline/frei0r_controls.h"

#include <algorithm>
#include <cmath>

namespace lumatrail::offline {
namespace {

// Controls that need the mask layer, which a frei0r filter never has.
bool needs_mask(std::int32_t index) {
    return index == PARAM_MASK_MODE || index == PARAM_MASK_LAYER || index == PARAM_MASK_CHANNEL ||
           index == PARAM_INVERT_MASK || index == PARAM_MASK_THRESHOLD || index == PARAM_SHOW_MASK;
}

}  // namespace

bool is_position(const ParamRow& row) { return row.conversion == Conversion::Percent && row.valid_min < 0; }

std::vector<std::int32_t> frei0r_controls() {
    std::vector<std::int32_t> indices{PARAM_RENDER_MODE};
    for (const ParamRow& row : PARAM_TABLE) {
        const bool shown =
            row.kind == PF_Param_FLOAT_SLIDER || row.kind == PF_Param_POPUP || row.kind == PF_Param_CHECKBOX;
        if (shown && !needs_mask(row.index) && row.index != PARAM_RENDER_MODE) indices.push_back(row.index);
    }
    return indices;
}

double frei0r_scale(const ParamRow& row) {
    switch (row.conversion) {
    case Conversion::Percent: return 100.0;
    case Conversion::Degrees: return 360.0;
    default: return double(row.slider_max);
    }
}

double units_from_frei0r(const ParamRow& row, double frei0r_value) {
    if (std::isnan(frei0r_value)) return frei0r_value;
    return std::clamp(frei0r_value * frei0r_scale(row), double(row.valid_min), double(row.valid_max));
}

double frei0r_from_units(const ParamRow& row, double units) { return units / frei0r_scale(row); }

EditorRange editor_range(const ParamRow& row) {
    if (is_position(row) || row.conversion == Conversion::Degrees) return {row.valid_min, row.valid_max};
    return {row.slider_min, row.slider_max};
}

}  // namespace lumatrail::offline
