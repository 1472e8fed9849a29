// The timing report of `lumatrail render --stats`: where the time of a render
// went, frame by frame and in total, with the program's own start-up.
#pragma once

#include <optional>
#include <string>

#include "tools/lumatrail/render_job.h"

namespace lumatrail::tools {

// How long the process had been running, in milliseconds, from its start time
// in /proc/self/stat against the boot clock (both to the kernel's clock tick,
// usually 10 ms). Called first thing in main it measures the start-up: the
// dynamic loader and the libraries' initialisation. Empty where unavailable.
std::optional<double> time_since_process_start_ms();

// What the process spent before the render.
struct ProcessTimes {
    std::optional<double> startup_ms;  // from the process's start to main()
    double module_load_ms = 0.0;       // opening the modules (the effect's, registered, and the media part)
};

// A duration for people: "41.2 ms" below a second, then "1.23 s", "15.1 s",
// "152 s".
std::string readable_duration(double ms);

// The report, one line each:
//   frame 12: read 41.2 ms, render 83.0 ms, write 512.4 ms   ("still:" for a still)
//   shared: read 20.5 ms (files read once for every frame)    (sequences over a still input or mask)
//   total: read 1.23 s, render 2.50 s, write 15.1 s; wall 6.02 s on 4 jobs
//   module load: 35.0 ms
//   start-up: 361.0 ms                                        ("start-up: unknown")
// and, on several jobs, a note that the phase totals add up every thread.
std::string stats_report(const RenderTimes& times, bool still, const ProcessTimes& process);

}  // namespace lumatrail::tools
