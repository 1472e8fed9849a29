// Reading one frame's parameter values from the host into RenderSettings, row
// by row of the parameter table. The table is the one place a control's
// default and valid range are stated: the fill limits every value the host
// hands back to its row's valid range, and the default settings and the
// limits in the renderers' units are derived here from the same rows by the
// same conversion.
#pragma once

#include <type_traits>
#include <variant>

#include "engine/effect_math.h"
#include "engine/render_settings.h"
#include "host/host_contract.h"
#include "host/parameters.h"

namespace lumatrail {

// The value a parameter had when it was checked out, in the host's own types.
struct HostValue {
    double slider = 0.0;
    std::int32_t choice = 0;  // popups: one-based; checkboxes: 0 or not
};

// The value a freshly declared parameter has: the row's default, as
// make_param_def hands it to the host.
constexpr HostValue default_value(const ParamRow& row) {
    return {double(row.dephault), std::int32_t(row.dephault)};
}

// The low and high ends of a row's valid range: a slider's valid_min and
// valid_max, a popup's first and last choice, a checkbox off and on.
constexpr HostValue low_end(const ParamRow& row) {
    return {double(row.valid_min), row.kind == PF_Param_POPUP ? 1 : 0};
}
constexpr HostValue high_end(const ParamRow& row) {
    return {double(row.valid_max), row.kind == PF_Param_POPUP ? std::int32_t(row.num_choices) : 1};
}

// A slider's value limited to the row's valid range, NaN giving the low end
// (and -0 at a low end of 0 giving +0). Every conversion is monotonic, so
// limiting before converting gives the same bits as limiting the converted
// value to the converted ends. Choices pass as they are: the renderers'
// normalisation turns one outside its enumeration into the first value.
constexpr HostValue within_valid_range(const ParamRow& row, HostValue v) {
    if (row.kind == PF_Param_FLOAT_SLIDER) {
        const double low = row.valid_min, high = row.valid_max;
        v.slider = v.slider > low ? (v.slider < high ? v.slider : high) : low;
    }
    return v;
}

// Percentages become fractions by a float multiplication (not a division by
// 100), so that 100 % is exactly 1 and 15 % is 15 * 0.01f. Counts are rounded
// to single precision, then truncated toward zero.
template <class T>
constexpr T converted(Conversion c, const HostValue& v) {
    if constexpr (std::is_same_v<T, float>)
        return c == Conversion::Percent ? float(v.slider) * 0.01f : float(v.slider);
    else if constexpr (std::is_same_v<T, std::int32_t>)
        return to_int32_saturated(float(v.slider));
    else if constexpr (std::is_same_v<T, bool>)
        return v.choice != 0;
    else
        return T(v.choice - 1);  // the zero-based choice
}

// Converts a value as the row says, without limiting it, and stores it into
// the member the row names; rows that are not settings change nothing.
constexpr void store_setting(RenderSettings& s, const ParamRow& row, const HostValue& value) {
    std::visit(
        [&](auto member) {
            if constexpr (!std::is_same_v<decltype(member), std::monostate>)
                s.*member = converted<std::remove_reference_t<decltype(s.*member)>>(row.conversion, value);
        },
        row.member);
}

// What the fill makes of a host value: limited to the row's range, converted
// and stored.
constexpr void fill_setting(RenderSettings& s, const ParamRow& row, const HostValue& value) {
    store_setting(s, row, within_valid_range(row, value));
}

// Every setting converted from the value value_of gives its row, by the
// fill's conversion without its limiting; the frame's time 0.
template <class ValueOf>
constexpr RenderSettings settings_from_table(ValueOf value_of) {
    RenderSettings s{};
    for (const ParamRow& row : PARAM_TABLE) store_setting(s, row, value_of(row));
    return s;
}

// Every slider's range is in order and holds its default.
static_assert(std::all_of(PARAM_TABLE.begin(), PARAM_TABLE.end(), [](const ParamRow& r) {
    return r.kind != PF_Param_FLOAT_SLIDER ||
           (r.valid_min < r.valid_max && r.valid_min <= r.dephault && r.dephault <= r.valid_max);
}));

// The settings of a freshly applied effect: what the fill reads from a newly
// declared parameter list (every default lies within its range, so limiting
// changes none), and what benchmarks and tests render with.
inline constexpr RenderSettings DEFAULT_SETTINGS = settings_from_table(default_value);

// Every setting at the low or the high end of its row's valid range, in the
// renderers' units: the limits the fill keeps each value within.
inline constexpr RenderSettings LOWEST_SETTINGS = settings_from_table(low_end);
inline constexpr RenderSettings HIGHEST_SETTINGS = settings_from_table(high_end);

// Checks out each settings parameter at the frame's own time, copies its value,
// checks it in and stores it limited to its row's valid range. A failing
// check-out raises HostError with the host's code; every parameter checked out
// before it has been checked in.
RenderSettings ReadRenderSettings(const PF_InData& in_data);

}  // namespace lumatrail
