#include "host/parameters.h"

#include <algorithm>
#include <cstring>

namespace lumatrail {

PF_ParamDef make_param_def(std::int32_t index) {
    const ParamRow& row = param_row(index);
    PF_ParamDef def;
    std::memset(&def, 0, sizeof def);
    def.param_type = row.kind;
    def.uu.id = index;
    const std::size_t name_length = std::min(row.ui_name.size(), sizeof def.name - 1);
    if (name_length > 0) std::memcpy(def.name, row.ui_name.data(), name_length);  // group ends have none
    switch (row.kind) {
    case PF_Param_FLOAT_SLIDER:
        def.u.fs_d.value = double(row.dephault);  // the single-precision default, widened
        def.u.fs_d.dephault = row.dephault;
        def.u.fs_d.valid_min = row.valid_min;
        def.u.fs_d.valid_max = row.valid_max;
        def.u.fs_d.slider_min = row.slider_min;
        def.u.fs_d.slider_max = row.slider_max;
        def.u.fs_d.precision = SLIDER_PRECISION;
        break;
    case PF_Param_POPUP:
        def.u.pd.num_choices = row.num_choices;
        def.u.pd.dephault = std::int16_t(row.dephault);
        def.u.pd.value = std::int32_t(row.dephault);
        def.u.pd.u.namesptr = row.choices.data();  // a string literal: zero-terminated
        break;
    case PF_Param_CHECKBOX:
        def.u.bd.value = std::int32_t(row.dephault);
        def.u.bd.dephault = std::uint8_t(row.dephault);
        def.u.bd.u.nameptr = "";
        break;
    default:  // layer (no default layer), group start and end
        break;
    }
    return def;
}

PF_Err declare_parameters(const PF_InData& in_data, PF_OutData& out_data) {
    for (std::int32_t index = 1; index < PARAM_COUNT; ++index) {
        PF_ParamDef def = make_param_def(index);
        if (const PF_Err err = in_data.inter.add_param(in_data.effect_ref, -1, &def)) return err;
    }
    out_data.num_params = PARAM_COUNT;
    return PF_Err_NONE;
}

}  // namespace lumatrail
