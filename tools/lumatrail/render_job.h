// Rendering stills and sequences with the effect through the offline host:
// frames render concurrently, each through the full smart-render protocol,
// and are written as they finish. Ctrl-C (or SIGTERM) cancels through the
// host's abort callback; files are written to a temporary name and renamed
// when complete, so nothing half-written is ever left behind.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "offline/offline_host.h"

namespace lumatrail::tools {

struct RenderJob {
    std::string input;   // image or sequence pattern; empty: the built-in test card
    std::string mask;    // image or sequence pattern; "builtin" for the built-in mask; empty: none
    std::string output;  // image, or a sequence pattern for several frames
    std::optional<PF_PixelFormat> depth;               // default: the input's
    std::int32_t card_width = 960, card_height = 540;  // the test card's size
    std::vector<std::int32_t> frames;                  // frame numbers; one frame for a still
    double fps = 0.0;                                  // frame rate, or 0 to use `time`
    double time = 0.0;                                 // seconds, for a still without a frame rate
    PF_RationalScale downsample_x{1, 1}, downsample_y{1, 1};
    unsigned jobs = 1;
    bool progress = false;
    bool quiet = false;
};

// Where one frame's time went, in milliseconds: reading its own input and
// mask files, rendering (smart pre-render and smart render through
// EffectMain), and writing (encoding and renaming the file into place).
struct FrameTimes {
    std::int32_t frame = 0;
    double read_ms = 0.0, render_ms = 0.0, write_ms = 0.0;
};

// The times of a finished render. Each frame's times are its own, measured on
// the thread that rendered it; files read once for every frame (a still input
// or mask under a sequence) are counted apart.
struct RenderTimes {
    std::vector<FrameTimes> frames;        // in the job's frame order
    std::optional<double> shared_read_ms;  // input and mask files shared by every frame, if any
    double wall_ms = 0.0;                  // the whole render, from the first check to the last file
    unsigned threads = 1;                  // frames rendered at once
};

struct RenderOutcome {
    std::size_t written = 0;  // files written
    RenderTimes times;
};

// The file of a frame: a pattern "shot.####.exr" or "shot.%04d.exr" (any
// count of # or a %d with optional zero-padded width) with the frame number
// in place; any other path as it is.
std::string frame_path(const std::string& pattern, std::int32_t frame);

// Renders every frame of the job; returns the number of files written and
// where the time went. Throws ToolError with the exit code for the first
// failure or a cancel.
RenderOutcome run_render(PF_EffectMainFunc effect_main, const offline::OfflineHost& host,
                         const RenderJob& job);

}  // namespace lumatrail::tools
