#include "offline/param_text.h"

#include <cstdio>

namespace lumatrail::offline {

std::string number_text(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.7g", value);
    return text;
}

std::string default_text(const OfflineParam& p) {
    const PF_ParamDef& d = p.declared;
    switch (d.param_type) {
    case PF_Param_FLOAT_SLIDER: return number_text(d.u.fs_d.value);
    case PF_Param_POPUP: return p.choices.at(std::size_t(d.u.pd.value - 1));
    case PF_Param_CHECKBOX: return d.u.bd.value ? "on" : "off";
    case PF_Param_LAYER: return "none";
    default: return "";
    }
}

std::string choices_text(const OfflineParam& p, std::string_view separator, std::string_view last_separator) {
    std::string text;
    for (std::size_t i = 0; i < p.choices.size(); ++i) {
        if (i > 0) text += i + 1 == p.choices.size() ? last_separator : separator;
        text += p.choices[i];
    }
    return text;
}

}  // namespace lumatrail::offline
