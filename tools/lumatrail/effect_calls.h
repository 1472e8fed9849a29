// The calls the tool makes of the module outside rendering: its About text
// and global setup, and its parameter setup. A call the effect fails ends
// the program with the effect's exit code.
#pragma once

#include <string>

#include "offline/offline_host.h"
#include "offline/plugin_module.h"

namespace lumatrail::tools {

// What the module says of itself after global setup.
struct ModuleSelfReport {
    std::string about;
    PF_OutData setup{};
};

// The About command, then global setup; throws ToolError(EXIT_EFFECT).
ModuleSelfReport identify(const offline::PluginModule& module);

// Parameter setup into the host; throws ToolError(EXIT_EFFECT).
void load_effect_parameters(offline::OfflineHost& host, PF_EffectMainFunc effect_main);

}  // namespace lumatrail::tools
