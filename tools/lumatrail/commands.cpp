#include "tools/lumatrail/commands.h"

#include <chrono>
#include <cstdio>
#include <stdexcept>

#include "offline/plugin_module.h"
#include "tools/lumatrail/builtin_presets.h"
#include "tools/lumatrail/command_line.h"
#include "tools/lumatrail/identity.h"
#include "tools/lumatrail/media_commands.h"
#include "tools/lumatrail/parameter_report.h"
#include "tools/lumatrail/tool_error.h"

namespace lumatrail::tools {
namespace {

// The commands that need no module; false for the others.
bool run_without_module(const CommandLine& c) {
    switch (c.command) {
    case CommandName::Help: std::fputs(c.help.c_str(), stdout); return true;
    case CommandName::Version: print_version(c.plugin); return true;
    case CommandName::Colorspaces:
        for (const std::string& name : load_media_commands(media_module_path()).colorspaces())
            std::printf("%s\n", name.c_str());
        return true;
    case CommandName::Presets: std::fputs(builtin_preset_list().c_str(), stdout); return true;
    default: return false;
    }
}

double ms_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The picture and movie commands, their load timed for --stats.
const MediaCommands& open_media_commands(ProcessTimes& process) {
    const auto loading = std::chrono::steady_clock::now();
    const MediaCommands& commands = load_media_commands(media_module_path());
    process.module_load_ms += ms_since(loading);
    return commands;
}

// The module, timed for --stats; a missing one is an input that cannot be read.
offline::PluginModule open_effect_module(const std::string& plugin, ProcessTimes& process) {
    try {
        const auto loading = std::chrono::steady_clock::now();
        offline::PluginModule module = offline::open_module(plugin, "lumatrail");
        process.module_load_ms += ms_since(loading);
        return module;
    } catch (const std::runtime_error& e) {
        throw ToolError(EXIT_INPUT, std::string(e.what()) + " (build the module, or point --plugin at it)");
    }
}

}  // namespace

int run_command_line(const std::vector<std::string>& args, ProcessTimes process, Cancel& cancel) {
    if (args.empty()) {
        std::fputs(parse_command_line({"--help"}).help.c_str(), stderr);
        return EXIT_USAGE;
    }
    const CommandLine c = parse_command_line(args);
    if (run_without_module(c)) return 0;

    // The picture and movie libraries load before the effect, while the
    // signal watcher runs: a Ctrl-C during the load stops the command.
    const bool media = c.command == CommandName::Render || c.command == CommandName::Demo;
    const MediaCommands* commands = media ? &open_media_commands(process) : nullptr;
    cancel.signals.throw_if_cancelled();
    offline::PluginModule module = open_effect_module(c.plugin, process);
    struct Close {
        offline::PluginModule& m;
        ~Close() { offline::close_module(m); }
    } close{module};
    cancel.signals.throw_if_cancelled();
    switch (c.command) {
    case CommandName::About: print_about(module); break;
    case CommandName::Params: print_params(module.effect_main, c.params_format); break;
    case CommandName::Render: commands->render(module.effect_main, c.render, cancel, process); break;
    case CommandName::Demo: commands->demo(module.effect_main, c.demo_dir, cancel); break;
    default: break;
    }
    return 0;
}

}  // namespace lumatrail::tools
