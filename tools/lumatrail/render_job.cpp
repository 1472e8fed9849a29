#include "tools/lumatrail/render_job.h"

#include "tools/lumatrail/render_plan.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "offline/offline_frame.h"
#include "offline/param_values.h"
#include "offline/test_card.h"
#include "tools/lumatrail/media/image_io.h"
#include "tools/lumatrail/tool_error.h"

namespace lumatrail::tools {
namespace {

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

// One line, redrawn in place and never wider than the terminal.
void print_progress(std::size_t done, std::size_t total, Clock::duration spent, bool last = false) {
    const std::string line =
        progress_line(done, total, std::chrono::duration<double>(spent).count(), terminal_width());
    // On a terminal the rest of the previous line is cleared.
    std::fprintf(stderr, "\r%s%s%s", line.c_str(), isatty(STDERR_FILENO) ? "\x1b[K" : "", last ? "\n" : "");
}

// The read stage: each frame's input and mask layers. The built-in picture
// and mask are made once; a still is read once and shared; a movie is
// decoded in the job's order, so its frames are taken under `order` together
// with the frame's place in the job.
struct FrameReader {
    std::shared_ptr<const offline::OfflineLayer> builtin_input, builtin_mask;
    std::unique_ptr<FrameSource> input, mask;
    std::mutex order;

    bool in_order() const { return (input && input->in_order()) || (mask && mask->in_order()); }

