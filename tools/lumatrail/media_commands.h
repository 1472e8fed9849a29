// The commands that read or write pictures and movies, in a module of their
// own (lumatrail-media.so, beside the program) that is loaded only when one
// of them runs.
//
// The picture and movie libraries bring some 260 shared libraries between
// them, and loading those takes the dynamic loader a third of a second or
// more. Kept out of the program itself, they cost nothing to --help,
// --version, params or presets, and a Ctrl-C that comes while they load
// finds the program's signal watcher already running.
#pragma once

#include <string>
#include <vector>

#include "tools/lumatrail/command_line.h"
#include "tools/lumatrail/render_command.h"
#include "tools/lumatrail/render_stats.h"

namespace lumatrail::tools {

// The module's commands. Each throws ToolError as the same command in the
// program would.
struct MediaCommands {
    void (*render)(PF_EffectMainFunc effect_main, const RenderOptions& options, Cancel& cancel,
                   const ProcessTimes& process);
    void (*demo)(PF_EffectMainFunc effect_main, const std::string& dir, Cancel& cancel);
    std::vector<std::string> (*colorspaces)();
};

// The name of the module's one export, a function returning its commands.
inline constexpr const char* MEDIA_COMMANDS_EXPORT = "lumatrail_media_commands";
using MediaCommandsFunc = const MediaCommands* (*)();

// The module's file: lumatrail-media.so beside the program.
std::string media_module_path();

// Loads the module at `path` and returns its commands. The module stays
// loaded to the end of the process: the libraries it brings keep per-thread
// state and exit handlers of their own. Throws ToolError(EXIT_INPUT) naming
// the file when it cannot be loaded.
const MediaCommands& load_media_commands(const std::string& path);

}  // namespace lumatrail::tools
