#include "bench/frame/perf_cases.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include "bench/frame/stamp_floor.h"
#include "frame/frame_renderer.h"
#include "host/settings_fill.h"
#include "offline/offline_world.h"
#include "offline/test_card.h"
#include "tests/support/image_buffer.h"

namespace lumatrail::perf {
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

template <class Pixel>
testing::ImageBuffer<Pixel> test_picture(Size size) {
    return testing::convert<Pixel>(testing::test_picture(size.width, size.height));
}

// The built-in photo-like picture, copied row by row out of its world (the
// host's pixel layout is the engine's).
template <class Pixel>
testing::ImageBuffer<Pixel> photo(Size size) {
    const PF_PixelFormat format = std::is_same_v<Pixel, Pixel8>    ? PF_PixelFormat_ARGB32
                                  : std::is_same_v<Pixel, Pixel16> ? PF_PixelFormat_ARGB64
                                                                   : PF_PixelFormat_ARGB128;
    const offline::OfflineWorld world = offline::test_photo(size.width, size.height, format);
    testing::ImageBuffer<Pixel> picture(size.width, size.height);
    for (std::int32_t y = 0; y < size.height; ++y)
        std::memcpy(&picture.at(0, y), offline::pixel_at<Pixel>(world, 0, y),
                    std::size_t(size.width) * sizeof(Pixel));
    return picture;
}

// Soft-edged discs of alpha over the whole frame, for the mask case.
testing::ImageBuffer<Pixel8> disc_mask(Size size) {
    testing::ImageBuffer<Pixel8> mask(size.width, size.height);
    for (std::int32_t y = 0; y < size.height; ++y)
        for (std::int32_t x = 0; x < size.width; ++x) {
            const std::int32_t dx = x % 480 - 240, dy = y % 480 - 240;
            mask.at(x, y).alpha = dx * dx + dy * dy < 160 * 160 ? 255 : 0;
        }
    return mask;
}

// The pictures of a linear or mask case.
template <class Pixel>
struct LinearFrame {
    testing::ImageBuffer<Pixel> input, output;
    testing::ImageBuffer<Pixel8> mask_pixels;
    MaskSource mask;
    std::vector<float> keys;  // one row of brightness keys, for the floor
};

// A plain copy through the views, pixel by pixel.
template <class Pixel>
void copy_frame(const ImageView& in, const ImageView& out) {
    for (std::int32_t y = 0; y < in.height; ++y)
        for (std::int32_t x = 0; x < in.width; ++x)
            write_pixel_if_inside(out, x, y, read_pixel_or_zero<Pixel>(in, x, y));
    benchmark::DoNotOptimize(out.data);
}

// The floor of a linear pass: every row copied and its brightness keys
// computed once.
template <class Pixel>
void copy_with_keys(LinearFrame<Pixel>& f) {
    const std::size_t width = std::size_t(f.input.width);
    for (std::int32_t y = 0; y < f.input.height; ++y) {
        const Pixel* row = &f.input.at(0, y);
        std::memcpy(&f.output.at(0, y), row, width * sizeof(Pixel));
        brightness_keys(row, f.keys.data(), f.input.width);
        benchmark::DoNotOptimize(f.keys.data());
    }
    benchmark::DoNotOptimize(f.output.pixels.data());
}

template <class Pixel>
Case copy_case(Size size) {
    return {std::string("copy ") + depth_name<Pixel>() + " " + size.text(), [size] {
                auto f = std::make_shared<LinearFrame<Pixel>>();
                f->input = test_picture<Pixel>(size);
                f->output = testing::ImageBuffer<Pixel>(size.width, size.height);
                PreparedCase c;
                c.work.run = [f] { copy_frame<Pixel>(f->input.view(), f->output.view()); };
                return c;
            }};
}

// A frame through the frame entry, beside the copy and the floor.
template <class Pixel>
PreparedCase linear_case(Size size, RenderSettings settings, bool with_mask) {
    auto f = std::make_shared<LinearFrame<Pixel>>();
    f->input = test_picture<Pixel>(size);
    f->output = testing::ImageBuffer<Pixel>(size.width, size.height);
    f->keys.resize(std::size_t(size.width));
    if (with_mask) {
        f->mask_pixels = disc_mask(size);
        f->mask = testing::mask_source_of(f->mask_pixels, float(size.width), float(size.height));
    }
    PreparedCase c;
    c.work.run = [f, settings] {
        render_frame(PixelTraits<Pixel>::DEPTH, f->input.view(), f->output.view(), settings,
                     {{0, 0, f->input.width, f->input.height}}, f->mask);
        benchmark::DoNotOptimize(f->output.pixels.data());
    };
    c.references.push_back({"copy", {[f] { copy_frame<Pixel>(f->input.view(), f->output.view()); }, {}}});
    c.references.push_back({"floor", {[f] { copy_with_keys(*f); }, {}}});
    return c;
}

template <class Pixel>
Case linear(Size size, StretchDirection direction) {
    RenderSettings s = DEFAULT_SETTINGS;
    s.direction = direction;
    return {std::string("linear ") + depth_name<Pixel>() +
                (direction == Vertical ? " vertical " : " horizontal ") + size.text(),
            [size, s] { return linear_case<Pixel>(size, s, false); }};
}

template <class Pixel>
Case stretch_from_mask(Size size) {
    RenderSettings s = DEFAULT_SETTINGS;
    s.mask_mode = StretchFromMask;
    return {std::string("stretch-from-mask ") + depth_name<Pixel>() + " " + size.text(),
            [size, s] { return linear_case<Pixel>(size, s, true); }};
}

template <class Pixel>
Case streams(Size size, RenderMode mode, bool on_photo) {
    RenderSettings s = DEFAULT_SETTINGS;
    s.render_mode = mode;
    s.time_seconds = 2.0;
    return {std::string(mode == Particles ? "particles " : "force-lines ") + depth_name<Pixel>() + " " +
                size.text() + (on_photo ? " photo" : ""),
            [size, s, on_photo] {
                return prepare_stream_case<Pixel>(on_photo ? photo<Pixel>(size) : test_picture<Pixel>(size),
                                                  s);
            }};
}

void add_stream_cases(std::vector<Case>& cases, Size size, bool on_photo) {
    cases.push_back(streams<Pixel8>(size, ForceLines, on_photo));
    cases.push_back(streams<PixelFloat>(size, ForceLines, on_photo));
    cases.push_back(streams<Pixel8>(size, Particles, on_photo));
    cases.push_back(streams<PixelFloat>(size, Particles, on_photo));
}

}  // namespace

std::vector<Case> all_cases() {
    std::vector<Case> cases{copy_case<Pixel8>(UHD),
                            copy_case<Pixel16>(UHD),
                            copy_case<PixelFloat>(UHD),
                            copy_case<Pixel8>(HD),
                            copy_case<Pixel8>(UHD8K),
                            linear<Pixel8>(UHD, Horizontal),
                            linear<Pixel8>(UHD, Vertical),
                            linear<Pixel16>(UHD, Horizontal),
                            linear<PixelFloat>(UHD, Horizontal),
                            linear<Pixel8>(HD, Horizontal),
                            linear<Pixel8>(UHD8K, Horizontal),
                            stretch_from_mask<Pixel8>(UHD)};
    add_stream_cases(cases, HD, false);
    add_stream_cases(cases, UHD, false);
    add_stream_cases(cases, HD, true);
    return cases;
}

}  // namespace lumatrail::perf
