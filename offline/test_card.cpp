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

std::uint32_t mix_bits(std::uint32_t x) {
    x ^= x >> 17;
    x *= 0xED5AD4BBu;
    x ^= x >> 11;
    x *= 0xAC4C1B51u;
    x ^= x >> 15;
    return x;
}

// Value noise: a random value per lattice point, blended bilinearly.
float lattice(std::int32_t x, std::int32_t y) {
    return float(mix_bits(std::uint32_t(x) * 73856093u ^ std::uint32_t(y) * 19349663u) & 0xFFFF) / 65535.0f;
}
float value_noise(float x, float y) {
    const float fx = std::floor(x), fy = std::floor(y);
    const auto ix = std::int32_t(fx), iy = std::int32_t(fy);
    const float tx = x - fx, ty = y - fy;
    const float top = lattice(ix, iy) * (1 - tx) + lattice(ix + 1, iy) * tx;
    const float bottom = lattice(ix, iy + 1) * (1 - tx) + lattice(ix + 1, iy + 1) * tx;
    return top * (1 - ty) + bottom * ty;
}

using Colour = StraightColour;

// Straight colour at normalised (u, v) of pixel (x, y). `extended` allows
// values outside 0..1 (float only).
Colour photo_colour(float u, float v, std::int32_t x, std::int32_t y, bool extended) {
    Colour c;
    if (v < 0.55f) {  // sky: deep blue overhead to orange at the horizon
        const float t = v / 0.55f;
        c = {0.15f + 0.8f * t, 0.25f + 0.4f * t, 0.6f - 0.35f * t, 1};
        const float du = u - 0.72f, dv = v - 0.3f;
        const float d = std::sqrt(du * du + dv * dv);
        if (d < 0.12f) {  // the sun, far brighter than white in float
            const float glow = 1.0f - d / 0.12f;
            const float peak = extended ? 4.0f : 1.0f;
            c = {c.r + (peak - c.r) * glow, c.g + (peak * 0.9f - c.g) * glow,
                 c.b + (peak * 0.6f - c.b) * glow, 1};
        }
    } else {  // ground: noisy green-brown texture
        const float n = value_noise(float(x) * 0.35f, float(y) * 0.35f) * 0.6f +
                        value_noise(float(x) * 1.3f, float(y) * 1.3f) * 0.4f;
        c = {0.25f + 0.4f * n, 0.3f + 0.35f * n, 0.1f + 0.15f * n, 1};
    }
    // A building with hard edges and a grid of lit windows.
    if (u > 0.12f && u < 0.42f && v > 0.28f && v < 0.8f) {
        const bool window = (x % 4 == 1 || x % 4 == 2) && y % 5 == 2;
        c = window ? Colour{1.0f, 0.85f, 0.4f, 1} : Colour{0.08f, 0.07f, 0.1f, 1};
        if (extended && !window && u > 0.34f) c = {-0.25f, -0.1f, -0.05f, 1};  // shadow below black
    }
    // Fine pixel noise everywhere but the windows.
    const float grain = (float(mix_bits(std::uint32_t(x * 977 + y * 131)) & 0xFF) / 255.0f - 0.5f) * 0.06f;
    c.r += grain, c.g += grain, c.b += grain;
    // A transparent hole and a half-transparent band at the bottom.
    const float hu = (u - 0.82f) * 1.33f, hv = v - 0.7f;
    if (hu * hu + hv * hv < 0.012f) c.a = 0.0f;
    if (v > 0.9f) c.a = 0.5f;
    return c;
}

}  // namespace

OfflineWorld paint_world(std::int32_t width, std::int32_t height, PF_PixelFormat format,
                         const PictureColour& colour) {
    OfflineWorld world = make_world(format, width, height);
    with_world_pixel_type(format, [&](auto pixel) {
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

OfflineWorld test_photo(std::int32_t width, std::int32_t height, PF_PixelFormat format) {
    const bool extended = format == PF_PixelFormat_ARGB128;
    return paint_world(width, height, format, [extended](float u, float v, std::int32_t x, std::int32_t y) {
        return photo_colour(u, v, x, y, extended);
    });
}

}  // namespace lumatrail::offline
