// The plan stage of a render: which frames, at which rate, from and to what
// media, and how many at once. Every check that can fail is made here, from
// names and headers, before anything is read or allocated.
#pragma once

#include <cstdint>
#include <optional>
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

// The memory a render may take: what the system has available, or less where
// a limit set on the process (ulimit -v, ulimit -d) leaves less above what it
// already uses; and the words that say so in messages.
struct MemoryBudget {
    std::uint64_t bytes = UINT64_MAX;
    std::string said;  // "2.0 GB is available", "the address-space limit (ulimit -v) of 3.1 GB leaves 2.9 GB"
    MemoryBudget(std::uint64_t available = UINT64_MAX);  // what is available, with no limit lower
    MemoryBudget(std::uint64_t bytes, std::string said) : bytes(bytes), said(std::move(said)) {}
};

// A limit set on the process (UINT64_MAX: none) and what counts against it now.
struct ProcessLimit {
    std::uint64_t limit = UINT64_MAX, used = 0;
};

// The least of what is available and the room each limit leaves.
MemoryBudget memory_budget(std::uint64_t available, ProcessLimit address_space, ProcessLimit data);

// This process's: the memory available (/proc/meminfo), RLIMIT_AS against
// its address space and RLIMIT_DATA against its data (/proc/self/status).
MemoryBudget memory_budget();

// What the plan stage found: the kinds of media in and out, the input's
// size and depth (the built-in picture's without one), the mask's size, and
// how many frames render at once.
struct RenderPlan {
    MediaKind input = MediaKind::None, mask = MediaKind::None, output = MediaKind::Still;
    MediaInfo input_info;
    std::int64_t mask_width = 0, mask_height = 0;
    unsigned threads = 1;
    // The size frames render at, the memory the frames rendering at once
    // were estimated to take, and the budget it was measured against.
    std::int64_t render_width = 0, render_height = 0;
    std::uint64_t memory_needed = 0;
    MemoryBudget budget;
};

// The memory a frame takes to read and render, from the sizes at full
// resolution (before the downsample), and the canvas it renders on: a canvas
// the effect would refuse throws ToolError(EXIT_EFFECT) with the effect's own
// message; a frame that does not fit in `available` bytes throws
// ToolError(EXIT_INPUT) with the size and the limit. Returns how many frames
// fit in memory at once (at most job.jobs, at least 1). `what` names the
// picture in messages.
unsigned check_frame_fits(const RenderPlan& plan, const RenderJob& job, const MemoryBudget& available,
                          const std::string& what);

// The plan stage: checks the output (writable, not an input, a pattern for
// several frames, a movie's codec), the inputs (present, their headers), and
// the memory, before anything is read or allocated. Throws ToolError with the
// exit code of the first problem.
RenderPlan plan_render(const RenderJob& job, const MemoryBudget& available);

// Running out of memory while frames render anyway (the effect's
// PF_Err_OUT_OF_MEMORY, or an allocation of the program's): exit 3 with the
// frame size, the memory the plan estimated and the budget.
ToolError out_of_memory(const RenderPlan& plan, std::optional<std::int64_t> frame);

}  // namespace lumatrail::tools
