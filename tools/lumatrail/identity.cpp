#include "tools/lumatrail/identity.h"

#include <cstdio>
#include <stdexcept>

#include "host/effect_identity.h"
#include "tools/lumatrail/effect_calls.h"

namespace lumatrail::tools {
namespace {

// The module's own report of its version, under the tool's.
void print_module_version(const offline::PluginModule& m, const std::string& path) {
    const ModuleSelfReport id = identify(m);
    const offline::Registration& r = m.registration;
    std::printf("effect %s %u.%u (0x%08X), match name \"%s\", host interface %d.%d\n", r.name.c_str(),
                id.setup.my_version >> 19, (id.setup.my_version >> 15) & 0xF, id.setup.my_version,
                r.match_name.c_str(), r.api_major, r.api_minor);
    std::printf("module %s\n", path.c_str());
}

}  // namespace

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

}  // namespace lumatrail::tools
