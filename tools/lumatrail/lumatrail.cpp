// lumatrail: renders images, image sequences and animations with the
// Lumatrail effect from the shell, exactly as a host would: it loads the
// module, registers it, and drives everything through its EffectMain entry
// point with the offline host playing the host's part.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "offline/offline_host.h"
#include "offline/plugin_module.h"
#include "tools/lumatrail/image_io.h"
#include "tools/lumatrail/param_values.h"
#include "tools/lumatrail/presets.h"
#include "tools/lumatrail/render_job.h"
#include "tools/lumatrail/render_stats.h"
#include "tools/lumatrail/tool_error.h"

namespace lumatrail::tools {
namespace {

constexpr const char* USAGE = R"(usage: lumatrail [--plugin PATH] COMMAND [OPTIONS]

Commands:
  render [INPUT] -o OUTPUT [options]   render a still or a sequence
  demo [--out-dir DIR]                 render the built-in test card in every mode (default DIR: demo)
  params                               the parameter table, as the effect declares it
  about                                the About text and the effect's identity

INPUT is an image (PNG, JPEG, TIFF, OpenEXR, DPX, ...) or a sequence pattern
(shot.####.exr or shot.%04d.exr); without one, the built-in test card is used.
OUTPUT is written by its extension; several frames need a pattern (out.####.png).

Render options:
  -o, --out PATH           the output image or pattern
  --mask PATH              the Mask Layer: an image, a pattern, or "builtin"
  --set NAME=VALUE         a parameter by UI name or slug (repeatable); popups by
                           choice text or number, checkboxes on/off
  --preset FILE            parameter values and keyframes from JSON
  --save-preset FILE       write the parameters (after --preset and --set) as JSON
  --time SECONDS           the frame's time (default 0)
  --fps RATE               frame rate, with --frame N or --frames A-B
  --frame N | --frames A-B frame numbers (time = frame / fps)
  --shard K/N              render only the frames f with f mod N = K-1
  --downsample N | X,Y     render at 1/N resolution, as the host does
  --depth 8|16|32          world depth (default: the input's)
  --size WxH               size of the test card (default 960x540)
  -j, --jobs N             frames rendered at once (default: all cores)
  --progress | --quiet     force the progress bar on, or print nothing but errors
  --stats                  after the render, print on stderr the milliseconds each
                           frame spent reading, rendering and writing, the totals,
                           the wall time, and the module load and start-up times
                           (with --jobs, the totals add up every thread's time)

Examples:
  lumatrail render photo.png -o sorted.png --set "Streak Length (px)=300"
  lumatrail render -o card.exr --depth 32 --set direction=radial-out
  lumatrail render shot.####.exr -o out.####.exr --fps 24 --frames 1-48 --preset look.json
  lumatrail render plate.png --mask matte.png --set mask-mode=stretch-from-mask -o streaks.png

Exit codes: 0 done, 2 bad arguments or preset, 3 unreadable input, 4 output not
writable, 5 the effect reported an error, 130 cancelled (Ctrl-C).
)";

struct Command {
    std::string plugin;
    std::string name;
    std::vector<std::string> args;
};

[[noreturn]] void usage_error(const std::string& message) { throw ToolError(EXIT_USAGE, message); }

void print_about(const offline::PluginModule& m) {
    offline::OfflineHost host;
    PF_OutData out{};
    if (const PF_Err err = offline::send_command(host, m.effect_main, PF_Cmd_ABOUT, out))
        throw ToolError(EXIT_EFFECT, "the About command failed with error " + std::to_string(err));
    PF_OutData setup{};
    if (const PF_Err err = offline::send_command(host, m.effect_main, PF_Cmd_GLOBAL_SETUP, setup))
        throw ToolError(EXIT_EFFECT, "global setup failed with error " + std::to_string(err));
    const offline::Registration& r = m.registration;
    std::printf("%s\n\n", out.return_msg);
    std::printf("Effect      %s (match name \"%s\", category \"%s\")\n", r.name.c_str(), r.match_name.c_str(),
                r.category.c_str());
    std::printf("Version     %u.%u (0x%08X), host interface %d.%d\n", setup.my_version >> 19,
                (setup.my_version >> 15) & 0xF, setup.my_version, r.api_major, r.api_minor);
    std::printf("Flags       out_flags 0x%08X, out_flags2 0x%08X\n", unsigned(setup.out_flags),
                unsigned(setup.out_flags2));
    std::printf("Support     %s\n", r.support_url.c_str());
}

std::string describe(const offline::OfflineParam& p) {
    const PF_ParamDef& d = p.declared;
    char buf[256];
    switch (d.param_type) {
    case PF_Param_FLOAT_SLIDER:
        std::snprintf(buf, sizeof buf, "default %-8.7g valid %.7g to %.7g, slider %.7g to %.7g",
                      d.u.fs_d.value, d.u.fs_d.valid_min, d.u.fs_d.valid_max, d.u.fs_d.slider_min,
                      d.u.fs_d.slider_max);
        return buf;
    case PF_Param_POPUP: {
        std::string s = "default " + p.choices.at(std::size_t(d.u.pd.value - 1)) + "; choices ";
        for (std::size_t i = 0; i < p.choices.size(); ++i) s += (i ? " | " : "") + p.choices[i];
        return s;
    }
    case PF_Param_CHECKBOX: return d.u.bd.value ? "default on" : "default off";
    case PF_Param_LAYER: return "default none";
    default: return "";
    }
}

offline::OfflineHost& load(offline::OfflineHost& host, PF_EffectMainFunc effect_main) {
    if (const PF_Err err = offline::load_parameters(host, effect_main))
        throw ToolError(EXIT_EFFECT, "parameter setup failed with error " + std::to_string(err));
    return host;
}

void print_params(PF_EffectMainFunc effect_main) {
    offline::OfflineHost host;
    load(host, effect_main);
    std::printf("%-5s %-28s %-10s %-24s %s\n", "Index", "Name", "Kind", "Slug", "Values");
    int depth = 0;
    std::vector<std::string> open_groups;
    for (std::size_t i = 1; i < host.params.size(); ++i) {
        const offline::OfflineParam& p = host.params[i];
        std::string label = p.name;
        if (p.declared.param_type == PF_Param_GROUP_END) {
            --depth;
            label = "(end of " + (open_groups.empty() ? std::string("group") : open_groups.back()) + ")";
            if (!open_groups.empty()) open_groups.pop_back();
        } else if (p.declared.param_type == PF_Param_GROUP_START) {
            open_groups.push_back(p.name);
        }
        const bool has_value = !p.keys.empty();
        const std::string name = std::string(std::size_t(2 * std::max(depth, 0)), ' ') + label;
        std::printf("%-5zu %-28s %-10s %-24s %s\n", i, name.c_str(),
                    std::string(offline::param_kind_name(p.declared.param_type)).c_str(),
                    has_value ? slug(p.name).c_str() : "", describe(p).c_str());
        if (p.declared.param_type == PF_Param_GROUP_START) ++depth;
    }
    std::printf("\n%zu parameters declared (input layer included).\n", host.params.size());
}

PF_PixelFormat parse_depth(const std::string& v) {
    if (v == "8") return PF_PixelFormat_ARGB32;
    if (v == "16") return PF_PixelFormat_ARGB64;
    if (v == "32") return PF_PixelFormat_ARGB128;
    usage_error("--depth takes 8, 16 or 32, not \"" + v + "\"");
}

std::int32_t parse_int(const std::string& option, const std::string& v) {
    try {
        std::size_t used = 0;
        const long n = std::stol(v, &used);
        if (used == v.size() && n >= INT32_MIN && n <= INT32_MAX) return std::int32_t(n);
    } catch (const std::exception&) {}
    usage_error(option + " takes a whole number, not \"" + v + "\"");
}

double parse_double(const std::string& option, const std::string& v) {
    try {
        std::size_t used = 0;
        const double d = std::stod(v, &used);
        if (used == v.size() && std::isfinite(d)) return d;
    } catch (const std::exception&) {}
    usage_error(option + " takes a number, not \"" + v + "\"");
}

struct RenderRequest {
    RenderJob job;
    std::vector<std::string> settings, presets;
    std::string save_preset;
    std::optional<std::int32_t> frame;
    std::optional<std::pair<std::int32_t, std::int32_t>> range;
    std::optional<std::pair<std::int32_t, std::int32_t>> shard;
    bool stats = false;
};

RenderRequest parse_render(const std::vector<std::string>& args) {
    RenderRequest r;
    r.job.jobs = std::max(1u, std::thread::hardware_concurrency());
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 == args.size()) usage_error(a + " needs a value");
            return args[++i];
        };
        if (a == "-o" || a == "--out")
            r.job.output = value();
        else if (a == "--mask")
            r.job.mask = value();
        else if (a == "--set")
            r.settings.push_back(value());
        else if (a == "--preset")
            r.presets.push_back(value());
        else if (a == "--save-preset")
            r.save_preset = value();
        else if (a == "--time")
            r.job.time = parse_double(a, value());
        else if (a == "--fps") {
            r.job.fps = parse_double(a, value());
            if (r.job.fps <= 0 || r.job.fps > 1000) usage_error("--fps takes a rate above 0 and up to 1000");
        } else if (a == "--frame")
            r.frame = parse_int(a, value());
        else if (a == "--frames") {
            const std::string v = value();
            const std::size_t dash = v.find('-', 1);
            if (dash == std::string::npos) usage_error("--frames takes A-B, for example 1-48");
            r.range = {parse_int(a, v.substr(0, dash)), parse_int(a, v.substr(dash + 1))};
            if (r.range->second < r.range->first) usage_error("--frames " + v + " ends before it starts");
        } else if (a == "--shard") {
            const std::string v = value();
            const std::size_t slash = v.find('/');
            if (slash == std::string::npos) usage_error("--shard takes K/N, for example 2/8");
            r.shard = {parse_int(a, v.substr(0, slash)), parse_int(a, v.substr(slash + 1))};
            if (r.shard->second < 1 || r.shard->first < 1 || r.shard->first > r.shard->second)
                usage_error("--shard K/N needs 1 <= K <= N, not " + v);
        } else if (a == "--downsample") {
            const std::string v = value();
            const std::size_t comma = v.find(',');
            const std::int32_t x = parse_int(a, v.substr(0, comma));
            const std::int32_t y = comma == std::string::npos ? x : parse_int(a, v.substr(comma + 1));
            if (x < 1 || y < 1) usage_error("--downsample takes N or X,Y of 1 or more");
            r.job.downsample_x = {1, std::uint32_t(x)};
            r.job.downsample_y = {1, std::uint32_t(y)};
        } else if (a == "--depth")
            r.job.depth = parse_depth(value());
        else if (a == "--size") {
            const std::string v = value();
            const std::size_t x = v.find_first_of("xX");
            if (x == std::string::npos) usage_error("--size takes WIDTHxHEIGHT, for example 1920x1080");
            r.job.card_width = parse_int(a, v.substr(0, x));
            r.job.card_height = parse_int(a, v.substr(x + 1));
            if (r.job.card_width < 1 || r.job.card_height < 1 || r.job.card_width > 65536 ||
                r.job.card_height > 65536)
                usage_error("--size takes sides from 1 to 65536");
        } else if (a == "-j" || a == "--jobs") {
            const std::int32_t n = parse_int(a, value());
            if (n < 1) usage_error("--jobs takes 1 or more");
            r.job.jobs = unsigned(n);
        } else if (a == "--progress")
            r.job.progress = true;
        else if (a == "--quiet")
            r.job.quiet = true;
        else if (a == "--stats")
            r.stats = true;
        else if (!a.empty() && a[0] == '-')
            usage_error("unknown option \"" + a + "\" (see lumatrail --help)");
        else if (r.job.input.empty())
            r.job.input = a;
        else
            usage_error("more than one input: \"" + r.job.input + "\" and \"" + a + "\"");
    }
    if (r.job.output.empty() && r.save_preset.empty()) usage_error("render needs -o OUTPUT");
    if ((r.frame || r.range) && r.job.fps <= 0) usage_error("--frame and --frames need --fps");
    if (r.frame && r.range) usage_error("use --frame or --frames, not both");
    if (r.range) {
        for (std::int32_t f = r.range->first; f <= r.range->second; ++f) r.job.frames.push_back(f);
    } else {
        r.job.frames.push_back(r.frame.value_or(0));
    }
    if (r.shard) {
        const auto [k, n] = *r.shard;
        std::erase_if(r.job.frames, [&](std::int32_t f) { return ((f % n) + n) % n != k - 1; });
    }
    return r;
}

void render_command(PF_EffectMainFunc effect_main, const std::vector<std::string>& args,
                    const ProcessTimes& process = {}) {
    RenderRequest r = parse_render(args);
    offline::OfflineHost host;
    load(host, effect_main);
    for (const std::string& preset : r.presets) load_preset(host, preset);
    for (const std::string& s : r.settings) {
        try {
            apply_setting(host, s);
        } catch (const std::invalid_argument& e) {
            usage_error(e.what());
        }
    }
    if (!r.save_preset.empty()) {
        save_preset(host, r.save_preset);
        if (!r.job.quiet) std::printf("wrote %s\n", r.save_preset.c_str());
    }
    if (r.job.output.empty()) return;
    if (r.job.frames.empty()) {
        if (!r.job.quiet) std::printf("no frame of the range falls in this shard\n");
        return;
    }
    const RenderOutcome outcome = run_render(effect_main, host, r.job);
    const std::size_t written = outcome.written;
    if (!r.job.quiet)
        std::printf(
            "wrote %zu file%s: %s\n", written, written == 1 ? "" : "s",
            written == 1 ? frame_path(r.job.output, r.job.frames.front()).c_str() : r.job.output.c_str());
    if (r.stats) {
        std::fflush(stdout);
        std::fputs(stats_report(outcome.times, r.job.fps <= 0.0, process).c_str(), stderr);
    }
}

void demo(PF_EffectMainFunc effect_main, const std::string& dir) {
    std::filesystem::create_directories(dir);
    struct Look {
        std::string name;
        std::vector<std::string> args;
    };
    const std::vector<Look> looks = {
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
    for (const Look& look : looks) {
        std::vector<std::string> args = look.args;
        for (const char* a : {"--quiet", "-o"}) args.push_back(a);
        args.push_back(dir + "/" + look.name);
        render_command(effect_main, args);
        std::printf("  %s/%s\n", dir.c_str(), look.name.c_str());
    }
    // A short animated sweep: Build Up across the frame in half a second.
    const std::string preset = dir + "/sweep-preset.json";
    {
        std::FILE* f = std::fopen(preset.c_str(), "w");
        if (!f) throw ToolError(EXIT_OUTPUT, "cannot write \"" + preset + "\"");
        std::fputs(
            "{\"Sweep Mode\": \"Build Up\", \"Sweep Position (%)\": [[0, 0], [0.5, 100]],\n"
            " \"Edge Feather (%)\": 80, \"Streak Length (px)\": 400}\n",
            f);
        std::fclose(f);
    }
    render_command(effect_main, {"--quiet", "--preset", preset, "--fps", "24", "--frames", "0-12", "-o",
                                 dir + "/sweep.####.png"});
    std::printf("  %s/sweep.0000.png ... %s/sweep.0012.png (preset %s)\n", dir.c_str(), dir.c_str(),
                preset.c_str());
}

int run(int argc, char** argv, ProcessTimes process) {
    Command c;
    c.plugin = offline::default_module_path();
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--plugin") {
            if (++i == argc) usage_error("--plugin needs the path of a module");
            c.plugin = argv[i];
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(USAGE, stdout);
            return 0;
        } else {
            args.push_back(arg);
        }
    }
    if (args.empty()) {
        std::fputs(USAGE, stderr);
        return EXIT_USAGE;
    }
    c.name = args.front();
    c.args.assign(args.begin() + 1, args.end());
    if (c.name != "about" && c.name != "params" && c.name != "render" && c.name != "demo")
        usage_error("unknown command \"" + c.name + "\" (commands: render, demo, params, about)");
    if ((c.name == "about" || c.name == "params") && !c.args.empty())
        usage_error("unknown argument \"" + c.args.front() + "\"");

