// lumatrail_windows_host MODULE [FRAME_DIR]: loads the Windows module the way
// the host does and checks every answer it gives, step by step:
//
//   1. LoadLibraryW, and the exports EffectMain and PluginDataEntryFunction2
//   2. the property list resource ("PIPL", id 16000, English) against PROPERTY_LIST
//   3. registration through PluginDataEntryFunction2
//   4. About, global setup and parameter setup through the offline host
//   5. with FRAME_DIR: every frame of the frame set (frame_set.h)
//      rendered through the render commands, the raw pixels written into
//      FRAME_DIR for the comparison with the native build
//
// Loading and registration are the offline host's (offline/plugin_module.h),
// as in the lumatrail renderer; this program adds the checks of each answer.
// Prints one line per step passed; on the first step that fails, prints what
// was wrong and exits with status 1 (2 for a wrong command line).
#include <windows.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "offline/offline_host.h"
#include "offline/plugin_module.h"
#include "tools/property_list/property_list_rc.h"
#include "tools/windows_host/frame_set.h"
#include "tools/windows_host/module_checks.h"

namespace lumatrail::tools {
namespace {

namespace fs = std::filesystem;

// A failed step: its problems are printed and the program stops.
struct StepFailure {
    std::string step;
    Problems problems;
};

void require(const char* step, Problems problems) {
    if (!problems.empty()) throw StepFailure{step, std::move(problems)};
    std::printf("ok   %s\n", step);
}

std::string utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// Runs the step; an exception it throws fails the step with its message.
template <class Step>
auto step(const char* name, Step run) {
    try {
        return run();
    } catch (const std::exception& e) {
        throw StepFailure{name, {e.what()}};
    }
}

offline::PluginModule load(const fs::path& path) {
    offline::PluginModule m = step("load the module", [&] { return offline::load_module(path); });
    Problems problems;
    if (!offline::find_export(m, "EffectMain"))
        problems.push_back(utf8(path) + " does not export EffectMain");
    if (!m.plugin_data_entry) problems.push_back(utf8(path) + " does not export PluginDataEntryFunction2");
    require("load the module and find EffectMain and PluginDataEntryFunction2", problems);
    return m;
}

void check_property_list(const offline::PluginModule& m) {
    const char* name = "read the property list resource";
    const auto resource = step(name, [&] {
        return offline::module_resource(m, PROPERTY_LIST_TYPE, PROPERTY_LIST_ID,
                                        MAKELANGID(PROPERTY_LIST_LANGUAGE, PROPERTY_LIST_SUBLANGUAGE));
    });
    require(name, property_list_problems(resource));
}

void register_and_check(offline::PluginModule& m) {
    const char* name = "register the module through PluginDataEntryFunction2";
    step(name, [&] { offline::register_module(m, "lumatrail_windows_host"); });
    Problems problems = registration_problems(m.registration);
    // The entry point the module names must be the one it exports as EffectMain.
    if (reinterpret_cast<void*>(m.effect_main) != offline::find_export(m, "EffectMain"))
        problems.push_back("the registered entry point \"" + m.registration.entry_point +
                           "\" is not the exported EffectMain");
    require(name, problems);
}

PF_OutData run_command(const offline::PluginModule& m, offline::OfflineHost& host, PF_Cmd cmd,
                       const char* name) {
    PF_OutData out{};
    if (const PF_Err err = offline::send_command(host, m.effect_main, cmd, out))
        throw StepFailure{name, {"EffectMain returned " + std::to_string(err)}};
    return out;
}

void run_startup_commands(const offline::PluginModule& m) {
    offline::OfflineHost host;
    const char* about = "About (command 0)";
    require(about, about_problems(run_command(m, host, PF_Cmd_ABOUT, about)));
    const char* global_setup = "global setup (command 1)";
    require(global_setup, global_setup_problems(run_command(m, host, PF_Cmd_GLOBAL_SETUP, global_setup)));
    const char* params_setup = "parameter setup (command 4) through the offline host";
    if (const PF_Err err = offline::load_parameters(host, m.effect_main))
        throw StepFailure{params_setup, {"EffectMain returned " + std::to_string(err)}};
    require(params_setup, parameter_problems(host));
}

void render_frame_set(const offline::PluginModule& m, const fs::path& directory) {
    const char* name = "render the frame set through the render commands";
    const std::size_t written = step(name, [&] { return write_frame_set(m.effect_main, directory); });
    require(name, {});
    std::printf("     %zu frames written to %s\n", written, utf8(directory).c_str());
}

int run(const fs::path& module_path, const fs::path& frame_dir) {
    offline::PluginModule m = load(module_path);
    check_property_list(m);
    register_and_check(m);
    run_startup_commands(m);
    if (!frame_dir.empty()) render_frame_set(m, frame_dir);
    offline::close_module(m);
    std::printf("all checks passed for %s\n", utf8(module_path).c_str());
    return 0;
}

}  // namespace
}  // namespace lumatrail::tools

int wmain(int argc, wchar_t** argv) {
    if (argc != 2 && argc != 3) {
        std::fputs("usage: lumatrail_windows_host MODULE [FRAME_DIR]\n", stderr);
        return 2;
    }
    try {
        return lumatrail::tools::run(argv[1], argc == 3 ? argv[2] : L"");
    } catch (const lumatrail::tools::StepFailure& failure) {
        std::fprintf(stderr, "FAIL %s:\n", failure.step.c_str());
        for (const std::string& p : failure.problems) std::fprintf(stderr, "     %s\n", p.c_str());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "FAIL: %s\n", e.what());
        return 1;
    }
}
