// lumatrail: renders images, image sequences and animations with the
// Lumatrail effect from the shell, exactly as a host would: it loads the
// module, registers it, and drives everything through its EffectMain entry
// point with the offline host playing the host's part.
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <csignal>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "host/effect_identity.h"
#include "host/parameters.h"
#include "offline/offline_host.h"
#include "offline/plugin_module.h"
#include "tools/lumatrail/cancel_signals.h"
#include "tools/lumatrail/command_line.h"
#include "tools/lumatrail/media/frame_numbers.h"
#include "tools/lumatrail/media/image_io.h"
#include "offline/param_values.h"
#include "tools/lumatrail/presets.h"
#include "tools/lumatrail/render_job.h"
#include "tools/lumatrail/render_plan.h"
#include "tools/lumatrail/media/pending_file.h"
#include "tools/lumatrail/render_stats.h"
#include "tools/lumatrail/tool_error.h"

namespace lumatrail::tools {
namespace {

// What the module says of itself after global setup.
struct ModuleSelfReport {
    std::string about;
    PF_OutData setup{};
};

ModuleSelfReport identify(const offline::PluginModule& m) {
    offline::OfflineHost host;
    ModuleSelfReport id;
    PF_OutData out{};
    if (const PF_Err err = offline::send_command(host, m.effect_main, PF_Cmd_ABOUT, out))
        throw ToolError(EXIT_EFFECT, "the About command failed with error " + std::to_string(err));
    id.about = out.return_msg;
    if (const PF_Err err = offline::send_command(host, m.effect_main, PF_Cmd_GLOBAL_SETUP, id.setup))
        throw ToolError(EXIT_EFFECT, "global setup failed with error " + std::to_string(err));
    return id;
}

// The module's own report of its version, under the tool's.
void print_module_version(const offline::PluginModule& m, const std::string& path) {
    const ModuleSelfReport id = identify(m);
    const offline::Registration& r = m.registration;
    std::printf("effect %s %u.%u (0x%08X), match name \"%s\", host interface %d.%d\n", r.name.c_str(),
                id.setup.my_version >> 19, (id.setup.my_version >> 15) & 0xF, id.setup.my_version,
                r.match_name.c_str(), r.api_major, r.api_minor);
    std::printf("module %s\n", path.c_str());
}

// The tool's version, from the tables it was built with, always; the
// module's where it is found.
void print_version(const std::string& plugin) {
    std::printf("lumatrail %u.%u\n", EFFECT_IDENTITY.version, EFFECT_IDENTITY.subversion);
    offline::PluginModule module;
    try {
        module = offline::open_module(plugin, "lumatrail");
    } catch (const std::runtime_error& e) {
        std::printf("module not loaded: %s (build it, or point --plugin at it)\n", e.what());
        return;
    }
    struct Close {
        offline::PluginModule& m;
        ~Close() { offline::close_module(m); }
    } close{module};
    print_module_version(module, plugin);
}

void print_about(const offline::PluginModule& m) {
    const ModuleSelfReport id = identify(m);
    const PF_OutData& setup = id.setup;
    const offline::Registration& r = m.registration;
    std::printf("%s\n\n", id.about.c_str());
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

// What the effect's own table says of the parameter the module declared at
// `index`, when the module's declaration is the one this program was built with.
std::string_view explanation_of(std::size_t index, const std::string& name) {
    if (index < 1 || index > PARAM_TABLE.size()) return {};
    const ParamRow& row = param_row(std::int32_t(index));
    return row.ui_name == name ? row.explanation : std::string_view{};
}

std::string number(double value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.7g", value);
    return buf;
}

// One row of a group's table: the values as the module declared them.
std::string markdown_row(const offline::OfflineParam& p) {
    const PF_ParamDef& d = p.declared;
    std::string dephault, values;
    switch (d.param_type) {
    case PF_Param_FLOAT_SLIDER:
        dephault = number(d.u.fs_d.value);
        values = "slider " + number(d.u.fs_d.slider_min) + " to " + number(d.u.fs_d.slider_max);
        if (d.u.fs_d.valid_min != d.u.fs_d.slider_min || d.u.fs_d.valid_max != d.u.fs_d.slider_max)
            values += "; accepts " + number(d.u.fs_d.valid_min) + " to " + number(d.u.fs_d.valid_max);
        break;
    case PF_Param_POPUP:
        dephault = p.choices.at(std::size_t(d.u.pd.value - 1));
        for (std::size_t i = 0; i < p.choices.size(); ++i) values += (i ? ", " : "") + p.choices[i];
        break;
    case PF_Param_CHECKBOX:
        dephault = d.u.bd.value ? "on" : "off";
        values = "on, off";
        break;
    case PF_Param_LAYER:
        dephault = "none";
        values = "a layer";
        break;
    default: break;
    }
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) of a
    // literal prepended to a temporary string.
    std::string row = "| ";
    for (const std::string& cell :
         {p.name, p.keys.empty() ? std::string() : std::string("`").append(offline::slug(p.name)).append("`"),
          std::string(offline::param_kind_name(d.param_type)), dephault, values})
        row.append(cell).append(" | ");
    row.back() = '\n';
    return row;
}

// The controls reference: every group with a table of its controls as the
// module declares them, then what each control does, from the effect's table.
std::string params_markdown(const offline::OfflineHost& host) {
    std::string text =
        "# Controls\n\n"
        "<!-- Written by `lumatrail params --markdown` (`make docs`) from the effect's own parameter "
        "table; edit the explanations in host/parameters.h, not here. -->\n\n"
        "The effect's controls in the order the host shows them, group by group. The UI name or the slug "
        "names a control in `lumatrail render --set NAME=VALUE` and in presets; popups take a choice's text "
        "and checkboxes on or off. Sliders show their slider range and, where it is wider, what may be typed "
        "in. Lengths and sizes are in full-resolution pixels, so a half-resolution render keeps the look.\n";
    std::string notes;
    const auto close_group = [&] {
        text += notes;
        notes.clear();
    };
    for (std::size_t i = 1; i < host.params.size(); ++i) {
        const offline::OfflineParam& p = host.params[i];
        const std::string_view explanation = explanation_of(i, p.name);
        switch (p.declared.param_type) {
        case PF_Param_GROUP_START:
            close_group();
            text += "\n## " + p.name + "\n\n";
            if (!explanation.empty()) text += std::string(explanation) + "\n\n";
            text += "| Control | Slug | Kind | Default | Values |\n|---|---|---|---|---|\n";
            break;
        case PF_Param_GROUP_END: close_group(); break;
        default:
            text += markdown_row(p);
            notes += "\n**" + p.name + "**: " +
                     (explanation.empty() ? std::string("(no explanation)") : std::string(explanation)) +
                     "\n";
            break;
        }
    }
    close_group();
    // Group starts and ends are markers, not controls.
    const auto count = [&](auto&& kind_counts) {
        return std::count_if(host.params.begin() + 1, host.params.end(), [&](const offline::OfflineParam& p) {
            return kind_counts(p.declared.param_type);
        });
    };
    const auto controls =
        count([](std::int32_t t) { return t != PF_Param_GROUP_START && t != PF_Param_GROUP_END; });
    const auto groups = count([](std::int32_t t) { return t == PF_Param_GROUP_START; });
    text += "\n" + std::to_string(controls) + " controls in " + std::to_string(groups) +
            " groups, after the input layer that the host adds itself.\n";
    return text;
}

void print_params(PF_EffectMainFunc effect_main, bool markdown) {
    offline::OfflineHost host;
    load(host, effect_main);
    if (markdown) {
        std::fputs(params_markdown(host).c_str(), stdout);
        return;
    }
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
                    has_value ? offline::slug(p.name).c_str() : "", describe(p).c_str());
        if (p.declared.param_type == PF_Param_GROUP_START) ++depth;
    }
    std::printf("\n%zu parameters declared (input layer included).\n", host.params.size());
}

