// lumatrail-media.so: the program's commands that read or write pictures and
// movies, with the picture and movie libraries they bring, loaded by the
// program only when one of them runs (tools/lumatrail/media_commands.h).
#include "tools/lumatrail/demo.h"
#include "tools/lumatrail/media/image_io.h"
#include "tools/lumatrail/media_commands.h"

namespace {

using namespace lumatrail::tools;

void render(PF_EffectMainFunc effect_main, const RenderOptions& options, Cancel& cancel,
            const ProcessTimes& process) {
    render_command(effect_main, options, cancel, process);
}

constexpr MediaCommands COMMANDS{render, demo, known_colorspaces};

}  // namespace

extern "C" __attribute__((visibility("default"))) const MediaCommands* lumatrail_media_commands() {
    return &COMMANDS;
}
