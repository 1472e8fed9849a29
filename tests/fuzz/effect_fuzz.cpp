// The effect itself: EffectMain through the offline host, with parameter
// values no host check has seen (NaN, +-Inf, far out of range, keyframed),
// on small 8-bit, 16-bit and float frames whose float pixels may be NaN or
// +-Inf, at any downsample, through smart render or the plain command.
// The effect may refuse a frame with an error; it must not crash or run
// into undefined behaviour.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "offline/offline_frame.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using namespace lumatrail;

// Keys straight into the host's record, past the range checks a host makes.
void set_raw_values(offline::OfflineHost& host, FuzzedDataProvider& in) {
    const int settings = in.ConsumeIntegralInRange<int>(0, 10);
    for (int i = 0; i < settings; ++i) {
        auto& p = host.params[in.ConsumeIntegralInRange<std::size_t>(1, host.params.size() - 1)];
        if (p.keys.empty()) continue;  // layers and groups hold no value
        std::vector<offline::ParamKey> keys(in.ConsumeIntegralInRange<std::size_t>(1, 3));
        for (auto& k : keys) k = {in.ConsumeFloatingPointInRange<double>(-10.0, 10.0), fuzz::next_double(in)};
        std::stable_sort(keys.begin(), keys.end(),
                         [](const auto& a, const auto& b) { return a.time_seconds < b.time_seconds; });
        p.keys = keys;
    }
}

float next_channel(FuzzedDataProvider& in, PF_PixelFormat format) {
    switch (format) {
    case PF_PixelFormat_ARGB32: return in.ConsumeIntegral<std::uint8_t>();
    case PF_PixelFormat_ARGB64: return in.ConsumeIntegralInRange<std::uint16_t>(0, 32768);
    default: return float(fuzz::next_double(in));
    }
}

offline::OfflineWorld next_world(FuzzedDataProvider& in, PF_PixelFormat format) {
    const std::int32_t width = in.ConsumeIntegralInRange<std::int32_t>(1, 10);
    const std::int32_t height = in.ConsumeIntegralInRange<std::int32_t>(1, 10);
    offline::OfflineWorld w = offline::make_world(format, width, height);
    offline::with_world_pixel_type(format, [&](auto pixel) {
        using Pixel = decltype(pixel);
        using Channel = decltype(pixel.alpha);
        for (std::int32_t y = 0; y < height; ++y)
            for (std::int32_t x = 0; x < width; ++x) {
                Pixel& p = *offline::pixel_at<Pixel>(w, x, y);
                p.alpha = Channel(next_channel(in, format));
                p.red = Channel(next_channel(in, format));
                p.green = Channel(next_channel(in, format));
                p.blue = Channel(next_channel(in, format));
            }
    });
    return w;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    offline::OfflineHost host;
    fuzz::load_effect_parameters(host);
    set_raw_values(host, in);
    const PF_PixelFormat format = offline::WORLD_DEPTHS[in.ConsumeIntegralInRange<int>(0, 2)].format;
    const bool plain = format != PF_PixelFormat_ARGB128 && in.ConsumeBool();
    constexpr PF_RationalScale downsamples[] = {{1, 1}, {1, 2}, {1, 3}, {2, 5}};
    offline::FrameRequest request;
    request.downsample_x = downsamples[in.ConsumeIntegralInRange<int>(0, 3)];
    request.downsample_y = downsamples[in.ConsumeIntegralInRange<int>(0, 3)];
    request.time = offline::host_time(in.ConsumeFloatingPointInRange<double>(-10.0, 10.0));
    const bool with_mask = in.ConsumeBool();
    offline::OfflineLayer input, mask;
    input.pixels = next_world(in, format);
    if (with_mask) {
        mask.pixels = next_world(in, format);
        request.mask = &mask;
    }
    request.input = &input;
    if (plain)
        offline::request_frame_plain(host, EffectMain, request);
    else
        offline::request_frame(host, EffectMain, request);
    return 0;
}