    offline::PluginModule module;
    try {
        const auto loading = std::chrono::steady_clock::now();
        module = offline::open_module(c.plugin, "lumatrail");
        process.module_load_ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - loading).count();
    } catch (const std::runtime_error& e) {
        throw ToolError(EXIT_INPUT, std::string(e.what()) + " (build the module, or point --plugin at it)");
    }
    struct Close {
        offline::PluginModule& m;
        ~Close() { offline::close_module(m); }
    } close{module};
    if (c.name == "about")
        print_about(module);
    else if (c.name == "params")
        print_params(module.effect_main);
    else if (c.name == "render")
        render_command(module.effect_main, c.args, process);
    else {
        std::string dir = "demo";
        if (!c.args.empty()) {
            if (c.args.size() != 2 || c.args[0] != "--out-dir") usage_error("demo takes only --out-dir DIR");
            dir = c.args[1];
        }
        std::printf("Rendering the built-in test card through EffectMain into %s/:\n", dir.c_str());
        demo(module.effect_main, dir);
    }
    return 0;
}

}  // namespace
}  // namespace lumatrail::tools

int main(int argc, char** argv) {
    using namespace lumatrail::tools;
    // First, so that the start-up is measured up to here and no further.
    const std::optional<double> startup_ms = time_since_process_start_ms();
    try {
        return run(argc, argv, {startup_ms, 0.0});
    } catch (const ToolError& e) {
        std::fprintf(stderr, "lumatrail: %s\n", e.what());
        if (e.exit_code == EXIT_USAGE) std::fputs("(see lumatrail --help)\n", stderr);
        return e.exit_code;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lumatrail: %s\n", e.what());
        return EXIT_INTERNAL;
    }
}
