// Options that would do nothing are said to do nothing: the warnings of a
// render, one sentence each, for the caller to print.
#pragma once

#include <string>
#include <vector>

#include "offline/offline_host.h"
#include "tools/lumatrail/command_line.h"

namespace lumatrail::tools {

// `host` holds the parameters after the presets and --set: a mask with no
// mask mode to use it, a mask mode without a mask, the built-in picture's
// options beside an input, --time beside frames.
std::vector<std::string> no_op_warnings(const offline::OfflineHost& host, const RenderOptions& options);

}  // namespace lumatrail::tools
