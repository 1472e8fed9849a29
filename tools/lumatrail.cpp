// lumatrail: drives the Lumatrail module from the shell the way a host does,
// through its registration and its EffectMain entry point, with the offline
// host playing the host's part.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "offline/offline_frame.h"
#include "offline/offline_host.h"
#include "tools/param_values.h"
#include "tools/plugin_module.h"
#include "tools/ppm_writer.h"
#include "tools/test_card.h"

namespace lumatrail::tools {
namespace {

void print_usage(std::FILE* to) {
    std::fputs(
        "usage: lumatrail [--plugin PATH] COMMAND [OPTIONS]\n"
        "commands:\n"
        "  about              the About text and the module's identity\n"
        "  params             the parameter table the effect declares\n"
        "  render --out FILE.ppm [options]\n"
        "                     render the built-in test card through the effect\n"
        "      --size WxH         picture size (default 960x540)\n"
        "      --depth 8|16|32    world depth (default 8)\n"
        "      --time SECONDS     frame time (default 0)\n"
        "      --downsample N     render at 1/N resolution, as the host does\n"
        "      --mask             use the built-in mask as the Mask Layer\n"
        "      --set NAME=VALUE   a parameter by UI name or slug, e.g.\n"
        "                         --set \"Streak Length (px)=300\" --set direction=radial-out\n"
        "  demo [--out-dir DIR]   render the test card in five looks (default DIR: lumatrail-demo)\n"
        "  (none)             about, then demo\n"
        "  --plugin PATH      the Lumatrail module to load (default: next to this program)\n",
        to);
}

void print_about(const PluginModule& m) {
    offline::OfflineHost host;
    PF_InData in_data = offline::make_in_data(host);
    PF_OutData out{};
    if (const PF_Err err = m.effect_main(PF_Cmd_ABOUT, &in_data, &out, nullptr, nullptr, nullptr))
        throw std::runtime_error("the About command failed with error " + std::to_string(err));
    PF_OutData setup{};
    if (const PF_Err err =
            m.effect_main(PF_Cmd_GLOBAL_SETUP, &in_data, &setup, nullptr, nullptr, nullptr))
        throw std::runtime_error("global setup failed with error " + std::to_string(err));

    const Registration& r = m.registration;
    std::printf("%s\n\n", out.return_msg);
    std::printf("Effect      %s (match name \"%s\", category \"%s\")\n", r.name.c_str(),
                r.match_name.c_str(), r.category.c_str());
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
                      d.u.fs_d.value, d.u.fs_d.valid_min, d.u.fs_d.valid_max,
                      d.u.fs_d.slider_min, d.u.fs_d.slider_max);
        return buf;
    case PF_Param_POPUP: {
        std::string s = "default " + p.choices.at(std::size_t(d.u.pd.value - 1)) + "; choices ";
        for (std::size_t i = 0; i < p.choices.size(); ++i)
            s += (i ? " | " : "") + p.choices[i];
        return s;
    }
    case PF_Param_CHECKBOX: return d.u.bd.value ? "default on" : "default off";
    case PF_Param_LAYER: return "default none";
    default: return "";
    }
}

void print_params(const PluginModule& m) {
    offline::OfflineHost host;
    if (const PF_Err err = offline::load_parameters(host, m.effect_main))
        throw std::runtime_error("parameter setup failed with error " + std::to_string(err));
    std::printf("%-5s %-26s %-10s %s\n", "Index", "Name", "Kind", "Values");
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
        const std::string name = std::string(std::size_t(2 * std::max(depth, 0)), ' ') + label;
        std::printf("%-5zu %-26s %-10s %s\n", i, name.c_str(),
                    std::string(offline::param_kind_name(p.declared.param_type)).c_str(),
                    describe(p).c_str());
        if (p.declared.param_type == PF_Param_GROUP_START) ++depth;
    }
    std::printf("\n%zu parameters declared (input layer included).\n", host.params.size());
}

struct RenderOptions {
    std::int32_t width = 960, height = 540;
    PF_PixelFormat format = PF_PixelFormat_ARGB32;
    double time = 0.0;
    std::uint32_t downsample = 1;
    bool mask = false;
    std::vector<std::string> settings;
    std::string out;
};

PF_PixelFormat parse_depth(const std::string& v) {
    if (v == "8") return PF_PixelFormat_ARGB32;
    if (v == "16") return PF_PixelFormat_ARGB64;
    if (v == "32") return PF_PixelFormat_ARGB128;
    throw std::invalid_argument("--depth takes 8, 16 or 32, not \"" + v + "\"");
}

void parse_size(const std::string& v, RenderOptions& o) {
    int w = 0, h = 0;
    char x = 0, extra = 0;
    if (std::sscanf(v.c_str(), "%d%c%d%c", &w, &x, &h, &extra) != 3 || (x != 'x' && x != 'X') || w < 1 || h < 1 ||
        w > 65536 || h > 65536)
        throw std::invalid_argument("--size takes WIDTHxHEIGHT between 1 and 65536, for example 1920x1080; not \"" + v + "\"");
    o.width = w;
    o.height = h;
}

