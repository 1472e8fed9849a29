#include "tools/lumatrail/render_job.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

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
#include "offline/test_card.h"
#include "tools/lumatrail/image_io.h"
#include "tools/lumatrail/tool_error.h"

namespace lumatrail::tools {
namespace {

namespace fs = std::filesystem;

// The frame number's place in a pattern: [start, end) and its zero-padded width.
struct PatternSlot {
    std::size_t start = std::string::npos, end = 0;
    int width = 0;
};

PatternSlot find_slot(const std::string& path) {
    PatternSlot slot;
    const std::size_t name = path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1;
    const std::size_t hash = path.find('#', name);
    if (hash != std::string::npos) {
        std::size_t end = hash;
        while (end < path.size() && path[end] == '#') ++end;
        return {hash, end, int(end - hash)};
    }
    // printf style: %d, %4d or %04d.
    for (std::size_t at = path.find('%', name); at != std::string::npos; at = path.find('%', at + 1)) {
        std::size_t end = at + 1;
        int width = 0;
        while (end < path.size() && path[end] >= '0' && path[end] <= '9' && end - at < 4)
            width = width * 10 + (path[end++] - '0');
        if (end < path.size() && path[end] == 'd') return {at, end + 1, width};
    }
    return slot;
}

bool is_sequence_pattern(const std::string& path) { return find_slot(path).start != std::string::npos; }

struct SharedLayers {
    std::unique_ptr<offline::OfflineLayer> input, mask;  // when the same for every frame
};

offline::OfflineLayer layer(offline::OfflineWorld world) {
    return offline::OfflineLayer{std::move(world), {}, {}, {}};
}

offline::HostTime time_of(const RenderJob& job, std::int32_t frame) {
    if (job.fps <= 0.0) return offline::host_time(job.time);
    // frame / fps seconds as the host counts it: time_scale ticks per second.
    const auto scale = std::uint32_t(std::llround(job.fps * 1000.0));
    return {frame * 1000, 1000, scale};
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

// Ctrl-C and SIGTERM set the cancel flag: the signals are blocked in every
// thread and taken by one watcher with sigtimedwait, so no handler and no
// global state are needed.
struct SignalWatch {
    sigset_t set{}, previous{};
    std::atomic<bool>& cancel;
    std::atomic<bool> interrupted{false}, done{false};
    std::thread watcher;
    explicit SignalWatch(std::atomic<bool>& c) : cancel(c) {
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set, &previous);
        watcher = std::thread([this] {
            const timespec wait{0, 100'000'000};
            while (!done.load()) {
                if (sigtimedwait(&set, nullptr, &wait) > 0) {
                    interrupted = true;
                    cancel = true;
                }
            }
        });
    }
    ~SignalWatch() {
        done = true;
        watcher.join();
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
};

}  // namespace

std::string frame_path(const std::string& pattern, std::int32_t frame) {
    const PatternSlot slot = find_slot(pattern);
    if (slot.start == std::string::npos) return pattern;
    char number[32];
    std::snprintf(number, sizeof number, "%0*d", slot.width, frame);
    return pattern.substr(0, slot.start) + number + pattern.substr(slot.end);
}

RenderOutcome run_render(PF_EffectMainFunc effect_main, const offline::OfflineHost& host,
                         const RenderJob& job) {
    const Clock::time_point start = Clock::now();
    if (job.frames.empty()) throw ToolError(EXIT_USAGE, "there is no frame to render");
    if (job.frames.size() > 1 && !is_sequence_pattern(job.output))
        throw ToolError(EXIT_USAGE, "several frames need an output pattern such as out.####.png, not \"" +
                                        job.output + "\"");
    // Fail before rendering anything when an output or an input cannot work.
    const std::string first_output = frame_path(job.output, job.frames.front());
    if (!can_write(first_output))
        throw ToolError(
            EXIT_OUTPUT,
            "cannot write \"" + first_output +
                "\": no image format is known for its extension (try .png, .tif, .exr, .jpg or .dpx)");
    const fs::path folder =
        fs::path(first_output).has_parent_path() ? fs::path(first_output).parent_path() : ".";
    if (!fs::is_directory(folder))
        throw ToolError(EXIT_OUTPUT, "the output folder \"" + folder.string() + "\" does not exist");
    for (const std::string* pattern : {&job.input, &job.mask}) {
        if (pattern->empty() || *pattern == "builtin") continue;
        for (std::int32_t f : job.frames)
            if (!fs::exists(frame_path(*pattern, f)))
                throw ToolError(EXIT_INPUT, "no such file: \"" + frame_path(*pattern, f) + "\"");
    }

    // One record per frame, each written only by the thread rendering that
    // frame and read after every thread has finished.
    RenderTimes times;
    times.frames.resize(job.frames.size());
    SharedLayers shared;
    if (job.input.empty()) {
        shared.input = std::make_unique<offline::OfflineLayer>(layer(
            offline::test_card(job.card_width, job.card_height, job.depth.value_or(PF_PixelFormat_ARGB32))));
    } else if (!is_sequence_pattern(job.input)) {
        const Clock::time_point read = Clock::now();
        shared.input = std::make_unique<offline::OfflineLayer>(layer(read_image(job.input, job.depth)));
        times.shared_read_ms = times.shared_read_ms.value_or(0.0) + ms_since(read);
    }
    const PF_PixelFormat depth = job.depth      ? *job.depth
                                 : shared.input ? shared.input->pixels.format
                                                : PF_PixelFormat_ARGB32;
    if (job.mask == "builtin") {
        const std::int32_t w = shared.input ? shared.input->pixels.world.width : job.card_width;
        const std::int32_t h = shared.input ? shared.input->pixels.world.height : job.card_height;
        shared.mask = std::make_unique<offline::OfflineLayer>(layer(offline::test_mask(w, h, depth)));
    } else if (!job.mask.empty() && !is_sequence_pattern(job.mask)) {
        const Clock::time_point read = Clock::now();
        shared.mask = std::make_unique<offline::OfflineLayer>(layer(read_image(job.mask)));
        times.shared_read_ms = times.shared_read_ms.value_or(0.0) + ms_since(read);
    }

    std::atomic<bool> cancel{false};
    std::atomic<std::size_t> next{0}, finished{0};
    std::mutex failure_mutex;
    std::optional<ToolError> failure;
    std::mutex done_mutex;
    std::condition_variable done_signal;

    auto render_one = [&](std::int32_t frame, FrameTimes& spent) {
        spent.frame = frame;
        Clock::time_point phase = Clock::now();
        std::unique_ptr<offline::OfflineLayer> own_input, own_mask;
        const offline::OfflineLayer* input = shared.input.get();
        const offline::OfflineLayer* mask = shared.mask.get();
        if (!input) {
            own_input = std::make_unique<offline::OfflineLayer>(
                layer(read_image(frame_path(job.input, frame), job.depth)));
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
        request.faults.cancel = &cancel;
        // The host's parameter list is only read while frames render.
        phase = Clock::now();
        const offline::FrameResult result =
            offline::render_frame(const_cast<offline::OfflineHost&>(host), effect_main, request);
        spent.render_ms = ms_since(phase);
        const PF_Err err = result.pre_render ? result.pre_render : result.render;
        if (err == offline::OFFLINE_CANCELLED && cancel) throw ToolError(EXIT_CANCELLED, "cancelled");
        if (err)
            throw ToolError(EXIT_EFFECT, "frame " + std::to_string(frame) + ": " +
                                             (result.message.empty()
                                                  ? "the effect failed with error " + std::to_string(err)
                                                  : result.message));
        phase = Clock::now();
        write_image(result.output, frame_path(job.output, frame));
        spent.write_ms = ms_since(phase);
    };

    std::atomic<std::size_t> written{0};
    auto worker = [&] {
        for (;;) {
            const std::size_t k = next++;
            if (k >= job.frames.size() || cancel) break;
            try {
                render_one(job.frames[k], times.frames[k]);
                ++written;
            } catch (const ToolError& e) {
                std::lock_guard lock(failure_mutex);
                if (!failure || failure->exit_code == EXIT_CANCELLED) failure = e;
                cancel = true;
            } catch (const std::exception& e) {
                std::lock_guard lock(failure_mutex);
                if (!failure) failure = ToolError(EXIT_INTERNAL, e.what());
                cancel = true;
            }
            ++finished;
            done_signal.notify_all();
        }
    };

    const bool show = !job.quiet && (job.progress || isatty(STDERR_FILENO));
    const Clock::time_point frames_start = Clock::now();
    const std::size_t total = job.frames.size();
    {
        SignalWatch signals(cancel);
        const unsigned count = std::max(1u, std::min<unsigned>(job.jobs, unsigned(total)));
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
                done_signal.wait_for(lock, std::chrono::milliseconds(200));
            }
            if (!show) continue;
            const std::size_t done = finished;
            const double elapsed = std::chrono::duration<double>(Clock::now() - frames_start).count();
            const double rate = elapsed > 0 ? double(done) / elapsed : 0.0;
            const int filled = int(30 * done / total);
            std::fprintf(stderr, "\rrendering [%.*s%.*s] %zu/%zu frames  %.2f frames/s  %s left ", filled,
                         "##############################", 30 - filled, "------------------------------",
                         done, total, rate,
                         rate > 0 ? duration(double(total - done) / rate).c_str() : "-:--");
        }
        for (auto& w : workers) w.join();
        if (show) std::fprintf(stderr, "\n");
        if (signals.interrupted) {
            std::lock_guard lock(failure_mutex);
            failure = ToolError(EXIT_CANCELLED, "cancelled");
        }
    }
    if (failure) {
        if (failure->exit_code == EXIT_CANCELLED)
            throw ToolError(EXIT_CANCELLED, "cancelled; no partly written file was left behind");
        throw *failure;
    }
    times.wall_ms = ms_since(start);
    return {written.load(), std::move(times)};
}

}  // namespace lumatrail::tools
