#include "tools/lumatrail/render_stats.h"

#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace lumatrail::tools {

std::optional<double> time_since_process_start_ms() {
#ifdef __linux__
    timespec now{};
    if (clock_gettime(CLOCK_BOOTTIME, &now) != 0) return std::nullopt;
    std::ifstream file("/proc/self/stat");
    const std::string stat{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    // The command name (field 2) is in parentheses and may hold spaces and
    // parentheses itself; the fields after the last ')' start at field 3.
    const std::size_t name_end = stat.rfind(')');
    if (name_end == std::string::npos) return std::nullopt;
    std::istringstream fields(stat.substr(name_end + 1));
    std::string field;
    for (int k = 3; k < 22; ++k) fields >> field;
    unsigned long long start_ticks = 0;
    const long ticks_per_second = sysconf(_SC_CLK_TCK);
    if (!(fields >> start_ticks) || ticks_per_second <= 0) return std::nullopt;
    const double now_ms = double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
    const double start_ms = double(start_ticks) * 1000.0 / double(ticks_per_second);
    // The start time is truncated to a tick, so it never comes after now.
    return now_ms >= start_ms ? now_ms - start_ms : 0.0;
#else
    return std::nullopt;
#endif
}

std::string readable_duration(double ms) {
    char buf[32];
    const double s = ms / 1000.0;
    if (ms < 999.95)
        std::snprintf(buf, sizeof buf, "%.1f ms", ms < 0.0 ? 0.0 : ms);
    else if (s < 9.995)
        std::snprintf(buf, sizeof buf, "%.2f s", s);
    else if (s < 99.95)
        std::snprintf(buf, sizeof buf, "%.1f s", s);
    else
        std::snprintf(buf, sizeof buf, "%.0f s", s);
    return buf;
}

std::string stats_report(const RenderTimes& times, bool still, const ProcessTimes& process) {
    std::string report;
    char line[256];
    // A single frame owns the files it was rendered from, even when they were
    // read before the frames started.
    const double shared = times.shared_read_ms.value_or(0.0);
    const bool fold_shared = times.frames.size() == 1;
    double read = fold_shared ? 0.0 : shared, render = 0.0, write = 0.0;
    for (const FrameTimes& f : times.frames) {
        const double own_read = f.read_ms + (fold_shared ? shared : 0.0);
        if (still)
            std::snprintf(line, sizeof line, "still: ");
        else
            std::snprintf(line, sizeof line, "frame %lld: ", static_cast<long long>(f.frame));
        report += line;
        std::snprintf(line, sizeof line, "read %.1f ms, render %.1f ms, write %.1f ms\n", own_read,
                      f.render_ms, f.write_ms);
        report += line;
        read += own_read;
        render += f.render_ms;
        write += f.write_ms;
    }
    if (times.shared_read_ms && !fold_shared)
        report += "shared: read " + readable_duration(shared) + " (files read once for every frame)\n";
    report += "total: read " + readable_duration(read) + ", render " + readable_duration(render) +
              ", write " + readable_duration(write) + "; wall " + readable_duration(times.wall_ms) + " on " +
              std::to_string(times.threads) + (times.threads == 1 ? " job\n" : " jobs\n");
    report += "module load: " + readable_duration(process.module_load_ms) + "\n";
    report += "start-up: " + (process.startup_ms ? readable_duration(*process.startup_ms) : "unknown") + "\n";
    if (times.threads > 1)
        report += "note: frames rendered " + std::to_string(times.threads) +
                  " at a time; each frame's times are its own, and the read, render and write totals add up "
                  "the time of every thread, so they may exceed the wall time\n";
    return report;
}

}  // namespace lumatrail::tools
