// A 1920 x 1080 frame of the stream renderer at default settings, for "Force
// Lines" and "Particles" at 8 bits and float: time per frame, and segments
// drawn per second.
#include <benchmark/benchmark.h>

#include "host/settings_fill.h"
#include "streams/stream_renderer.h"
#include "streams/stream_simulation.h"
#include "tests/support/image_buffer.h"

namespace lumatrail {
namespace {

constexpr std::int32_t W = 1920, H = 1080;

template <class Pixel>
void BM_RenderStreams(benchmark::State& state) {
    auto input = testing::convert<Pixel>(testing::test_picture(W, H));
    testing::ImageBuffer<Pixel> output(W, H);
    RenderSettings s = DEFAULT_SETTINGS;
    s.render_mode = RenderMode(state.range(0));
    s.time_seconds = 2.0;
    const RenderArea area{0, 0, W, H};

    // Segments per frame, counted once outside the timing.
    const StreamGeometry g = stream_geometry(area, output.view(), {}, s, 1, 1);
    const auto emitters = sample_emitters<Pixel>(input.view(), area, s, g, {}, nullptr, nullptr);
    const std::uint64_t segments = run_stream_phase<Pixel>(output.view(), g, s, emitters.data(),
                                                           std::uint32_t(emitters.size()), nullptr, nullptr);

    for (auto _ : state) {
        render_streams<Pixel>(input.view(), output.view(), s, {area}, {});
        benchmark::DoNotOptimize(output.pixels.data());
    }
    state.counters["segments_per_frame"] = double(segments);
    state.counters["segments_per_second"] =
        benchmark::Counter(double(segments), benchmark::Counter::kIsIterationInvariantRate);
    state.SetLabel(s.render_mode == Particles ? "Particles" : "Force Lines");
}

BENCHMARK(BM_RenderStreams<Pixel8>)->Arg(ForceLines)->Arg(Particles)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderStreams<PixelFloat>)->Arg(ForceLines)->Arg(Particles)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lumatrail
