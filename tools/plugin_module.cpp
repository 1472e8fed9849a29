#include "tools/plugin_module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <stdexcept>

namespace lumatrail::tools {
namespace {

PF_Err collect_registration(PF_PluginDataPtr context, const char* name, const char* match_name,
                            const char* category, const char* entry_point_name,
                            std::int32_t kind, std::int32_t api_major, std::int32_t api_minor,
                            std::int32_t reserved_info, const char* support_url) {
    auto& r = *static_cast<Registration*>(context);
    auto text = [](const char* s) { return std::string(s ? s : ""); };
    r = {text(name), text(match_name), text(category), text(entry_point_name), text(support_url),
         kind, api_major, api_minor, reserved_info};
    return PF_Err_NONE;
}

}  // namespace

std::string default_module_path() {
    std::string exe(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", exe.data(), exe.size());
    if (n <= 0) return "Lumatrail.so";
    exe.resize(std::size_t(n));
    return exe.substr(0, exe.rfind('/') + 1) + "Lumatrail.so";
}

PluginModule open_module(const std::string& path) {
    PluginModule m;
    m.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m.handle)
        throw std::runtime_error("cannot load the Lumatrail module \"" + path + "\": " + dlerror() +
                                 " (build it, or point --plugin at it)");
    m.plugin_data_entry =
        reinterpret_cast<PF_PluginDataEntryFunc2>(dlsym(m.handle, "PluginDataEntryFunction2"));
    if (!m.plugin_data_entry) {
        close_module(m);
        throw std::runtime_error("\"" + path + "\" exports no PluginDataEntryFunction2");
    }
    if (const PF_Err err = m.plugin_data_entry(&m.registration, collect_registration, nullptr,
                                               "lumatrail", "1.0")) {
        close_module(m);
        throw std::runtime_error("\"" + path + "\" refused registration with error " +
                                 std::to_string(err));
    }
    m.effect_main = reinterpret_cast<PF_EffectMainFunc>(
        dlsym(m.handle, m.registration.entry_point.c_str()));
    if (!m.effect_main) {
        const std::string entry = m.registration.entry_point;
        close_module(m);
        throw std::runtime_error("\"" + path + "\" registered the entry point \"" + entry +
                                 "\" but does not export it");
    }
    return m;
}

void close_module(PluginModule& module) {
    if (module.handle) dlclose(module.handle);
    module = {};
}

}  // namespace lumatrail::tools
