// Loading the Lumatrail module the way a host does: open the library, find
// PluginDataEntryFunction2, register the module through it, and find the
// entry point it registered. The native build opens Lumatrail.so with dlopen;
// the Windows build opens Lumatrail.aex with LoadLibraryW.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "host/host_contract.h"

namespace lumatrail::offline {

// What the module passed to the registration callback. A null string is
// kept as "(null)", so that checks can tell it from an empty one.
struct Registration {
    std::string name, match_name, category, entry_point, support_url;
    std::int32_t kind = 0, api_major = 0, api_minor = 0, reserved_info = 0;
};

struct PluginModule {
    void* handle = nullptr;                               // from dlopen, or the HMODULE
    PF_PluginDataEntryFunc2 plugin_data_entry = nullptr;  // null when the module does not export it
    PF_EffectMainFunc effect_main = nullptr;              // the registered entry point, once registered
    Registration registration;
};

#ifndef _WIN32
// The file of that name in the running program's folder.
std::string beside_program(const std::string& name);

// Lumatrail.so next to the running program.
std::string default_module_path();
#endif

// Opens the library and looks up PluginDataEntryFunction2. Throws
// std::runtime_error "cannot load the module "PATH": REASON" when the
// library cannot be opened.
PluginModule load_module(const std::filesystem::path& path);

// The exported symbol of that name, or null.
void* find_export(const PluginModule& module, const char* name);

// Calls the registration entry with a callback that expects exactly one
// registration. Throws std::runtime_error saying what went wrong: an error
// from the entry, or a callback called other than once.
Registration register_entry(PF_PluginDataEntryFunc2 entry, const char* host_name);

// Registers a loaded module and finds the entry point it registered. Throws
// std::runtime_error when PluginDataEntryFunction2 is missing, registration
// fails, or the registered entry point is not exported.
void register_module(PluginModule& module, const char* host_name);

// load_module and register_module; the library is closed again on failure.
PluginModule open_module(const std::filesystem::path& path, const char* host_name);

void close_module(PluginModule& module);

#ifdef _WIN32
// The bytes of a resource of the module. Throws std::runtime_error naming the
// resource when it is missing or cannot be loaded.
std::span<const std::uint8_t> module_resource(const PluginModule& module, const char* type, int id,
                                              std::uint16_t language);
#endif

}  // namespace lumatrail::offline
