// Rendering a job through the offline host, in stages: the plan (which
// frames, what media, how many at once; every check that can fail before
// anything is read), then for each frame reading its input and mask, rendering
// it through the full smart-render protocol, and writing it. Frames render
// concurrently and are written as they finish (a movie in order). Ctrl-C (or
// SIGTERM) cancels through the host's abort callback and stops a write in
// progress; files are written to a temporary name and renamed when complete,
// so nothing half-written is ever left behind.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "offline/offline_host.h"
#include "tools/lumatrail/cancel_signals.h"
#include "tools/lumatrail/media/frame_numbers.h"
#include "tools/lumatrail/media/media.h"

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
    std::string input_colorspace, output_colorspace;   // empty: nothing is converted
    std::vector<std::string> presets;                  // files read for the job, never to be overwritten
    std::string codec;                                 // a movie output's codec; empty: the container's
    std::optional<int> quality;                        // a movie output's quality, 1..100
    bool audio = true;                                 // a movie input's sound copied into a movie output
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

// The progress line for a terminal `columns` wide, the last column left
// free: "rendering", the bar, the frames done, the time elapsed and, between
// the first frame and the last, the rate and the time left. Where it does not
// fit, whole fields go, the least needed first: the bar, the time left, the
// rate, "rendering", the time elapsed; then the count, leaving nothing.
std::string progress_line(std::size_t done, std::size_t total, double elapsed_seconds, int columns);

// Renders every frame of the job; returns the number of files written and
// where the time went. Throws ToolError with the exit code for the first
// failure, or for a cancel by `signals` that stopped a frame from being
// written (finished files stay, no partial file is left). `pending` lists the
// temporaries being written, for a second signal to remove.
RenderOutcome run_render(PF_EffectMainFunc effect_main, const offline::OfflineHost& host,
                         const RenderJob& job, CancelSignals& signals, PendingFiles* pending = nullptr);

}  // namespace lumatrail::tools
