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
#include "tools/lumatrail/cancel_signals.h"
#include "tools/lumatrail/media/frame_numbers.h"

namespace lumatrail::tools {

// The picture rendered when there is no input file.
enum class BuiltinPicture : std::uint8_t { TestCard, Photo };

struct RenderJob {
    std::string input;   // image, sequence pattern or movie; empty: the built-in picture
    std::string mask;    // image or sequence pattern; "builtin" for the built-in mask; empty: none
    std::string output;  // image, or a sequence pattern for several frames
    std::optional<PF_PixelFormat> depth;               // default: the input's
    std::int32_t card_width = 960, card_height = 540;  // the built-in picture's size
    BuiltinPicture card = BuiltinPicture::TestCard;    // --card test|photo
    std::vector<std::int64_t> frames;                  // frame numbers; one frame for a still
    std::optional<FrameRate> rate;                     // frame rate, or none to use `time`
    double time = 0.0;                                 // seconds, for a still without a frame rate
    bool input_is_movie = false;                       // frame N of the input is the movie's frame N
    std::string input_colorspace, output_colorspace;   // empty: nothing is converted
    PF_RationalScale downsample_x{1, 1}, downsample_y{1, 1};
    unsigned jobs = 1;
    bool progress = false;
    bool quiet = false;
};

// Where one frame's time went, in milliseconds: reading its own input and
// mask files, rendering (smart pre-render and smart render through
// EffectMain), and writing (encoding and renaming the file into place).
struct FrameTimes {
    std::int64_t frame = 0;
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

// The memory a frame of `width` x `height` (at full resolution, before the
// downsample) takes to read and render, and the canvas it renders on. Made
// before anything is read or allocated.
struct FramePlan {
    std::int64_t width = 0, height = 0;  // the input at full resolution
    std::int64_t mask_width = 0, mask_height = 0;
    PF_PixelFormat depth = PF_PixelFormat_ARGB32;
    bool inputs_per_frame = false;  // each frame reads its own input (a sequence), or they share one
};

// Checks a render before anything is allocated: a canvas the effect would
// refuse throws ToolError(EXIT_EFFECT) with the effect's own message; a frame
// that does not fit in `available` bytes throws ToolError(EXIT_INPUT) with
// the size and the limit. Returns how many frames fit in memory at once (at
// most job.jobs, at least 1). `what` names the picture in messages.
unsigned check_frame_fits(const FramePlan& plan, const RenderJob& job, std::uint64_t available,
                          const std::string& what);

// Renders every frame of the job; returns the number of files written and
// where the time went. Throws ToolError with the exit code for the first
// failure, or for a cancel by `signals` (finished files stay, no partial file
// is left).
RenderOutcome run_render(PF_EffectMainFunc effect_main, const offline::OfflineHost& host,
                         const RenderJob& job, CancelSignals& signals);

}  // namespace lumatrail::tools
