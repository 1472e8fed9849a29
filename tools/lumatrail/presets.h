// Presets: parameter values and keyframes as JSON, keyed by UI name or slug.
//
//   {"Streak Length (px)": 300, "Direction": "Radial Out", "Show Mask": false,
//    "Sweep Position (%)": [[0, 0], [2.5, 100]]}
//
// A value is a number, a choice's text, true or false; a list of
// [seconds, value] pairs is keyframes (sliders interpolate linearly, popups
// and checkboxes hold).
#pragma once

#include <string>
#include <vector>

#include "offline/offline_host.h"

namespace lumatrail::tools {

// Sets every parameter the preset names. Throws ToolError naming the file and
// what is wrong, leaving the host unchanged: EXIT_INPUT when the file cannot
// be read (missing, a folder, unreadable), EXIT_USAGE when its contents are
// not a preset (not JSON, nested more than a few levels, unknown names,
// values out of range). Returns warnings, one sentence each, for the caller
// to print: a parameter named more than once (by UI name and slug, or the
// same name again) takes the value last in the file.
std::vector<std::string> load_preset(offline::OfflineHost& host, const std::string& path);

// Writes the value or keyframes of every parameter that holds a value,
// through a temporary file; throws ToolError(EXIT_OUTPUT).
void save_preset(const offline::OfflineHost& host, const std::string& path);

}  // namespace lumatrail::tools
