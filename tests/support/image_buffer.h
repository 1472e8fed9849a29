// Images for tests: owned pixel buffers at any depth with views onto them,
// and conversions of one 8-bit picture to the other depths.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/image_view.h"
#include "engine/mask_sampling.h"
#include "engine/pixel_depth.h"
#include "host/settings_fill.h"

namespace lumatrail::testing {

template <class Pixel>
struct ImageBuffer {
    std::int32_t width = 0, height = 0;
    std::vector<Pixel> pixels;

    ImageBuffer() = default;
    ImageBuffer(std::int32_t w, std::int32_t h, Pixel fill = Pixel{})
        : width(w), height(h), pixels(std::size_t(w) * std::size_t(h), fill) {}

    Pixel& at(std::int32_t x, std::int32_t y) {
        return pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)];
    }
    const Pixel& at(std::int32_t x, std::int32_t y) const {
        return pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)];
    }
    ImageView view(std::int32_t origin_x = 0, std::int32_t origin_y = 0) {
        return {reinterpret_cast<std::uint8_t*>(pixels.data()),    width,    height,
                std::int64_t(width) * std::int64_t(sizeof(Pixel)), origin_x, origin_y};
    }
    bool operator==(const ImageBuffer& o) const {
        return width == o.width && height == o.height &&
               std::memcmp(pixels.data(), o.pixels.data(), pixels.size() * sizeof(Pixel)) == 0;
    }
};

// The image as a frame's mask layer, stretched to its own size over a layer
// of norm_width x norm_height.
template <class Pixel>
MaskSource mask_source_of(ImageBuffer<Pixel>& image, float norm_width, float norm_height) {
    return {image.view(), PixelTraits<Pixel>::DEPTH, image.width, image.height, norm_width, norm_height};
}

// A sampler of the image's alpha (or luminance) as the renderers get it.
template <class Pixel>
MaskSampler mask_sampler_of(ImageBuffer<Pixel>& image, float norm_width, float norm_height,
                            MaskChannel channel = Alpha) {
    RenderSettings s = DEFAULT_SETTINGS;
    s.mask_mode = SortInsideMask;
    s.mask_channel = channel;
    return make_mask_sampler(mask_source_of(image, norm_width, norm_height), s);
}

// An 8-bit pixel at another depth: the same fraction of full value.
template <class Pixel>
Pixel from_8bit(const Pixel8& p) {
    if constexpr (std::is_same_v<Pixel, Pixel8>) {
        return p;
    } else if constexpr (std::is_same_v<Pixel, Pixel16>) {
        auto c = [](std::uint8_t v) { return std::uint16_t((std::uint32_t(v) * 32768u + 127u) / 255u); };
        return {c(p.alpha), c(p.red), c(p.green), c(p.blue)};
    } else {
        auto c = [](std::uint8_t v) { return float(v) / 255.0f; };
        return {c(p.alpha), c(p.red), c(p.green), c(p.blue)};
    }
}

template <class Pixel>
ImageBuffer<Pixel> convert(const ImageBuffer<Pixel8>& image) {
    ImageBuffer<Pixel> out(image.width, image.height);
    for (std::size_t i = 0; i < image.pixels.size(); ++i) out.pixels[i] = from_8bit<Pixel>(image.pixels[i]);
    return out;
}

// A deterministic opaque picture with bright and dark regions and a soft disc.
inline ImageBuffer<Pixel8> test_picture(std::int32_t w, std::int32_t h) {
    ImageBuffer<Pixel8> img(w, h);
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x) {
            const std::int32_t dx = x - w / 2, dy = y - h / 2;
            const bool disc = dx * dx + dy * dy < (w * w) / 16;
            const auto r = std::uint8_t((x * 255) / std::max(w - 1, 1));
            const auto g = std::uint8_t((y * 255) / std::max(h - 1, 1));
            const auto b = std::uint8_t(disc ? 240 : ((x / 7 + y / 5) % 3) * 60);
            img.at(x, y) = Pixel8{255, r, g, b};
        }
    return img;
}

}  // namespace lumatrail::testing
