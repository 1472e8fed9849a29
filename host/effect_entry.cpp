#include "host/effect_entry.h"

#include <cstring>

#include "host/effect_identity.h"
#include "host/parameters.h"
#include "host/render_commands.h"

namespace lumatrail {

PF_Err about(PF_OutData& out_data) {
    static_assert(ABOUT_TEXT.size() < sizeof out_data.return_msg);
    std::memcpy(out_data.return_msg, ABOUT_TEXT.data(), ABOUT_TEXT.size());
    out_data.return_msg[ABOUT_TEXT.size()] = '\0';
    return PF_Err_NONE;
}

PF_Err global_setup(PF_OutData& out_data) {
    out_data.my_version = EFFECT_VERSION;
    out_data.out_flags = EFFECT_IDENTITY.out_flags;
    out_data.out_flags2 = EFFECT_IDENTITY.out_flags2;
    return PF_Err_NONE;
}

namespace {

PF_Err dispatch(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                PF_LayerDef* output, void* extra) {
    switch (cmd) {
    case PF_Cmd_ABOUT: return about(*out_data);
    case PF_Cmd_GLOBAL_SETUP: return global_setup(*out_data);
    case PF_Cmd_PARAMS_SETUP: return declare_parameters(*in_data, *out_data);
    case PF_Cmd_RENDER: return render_plain(*in_data, params, output);
    case PF_Cmd_SMART_PRE_RENDER: return smart_pre_render(*in_data, static_cast<PF_PreRenderExtra*>(extra));
    case PF_Cmd_SMART_RENDER: return smart_render(*in_data, static_cast<PF_SmartRenderExtra*>(extra));
    default: return PF_Err_NONE;  // commands the effect has no work for
    }
}

}  // namespace

}  // namespace lumatrail

extern "C" LUMATRAIL_EXPORT PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                              PF_ParamDef* params[], PF_LayerDef* output, void* extra) {
    if (static_cast<std::uint32_t>(cmd) > PF_Cmd_SMART_RENDER) return PF_Err_NONE;
    return lumatrail::run_guarded(
        out_data, [&] { return lumatrail::dispatch(cmd, in_data, out_data, params, output, extra); });
}
