#include "tools/lumatrail/render_job.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "offline/offline_frame.h"
#include "frame/frame_renderer.h"
#include "offline/test_card.h"
#include "tools/lumatrail/media/image_io.h"
#include "tools/lumatrail/tool_error.h"

namespace lumatrail::tools {
namespace {

namespace fs = std::filesystem;

struct SharedLayers {
    std::unique_ptr<offline::OfflineLayer> input, mask;  // when the same for every frame
};

offline::OfflineLayer layer(offline::OfflineWorld world) {
    return offline::OfflineLayer{std::move(world), {}, {}, {}};
}

offline::HostTime time_of(const RenderJob& job, std::int64_t frame) {
    return job.rate ? frame_time(*job.rate, frame) : offline::host_time(job.time);
}

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string duration(double seconds) {
    const long s = long(std::lround(std::max(seconds, 0.0)));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

// Fails before anything is rendered when the output cannot be written: an
// unknown extension, a folder given as the output, a missing or read-only
// folder. A file is created and removed in the folder to know.
void check_output(const std::string& pattern, const std::string& first) {
    std::error_code ec;
    if (fs::is_directory(first, ec))
        throw ToolError(EXIT_OUTPUT, "the output \"" + first +
                                         "\" is a folder; -o takes a file name such as \"" +
                                         (fs::path(first) / "out.png").string() + "\"");
    if (!can_write(first))
        throw ToolError(
            EXIT_OUTPUT,
            "cannot write \"" + first +
                "\": no image format is known for its extension (try .png, .tif, .exr, .jpg or .dpx)");
    const fs::path folder = fs::path(first).has_parent_path() ? fs::path(first).parent_path() : ".";
    if (!fs::is_directory(folder, ec))
        throw ToolError(EXIT_OUTPUT, "the output folder \"" + folder.string() + "\" does not exist");
    std::string probe = (folder / ".lumatrail-write-check-XXXXXX").string();
    const int fd = mkstemp(probe.data());
    if (fd < 0)
        throw ToolError(EXIT_OUTPUT, "cannot write \"" + (pattern == first ? first : pattern) +
                                         "\": files cannot be created in the folder \"" + folder.string() +
                                         "\" (" + std::strerror(errno) + ")");
    close(fd);
    std::remove(probe.c_str());
}

void check_inputs_exist(const std::string& pattern, const std::vector<std::int64_t>& frames) {
    if (pattern.empty() || pattern == "builtin") return;
    for (std::int64_t f : frames)
        if (!fs::exists(frame_path(pattern, f)))
            throw ToolError(EXIT_INPUT, "no such file: \"" + frame_path(pattern, f) + "\"");
}

// The terminal's width for the progress line: its own, or COLUMNS, or 80.
int terminal_width() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    if (const char* columns = std::getenv("COLUMNS")) {
        const int n = std::atoi(columns);
        if (n > 0) return n;
    }
    return 80;
}

// One line, redrawn in place and never wider than the terminal: the bar
// (shorter on narrow terminals, left out on very narrow ones), the frames
// done, the elapsed time, and once a frame has finished the rate and the
// time left.
void print_progress(std::size_t done, std::size_t total, Clock::duration spent, bool last = false) {
    const double elapsed = std::chrono::duration<double>(spent).count();
    const double rate = elapsed > 0 ? double(done) / elapsed : 0.0;
    char counts[160];
    if (done > 0 && done < total)
        std::snprintf(counts, sizeof counts, " %zu/%zu frames  %s elapsed  %.2f frames/s  %s left", done,
                      total, duration(elapsed).c_str(), rate, duration(double(total - done) / rate).c_str());
    else
        std::snprintf(counts, sizeof counts, " %zu/%zu frames  %s elapsed", done, total,
                      duration(elapsed).c_str());
    const int width = terminal_width() - 1;  // the last column would wrap on some terminals
    std::string line = "rendering";
    const int room = width - int(line.size()) - int(std::strlen(counts)) - 3;
    if (room >= 10) {
        const int bar = std::min(room, 30);
        const int filled = int(std::size_t(bar) * done / std::max<std::size_t>(total, 1));
        line +=
            " [" + std::string(std::size_t(filled), '#') + std::string(std::size_t(bar - filled), '-') + "]";
    }
    line += counts;
    if (int(line.size()) > width) line.resize(std::size_t(std::max(width, 0)));
    // On a terminal the rest of the previous line is cleared.
    std::fprintf(stderr, "\r%s%s%s", line.c_str(), isatty(STDERR_FILENO) ? "\x1b[K" : "", last ? "\n" : "");
}

}  // namespace

unsigned check_frame_fits(const FramePlan& plan, const RenderJob& job, std::uint64_t available,
                          const std::string& what) {
    // The size the host renders at.
    const std::int64_t w =
        offline::at_resolution(std::int32_t(plan.width), offline::factor(job.downsample_x));
    const std::int64_t h =
        offline::at_resolution(std::int32_t(plan.height), offline::factor(job.downsample_y));
    if (w > MAX_CANVAS_SIDE || h > MAX_CANVAS_SIDE || w * h > MAX_CANVAS_PIXELS)
        throw ToolError(EXIT_EFFECT, std::string("Lumatrail: ") + CANVAS_LIMIT_MESSAGE + " (" + what +
                                         " renders at " + std::to_string(w) + "x" + std::to_string(h) + ")");
    // Every picture as a world and once more as the file's decoded buffer;
    // per frame the output world, the written file's buffer, the layer at
    // render resolution and the effect's float working images.
    const std::uint64_t pixel =
        job.depth == PF_PixelFormat_ARGB128 || plan.depth == PF_PixelFormat_ARGB128 ? 16
        : job.depth == PF_PixelFormat_ARGB64 || plan.depth == PF_PixelFormat_ARGB64 ? 8
                                                                                    : 4;
    const std::uint64_t inputs =
        2 * pixel *
        (std::uint64_t(plan.width * plan.height) + std::uint64_t(plan.mask_width * plan.mask_height));
    const std::uint64_t rendered = std::uint64_t(w * h);
    const std::uint64_t per_frame = rendered * (3 * pixel + 16) + (plan.inputs_per_frame ? inputs : 0);
    const std::uint64_t shared = plan.inputs_per_frame ? 0 : inputs;
    if (shared + per_frame > available) {
        throw ToolError(EXIT_INPUT,
                        what + " is " + std::to_string(plan.width) + "x" + std::to_string(plan.height) +
                            ": reading and rendering it takes about " + size_text(shared + per_frame) +
                            " of memory, and " + size_text(available) + " is available");
    }
    const std::uint64_t fit = (available - shared) / std::max<std::uint64_t>(per_frame, 1);
    return unsigned(std::clamp<std::uint64_t>(fit, 1, std::max(job.jobs, 1u)));
}

RenderOutcome run_render(PF_EffectMainFunc effect_main, const offline::OfflineHost& host,
                         const RenderJob& job, CancelSignals& signals) {
    const Clock::time_point start = Clock::now();
    if (job.frames.empty()) throw ToolError(EXIT_USAGE, "there is no frame to render");
    if (job.frames.size() > 1 && !is_sequence_pattern(job.output))
        throw ToolError(EXIT_USAGE, "several frames need an output pattern such as out.####.png, not \"" +
                                        job.output + "\"");
    check_output(job.output, frame_path(job.output, job.frames.front()));
    if (!job.input_is_movie) check_inputs_exist(job.input, job.frames);
    check_inputs_exist(job.mask, job.frames);

    // The sizes first, from the files' headers: nothing is read or allocated
    // for a frame the effect would refuse or the memory cannot hold.
    FramePlan plan;
    const bool input_sequence = !job.input.empty() && (is_sequence_pattern(job.input) || job.input_is_movie);
    std::string what = job.card == BuiltinPicture::Photo ? "the built-in photo" : "the test card";
    if (job.input.empty()) {
        plan.width = job.card_width, plan.height = job.card_height;
        plan.depth = job.depth.value_or(PF_PixelFormat_ARGB32);
    } else {
        const std::string first = job.input_is_movie ? job.input : frame_path(job.input, job.frames.front());
        const ImageInfo info = probe_image(first);
        plan.width = info.width, plan.height = info.height, plan.depth = job.depth.value_or(info.depth);
        plan.inputs_per_frame = input_sequence;
        what = "\"" + first + "\"";
    }
    if (!job.mask.empty() && job.mask != "builtin") {
        const ImageInfo info = probe_image(frame_path(job.mask, job.frames.front()));
        plan.mask_width = info.width, plan.mask_height = info.height;
        plan.inputs_per_frame = plan.inputs_per_frame || is_sequence_pattern(job.mask);
    } else if (job.mask == "builtin") {
        plan.mask_width = plan.width, plan.mask_height = plan.height;
    }
    const unsigned fitting = check_frame_fits(plan, job, available_memory(), what);
    signals.throw_if_cancelled();

    // One record per frame, each written only by the thread rendering that
    // frame and read after every thread has finished.
    RenderTimes times;
    times.frames.resize(job.frames.size());
    SharedLayers shared;
    const auto read_input = [&](std::int64_t frame) {
        // A movie's frame N is its Nth picture; a pattern's is its own file.
        if (job.input_is_movie)
            return layer(read_image(job.input, job.depth, std::int32_t(frame), job.input_colorspace));
        return layer(read_image(frame_path(job.input, frame), job.depth, 0, job.input_colorspace));
    };
    if (job.input.empty()) {
        const PF_PixelFormat format = job.depth.value_or(PF_PixelFormat_ARGB32);
        shared.input = std::make_unique<offline::OfflineLayer>(layer(
            job.card == BuiltinPicture::Photo ? offline::test_photo(job.card_width, job.card_height, format)
                                              : offline::test_card(job.card_width, job.card_height, format)));
    } else if (!input_sequence) {
        const Clock::time_point read = Clock::now();
        shared.input = std::make_unique<offline::OfflineLayer>(read_input(job.frames.front()));
        times.shared_read_ms = times.shared_read_ms.value_or(0.0) + ms_since(read);
    }
    signals.throw_if_cancelled();
    const PF_PixelFormat depth = job.depth      ? *job.depth
                                 : shared.input ? shared.input->pixels.format
                                                : plan.depth;
    if (job.mask == "builtin") {
        shared.mask = std::make_unique<offline::OfflineLayer>(
            layer(offline::test_mask(std::int32_t(plan.width), std::int32_t(plan.height), depth)));
    } else if (!job.mask.empty() && !is_sequence_pattern(job.mask)) {
        const Clock::time_point read = Clock::now();
        shared.mask = std::make_unique<offline::OfflineLayer>(layer(read_image(job.mask)));
        times.shared_read_ms = times.shared_read_ms.value_or(0.0) + ms_since(read);
    }
    signals.throw_if_cancelled();

    // Stops every frame: set by a failure, or passed on from a signal.
    std::atomic<bool> stop{false};
    std::atomic<std::size_t> next{0}, finished{0};
    std::mutex failure_mutex;
    std::optional<ToolError> failure;
    std::mutex done_mutex;
    std::condition_variable done_signal;

    auto render_one = [&](std::int64_t frame, FrameTimes& spent) {
        spent.frame = frame;
        Clock::time_point phase = Clock::now();
        std::unique_ptr<offline::OfflineLayer> own_input, own_mask;
        const offline::OfflineLayer* input = shared.input.get();
        const offline::OfflineLayer* mask = shared.mask.get();
        if (!input) {
            own_input = std::make_unique<offline::OfflineLayer>(read_input(frame));
            input = own_input.get();
        }
        if (!mask && !job.mask.empty()) {
            own_mask =
                std::make_unique<offline::OfflineLayer>(layer(read_image(frame_path(job.mask, frame))));
            mask = own_mask.get();
        }
        spent.read_ms = ms_since(phase);
        offline::FrameRequest request;
        request.input = input;
        request.mask = mask;
        request.time = time_of(job, frame);
        request.downsample_x = job.downsample_x;
        request.downsample_y = job.downsample_y;
        request.faults.cancel = &stop;
        // The host's parameter list is only read while frames render.
        phase = Clock::now();
        const offline::FrameResult result =
            offline::render_frame(const_cast<offline::OfflineHost&>(host), effect_main, request);
        spent.render_ms = ms_since(phase);
        const PF_Err err = result.pre_render ? result.pre_render : result.render;
        if ((err == offline::OFFLINE_CANCELLED && stop) || signals.cancelled())
            throw ToolError(signals.exit_code(), "cancelled");
        if (err)
            throw ToolError(EXIT_EFFECT, "frame " + std::to_string(frame) + ": " +
                                             (result.message.empty()
                                                  ? "the effect failed with error " + std::to_string(err)
                                                  : result.message));
        phase = Clock::now();
        if (stop) throw ToolError(signals.cancelled() ? signals.exit_code() : EXIT_CANCELLED, "cancelled");
        write_image(result.output, frame_path(job.output, frame), job.output_colorspace);
        spent.write_ms = ms_since(phase);
    };

    std::atomic<std::size_t> written{0};
    auto worker = [&] {
        for (;;) {
            const std::size_t k = next++;
            if (k >= job.frames.size() || stop) break;
            try {
                render_one(job.frames[k], times.frames[k]);
                ++written;
            } catch (const ToolError& e) {
                std::lock_guard lock(failure_mutex);
                if (!failure || failure->exit_code == EXIT_CANCELLED || failure->exit_code == EXIT_TERMINATED)
                    failure = e;
                stop = true;
            } catch (const std::exception& e) {
                std::lock_guard lock(failure_mutex);
                if (!failure) failure = ToolError(EXIT_INTERNAL, e.what());
                stop = true;
            }
            ++finished;
            done_signal.notify_all();
        }
    };

    const bool show = !job.quiet && (job.progress || isatty(STDERR_FILENO));
    const Clock::time_point frames_start = Clock::now();
    const std::size_t total = job.frames.size();
    {
        const unsigned count =
            std::max(1u, std::min<unsigned>(fitting, unsigned(std::min<std::size_t>(total, 1024))));
        if (count < job.jobs && count < total && !job.quiet)
            std::fprintf(stderr,
                         "lumatrail: note: rendering %u frames at a time, as many as the memory holds\n",
                         count);
        times.threads = count;
        std::atomic<unsigned> running{count};
        std::vector<std::thread> workers;
        for (unsigned t = 0; t < count; ++t)
            workers.emplace_back([&] {
                worker();
                --running;
                done_signal.notify_all();
            });
        while (running > 0) {
            {
                std::unique_lock lock(done_mutex);
                done_signal.wait_for(lock, std::chrono::milliseconds(50));
            }
            if (signals.cancelled()) stop = true;
            if (show) print_progress(finished, total, Clock::now() - frames_start);
        }
        for (auto& w : workers) w.join();
        if (show) print_progress(finished, total, Clock::now() - frames_start, true);
    }
    if (signals.cancelled()) {
        std::lock_guard lock(failure_mutex);
        if (!failure || failure->exit_code != EXIT_EFFECT)
            failure = ToolError(signals.exit_code(), "cancelled");
    }
    if (failure) {
        if (failure->exit_code == EXIT_CANCELLED || failure->exit_code == EXIT_TERMINATED)
            throw ToolError(
                failure->exit_code,
                "cancelled" + std::string(signals.signal_number() == SIGTERM ? " (SIGTERM)" : "") +
                    " after " + std::to_string(written.load()) + " of " + std::to_string(total) +
                    " frames; the finished files are complete and no partly written file was left");
        throw *failure;
    }
    times.wall_ms = ms_since(start);
    return {written.load(), std::move(times)};
}

}  // namespace lumatrail::tools