// The cancel signals and the files a second signal removes.
struct Cancel {
    CancelSignals& signals;
    PendingFiles& pending;
};

void warn(const std::string& message) { std::fprintf(stderr, "lumatrail: warning: %s\n", message.c_str()); }

bool holds_other_than(const offline::OfflineHost& host, const std::string& name, double value) {
    const offline::OfflineParam& p = host.params[std::size_t(offline::find_parameter(host, name))];
    return std::any_of(p.keys.begin(), p.keys.end(),
                       [&](const offline::ParamKey& k) { return k.value != value; });
}

// Options that would do nothing are said to do nothing.
void warn_of_no_ops(const offline::OfflineHost& host, const RenderOptions& r) {
    const bool mask_mode = holds_other_than(host, "Mask Mode", 1.0);
    const bool show_mask = holds_other_than(host, "Show Mask", 0.0);
    if (!r.job.mask.empty() && !mask_mode && !show_mask)
        warn(
            "--mask is not used while Mask Mode is \"Off - Full Frame Sort\" and Show Mask is off "
            "(set mask-mode=sort-inside-mask or stretch-from-mask)");
    if (r.job.mask.empty() && (mask_mode || show_mask))
        warn("no --mask was given, so Mask Mode and Show Mask have no mask layer to use");
    if (r.size_given && !r.job.input.empty())
        warn("--size is for the test card; the input \"" + r.job.input + "\" keeps its own size");
    if (r.card_given && !r.job.input.empty())
        warn("--card chooses the built-in picture; the input \"" + r.job.input + "\" is rendered instead");
    if (r.time && (r.frame || r.range || r.job.frames.size() > 1 || r.job.rate))
        warn("--time is not used when frames are given; each frame's time is its number over the frame rate");
}

