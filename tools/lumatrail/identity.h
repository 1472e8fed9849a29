// `lumatrail version` and `lumatrail about`: the tool's version and what the
// module says of itself.
#pragma once

#include <string>

#include "offline/plugin_module.h"

namespace lumatrail::tools {

// The tool's version, from the tables it was built with, always; the
// module's where it is found at `plugin` (without it, a line says why).
void print_version(const std::string& plugin);

// The About text, then the effect's name, version, flags and support address.
void print_about(const offline::PluginModule& module);

}  // namespace lumatrail::tools