    struct Layers {
        std::shared_ptr<const offline::OfflineLayer> input, mask;
    };
    Layers read(std::int64_t frame) {
        return {input ? input->read(frame) : builtin_input, mask ? mask->read(frame) : builtin_mask};
    }
};

std::shared_ptr<const offline::OfflineLayer> layer_of(offline::OfflineWorld world) {
    return std::make_shared<const offline::OfflineLayer>(offline::OfflineLayer{std::move(world), {}, {}, {}});
}

// Whether any key of the parameter holds the value (or, with `other`, any other value).
bool holds(const offline::OfflineHost& host, const char* name, double value, bool other = false) {
    const offline::OfflineParam& p = host.params[std::size_t(offline::find_parameter(host, name))];
    return std::any_of(p.keys.begin(), p.keys.end(), [&](const offline::ParamKey& k) {
        return other ? k.value != value : k.value == value;
    });
}

bool opaque(const offline::OfflineWorld& w) {
    return offline::with_world_pixel_type(w.format, [&](auto pixel) {
        using Pixel = decltype(pixel);
        for (std::int32_t y = 0; y < w.world.height; ++y) {
            const Pixel* row = offline::pixel_at<Pixel>(w, 0, y);
            for (std::int32_t x = 0; x < w.world.width; ++x)
                if (float(row[x].alpha) < offline::FULL_VALUE<Pixel>) return false;
        }
        return true;
    });
}

// A mask whose alpha is full everywhere (or that has none) while Mask
// Channel is Alpha puts the whole frame inside the mask: a black-and-white
// matte given where its luminance was meant. Said once, from the first
// frame's mask, before any frame renders.
void warn_of_opaque_mask(FrameReader& reader, const RenderJob& job, const offline::OfflineHost& host) {
    if (!reader.mask || !holds(host, "Mask Channel", 1.0)) return;
    if (!holds(host, "Mask Mode", 1.0, true) && !holds(host, "Show Mask", 0.0, true)) return;
    if (!opaque(reader.mask->read(job.frames.front())->pixels)) return;
    std::fprintf(
        stderr,
        "lumatrail: warning: the mask \"%s\" has no alpha (or its alpha is fully opaque) while Mask "
        "Channel is Alpha, so the whole frame counts as inside the mask; for a black-and-white matte "
        "add --set mask-channel=luminance\n",
        job.mask.c_str());
}

// Makes the built-in pictures and reads the inputs every frame shares, so
// that their time is counted apart from the frames'.
void open_inputs(FrameReader& reader, const RenderJob& job, const RenderPlan& plan, RenderTimes& times,
                 const offline::OfflineHost& host) {
    const ReadOptions options{job.depth, job.input_colorspace};
    const PF_PixelFormat depth = job.depth.value_or(plan.input_info.depth);
    const Clock::time_point start = Clock::now();
    if (plan.input == MediaKind::None)
        reader.builtin_input = layer_of(job.card == BuiltinPicture::Photo
                                            ? offline::test_photo(job.card_width, job.card_height, depth)
                                            : offline::test_card(job.card_width, job.card_height, depth));
    else
        reader.input = std::make_unique<FrameSource>(plan.input, job.input, options);
    if (job.mask == "builtin")
        reader.builtin_mask = layer_of(
            offline::test_mask(std::int32_t(plan.mask_width), std::int32_t(plan.mask_height), depth));
    else if (plan.mask != MediaKind::None)
        reader.mask = std::make_unique<FrameSource>(plan.mask, job.mask, ReadOptions{});
    bool shared_read = false;
    for (FrameSource* source : {reader.input.get(), reader.mask.get()})
        if (source && source->shared()) {
            source->read(job.frames.front());
            shared_read = true;
        }
    if (shared_read) times.shared_read_ms = ms_since(start);
    warn_of_opaque_mask(reader, job, host);
}

// The write stage's options: a movie takes the job's rate, codec and
// quality, and the sound of a movie input over the frames rendered.
WriteOptions write_options(const RenderJob& job, const RenderPlan& plan, const std::atomic<bool>* cancel,
                           PendingFiles* pending) {
    WriteOptions options;
    options.colorspace = job.output_colorspace;
    options.cancel = cancel;
    options.pending = pending;
    MovieSettings& movie = options.movie;
    movie.rate = job.rate.value_or(FrameRate{});
    movie.codec = job.codec;
    movie.quality = job.quality;
    if (job.audio && plan.input == MediaKind::Movie && plan.input_info.audio && job.rate) {
        movie.audio_from = job.input;
        const auto seconds = [&](std::int64_t f) {
            return double(f) * double(job.rate->den) / double(job.rate->num);
        };
        movie.audio_start = seconds(job.frames.front());
        movie.audio_end = seconds(job.frames.back() + 1);
    }
    return options;
}

// Everything the rendering threads share.
struct RenderRun {
    PF_EffectMainFunc effect_main;
    const offline::OfflineHost& host;
    const RenderJob& job;
    const RenderPlan& plan;
    CancelSignals& signals;
    FrameReader& reader;
    FrameSink& sink;
    RenderTimes& times;
    std::atomic<bool> stop{false};
    std::atomic<std::size_t> next{0}, finished{0};
    std::mutex failure_mutex{};
    std::optional<ToolError> failure{};
    std::mutex done_mutex{};
    std::condition_variable done_signal{};
};

// The render stage of one frame: the full smart-render protocol through
// EffectMain, with the cancel flag as the host's abort callback.
offline::OfflineWorld render_layers(RenderRun& run, std::int64_t frame, const FrameReader::Layers& layers) {
    const RenderJob& job = run.job;
    offline::FrameRequest request;
    request.input = layers.input.get();
    request.mask = layers.mask.get();
    request.time = time_of(job, frame);
    request.downsample_x = job.downsample_x;
    request.downsample_y = job.downsample_y;
    request.faults.cancel = &run.stop;
    // The host's parameter list is only read while frames render.
    offline::FrameResult result =
        offline::request_frame(const_cast<offline::OfflineHost&>(run.host), run.effect_main, request);
    const PF_Err err = result.pre_render ? result.pre_render : result.render;
    if ((err == offline::OFFLINE_CANCELLED && run.stop) || run.signals.cancelled())
        throw ToolError(run.signals.exit_code(), "cancelled");
    if (err == PF_Err_OUT_OF_MEMORY) throw out_of_memory(run.plan, frame);
    if (err)
        throw ToolError(EXIT_EFFECT,
                        "frame " + std::to_string(frame) + ": " +
                            (result.message.empty() ? "the effect failed with error " + std::to_string(err)
                                                    : result.message));
    return std::move(result.output);
}

// One frame through the read, render and write stages. Returns false when
// there is no frame left to take.
bool render_next(RenderRun& run) {
    // A movie is decoded in the job's order: its frame is taken together
    // with the frame's place, under one lock.
    std::unique_lock<std::mutex> order;
    if (run.reader.in_order()) order = std::unique_lock(run.reader.order);
    const std::size_t k = run.next++;
    if (k >= run.job.frames.size() || run.stop) return false;
    Clock::time_point phase = Clock::now();
    FrameReader::Layers layers = run.reader.read(run.job.frames[k]);
    if (order) order.unlock();
    const std::int64_t frame = run.job.frames[k];
    FrameTimes& spent = run.times.frames[k];
    spent.frame = frame;
    spent.read_ms = ms_since(phase);
    phase = Clock::now();
    offline::OfflineWorld picture = render_layers(run, frame, layers);
    layers = {};
    spent.render_ms = ms_since(phase);
    phase = Clock::now();
    if (run.stop)
        throw ToolError(run.signals.cancelled() ? run.signals.exit_code() : EXIT_CANCELLED, "cancelled");
    run.sink.put(k, frame, std::move(picture));
    spent.write_ms = ms_since(phase);
    return true;
}

// A failure stops every frame; the first real failure is the one reported,
// over the cancels it caused in other threads.
void record_failure(RenderRun& run, ToolError error) {
    std::lock_guard lock(run.failure_mutex);
    const bool replaces =
        !run.failure || run.failure->exit_code == EXIT_CANCELLED || run.failure->exit_code == EXIT_TERMINATED;
    if (replaces) run.failure = std::move(error);
    run.stop = true;
}

void render_frames(RenderRun& run) {
    for (;;) {
        try {
            if (!render_next(run)) return;
        } catch (const ToolError& e) {
            record_failure(run, e);
        } catch (const std::bad_alloc&) {
            record_failure(run, out_of_memory(run.plan, std::nullopt));
        } catch (const std::exception& e) {
            record_failure(run, ToolError(EXIT_INTERNAL, e.what()));
        }
        ++run.finished;
        run.done_signal.notify_all();
    }
}

// Runs the frames on `count` threads, watching for signals and drawing the
// progress line while they work.
void run_threads(RenderRun& run, unsigned count, bool show) {
    const Clock::time_point start = Clock::now();
    const std::size_t total = run.job.frames.size();
    std::atomic<unsigned> running{count};
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < count; ++t)
        workers.emplace_back([&] {
            render_frames(run);
            --running;
            run.done_signal.notify_all();
        });
    while (running > 0) {
        {
            std::unique_lock lock(run.done_mutex);
            run.done_signal.wait_for(lock, std::chrono::milliseconds(50));
        }
        if (run.signals.cancelled()) run.stop = true;
        if (show) print_progress(run.finished, total, Clock::now() - start);
    }
    for (auto& w : workers) w.join();
    if (show) print_progress(run.finished, total, Clock::now() - start, true);
}

// What a cancel left on disk, said as it is: the files that are complete, or
// a movie that was not written.
ToolError cancelled_error(const RenderRun& run, const RenderPlan& plan) {
    const int code = run.signals.cancelled() ? run.signals.exit_code() : EXIT_CANCELLED;
    const std::string how = run.signals.signal_number() == SIGTERM ? "cancelled (SIGTERM)" : "cancelled";
    if (plan.output == MediaKind::Movie)
        return ToolError(code, how + "; the movie \"" + run.job.output + "\" was not written");
    return ToolError(code,
                     how + " after " + std::to_string(run.sink.frames_written()) + " of " +
                         std::to_string(run.job.frames.size()) +
                         " frames; the finished files are complete and no partly written file was left");
}

}  // namespace

