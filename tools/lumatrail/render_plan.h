// The plan stage of a render: which frames, at which rate, from and to what
// media, and how many at once. Every check that can fail is made here, from
// names and headers, before anything is read or allocated.
#pragma once

#include <cstdint>
#include <string>

#include "tools/lumatrail/command_line.h"
#include "tools/lumatrail/media/media.h"
#include "tools/lumatrail/render_job.h"

namespace lumatrail::tools {

// The frames a render covers: --frame, --frames, every frame of a movie, or
// every frame of a sequence on disk; then this shard's, then those whose
// files are not already whole. Sets the frame rate: --fps, else a movie's own,
// else 24 for a sequence. Throws ToolError(EXIT_USAGE) for frames that cannot
// be rendered as asked.
void plan_frames(RenderOptions& options);

// What the plan stage found: the kinds of media in and out, the input's
// size and depth (the built-in picture's without one), the mask's size, and
// how many frames render at once.
struct RenderPlan {
    MediaKind input = MediaKind::None, mask = MediaKind::None, output = MediaKind::Still;
    MediaInfo input_info;
    std::int64_t mask_width = 0, mask_height = 0;
    unsigned threads = 1;
};

// The memory a frame takes to read and render, from the sizes at full
// resolution (before the downsample), and the canvas it renders on: a canvas
// the effect would refuse throws ToolError(EXIT_EFFECT) with the effect's own
// message; a frame that does not fit in `available` bytes throws
// ToolError(EXIT_INPUT) with the size and the limit. Returns how many frames
// fit in memory at once (at most job.jobs, at least 1). `what` names the
// picture in messages.
unsigned check_frame_fits(const RenderPlan& plan, const RenderJob& job, std::uint64_t available,
                          const std::string& what);

// The plan stage: checks the output (writable, not an input, a pattern for
// several frames, a movie's codec), the inputs (present, their headers), and
// the memory, before anything is read or allocated. Throws ToolError with the
// exit code of the first problem.
RenderPlan plan_render(const RenderJob& job, std::uint64_t available);

}  // namespace lumatrail::tools
