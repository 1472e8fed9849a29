// lumatrail_windows_host MODULE: loads the Windows module the way the host
// does and checks every answer it gives, step by step:
//
//   1. LoadLibraryW, and GetProcAddress of EffectMain and PluginDataEntryFunction2
//   2. the property list resource ("PIPL", id 16000, English) against PROPERTY_LIST
//   3. registration through PluginDataEntryFunction2
//   4. About, global setup and parameter setup through the offline host
//   5. with FRAME_DIR: every frame of the frame set (tools/frame_set.h)
//      rendered through the render commands, the raw pixels written into
//      FRAME_DIR for the comparison with the native build
//
// Prints one line per step passed; on the first step that fails, prints what
// was wrong and exits with status 1 (2 for a wrong command line).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/effect_identity.h"
#include "offline/offline_host.h"
#include "tools/frame_set.h"
#include "tools/module_checks.h"
#include "tools/property_list_rc.h"

namespace lumatrail::tools {
namespace {

struct LoadedModule {
    HMODULE handle = nullptr;
    PF_EffectMainFunc effect_main = nullptr;
    PF_PluginDataEntryFunc2 plugin_data_entry = nullptr;
};

// A failed step: its problems are printed and the program stops.
struct StepFailure {
    std::string step;
    Problems problems;
};

void require(const char* step, Problems problems) {
    if (!problems.empty()) throw StepFailure{step, std::move(problems)};
    std::printf("ok   %s\n", step);
}

std::string utf8(const std::wstring& w) {
    if (w.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(std::size_t(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

std::string last_error_text() {
    const DWORD code = GetLastError();
    char buf[256] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, buf, sizeof buf, nullptr);
    std::string text(buf, n);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return "Windows error " + std::to_string(code) + (text.empty() ? "" : " (" + text + ")");
}

// GetProcAddress's result as the function type the host calls.
template <class Function>
Function export_named(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

LoadedModule load_module(const std::wstring& path) {
    LoadedModule m;
    m.handle = LoadLibraryW(path.c_str());
    if (!m.handle)
        throw StepFailure{"load the module",
                          {"cannot load " + utf8(path) + ": " + last_error_text()}};
    m.effect_main = export_named<PF_EffectMainFunc>(m.handle, "EffectMain");
    m.plugin_data_entry =
        export_named<PF_PluginDataEntryFunc2>(m.handle, "PluginDataEntryFunction2");
    Problems problems;
    if (!m.effect_main) problems.push_back(utf8(path) + " does not export EffectMain");
    if (!m.plugin_data_entry)
        problems.push_back(utf8(path) + " does not export PluginDataEntryFunction2");
    require("load the module and find EffectMain and PluginDataEntryFunction2", problems);
    return m;
}

std::span<const std::uint8_t> property_list_resource(HMODULE module) {
    std::wstring type(PROPERTY_LIST_TYPE, PROPERTY_LIST_TYPE + std::strlen(PROPERTY_LIST_TYPE));
    const WORD language = MAKELANGID(PROPERTY_LIST_LANGUAGE, PROPERTY_LIST_SUBLANGUAGE);
    HRSRC found = FindResourceExW(module, type.c_str(), MAKEINTRESOURCEW(PROPERTY_LIST_ID), language);
    if (!found)
        throw StepFailure{"read the property list resource",
                          {"no resource of type PIPL, id " + std::to_string(PROPERTY_LIST_ID) +
                           ", language " + std::to_string(language) + ": " + last_error_text()}};
    HGLOBAL loaded = LoadResource(module, found);
    const DWORD size = SizeofResource(module, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes)
        throw StepFailure{"read the property list resource",
                          {"the resource was found but cannot be loaded: " + last_error_text()}};
    return {static_cast<const std::uint8_t*>(bytes), size};
}

PF_Err collect_registration(PF_PluginDataPtr context, const char* name, const char* match_name,
                            const char* category, const char* entry_point_name,
                            std::int32_t kind, std::int32_t api_major, std::int32_t api_minor,
                            std::int32_t reserved_info, const char* support_url) {
    auto& calls = *static_cast<std::vector<Registration>*>(context);
    auto text = [](const char* s) { return std::string(s ? s : "(null)"); };
    calls.push_back({text(name), text(match_name), text(category), text(entry_point_name),
                     text(support_url), kind, api_major, api_minor, reserved_info});
    return PF_Err_NONE;
}

void register_module(const LoadedModule& m) {
    std::vector<Registration> calls;
    const PF_Err err =
        m.plugin_data_entry(&calls, collect_registration, nullptr, "lumatrail_windows_host", "1.0");
    if (err != PF_Err_NONE)
        throw StepFailure{"register the module",
                          {"PluginDataEntryFunction2 returned " + std::to_string(err)}};
    if (calls.size() != 1)
        throw StepFailure{"register the module",
                          {"the registration callback was called " + std::to_string(calls.size()) +
                           " times, expected once"}};
    Problems problems = registration_problems(calls.front());
    // The entry point the module names must be the one it exports.
    const auto named = export_named<PF_EffectMainFunc>(m.handle, calls.front().entry_point.c_str());
    if (named != m.effect_main)
        problems.push_back("the registered entry point \"" + calls.front().entry_point +
                           "\" is not the exported EffectMain");
    require("register the module through PluginDataEntryFunction2", problems);
}

PF_OutData run_command(const LoadedModule& m, offline::OfflineHost& host, PF_Cmd cmd,
                       const char* step) {
    PF_InData in_data = offline::make_in_data(host);
    PF_OutData out{};
    if (const PF_Err err = m.effect_main(cmd, &in_data, &out, nullptr, nullptr, nullptr))
        throw StepFailure{step, {"EffectMain returned " + std::to_string(err)}};
    return out;
}

void run_startup_commands(const LoadedModule& m) {
    offline::OfflineHost host;
    const char* about = "About (command 0)";
    require(about, about_problems(run_command(m, host, PF_Cmd_ABOUT, about)));
    const char* global_setup = "global setup (command 1)";
    require(global_setup,
            global_setup_problems(run_command(m, host, PF_Cmd_GLOBAL_SETUP, global_setup)));
    const char* params_setup = "parameter setup (command 4) through the offline host";
    if (const PF_Err err = offline::load_parameters(host, m.effect_main))
        throw StepFailure{params_setup, {"EffectMain returned " + std::to_string(err)}};
    require(params_setup, parameter_problems(host));
}

void render_frame_set(const LoadedModule& m, const std::wstring& directory) {
    const char* step = "render the frame set through the render commands";
    std::size_t written = 0;
    try {
        written = write_frame_set(m.effect_main, std::filesystem::path(directory));
    } catch (const std::exception& e) {
        throw StepFailure{step, {e.what()}};
    }
    require(step, {});
    std::printf("     %zu frames written to %s\n", written, utf8(directory).c_str());
}

int run(const std::wstring& module_path, const std::wstring& frame_dir) {
    const LoadedModule m = load_module(module_path);
    require("read the property list resource",
            property_list_problems(property_list_resource(m.handle), PROPERTY_LIST));
    register_module(m);
    run_startup_commands(m);
    if (!frame_dir.empty()) render_frame_set(m, frame_dir);
    FreeLibrary(m.handle);
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
