#include "offline/plugin_module.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include <cstring>
#include <stdexcept>
#include <vector>

namespace lumatrail::offline {
namespace {

std::string path_text(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

PF_Err collect_registration(PF_PluginDataPtr context, const char* name, const char* match_name,
                            const char* category, const char* entry_point_name, std::int32_t kind,
                            std::int32_t api_major, std::int32_t api_minor, std::int32_t reserved_info,
                            const char* support_url) {
    auto& calls = *static_cast<std::vector<Registration>*>(context);
    auto text = [](const char* s) { return std::string(s ? s : "(null)"); };
    calls.push_back({text(name), text(match_name), text(category), text(entry_point_name), text(support_url),
                     kind, api_major, api_minor, reserved_info});
    return PF_Err_NONE;
}

#ifdef _WIN32
std::string last_error_text() {
    const DWORD code = GetLastError();
    char buf[256] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                   0, buf, sizeof buf, nullptr);
    std::string text(buf, n);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return "Windows error " + std::to_string(code) + (text.empty() ? "" : " (" + text + ")");
}
#endif

}  // namespace

#ifndef _WIN32
std::string beside_program(const std::string& name) {
    std::string exe(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", exe.data(), exe.size());
    if (n <= 0) return name;
    exe.resize(std::size_t(n));
    return exe.substr(0, exe.rfind('/') + 1) + name;
}

std::string default_module_path() { return beside_program("Lumatrail.so"); }
#endif

PluginModule load_module(const std::filesystem::path& path) {
    PluginModule m;
#ifdef _WIN32
    m.handle = LoadLibraryW(path.c_str());
    if (!m.handle)
        throw std::runtime_error("cannot load the module \"" + path_text(path) + "\": " + last_error_text());
#else
    m.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m.handle)
        throw std::runtime_error("cannot load the module \"" + path_text(path) + "\": " + dlerror());
#endif
    m.plugin_data_entry =
        reinterpret_cast<PF_PluginDataEntryFunc2>(find_export(m, "PluginDataEntryFunction2"));
    return m;
}

void* find_export(const PluginModule& module, const char* name) {
#ifdef _WIN32
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module.handle), name));
#else
    return dlsym(module.handle, name);
#endif
}

Registration register_entry(PF_PluginDataEntryFunc2 entry, const char* host_name) {
    std::vector<Registration> calls;
    if (const PF_Err err = entry(&calls, collect_registration, nullptr, host_name, "1.0"))
        throw std::runtime_error("PluginDataEntryFunction2 returned " + std::to_string(err));
    if (calls.size() != 1)
        throw std::runtime_error("the registration callback was called " + std::to_string(calls.size()) +
                                 " times, expected once");
    return calls.front();
}

void register_module(PluginModule& m, const char* host_name) {
    if (!m.plugin_data_entry) throw std::runtime_error("the module does not export PluginDataEntryFunction2");
    m.registration = register_entry(m.plugin_data_entry, host_name);
    m.effect_main = reinterpret_cast<PF_EffectMainFunc>(find_export(m, m.registration.entry_point.c_str()));
    if (!m.effect_main)
        throw std::runtime_error("the module registered the entry point \"" + m.registration.entry_point +
                                 "\" but does not export it");
}

PluginModule open_module(const std::filesystem::path& path, const char* host_name) {
    PluginModule m = load_module(path);
    try {
        register_module(m, host_name);
    } catch (const std::runtime_error& e) {
        close_module(m);
        throw std::runtime_error("\"" + path_text(path) + "\": " + e.what());
    }
    return m;
}

void close_module(PluginModule& module) {
#ifdef _WIN32
    if (module.handle) FreeLibrary(static_cast<HMODULE>(module.handle));
#else
    if (module.handle) dlclose(module.handle);
#endif
    module = {};
}

#ifdef _WIN32
std::span<const std::uint8_t> module_resource(const PluginModule& module, const char* type, int id,
                                              std::uint16_t language) {
    const auto handle = static_cast<HMODULE>(module.handle);
    const std::wstring wide_type(type, type + std::strlen(type));
    const HRSRC found = FindResourceExW(handle, wide_type.c_str(), MAKEINTRESOURCEW(id), language);
    if (!found)
        throw std::runtime_error("no resource of type " + std::string(type) + ", id " + std::to_string(id) +
                                 ", language " + std::to_string(language) + ": " + last_error_text());
    const HGLOBAL loaded = LoadResource(handle, found);
    const DWORD size = SizeofResource(handle, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) throw std::runtime_error("the resource was found but cannot be loaded: " + last_error_text());
    return {static_cast<const std::uint8_t*>(bytes), size};
}
#endif

}  // namespace lumatrail::offline
