#include "tools/lumatrail/demo.h"

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "offline/param_values.h"
#include "tools/lumatrail/effect_calls.h"
#include "tools/lumatrail/presets.h"
#include "tools/lumatrail/tool_error.h"

namespace lumatrail::tools {
namespace {

// The demo's folder, made if missing; a path that cannot be one is the
// output's fault, said in the tool's words.
void make_demo_folder(const std::string& dir) {
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (!error && !std::filesystem::is_directory(dir, error))
        error = std::make_error_code(std::errc::not_a_directory);
    if (error)
        throw ToolError(EXIT_OUTPUT,
                        "cannot use \"" + dir + "\" as the demo's folder: " + system_reason(error.value()));
}

// A look: the picture's file name and the render options that make it.
struct Look {
    std::string name;
    std::vector<std::string> args;
};

const std::vector<Look>& demo_looks() {
    static const std::vector<Look> looks = {
        {"classic-lines.png", {}},
        {"radial-streams.png", {"--set", "direction=radial-out", "--set", "streak-length-px=160"}},
        {"force-lines.png",
         {"--set", "render-mode=force-lines", "--set", "random-force=500", "--set", "random-scale-px=90",
          "--set", "launch-spread-deg=30", "--set", "streak-length-px=220"}},
        {"particles.png",
         {"--set", "render-mode=particles", "--set", "wind-strength=200", "--set", "wind-direction-deg=90",
          "--set", "stream-size-px=4", "--time", "3"}},
        {"stretch-from-mask.png",
         {"--mask", "builtin", "--set", "mask-mode=stretch-from-mask", "--set", "streak-length-px=200"}},
    };
    return looks;
}

// The sweep's preset: Build Up across the frame in half a second, written
// as the presets are, with the controls that differ from the defaults.
void write_sweep_preset(PF_EffectMainFunc effect_main, const std::string& path) {
    offline::OfflineHost defaults, sweep;
    load_effect_parameters(defaults, effect_main);
    load_effect_parameters(sweep, effect_main);
    for (const char* setting : {"Sweep Mode=Build Up", "Edge Feather (%)=80", "Streak Length (px)=400"})
        offline::apply_setting(sweep, setting);
    offline::set_param_keys(sweep, offline::find_parameter(sweep, "Sweep Position (%)"),
                            {{0, 0}, {0.5, 100}});
    save_preset(sweep, path, &defaults);
}

}  // namespace

void demo(PF_EffectMainFunc effect_main, const std::string& dir, Cancel& cancel) {
    make_demo_folder(dir);
    std::printf("Rendering the built-in test card through EffectMain into %s/:\n", dir.c_str());
    for (const Look& look : demo_looks()) {
        std::vector<std::string> args = look.args;
        for (const char* a : {"--quiet", "-o"}) args.push_back(a);
        args.push_back(dir + "/" + look.name);
        render_args(effect_main, args, cancel);
        std::printf("  %s/%s\n", dir.c_str(), look.name.c_str());
    }
    const std::string preset = dir + "/sweep-preset.json";
    write_sweep_preset(effect_main, preset);
    render_args(
        effect_main,
        {"--quiet", "--preset", preset, "--fps", "24", "--frames", "0-12", "-o", dir + "/sweep.####.png"},
        cancel);
    std::printf("  %s/sweep.0000.png ... %s/sweep.0012.png (preset %s)\n", dir.c_str(), dir.c_str(),
                preset.c_str());
}

}  // namespace lumatrail::tools