void render_command(PF_EffectMainFunc effect_main, RenderOptions r, Cancel& cancel,
                    const ProcessTimes& process = {}) {
    r.job.time = r.time.value_or(0.0);
    for (const std::string* name : {&r.job.input_colorspace, &r.job.output_colorspace})
        if (!name->empty()) check_colorspace(*name);
    // Linear light read into 8 or 16 bits would band: a conversion reads into float unless told otherwise.
    if (!r.job.input_colorspace.empty() && !r.job.depth) r.job.depth = PF_PixelFormat_ARGB128;
    offline::OfflineHost host;
    load(host, effect_main);
    for (const std::string& preset : r.presets)
        for (const std::string& warning : load_preset(host, preset)) warn(warning);
    for (const std::string& s : r.settings) {
        try {
            offline::apply_setting(host, s);
        } catch (const std::invalid_argument& e) {
            usage_error(e.what());
        }
    }
    cancel.signals.throw_if_cancelled();
    if (!r.save_preset.empty()) {
        save_preset(host, r.save_preset);
        if (!r.job.quiet) std::printf("wrote %s\n", r.save_preset.c_str());
    }
    if (r.job.output.empty()) return;
    plan_frames(r);
    warn_of_no_ops(host, r);
    if (r.job.frames.empty()) {
        if (!r.job.quiet)
            std::printf(r.skip_existing ? "every frame's file exists; nothing to render\n"
                                        : "no frame of the range falls in this shard\n");
        return;
    }
    cancel.signals.throw_if_cancelled();
    const RenderOutcome outcome = run_render(effect_main, host, r.job, cancel.signals, &cancel.pending);
    const std::size_t written = outcome.written;
    if (!r.job.quiet && output_kind(r.job.output) == MediaKind::Movie)
        std::printf("wrote %s: %zu frame%s\n", r.job.output.c_str(), r.job.frames.size(),
                    r.job.frames.size() == 1 ? "" : "s");
    else if (!r.job.quiet)
        std::printf(
            "wrote %zu file%s: %s\n", written, written == 1 ? "" : "s",
            written == 1 ? frame_path(r.job.output, r.job.frames.front()).c_str() : r.job.output.c_str());
    if (r.stats) {
        std::fflush(stdout);
        std::fputs(stats_report(outcome.times, !r.job.rate, process).c_str(), stderr);
    }
}

