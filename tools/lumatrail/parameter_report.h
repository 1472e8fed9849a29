// `lumatrail params`: the parameters as the module declares them, as a table
// for the terminal or as the controls reference in Markdown
// (docs/controls.md), with what each control does from the effect's table;
// or the frei0r parameters as the README's table.
#pragma once

#include <string>

#include "offline/offline_host.h"
#include "tools/lumatrail/command_line.h"

namespace lumatrail::tools {

// Index, name (indented by group), kind, slug and values of every parameter.
std::string parameter_table(const offline::OfflineHost& host);

// Every group with a table of its controls, then what each control does.
std::string controls_reference(const offline::OfflineHost& host);

// The frei0r parameters in frei0r's order as a Markdown table: position,
// name, default (a slider's as its frei0r value and in units) and values.
std::string frei0r_parameters(const offline::OfflineHost& host);

// Loads the module's parameters and prints the table or the reference, or
// prints one of the editors' description files.
void print_params(PF_EffectMainFunc effect_main, ParamsFormat format);

}  // namespace lumatrail::tools
