#include "tools/lumatrail/effect_calls.h"

#include "tools/lumatrail/tool_error.h"

namespace lumatrail::tools {

ModuleSelfReport identify(const offline::PluginModule& m) {
    offline::OfflineHost host;
    ModuleSelfReport id;
    PF_OutData out{};
    if (const PF_Err err = offline::send_command(host, m.effect_main, PF_Cmd_ABOUT, out))
        throw ToolError(EXIT_EFFECT, "the About command failed with error " + std::to_string(err));
    id.about = out.return_msg;
    if (const PF_Err err = offline::send_command(host, m.effect_main, PF_Cmd_GLOBAL_SETUP, id.setup))
        throw ToolError(EXIT_EFFECT, "global setup failed with error " + std::to_string(err));
    return id;
}

void load_effect_parameters(offline::OfflineHost& host, PF_EffectMainFunc effect_main) {
    if (const PF_Err err = offline::load_parameters(host, effect_main))
        throw ToolError(EXIT_EFFECT, "parameter setup failed with error " + std::to_string(err));
}

}  // namespace lumatrail::tools