std::string progress_line(std::size_t done, std::size_t total, double elapsed, int columns) {
    char text[64];
    std::snprintf(text, sizeof text, "%zu/%zu frames", done, total);
    const std::string count = text;
    std::vector<std::string> after{duration(elapsed) + " elapsed"};  // two spaces apart, after the count
    if (done > 0 && done < total) {
        const double rate = double(done) / elapsed;
        std::snprintf(text, sizeof text, "%.2f frames/s", rate);
        after.push_back(text);
        after.push_back(duration(double(total - done) / rate) + " left");
    }
    const int width = columns - 1;  // the last column would wrap on some terminals
    bool label = true;
    for (bool first = true;; first = false) {
        std::string counts = count;
        for (const std::string& field : after) counts += "  " + field;
        // The bar takes the room the whole line leaves, up to 30; it is
        // the first to go.
        const int room = width - int(counts.size()) - 13;
        if (first && room >= 10) {
            const int bar = std::min(room, 30);
            const int filled = int(std::size_t(bar) * done / std::max<std::size_t>(total, 1));
            return "rendering [" + std::string(std::size_t(filled), '#') +
                   std::string(std::size_t(bar - filled), '-') + "] " + counts;
        }
        const std::string line = (label ? "rendering " : "") + counts;
        if (int(line.size()) <= width) return line;
        // Then whole fields, the least needed first: the time left, the
        // rate, the word "rendering", the elapsed time.
        if (after.size() > 1)
            after.pop_back();
        else if (label)
            label = false;
        else if (!after.empty())
            after.pop_back();
        else
            return "";
    }
}

RenderOutcome run_render(PF_EffectMainFunc effect_main, const offline::OfflineHost& host,
                         const RenderJob& job, CancelSignals& signals, PendingFiles* pending) {
    const Clock::time_point start = Clock::now();
    const RenderPlan plan = plan_render(job, memory_budget());
    signals.throw_if_cancelled();

    RenderTimes times;
    times.frames.resize(job.frames.size());
    FrameReader reader;
    open_inputs(reader, job, plan, times, host);
    signals.throw_if_cancelled();

    FrameSink sink(plan.output, job.output, write_options(job, plan, &signals.flag(), pending));
    RenderRun run{effect_main, host, job, plan, signals, reader, sink, times};
    const std::size_t total = job.frames.size();
    const unsigned count =
        std::max(1u, std::min<unsigned>(plan.threads, unsigned(std::min<std::size_t>(total, 1024))));
    if (count < job.jobs && count < total && !job.quiet)
        std::fprintf(stderr, "lumatrail: note: rendering %u frames at a time, as many as the memory holds\n",
                     count);
    times.threads = count;
    run_threads(run, count, !job.quiet && (job.progress || isatty(STDERR_FILENO)));

    // Every frame written is a finished render, whatever arrived after it.
    const bool all_written = sink.frames_written() == total;
    if (run.failure && !(all_written && run.failure->exit_code == run.signals.exit_code())) {
        const bool cancelled =
            run.failure->exit_code == EXIT_CANCELLED || run.failure->exit_code == EXIT_TERMINATED;
        if (cancelled || (signals.cancelled() && run.failure->exit_code != EXIT_EFFECT))
            throw cancelled_error(run, plan);
        throw *run.failure;
    }
    if (!all_written && signals.cancelled()) throw cancelled_error(run, plan);
    sink.finish();
    times.wall_ms = ms_since(start);
    return {sink.files_written(), std::move(times)};
}

}  // namespace lumatrail::tools
