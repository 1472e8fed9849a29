// `lumatrail params`: the parameters as the module declares them, as a table
// for the terminal or as the controls reference in Markdown
// (docs/controls.md), with what each control does from the effect's table.
#pragma once

#include <string>

#include "offline/offline_host.h"

namespace lumatrail::tools {

// Index, name (indented by group), kind, slug and values of every parameter.
std::string parameter_table(const offline::OfflineHost& host);

// Every group with a table of its controls, then what each control does.
std::string controls_reference(const offline::OfflineHost& host);

// Loads the module's parameters and prints one of the two.
void print_params(PF_EffectMainFunc effect_main, bool markdown);

}  // namespace lumatrail::tools
