// Geometry shared by the stream renderer's emitter sampling, simulation and
// drawing.
//
// Two coordinate systems: views are addressed in integer layer coordinates at
// the frame's resolution; every stream quantity (positions, sizes, spacing,
// speeds, radii, random keys) is in full-resolution pixels, so a picture keeps
// its random pattern at any resolution. The centre of pixel (x, y) lies at
// full-resolution ((x + 0.5) / sx, (y + 0.5) / sy); full-resolution (X, Y)
// lies at layer (X * sx, Y * sy).
//
// Every length of a vector is sqrtf(x * x + y * y), the products added in that
// order (hypotf rounds differently).
#pragma once

#include <cmath>
#include <cstdint>

#include "engine/image_view.h"
#include "engine/mask_sampling.h"
#include "engine/render_inputs.h"
#include "engine/render_settings.h"

namespace lumatrail {

struct Vec2 {
    float x = 0.0f, y = 0.0f;
};

inline float length(Vec2 v) { return std::sqrt(v.x * v.x + v.y * v.y); }

inline constexpr float DEGREES_TO_RADIANS = float(3.14159265358979323846 / 180.0);

// Per-call values of the stream renderer.
struct StreamGeometry {
    RenderArea clip;       // the area cut to the output view
    float sx = 1, sy = 1;  // frame pixels per full-resolution pixel, at least MIN_SCALE
    Vec2 reference;        // the rendered layer's size in full-resolution pixels
    Vec2 centre;           // where radial streams start and the attractor sits
    Vec2 repeller;
};

RenderArea clip_to_view(const RenderArea& area, const ImageView& output);

StreamGeometry stream_geometry(const RenderArea& area, const ImageView& output, const MaskSampler& mask,
                               const RenderSettings& settings, float scale_x, float scale_y);

// The direction a stream launched at full-resolution (X, Y) starts in: along
// rows or columns, or along the ray from the centre (out, or in for "Radial
// In"); Reverse Direction flips it. A point on the centre launches along (1, 0)
// before the flip.
Vec2 launch_direction(const RenderSettings& settings, const StreamGeometry& geometry, Vec2 at);

// Rotates a unit vector by the launch angle of hash h: up to half of Launch
// Spread (degrees) either way.
Vec2 rotate_by_launch_angle(Vec2 direction, float launch_spread, std::uint32_t h);

// One cell of the emitter grid: the chosen pixel, or weight 0 for none.
template <class Pixel>
struct EmitterCell {
    float x = 0.0f, y = 0.0f;  // full-resolution centre of the chosen pixel
    Pixel colour{};            // the pixel as stored in the input
    float weight = 0.0f;       // emitter_weight of the pixel
    float key = 1.0e30f;       // selection key; the smallest wins
    std::uint32_t hash = 0;    // the pixel's hash
};

}  // namespace lumatrail
