#include "tools/lumatrail/media_commands.h"

#include <dlfcn.h>

#include "offline/plugin_module.h"
#include "tools/lumatrail/tool_error.h"

namespace lumatrail::tools {

std::string media_module_path() { return offline::beside_program("lumatrail-media.so"); }

const MediaCommands& load_media_commands(const std::string& path) {
    // RTLD_NODELETE: the handle is never closed, and the module must never
    // be unloaded under the threads its libraries start.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    const auto cannot = [&](const std::string& why) {
        return ToolError(EXIT_INPUT, "cannot load \"" + path +
                                         "\", the part of lumatrail that reads and writes " +
                                         "pictures and movies: " + why +
                                         " (it is built beside the program; copy it with lumatrail)");
    };
    if (!handle) {
        const char* error = dlerror();
        throw cannot(error ? error : "unknown reason");
    }
    const auto entry = reinterpret_cast<MediaCommandsFunc>(dlsym(handle, MEDIA_COMMANDS_EXPORT));
    const MediaCommands* commands = entry ? entry() : nullptr;
    if (!commands) throw cannot(std::string("it has no ") + MEDIA_COMMANDS_EXPORT);
    return *commands;
}

}  // namespace lumatrail::tools
