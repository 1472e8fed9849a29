#include "offline/offline_host.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace lumatrail::offline {
namespace {

OfflineContext& context_of(PF_ProgPtr effect_ref) { return *static_cast<OfflineContext*>(effect_ref); }

// Adds a call to the frame's record, or to the host's outside frames.
void record_call(OfflineContext& context, CallKind kind, std::int32_t index) {
    if (context.frame_calls) {
        context.frame_calls->push_back({kind, index});
        return;
    }
    std::lock_guard lock(context.host->calls_mutex);
    context.host->calls.push_back({kind, index});
}

// The parameter's value at a time in seconds.
double param_value_at(const OfflineParam& param, double seconds) {
    const std::vector<ParamKey>& keys = param.keys;
    if (seconds <= keys.front().time_seconds) return keys.front().value;
    if (seconds >= keys.back().time_seconds) return keys.back().value;
    // The first key after the time, and the one before it.
    const auto next = std::upper_bound(keys.begin(), keys.end(), seconds,
                                       [](double t, const ParamKey& k) { return t < k.time_seconds; });
    const ParamKey& a = *(next - 1);
    const ParamKey& b = *next;
    if (param.declared.param_type != PF_Param_FLOAT_SLIDER) return a.value;
    const double f = (seconds - a.time_seconds) / (b.time_seconds - a.time_seconds);
    return a.value + (b.value - a.value) * f;
}

std::vector<std::string> split_choices(std::string_view text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t bar = text.find('|', start);
        out.emplace_back(text.substr(start, bar == std::string_view::npos ? text.npos : bar - start));
        if (bar == std::string_view::npos) return out;
        start = bar + 1;
    }
}

OfflineParam input_layer_param() {
    OfflineParam p{};
    std::memset(&p.declared, 0, sizeof p.declared);
    p.declared.param_type = PF_Param_LAYER;
    p.name = "Input";
    return p;
}

double declared_default(const PF_ParamDef& def) {
    switch (def.param_type) {
    case PF_Param_FLOAT_SLIDER: return def.u.fs_d.value;
    case PF_Param_POPUP: return def.u.pd.value;
    case PF_Param_CHECKBOX: return def.u.bd.value;
    default: return 0.0;
    }
}

PF_Err add_param(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDef* def) {
    OfflineContext& context = context_of(effect_ref);
    OfflineHost& host = *context.host;
    record_call(context, CallKind::AddParam, index);
    if (host.faults.fail_add_param_call > 0 &&
        count_calls(host, CallKind::AddParam) == std::size_t(host.faults.fail_add_param_call))
        return host.faults.add_param_error;
    if (!def || index != -1) return PF_Err_BAD_CALLBACK_PARAM;  // only appending is supported

    OfflineParam p{};
    p.declared = *def;
    p.name.assign(def->name, strnlen(def->name, sizeof def->name));
    if (def->param_type == PF_Param_POPUP) {
        p.choices_text = def->u.pd.u.namesptr ? def->u.pd.u.namesptr : "";
        p.choices = split_choices(p.choices_text);
        p.declared.u.pd.u.namesptr = nullptr;
    } else if (def->param_type == PF_Param_CHECKBOX) {
        p.declared.u.bd.u.nameptr = nullptr;
    }
    if (def->param_type == PF_Param_FLOAT_SLIDER || def->param_type == PF_Param_POPUP ||
        def->param_type == PF_Param_CHECKBOX)
        p.keys.push_back({0.0, declared_default(*def)});
    host.params.push_back(std::move(p));
    return PF_Err_NONE;
}

PF_Err checkout_param(PF_ProgPtr effect_ref, PF_ParamIndex index, std::int32_t what_time,
                      std::int32_t /*time_step*/, std::uint32_t time_scale, PF_ParamDef* param) {
    OfflineContext& context = context_of(effect_ref);
    const OfflineHost& host = *context.host;
    record_call(context, CallKind::CheckoutParam, index);
    if (index == host.faults.fail_checkout_param) return host.faults.checkout_param_error;
    if (!param || index < 0 || std::size_t(index) >= host.params.size()) return PF_Err_BAD_CALLBACK_PARAM;

    const OfflineParam& p = host.params[std::size_t(index)];
    *param = p.declared;
    const double seconds = time_scale == 0 ? 0.0 : double(what_time) / double(time_scale);
    const double value = p.keys.empty() ? 0.0 : param_value_at(p, seconds);
    switch (p.declared.param_type) {
    case PF_Param_FLOAT_SLIDER: param->u.fs_d.value = value; break;
    case PF_Param_POPUP:
        param->u.pd.value = std::int32_t(std::lround(value));
        param->u.pd.u.namesptr = p.choices_text.c_str();
        break;
    case PF_Param_CHECKBOX:
        param->u.bd.value = std::int32_t(std::lround(value));
        param->u.bd.u.nameptr = "";
        break;
    default: break;
    }
    return PF_Err_NONE;
}

PF_Err checkin_param(PF_ProgPtr effect_ref, PF_ParamDef* param) {
    record_call(context_of(effect_ref), CallKind::CheckinParam, param ? param->uu.id : -1);
    return PF_Err_NONE;
}

PF_Err abort_never(PF_ProgPtr) { return PF_Err_NONE; }

// The shortest text that reads back as the same number: a range end of 0.1f
// prints as 0.1, and a value just outside it shows the digits that differ.
template <typename Number>
std::string format_number(Number v) {
    char text[64];
    return std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
}