// Renders as `lumatrail render ARGS` would.
void render_args(PF_EffectMainFunc effect_main, std::vector<std::string> args, Cancel& cancel) {
    args.insert(args.begin(), "render");
    render_command(effect_main, parse_command_line(args).render, cancel);
}

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

void demo(PF_EffectMainFunc effect_main, const std::string& dir, Cancel& cancel) {
    make_demo_folder(dir);
    std::printf("Rendering the built-in test card through EffectMain into %s/:\n", dir.c_str());
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
        render_args(effect_main, args, cancel);
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
    render_args(
        effect_main,
        {"--quiet", "--preset", preset, "--fps", "24", "--frames", "0-12", "-o", dir + "/sweep.####.png"},
        cancel);
    std::printf("  %s/sweep.0000.png ... %s/sweep.0012.png (preset %s)\n", dir.c_str(), dir.c_str(),
                preset.c_str());
}

int run(const std::vector<std::string>& args, ProcessTimes process, Cancel& cancel) {
    if (args.empty()) {
        std::fputs(parse_command_line({"--help"}).help.c_str(), stderr);
        return EXIT_USAGE;
    }
    const CommandLine c = parse_command_line(args);
    if (c.command == CommandName::Help) {
        std::fputs(c.help.c_str(), stdout);
        return 0;
    }
    if (c.command == CommandName::Version) {
        print_version(c.plugin);
        return 0;
    }
    if (c.command == CommandName::Colorspaces) {
        for (const std::string& name : known_colorspaces()) std::printf("%s\n", name.c_str());
        return 0;
    }

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
    cancel.signals.throw_if_cancelled();
    switch (c.command) {
    case CommandName::About: print_about(module); break;
    case CommandName::Params: print_params(module.effect_main, c.params_markdown); break;
    case CommandName::Render: render_command(module.effect_main, c.render, cancel, process); break;
    case CommandName::Demo: demo(module.effect_main, c.demo_dir, cancel); break;
    default: break;
    }
    return 0;
}

}  // namespace
}  // namespace lumatrail::tools

#if defined(__SANITIZE_ADDRESS__)
// libx265's 10-bit encoder keeps a little memory of its own to the end; the
// sanitized build's leak checker passes over that library alone.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
    return "leak:libx265.so\n";
}
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_options() {
    return "print_suppressions=0";
}
#endif

// Ctrl-C and SIGTERM are blocked before main, while the libraries start, so
// that one arriving then waits for the watcher main makes instead of killing
// the process.
[[gnu::constructor]] static void block_cancel_signals_before_main() {
    const sigset_t set = lumatrail::tools::cancel_signal_set();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int main(int argc, char** argv) {
    using namespace lumatrail::tools;
    // First, so that the start-up is measured up to here and no further.
    const std::optional<double> startup_ms = time_since_process_start_ms();
    // Before any other thread exists, so that every thread inherits the
    // blocked signals and only the watcher takes them.
    CancelSignals signals;
    // A second signal removes the files being written before it quits.
    PendingFiles pending;
    signals.on_quit([&pending] { pending.remove_all(); });
    Cancel cancel{signals, pending};
    // A file size limit (ulimit -f) makes a write fail with "file too large"
    // rather than kill the process, so the error is reported and the file removed.
    std::signal(SIGXFSZ, SIG_IGN);
    const auto exit_code = [&](int code) {
        // A cancel wins over the error it caused on the way out.
        return signals.cancelled() && code != 0 && code != EXIT_EFFECT ? signals.exit_code() : code;
    };
    try {
        return exit_code(run(std::vector<std::string>(argv + 1, argv + argc), {startup_ms, 0.0}, cancel));
    } catch (const ToolError& e) {
        std::fprintf(stderr, "lumatrail: %s\n", e.what());
        if (e.exit_code == EXIT_USAGE) std::fputs("(see lumatrail --help)\n", stderr);
        return exit_code(e.exit_code);
    } catch (const std::bad_alloc&) {
        std::fputs("lumatrail: out of memory\n", stderr);
        return exit_code(EXIT_INPUT);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lumatrail: %s\n", e.what());
        return exit_code(EXIT_INTERNAL);
    }
}
