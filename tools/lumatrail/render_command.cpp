#include "tools/lumatrail/render_command.h"

#include <cstdio>
#include <stdexcept>

#include "offline/param_values.h"
#include "tools/lumatrail/effect_calls.h"
#include "tools/lumatrail/media/frame_numbers.h"
#include "tools/lumatrail/media/image_io.h"
#include "tools/lumatrail/media/media.h"
#include "tools/lumatrail/no_op_warnings.h"
#include "tools/lumatrail/presets.h"
#include "tools/lumatrail/render_job.h"
#include "tools/lumatrail/render_plan.h"
#include "tools/lumatrail/tool_error.h"

namespace lumatrail::tools {
namespace {

// The presets in order, then each --set.
void set_parameters(offline::OfflineHost& host, const RenderOptions& r) {
    for (const std::string& preset : r.presets)
        for (const std::string& warning : load_preset(host, preset)) warn(warning);
    for (const std::string& s : r.settings) {
        try {
            offline::apply_setting(host, s);
        } catch (const std::invalid_argument& e) {
            usage_error(e.what());
        }
    }
}

// "wrote out.png", "wrote 12 files: out.####.png", "wrote out.mov: 12 frames".
void say_what_was_written(const RenderJob& job, std::size_t written) {
    if (job.quiet) return;
    if (output_kind(job.output) == MediaKind::Movie)
        std::printf("wrote %s: %zu frame%s\n", job.output.c_str(), job.frames.size(),
                    job.frames.size() == 1 ? "" : "s");
    else
        std::printf("wrote %zu file%s: %s\n", written, written == 1 ? "" : "s",
                    written == 1 ? frame_path(job.output, job.frames.front()).c_str() : job.output.c_str());
}

}  // namespace

void warn(const std::string& message) { std::fprintf(stderr, "lumatrail: warning: %s\n", message.c_str()); }

void render_command(PF_EffectMainFunc effect_main, RenderOptions r, Cancel& cancel,
                    const ProcessTimes& process) {
    r.job.time = r.time.value_or(0.0);
    for (const std::string* name : {&r.job.input_colorspace, &r.job.output_colorspace})
        if (!name->empty()) check_colorspace(*name);
    // Linear light read into 8 or 16 bits would band: a conversion reads into float unless told otherwise.
    if (!r.job.input_colorspace.empty() && !r.job.depth) r.job.depth = PF_PixelFormat_ARGB128;
    offline::OfflineHost host;
    load_effect_parameters(host, effect_main);
    set_parameters(host, r);
    cancel.signals.throw_if_cancelled();
    if (!r.save_preset.empty()) {
        save_preset(host, r.save_preset);
        if (!r.job.quiet) std::printf("wrote %s\n", r.save_preset.c_str());
    }
    if (r.job.output.empty()) return;
    plan_frames(r);
    for (const std::string& warning : no_op_warnings(host, r)) warn(warning);
    if (r.job.frames.empty()) {
        if (!r.job.quiet)
            std::printf(r.skip_existing ? "every frame's file exists; nothing to render\n"
                                        : "no frame of the range falls in this shard\n");
        return;
    }
    cancel.signals.throw_if_cancelled();
    const RenderOutcome outcome = run_render(effect_main, host, r.job, cancel.signals, &cancel.pending);
    say_what_was_written(r.job, outcome.written);
    if (r.stats) {
        std::fflush(stdout);
        std::fputs(stats_report(outcome.times, !r.job.rate, process).c_str(), stderr);
    }
}

void render_args(PF_EffectMainFunc effect_main, std::vector<std::string> args, Cancel& cancel) {
    args.insert(args.begin(), "render");
    render_command(effect_main, parse_command_line(args).render, cancel);
}

}  // namespace lumatrail::tools
