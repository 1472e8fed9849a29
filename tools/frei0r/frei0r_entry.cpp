// The frei0r entry points of lumatrail.so. Each forwards to the bridge
// (tools/frei0r/frei0r_bridge.h); nothing here keeps state between calls, and
// no exception leaves a frei0r call.
#include <cstdint>

// frei0r.h declares C functions without saying so.
#pragma GCC visibility push(default)
extern "C" {
#include <frei0r.h>
}
#pragma GCC visibility pop

#include <memory>

#include "host/effect_identity.h"
#include "offline/frei0r_controls.h"
#include "tools/frei0r/frei0r_bridge.h"

namespace {

namespace bridge = lumatrail::frei0r;

static_assert(int(bridge::ParamKind::Bool) == F0R_PARAM_BOOL &&
              int(bridge::ParamKind::Double) == F0R_PARAM_DOUBLE &&
              int(bridge::ParamKind::String) == F0R_PARAM_STRING);

bridge::Instance* instance_of(f0r_instance_t instance) { return static_cast<bridge::Instance*>(instance); }

}  // namespace

#pragma GCC visibility push(default)
extern "C" {

// The parameter table is learned on first use and never changes: nothing to
// set up or tear down.
int f0r_init(void) { return bridge::exposed_params().empty() ? 0 : 1; }

void f0r_deinit(void) {}

void f0r_get_plugin_info(f0r_plugin_info_t* info) {
    if (!info) return;
    info->name = lumatrail::EFFECT_IDENTITY.display_name;
    info->author = "Corvanta";
    info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
    info->color_model = F0R_COLOR_MODEL_RGBA8888;
    info->frei0r_version = FREI0R_MAJOR_VERSION;
    info->major_version = int(lumatrail::EFFECT_IDENTITY.version);
    info->minor_version = int(lumatrail::EFFECT_IDENTITY.subversion);
    info->num_params = int(bridge::exposed_params().size());
    info->explanation = lumatrail::offline::FREI0R_SUMMARY;
}

void f0r_get_param_info(f0r_param_info_t* info, int param_index) {
    const auto& params = bridge::exposed_params();
    if (!info || param_index < 0 || std::size_t(param_index) >= params.size()) return;
    const bridge::ExposedParam& p = params[std::size_t(param_index)];
    info->name = p.name.c_str();
    info->type = int(p.kind);
    info->explanation = p.explanation.c_str();
}

f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
    return bridge::make_instance(width, height, bridge::loading_host()).release();
}

void f0r_destruct(f0r_instance_t instance) { delete instance_of(instance); }

void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int param_index) {
    if (instance) bridge::set_param(*instance_of(instance), param_index, param);
}

void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int param_index) {
    if (instance) bridge::get_param(*instance_of(instance), param_index, param);
}

void f0r_update(f0r_instance_t instance, double time, const uint32_t* inframe, uint32_t* outframe) {
    if (instance && inframe && outframe) bridge::render(*instance_of(instance), time, inframe, outframe);
}

}  // extern "C"
#pragma GCC visibility pop
