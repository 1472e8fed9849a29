#include "offline/test_card.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

namespace lumatrail::offline {
namespace {

float soft_edge(float distance, float radius, float softness) {
    const float t = std::clamp((distance - radius) / softness + 0.5f, 0.0f, 1.0f);
    return 1.0f - t * t * (3.0f - 2.0f * t);
}

// Straight (not premultiplied) colour of the card at normalised (u, v), and
// the pixel's integer position for the fine detail.
StraightColour card_colour(float u, float v, std::int32_t x, std::int32_t y) {
    static constexpr StraightColour BARS[7] = {
        {0.75f, 0.75f, 0.75f, 1}, {0.75f, 0.75f, 0, 1}, {0, 0.75f, 0.75f, 1}, {0, 0.75f, 0, 1},
        {0.75f, 0, 0.75f, 1},     {0.75f, 0, 0, 1},     {0, 0, 0.75f, 1}};
    StraightColour c{0.05f, 0.05f, 0.08f, 1.0f};
    if (v < 0.35f) {
        c = BARS[std::min(std::int32_t(u * 7.0f), 6)];
    } else if (v < 0.45f) {
        c = {u, u, u, 1};  // grey ramp
    } else if (v < 0.55f) {
        // Hue ramp.
        const float h = u * 6.0f;
        const float f = h - std::floor(h);
        const int sector = std::min(int(h), 5);
        const StraightColour hues[6] = {{1, f, 0, 1},     {1 - f, 1, 0, 1}, {0, 1, f, 1},
                                        {0, 1 - f, 1, 1}, {f, 0, 1, 1},     {1, 0, 1 - f, 1}};
        c = hues[sector];
    } else {
        // Soft discs over a dark ground, with fine stripes in the lower right.
        const struct {
            float cx, cy, radius;
            StraightColour colour;
        } discs[4] = {
            {0.18f, 0.75f, 0.12f, {1.0f, 0.55f, 0.1f, 1}},
            {0.42f, 0.80f, 0.09f, {0.2f, 0.8f, 1.0f, 1}},
            {0.62f, 0.72f, 0.07f, {1.0f, 1.0f, 0.9f, 1}},
            {0.30f, 0.93f, 0.05f, {0.9f, 0.2f, 0.6f, 1}},
        };
        for (const auto& d : discs) {
            const float du = (u - d.cx) * 1.78f, dv = v - d.cy;
            const float k = soft_edge(std::sqrt(du * du + dv * dv), d.radius, 0.03f);
            c = {c.r + (d.colour.r - c.r) * k, c.g + (d.colour.g - c.g) * k, c.b + (d.colour.b - c.b) * k, 1};
        }
        if (u > 0.75f) {
            const bool stripe = ((x + y) / 2) % 2 == 0;
            const float level = stripe ? 0.9f : 0.15f;
            c = {level, level, level, 1};
        }
    }
    // A soft transparent corner at the top right.
    const float du = (1.0f - u) * 1.78f, dv = v;
    c.a = 1.0f - soft_edge(std::sqrt(du * du + dv * dv), 0.12f, 0.08f);
    return c;
}

// The colour premultiplied and stored at the pixel's depth.
template <class Pixel>
Pixel premultiplied(StraightColour c) {
    auto channel = [](float v) {
        if constexpr (std::is_same_v<Pixel, PF_PixelFloat>) {
            return v;
        } else {
            return decltype(Pixel::alpha)(std::lround(std::clamp(v, 0.0f, 1.0f) * FULL_VALUE<Pixel>));
        }
    };
    return Pixel{channel(c.a), channel(c.r * c.a), channel(c.g * c.a), channel(c.b * c.a)};
}

}  // namespace

OfflineWorld paint_world(std::int32_t width, std::int32_t height, PF_PixelFormat format,
                         const PictureColour& colour) {
    OfflineWorld world = make_world(format, width, height);
    with_pixel_type(format, [&](auto pixel) {
        using Pixel = decltype(pixel);
        for (std::int32_t y = 0; y < height; ++y)
            for (std::int32_t x = 0; x < width; ++x)
                *pixel_at<Pixel>(world, x, y) = premultiplied<Pixel>(
                    colour((float(x) + 0.5f) / float(width), (float(y) + 0.5f) / float(height), x, y));
    });
    return world;
}

OfflineWorld test_card(std::int32_t width, std::int32_t height, PF_PixelFormat format) {
    return paint_world(width, height, format, card_colour);
}

OfflineWorld test_mask(std::int32_t width, std::int32_t height, PF_PixelFormat format) {
    return paint_world(width, height, format, [](float u, float v, std::int32_t, std::int32_t) {
        float a = 0.0f;
        const float discs[2][3] = {{0.3f, 0.4f, 0.18f}, {0.7f, 0.6f, 0.14f}};
        for (const auto& d : discs) {
            const float du = (u - d[0]) * 1.78f, dv = v - d[1];
            a = std::max(a, soft_edge(std::sqrt(du * du + dv * dv), d[2], 0.04f));
        }
        // Premultiplied, the luminance is the discs shaded by a left-to-right ramp.
        return StraightColour{u, u, u, a};
    });
}

}  // namespace lumatrail::offline
