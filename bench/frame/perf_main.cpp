// make perf: whole frames through the frame entry, one line per case.
//
//   linear 8-bit horizontal 3840x2160: 79.0 ms, 15.1x copy
//   force-lines 8-bit 1920x1080: 363 ms
//
// Each linear and mask case is measured in this process beside a plain copy
// of a frame of the same depth and size through the same views, the floor
// any pass must pay, and reported as a multiple of it: machines differ and
// figures drift between runs, the ratio much less. Times are the mean wall
// time per frame over at least half a second of frames.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "frame/frame_renderer.h"
#include "tests/support/image_buffer.h"

namespace lumatrail {
namespace {

struct Size {
    std::int32_t width, height;
    std::string text() const { return std::to_string(width) + "x" + std::to_string(height); }
};
constexpr Size HD{1920, 1080}, UHD{3840, 2160}, UHD8K{7680, 4320};

template <class Pixel>
const char* depth_name() {
    return std::is_same_v<Pixel, Pixel8> ? "8-bit" : std::is_same_v<Pixel, Pixel16> ? "16-bit" : "float";
}

// Soft-edged discs of alpha over the whole frame, for the mask cases.
testing::ImageBuffer<Pixel8> disc_mask(Size size) {
    testing::ImageBuffer<Pixel8> mask(size.width, size.height);
    for (std::int32_t y = 0; y < size.height; ++y)
        for (std::int32_t x = 0; x < size.width; ++x) {
            const std::int32_t dx = x % 480 - 240, dy = y % 480 - 240;
            mask.at(x, y).alpha = dx * dx + dy * dy < 160 * 160 ? 255 : 0;
        }
    return mask;
}

template <class Pixel>
void copy_frame(benchmark::State& state, Size size) {
    auto input = testing::convert<Pixel>(testing::test_picture(size.width, size.height));
    testing::ImageBuffer<Pixel> output(size.width, size.height);
    const ImageView in = input.view(), out = output.view();
    for (auto _ : state) {
        for (std::int32_t y = 0; y < size.height; ++y)
            for (std::int32_t x = 0; x < size.width; ++x)
                write_pixel_if_inside(out, x, y, read_pixel_or_zero<Pixel>(in, x, y));
        benchmark::DoNotOptimize(output.pixels.data());
    }
}

template <class Pixel>
void render(benchmark::State& state, Size size, RenderSettings settings, bool with_mask) {
    auto input = testing::convert<Pixel>(testing::test_picture(size.width, size.height));
    testing::ImageBuffer<Pixel> output(size.width, size.height);
    testing::ImageBuffer<Pixel8> mask_pixels = with_mask ? disc_mask(size) : testing::ImageBuffer<Pixel8>();
    const MaskSource mask = with_mask
                                ? testing::mask_source_of(mask_pixels, float(size.width), float(size.height))
                                : MaskSource{};
    for (auto _ : state) {
        render_frame(PixelTraits<Pixel>::DEPTH, input.view(), output.view(), {0, 0, size.width, size.height},
                     settings, 1, 1, nullptr, nullptr, mask);
        benchmark::DoNotOptimize(output.pixels.data());
    }
}

// The cases in the order they are printed; `copy` names the copy a case is
// compared with.
struct Case {
    std::string name, copy;
    std::function<void(benchmark::State&)> run;
};

template <class Pixel>
void add_copy(std::vector<Case>& cases, Size size) {
    cases.push_back({std::string("copy ") + depth_name<Pixel>() + " " + size.text(), "",
                     [size](benchmark::State& s) { copy_frame<Pixel>(s, size); }});
}

template <class Pixel>
void add_linear(std::vector<Case>& cases, Size size, StretchDirection direction) {
    RenderSettings s;
    s.direction = direction;
    cases.push_back({std::string("linear ") + depth_name<Pixel>() +
                         (direction == Vertical ? " vertical " : " horizontal ") + size.text(),
                     std::string("copy ") + depth_name<Pixel>() + " " + size.text(),
                     [size, s](benchmark::State& st) { render<Pixel>(st, size, s, false); }});
}

template <class Pixel>
void add_stretch_from_mask(std::vector<Case>& cases, Size size) {
    RenderSettings s;
    s.mask_mode = StretchFromMask;
    cases.push_back({std::string("stretch-from-mask ") + depth_name<Pixel>() + " " + size.text(),
                     std::string("copy ") + depth_name<Pixel>() + " " + size.text(),
                     [size, s](benchmark::State& st) { render<Pixel>(st, size, s, true); }});
}

template <class Pixel>
void add_streams(std::vector<Case>& cases, Size size, RenderMode mode) {
    RenderSettings s;
    s.render_mode = mode;
    s.time_seconds = 2.0;
    cases.push_back({std::string(mode == Particles ? "particles " : "force-lines ") + depth_name<Pixel>() +
                         " " + size.text(),
                     "", [size, s](benchmark::State& st) { render<Pixel>(st, size, s, false); }});
}

std::vector<Case> all_cases() {
    std::vector<Case> cases;
    add_copy<Pixel8>(cases, UHD);
    add_copy<Pixel16>(cases, UHD);
    add_copy<PixelFloat>(cases, UHD);
    add_copy<Pixel8>(cases, HD);
    add_copy<Pixel8>(cases, UHD8K);
    add_linear<Pixel8>(cases, UHD, Horizontal);
    add_linear<Pixel8>(cases, UHD, Vertical);
    add_linear<Pixel16>(cases, UHD, Horizontal);
    add_linear<PixelFloat>(cases, UHD, Horizontal);
    add_linear<Pixel8>(cases, HD, Horizontal);
    add_linear<Pixel8>(cases, UHD8K, Horizontal);
    add_stretch_from_mask<Pixel8>(cases, UHD);
    for (const Size size : {HD, UHD}) {
        add_streams<Pixel8>(cases, size, ForceLines);
        add_streams<PixelFloat>(cases, size, ForceLines);
        add_streams<Pixel8>(cases, size, Particles);
        add_streams<PixelFloat>(cases, size, Particles);
    }
    return cases;
}

// Collects the mean time of every case and prints the lines at the end,
// when every copy is known.
class LineReporter : public benchmark::BenchmarkReporter {
public:
    explicit LineReporter(std::vector<Case> cases) : cases_(std::move(cases)) {}
    bool ReportContext(const Context&) override { return true; }
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.iterations > 0) milliseconds_[run.run_name.function_name] = run.GetAdjustedRealTime();
    }
    void Finalize() override {
        for (const Case& c : cases_) {
            const auto found = milliseconds_.find(c.name);
            if (found == milliseconds_.end()) continue;  // filtered out
            const double ms = found->second;
            std::printf("%s: %.*f ms", c.name.c_str(), ms < 100 ? 1 : 0, ms);
            const auto copy = milliseconds_.find(c.copy);
            if (copy != milliseconds_.end() && copy->second > 0)
                std::printf(", %.1fx copy", ms / copy->second);
            std::printf("\n");
        }
        std::fflush(stdout);
    }

private:
    std::vector<Case> cases_;
    std::map<std::string, double> milliseconds_;
};

}  // namespace
}  // namespace lumatrail

int main(int argc, char** argv) {
    using namespace lumatrail;
    const std::vector<Case> cases = all_cases();
    for (const Case& c : cases)
        benchmark::RegisterBenchmark(c.name.c_str(), c.run)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(0.5)
            ->UseRealTime();
    benchmark::Initialize(&argc, argv);
    LineReporter reporter(cases);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
