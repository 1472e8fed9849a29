// lumatrail: drives the Lumatrail module from the shell the way a host does,
// through its registration and its EffectMain entry point.
//
//   lumatrail [--plugin PATH] about    the About text and the module's identity
//   lumatrail [--plugin PATH] params   the parameter table the effect declares
//   lumatrail [--plugin PATH]          both
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "offline/offline_host.h"
#include "tools/plugin_module.h"

namespace lumatrail::tools {
namespace {

void print_usage(std::FILE* to) {
    std::fputs(
        "usage: lumatrail [--plugin PATH] [about | params]\n"
        "  about    print the About text and the module's identity\n"
        "  params   print the parameter table the effect declares\n"
        "  (none)   print both\n"
        "  --plugin PATH   the Lumatrail module to load (default: next to this program)\n",
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

int run(int argc, char** argv) {
    std::string plugin = default_module_path();
    std::vector<std::string> commands;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--plugin") {
            if (++i == argc) throw std::invalid_argument("--plugin needs the path of a module");
            plugin = argv[i];
        } else if (arg == "-h" || arg == "--help") {
            print_usage(stdout);
            return 0;
        } else if (arg == "about" || arg == "params") {
            commands.push_back(arg);
        } else {
            throw std::invalid_argument("unknown argument \"" + arg + "\"");
        }
    }
    if (commands.empty()) commands = {"about", "params"};

    PluginModule module = open_module(plugin);
    for (std::size_t i = 0; i < commands.size(); ++i) {
        if (i) std::printf("\n");
        if (commands[i] == "about") print_about(module);
        else print_params(module);
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
