#include "host/settings_fill.h"

#include <cstring>
#include <type_traits>

#include "host/host_error.h"

namespace lumatrail {
namespace {

// A row's conversion must suit the type of the member it fills.
template <class T>
constexpr bool suits(Conversion c) {
    if constexpr (std::is_same_v<T, float>)
        return c == Conversion::Percent || c == Conversion::AsIs || c == Conversion::Degrees;
    else if constexpr (std::is_same_v<T, std::int32_t>)
        return c == Conversion::Count;
    else if constexpr (std::is_same_v<T, bool>)
        return c == Conversion::Checkbox;
    else
        return c == Conversion::Choice;
}

constexpr bool every_row_converts_to_its_member() {
    for (const ParamRow& row : PARAM_TABLE) {
        const bool ok = std::visit(
            [&](auto member) {
                if constexpr (std::is_same_v<decltype(member), std::monostate>)
                    return row.conversion == Conversion::None;
                else
                    return suits<std::remove_reference_t<decltype(RenderSettings{}.*member)>>(row.conversion);
            },
            row.member);
        if (!ok) return false;
    }
    return true;
}
static_assert(every_row_converts_to_its_member());

HostValue copy_value(const ParamRow& row, const PF_ParamDef& def) {
    HostValue v;
    switch (row.kind) {
    case PF_Param_FLOAT_SLIDER: v.slider = def.u.fs_d.value; break;
    case PF_Param_POPUP: v.choice = def.u.pd.value; break;
    case PF_Param_CHECKBOX: v.choice = def.u.bd.value; break;
    default: break;
    }
    return v;
}

}  // namespace

RenderSettings ReadRenderSettings(const PF_InData& in_data) {
    RenderSettings settings{};
    for (const ParamRow& row : PARAM_TABLE) {
        if (row.conversion == Conversion::None) continue;
        PF_ParamDef def;
        std::memset(&def, 0, sizeof def);
        throw_if_error(in_data.inter.checkout_param(in_data.effect_ref, row.index, in_data.current_time,
                                                    in_data.time_step, in_data.time_scale, &def));
        const HostValue value = copy_value(row, def);
        in_data.inter.checkin_param(in_data.effect_ref, &def);  // its result is not examined
        fill_setting(settings, row, value);
    }
    settings.time_seconds =
        in_data.time_scale == 0 ? 0.0 : double(in_data.current_time) / double(in_data.time_scale);
    return settings;
}

}  // namespace lumatrail
