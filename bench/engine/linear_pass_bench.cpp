// The linear pass on a 3840 x 2160 frame at default settings ("Classic
// Lines", Horizontal and Vertical) at each depth, and "Stretch From Mask" with
// a mask; beside them a plain copy of the same frame through the same views,
// the floor any pass must pay. Reports milliseconds per frame and
// nanoseconds per pixel.
#include <benchmark/benchmark.h>

#include "engine/linear_pass.h"
#include "host/settings_fill.h"
#include "tests/support/image_buffer.h"

namespace lumatrail {
namespace {

constexpr std::int32_t W = 3840, H = 2160;

// Seconds per pixel (shown with an SI prefix: "15n" is 15 ns).
template <class Pixel>
void report(benchmark::State& state) {
    state.counters["per_pixel"] = benchmark::Counter(
        double(W) * H, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

template <class Pixel>
void BM_Copy(benchmark::State& state) {
    auto input = testing::convert<Pixel>(testing::test_picture(W, H));
    testing::ImageBuffer<Pixel> output(W, H);
    const ImageView in = input.view(), out = output.view();
    for (auto _ : state) {
        for (std::int32_t y = 0; y < H; ++y)
            for (std::int32_t x = 0; x < W; ++x)
                write_pixel_if_inside(out, x, y, read_pixel_or_zero<Pixel>(in, x, y));
        benchmark::DoNotOptimize(output.pixels.data());
    }
    report<Pixel>(state);
}

template <class Pixel>
void BM_LinearPass(benchmark::State& state) {
    auto input = testing::convert<Pixel>(testing::test_picture(W, H));
    testing::ImageBuffer<Pixel> output(W, H);
    RenderSettings s = DEFAULT_SETTINGS;
    s.direction = StretchDirection(state.range(0));
    for (auto _ : state) {
        linear_stretch_pass<Pixel>(input.view(), output.view(), s, {{0, 0, W, H}}, {});
        benchmark::DoNotOptimize(output.pixels.data());
    }
    report<Pixel>(state);
    state.SetLabel(s.direction == Vertical ? "Vertical" : "Horizontal");
}

// Stretch From Mask with an 8-bit mask of soft discs the size of the frame.
template <class Pixel>
void BM_StretchFromMask(benchmark::State& state) {
    auto input = testing::convert<Pixel>(testing::test_picture(W, H));
    testing::ImageBuffer<Pixel> output(W, H);
    testing::ImageBuffer<Pixel8> mask_pixels(W, H);
    for (std::int32_t y = 0; y < H; ++y)
        for (std::int32_t x = 0; x < W; ++x) {
            const std::int32_t dx = x % 480 - 240, dy = y % 480 - 240;
            mask_pixels.at(x, y).alpha = dx * dx + dy * dy < 160 * 160 ? 255 : 0;
        }
    RenderSettings s = DEFAULT_SETTINGS;
    s.mask_mode = StretchFromMask;
    // Placed as the frame entry places it, so that weights come through the
    // placed positions as they do in a frame.
    MaskSampler sampler = make_mask_sampler(testing::mask_source_of(mask_pixels, float(W), float(H)), s);
    place_pixel_centres(sampler, {0, 0, W, H});
    for (auto _ : state) {
        linear_stretch_pass<Pixel>(input.view(), output.view(), s, {{0, 0, W, H}}, sampler);
        benchmark::DoNotOptimize(output.pixels.data());
    }
    report<Pixel>(state);
}

BENCHMARK(BM_Copy<Pixel8>)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Copy<Pixel16>)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Copy<PixelFloat>)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LinearPass<Pixel8>)->Arg(Horizontal)->Arg(Vertical)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LinearPass<Pixel16>)->Arg(Horizontal)->Arg(Vertical)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LinearPass<PixelFloat>)->Arg(Horizontal)->Arg(Vertical)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StretchFromMask<Pixel8>)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StretchFromMask<PixelFloat>)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lumatrail
