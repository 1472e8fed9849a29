// `lumatrail render`: the parameters from presets and --set, the preset
// saved, the frames worked out and rendered, and what was written said.
#pragma once

#include <string>
#include <vector>

#include "tools/lumatrail/cancel_signals.h"
#include "tools/lumatrail/command_line.h"
#include "tools/lumatrail/media/pending_file.h"
#include "tools/lumatrail/render_stats.h"

namespace lumatrail::tools {

// The cancel signals and the files a second signal removes.
struct Cancel {
    CancelSignals& signals;
    PendingFiles& pending;
};

// "lumatrail: warning: MESSAGE" on stderr.
void warn(const std::string& message);

void render_command(PF_EffectMainFunc effect_main, RenderOptions options, Cancel& cancel,
                    const ProcessTimes& process = {});

// Renders as `lumatrail render ARGS` would.
void render_args(PF_EffectMainFunc effect_main, std::vector<std::string> args, Cancel& cancel);

}  // namespace lumatrail::tools
