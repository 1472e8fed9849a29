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

// Sets every parameter the preset names. The path names a file; where nothing
// is there, it may name a built-in preset instead (`lumatrail presets`): a
// file always wins. Throws ToolError naming the file and
// what is wrong, leaving the host unchanged: EXIT_INPUT when the file cannot
// be read (missing, a folder, unreadable), EXIT_USAGE when its contents are
// not a preset (not JSON, nested more than a few levels, unknown names,
// values out of range). Returns warnings, one sentence each, for the caller
// to print: a parameter named more than once (by UI name and slug, or the
// same name again) takes the value last in the file.
std::vector<std::string> load_preset(offline::OfflineHost& host, const std::string& path);

// Writes the value or keyframes of every parameter that holds a value (with
// a baseline, only those whose values differ from the baseline's), whole or
// not at all; throws ToolError(EXIT_OUTPUT) naming the file and the system's
// reason.
void save_preset(const offline::OfflineHost& host, const std::string& path,
                 const offline::OfflineHost* baseline = nullptr);

}  // namespace lumatrail::tools
