// `lumatrail demo`: the built-in test card rendered in every mode, and a
// short animated sweep with the preset that makes it, into a folder.
#pragma once

#include <string>

#include "tools/lumatrail/render_command.h"

namespace lumatrail::tools {

// Makes `dir` when missing; throws ToolError(EXIT_OUTPUT) when it cannot be
// a folder, before anything is rendered.
void demo(PF_EffectMainFunc effect_main, const std::string& dir, Cancel& cancel);

}  // namespace lumatrail::tools