// Renders the test card once through the smart-render protocol and writes it.
void render_card(const PluginModule& m, const RenderOptions& o) {
    offline::OfflineHost host;
    if (const PF_Err err = offline::load_parameters(host, m.effect_main))
        throw std::runtime_error("parameter setup failed with error " + std::to_string(err));
    for (const std::string& s : o.settings) apply_setting(host, s);
    offline::OfflineLayer input{test_card(o.width, o.height, o.format), {}, {}, {}};
    offline::OfflineLayer mask{test_mask(o.width, o.height, o.format), {}, {}, {}};
    offline::FrameRequest request;
    request.input = &input;
    request.mask = o.mask ? &mask : nullptr;
    request.time = offline::host_time(o.time);
    request.downsample_x = request.downsample_y = {1, o.downsample};
    const offline::FrameResult result = offline::render_frame(host, m.effect_main, request);
    const PF_Err err = result.pre_render ? result.pre_render : result.render;
    if (err)
        throw std::runtime_error("the effect failed with error " + std::to_string(err) +
                                 (result.message.empty() ? "" : ": " + result.message));
    write_ppm(result.output, o.out);
    std::printf("wrote %s (%dx%d)\n", o.out.c_str(), result.output.world.width, result.output.world.height);
}

RenderOptions parse_render(const std::vector<std::string>& args) {
    RenderOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 == args.size()) throw std::invalid_argument(a + " needs a value");
            return args[++i];
        };
        if (a == "--size") parse_size(value(), o);
        else if (a == "--depth") o.format = parse_depth(value());
        else if (a == "--time") o.time = std::stod(value());
        else if (a == "--downsample") {
            const int n = std::stoi(value());
            if (n < 1) throw std::invalid_argument("--downsample takes a whole number of 1 or more");
            o.downsample = std::uint32_t(n);
        } else if (a == "--mask") o.mask = true;
        else if (a == "--set") o.settings.push_back(value());
        else if (a == "--out") o.out = value();
        else throw std::invalid_argument("unknown render option \"" + a + "\"");
    }
    if (o.out.empty()) throw std::invalid_argument("render needs --out FILE.ppm");
    return o;
}

void demo(const PluginModule& m, const std::string& dir) {
    ::mkdir(dir.c_str(), 0755);
    struct Look { const char* file; std::vector<std::string> settings; bool mask; double time; };
    const Look looks[] = {
        {"classic-lines.ppm", {}, false, 0.0},
        {"radial-streams.ppm", {"direction=radial-out", "streak-length-px=160"}, false, 0.0},
        {"force-lines.ppm", {"render-mode=force-lines", "random-force=500", "random-scale-px=90", "launch-spread-deg=30", "streak-length-px=220"}, false, 0.0},
        {"particles.ppm", {"render-mode=particles", "wind-strength=200", "wind-direction-deg=90", "stream-size-px=4"}, false, 3.0},
        {"stretch-from-mask.ppm", {"mask-mode=stretch-from-mask", "streak-length-px=200"}, true, 0.0},
    };
    for (const Look& look : looks) {
        RenderOptions o;
        o.settings = look.settings;
        o.mask = look.mask;
        o.time = look.time;
        o.out = dir + "/" + look.file;
        render_card(m, o);
    }
}

int run(int argc, char** argv) {
    std::string plugin = default_module_path();
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--plugin") {
            if (++i == argc) throw std::invalid_argument("--plugin needs the path of a module");
            plugin = argv[i];
        } else if (arg == "-h" || arg == "--help") {
            print_usage(stdout);
            return 0;
        } else {
            args.push_back(arg);
        }
    }
    const std::string command = args.empty() ? "" : args.front();
    const std::vector<std::string> rest(args.begin() + (args.empty() ? 0 : 1), args.end());
    if (!command.empty() && command != "about" && command != "params" && command != "render" && command != "demo")
        throw std::invalid_argument("unknown command \"" + command + "\"");
    if ((command == "about" || command == "params") && !rest.empty())
        throw std::invalid_argument("unknown argument \"" + rest.front() + "\"");

    PluginModule module = open_module(plugin);
    if (command == "about") print_about(module);
    else if (command == "params") print_params(module);
    else if (command == "render") render_card(module, parse_render(rest));
    else {
        std::string dir = "lumatrail-demo";
        if (command == "demo" && !rest.empty()) {
            if (rest.size() != 2 || rest[0] != "--out-dir")
                throw std::invalid_argument("demo takes only --out-dir DIR");
            dir = rest[1];
        }
        if (command.empty()) {
            print_about(module);
            std::printf("\nRendering the built-in test card through EffectMain:\n");
        }
        demo(module, dir);
    }
    close_module(module);
    return 0;
}

}  // namespace
}  // namespace lumatrail::tools

int main(int argc, char** argv) {
    try {
        return lumatrail::tools::run(argc, argv);
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "lumatrail: %s\n", e.what());
        lumatrail::tools::print_usage(stderr);
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lumatrail: %s\n", e.what());
        return 1;
    }
}
