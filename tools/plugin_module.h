// Loading the Lumatrail module the way a host does: open the shared library,
// find its two exported entry points, and register it.
#pragma once

#include <cstdint>
#include <string>

#include "host/host_contract.h"

namespace lumatrail::tools {

// What the module told the host at registration.
struct Registration {
    std::string name, match_name, category, entry_point, support_url;
    std::int32_t kind = 0, api_major = 0, api_minor = 0, reserved_info = 0;
};

struct PluginModule {
    void* handle = nullptr;
    PF_EffectMainFunc effect_main = nullptr;
    PF_PluginDataEntryFunc2 plugin_data_entry = nullptr;
    Registration registration;
};

// The module next to the running executable.
std::string default_module_path();

// Opens and registers the module; throws std::runtime_error saying what is
// wrong (missing file, missing export, refused registration).
PluginModule open_module(const std::string& path);
void close_module(PluginModule& module);

}  // namespace lumatrail::tools
