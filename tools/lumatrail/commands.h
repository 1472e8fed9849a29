// Runs the command a command line names: the help, the version and the
// lists first, then, with the module loaded, the commands that call it.
#pragma once

#include <string>
#include <vector>

#include "tools/lumatrail/render_command.h"
#include "tools/lumatrail/render_stats.h"

namespace lumatrail::tools {

// The arguments after the program's name; the exit code. Throws ToolError
// for a failure with its own exit code.
int run_command_line(const std::vector<std::string>& args, ProcessTimes process, Cancel& cancel);

}  // namespace lumatrail::tools