// The value to keep for the parameter; throws std::invalid_argument saying
// what the parameter accepts. A slider's range is compared as the host keeps
// it, in single precision, so that every end typed as printed is accepted (the
// double 0.1 lies just below 0.1f); a value that rounds onto an end is kept as
// exactly that end, so the effect never reads a value outside its range.
double checked_value(const OfflineParam& p, double value) {
    const PF_ParamDef& d = p.declared;
    const std::string quoted = "\"" + p.name + "\"";
    switch (d.param_type) {
    case PF_Param_FLOAT_SLIDER: {
        const float low = d.u.fs_d.valid_min, high = d.u.fs_d.valid_max;
        // Beyond the float range (or NaN) the conversion itself would be undefined.
        const bool representable = std::abs(value) <= double(std::numeric_limits<float>::max());
        if (!(representable && float(value) >= low && float(value) <= high))
            throw std::invalid_argument(quoted + " accepts values from " + format_number(low) + " to " +
                                        format_number(high) + "; got " + format_number(value));
        return std::clamp(value, double(low), double(high));
    }
    case PF_Param_POPUP:
        if (!(value >= 1 && value <= d.u.pd.num_choices && value == std::floor(value))) {
            std::string list;
            for (std::size_t i = 0; i < p.choices.size(); ++i)
                list += (i ? ", " : "") + std::to_string(i + 1) + " " + p.choices[i];
            throw std::invalid_argument(quoted + " takes a choice from 1 to " +
                                        std::to_string(d.u.pd.num_choices) + " (" + list + "); got " +
                                        format_number(value));
        }
        return value;
    case PF_Param_CHECKBOX:
        if (value != 0 && value != 1)
            throw std::invalid_argument(quoted + " is a checkbox: 0 (off) or 1 (on); got " +
                                        format_number(value));
        return value;
    default:
        throw std::invalid_argument(quoted + " is a " + std::string(param_kind_name(d.param_type)) +
                                    " and holds no value");
    }
}

const OfflineParam& param_at(const OfflineHost& host, std::int32_t index) {
    if (index < 0 || std::size_t(index) >= host.params.size())
        throw std::invalid_argument("no parameter has index " + std::to_string(index) +
                                    "; indices run from 0 to " + std::to_string(host.params.size() - 1));
    return host.params[std::size_t(index)];
}

}  // namespace

PF_Err load_parameters(OfflineHost& host, PF_EffectMainFunc effect_main) {
    host.params.clear();
    host.params.push_back(input_layer_param());
    PF_OutData out_data{};
    return send_command(host, effect_main, PF_Cmd_PARAMS_SETUP, out_data);
}

PF_Err send_command(OfflineHost& host, PF_EffectMainFunc effect_main, PF_Cmd cmd, PF_OutData& out_data) {
    PF_InData in_data = make_in_data(host);
    return effect_main(cmd, &in_data, &out_data, nullptr, nullptr, nullptr);
}

PF_InData make_in_data(OfflineHost& host, HostTime time) { return make_in_data(host.context, time); }

PF_InData make_in_data(OfflineContext& context, HostTime time) {
    PF_InData in{};
    in.inter.checkout_param = checkout_param;
    in.inter.checkin_param = checkin_param;
    in.inter.add_param = add_param;
    in.inter.abort = abort_never;
    in.effect_ref = &context;
    in.current_time = time.time;
    in.time_step = time.time_step;
    in.time_scale = time.time_scale;
    in.downsample_x = in.downsample_y = PF_RationalScale{1, 1};
    return in;
}

std::int32_t find_param(const OfflineHost& host, std::string_view ui_name) {
    for (std::size_t i = 0; i < host.params.size(); ++i)
        if (host.params[i].name == ui_name) return std::int32_t(i);
    return -1;
}

void set_param_value(OfflineHost& host, std::int32_t index, double value) {
    set_param_keys(host, index, {{0.0, value}});
}

void set_param_value(OfflineHost& host, std::string_view ui_name, double value) {
    const std::int32_t index = find_param(host, ui_name);
    if (index < 0) throw std::invalid_argument("no parameter is named \"" + std::string(ui_name) + "\"");
    set_param_value(host, index, value);
}

void set_param_keys(OfflineHost& host, std::int32_t index, std::vector<ParamKey> keys) {
    const OfflineParam& p = param_at(host, index);
    if (keys.empty()) throw std::invalid_argument("\"" + p.name + "\" needs at least one value");
    for (ParamKey& k : keys) k.value = checked_value(p, k.value);
    std::stable_sort(keys.begin(), keys.end(),
                     [](const ParamKey& a, const ParamKey& b) { return a.time_seconds < b.time_seconds; });
    host.params[std::size_t(index)].keys = std::move(keys);
}

std::vector<HostCall> recorded_calls(const OfflineHost& host) {
    std::lock_guard lock(host.calls_mutex);
    return host.calls;
}

std::size_t count_calls(const OfflineHost& host, CallKind kind) {
    std::lock_guard lock(host.calls_mutex);
    return std::size_t(std::count_if(host.calls.begin(), host.calls.end(),
                                     [kind](const HostCall& c) { return c.kind == kind; }));
}

void clear_calls(OfflineHost& host) {
    std::lock_guard lock(host.calls_mutex);
    host.calls.clear();
}

std::string_view param_kind_name(std::int32_t param_type) {
    switch (param_type) {
    case PF_Param_LAYER: return "layer";
    case PF_Param_CHECKBOX: return "checkbox";
    case PF_Param_POPUP: return "popup";
    case PF_Param_FLOAT_SLIDER: return "slider";
    case PF_Param_GROUP_START: return "group";
    case PF_Param_GROUP_END: return "group end";
    default: return "unknown kind";
    }
}

}  // namespace lumatrail::offline
