#include "streams/stream_renderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <tuple>
#include <utility>

#include "engine/effect_math.h"
#include "engine/pixel_depth.h"
#include "engine/sweep_band.h"
#include "streams/stream_simulation.h"
#include "streams/stroke_drawing.h"

namespace lumatrail {
namespace {

// Nothing would be drawn: the frame is a copy of the input.
bool gate_closed(const RenderSettings& s, const MaskSampler& mask) {
    if (s.amount <= 0.0f || sweep_hides_everything(s)) return true;
    return s.mask_mode != MaskOff && !mask.present;
}

std::int32_t floor_to_int(float v) { return floor_to_int32_saturated(v); }

}  // namespace

template <class Pixel>
float emitter_weight(const ImageView& input, const MaskSampler& mask, const RenderSettings& s, float x,
                     float y) {
    using T = PixelTraits<Pixel>;
    const std::uint8_t* at = pixel_address<Pixel>(input, floor_to_int(x), floor_to_int(y));
    if (!at) return 0.0f;
    Pixel p;
    std::memcpy(&p, at, sizeof p);
    if (!T::alpha_positive(p.alpha)) return 0.0f;
    const float l = brightness_key(p);
    if (l < s.lower_brightness || l > s.upper_brightness) return 0.0f;
    if (s.mask_mode == MaskOff) return 1.0f;
    return mask_weight_at(mask, s, x, y);
}

EmitterGrid emitter_grid(const RenderArea& area, const RenderSettings& s, float sx, float sy) {
    const float width = float(area.right - area.left);
    const float height = float(area.bottom - area.top);
    // The cell edge that would cut the area into 65536 cells, in full-resolution pixels.
    const float m = std::sqrt(width * height / (sx * sy * 65536.0f));
    const float cell = std::max(m, s.emitter_spacing);
    EmitterGrid g;
    g.cell_x = cell * sx;
    g.cell_y = cell * sy;
    g.columns = std::max(std::int32_t(std::ceil(width / g.cell_x)), 1);
    g.rows = std::max(std::int32_t(std::ceil(height / g.cell_y)), 1);
    return g;
}

namespace {

// What emitter sampling reads, and what it decides once per frame.
struct EmitterInputs {
    const ImageView& input;
    const RenderSettings& s;
    const StreamGeometry& geo;
    const MaskSampler& mask;
    std::uint32_t seed;
    bool edge_test;  // Stretch from Mask, except for particles: keep only the mask's edge
};

// The pixels the scan visits, the area cut to the input (outside it no pixel
// qualifies), and what depends only on the column, computed once per frame.
template <class Pixel>
struct EmitterRows {
    std::int32_t left = 0, right = 0, top = 0, bottom = 0;
    std::vector<float> full_x;               // full-resolution x of the column's centre
    std::vector<std::uint32_t> column_bits;  // its floor, the column's share of the pixel hash
    std::vector<std::int32_t> cell;          // the grid column the column falls in
    std::vector<Pixel> pixels;               // the row being scanned, copied from the input
    std::vector<float> keys;                 // their brightness keys
};

// Cuts the area to the input and fills the column tables.
template <class Pixel>
EmitterRows<Pixel> emitter_rows(const ImageView& input, const RenderArea& area, const EmitterGrid& grid,
                                float sx) {
    EmitterRows<Pixel> r;
    if (!input.data) return r;
    const auto cut = [](std::int32_t low, std::int32_t high, std::int32_t origin, std::int32_t size) {
        const std::int64_t first = std::max<std::int64_t>(low, origin);
        const std::int64_t last = std::min<std::int64_t>(high, std::int64_t(origin) + size);
        return std::pair{std::int32_t(first), std::int32_t(std::max(first, last))};
    };
    std::tie(r.left, r.right) = cut(area.left, area.right, input.origin_x, input.width);
    std::tie(r.top, r.bottom) = cut(area.top, area.bottom, input.origin_y, input.height);
    const std::size_t n = std::size_t(r.right - r.left);
    r.full_x.resize(n), r.column_bits.resize(n), r.cell.resize(n), r.pixels.resize(n), r.keys.resize(n);
    for (std::int32_t x = r.left; x < r.right; ++x) {
        const std::size_t k = std::size_t(x - r.left);
        r.full_x[k] = (float(x) + 0.5f) / sx;
        r.column_bits[k] = std::uint32_t(floor_to_int(r.full_x[k]));
        r.cell[k] = std::min(std::int32_t(float(x - area.left) / grid.cell_x), grid.columns - 1);
    }
    return r;
}

// Whether the mask falls off ahead of pixel (x, y), 1.5 pixels along its own
// launch direction: a point that may lie outside the area and the input.
template <class Pixel>
bool mask_falls_off_ahead(const EmitterInputs& in, std::int32_t x, std::int32_t y, Vec2 full,
                          std::uint32_t hp, float weight) {
    const Vec2 r =
        rotate_by_launch_angle(launch_direction(in.s, in.geo, full), in.s.launch_spread, hash32(hp));
    const float cx = float(x) + 0.5f, cy = float(y) + 0.5f;
    const float ahead = emitter_weight<Pixel>(in.input, in.mask, in.s, cx + 1.5f * r.x, cy + 1.5f * r.y);
    return !(ahead >= 0.95f * weight);
}

// Offers a qualifying pixel to its cell. Exponential key: the smallest per
// cell picks a pixel with probability proportional to its weight.
template <class Pixel>
[[gnu::always_inline]] inline void offer(EmitterCell<Pixel>& cell, Vec2 full, const Pixel& colour,
                                         float weight, std::uint32_t hp) {
    const float h = std::max(hash_unit(hash32(hp + 71u)), 0.000001f);
    // -log(h) is at least 1 - h, so a key whose lower bound already
    // reaches the cell's key cannot win: skip its logarithm. The bound
    // is lowered, relatively and absolutely, far more than any float
    // logarithm or division errs, so no key that could win is skipped.
    if (((1.0 - double(h)) * (1.0 - 1e-5) - 1e-7) / double(weight) >= double(cell.key)) return;
    const float key = -std::log(h) / weight;
    if (cell.key > key) cell = {full.x, full.y, colour, weight, key, hp};
}

// Offers the qualifying pixels of row y (inside the input) to the cells of
// its grid row. The pixel centre (x + 0.5, y + 0.5) lies in pixel (x, y), so
// the row is read straight from the input. MASKED: a mask mode weighs the
// pixels; without one every qualifying pixel weighs 1.
template <class Pixel, bool MASKED>
void scan_emitter_row(const EmitterInputs& in, EmitterRows<Pixel>& r, std::int32_t y,
                      EmitterCell<Pixel>* row_cells) {
    const float full_y = (float(y) + 0.5f) / in.geo.sy;
    const std::uint32_t row_hash = hash32(std::uint32_t(floor_to_int(full_y)));
    // A pixel's hash mixes its column's bits with (row_hash >> 16) ^ seed ^
    // row_hash; exclusive or is free of order, so the row's part is mixed once.
    const std::uint32_t row_bits = (row_hash >> 16) ^ in.seed ^ row_hash;
    const std::int32_t n = r.right - r.left;
    std::memcpy(r.pixels.data(), pixel_address<Pixel>(in.input, r.left, y), std::size_t(n) * sizeof(Pixel));
    brightness_keys(r.pixels.data(), r.keys.data(), n);
    for (std::int32_t k = 0; k < n; ++k) {
        const Pixel& p = r.pixels[std::size_t(k)];
        const float l = r.keys[std::size_t(k)];
        if (!PixelTraits<Pixel>::alpha_positive(p.alpha)) continue;
        if (l < in.s.lower_brightness || l > in.s.upper_brightness) continue;
        float weight = 1.0f;
        if constexpr (MASKED) {
            weight = mask_weight_at_pixel(in.mask, in.s, r.left + k, y);
            if (weight <= 0.00001f) continue;
        }
        const Vec2 full{r.full_x[std::size_t(k)], full_y};
        const std::uint32_t hp = hash32(r.column_bits[std::size_t(k)] ^ row_bits);
        if (MASKED && in.edge_test && !mask_falls_off_ahead<Pixel>(in, r.left + k, y, full, hp, weight))
            continue;
        offer(row_cells[r.cell[std::size_t(k)]], full, p, weight, hp);
    }
}

}  // namespace

template <class Pixel>
std::vector<EmitterCell<Pixel>> sample_emitters(const ImageView& input, const RenderArea& area,
                                                const RenderSettings& s, const StreamGeometry& geo,
                                                const MaskSampler& mask, AbortPoll poll, void* poll_data) {
    const EmitterGrid grid = emitter_grid(area, s, geo.sx, geo.sy);
    std::vector<EmitterCell<Pixel>> cells(std::size_t(grid.columns) * std::size_t(grid.rows));
    const bool edge_test = s.mask_mode == StretchFromMask && s.render_mode != Particles;
    const EmitterInputs in{input, s, geo, mask, std::uint32_t(s.random_seed), edge_test};
    EmitterRows<Pixel> rows = emitter_rows<Pixel>(input, area, grid, geo.sx);
    const auto scan_row =
        s.mask_mode == MaskOff ? scan_emitter_row<Pixel, false> : scan_emitter_row<Pixel, true>;

    for (std::int32_t y = area.top; y < area.bottom; ++y) {
        if (y % 8 == 0) poll_if_present(poll, poll_data);
        if (y < rows.top || y >= rows.bottom || rows.left == rows.right) continue;
        const std::int32_t j = std::min(std::int32_t(float(y - area.top) / grid.cell_y), grid.rows - 1);
        scan_row(in, rows, y, cells.data() + std::size_t(j) * std::size_t(grid.columns));
    }

    std::vector<EmitterCell<Pixel>> list;
    list.reserve(std::size_t(
        std::count_if(cells.begin(), cells.end(), [](const auto& c) { return c.weight > 0.0f; })));
    for (const auto& c : cells)
        if (c.weight > 0.0f) list.push_back(c);
    return list;
}

template <class Pixel>
void render_streams(const ImageView& input, const ImageView& output, const RenderSettings& s,
                    const FrameContext& frame, const MaskSampler& mask) {
    const RenderArea& area = frame.area;
    const AbortPoll poll = frame.poll;
    void* const poll_data = frame.poll_data;
    if (!output.data) return;
    const RenderArea clip = clip_to_view(area, output);
    if (gate_closed(s, mask)) {
        prepare_output<Pixel>(input, output, clip, OverOriginal, poll, poll_data);
        return;
    }
    const StreamGeometry geo = stream_geometry(area, output, mask, s, frame.scale_x, frame.scale_y);
    const std::vector<EmitterCell<Pixel>> emitters =
        sample_emitters<Pixel>(input, area, s, geo, mask, poll, poll_data);
    prepare_output<Pixel>(input, output, clip, s.composite, poll, poll_data);
    if (emitters.empty()) return;
    run_stream_phase<Pixel>(output, geo, s, emitters.data(), std::uint32_t(emitters.size()), poll, poll_data);
    composite_streams<Pixel>(input, output, area, clip, s, poll, poll_data);
    poll_if_present(poll, poll_data);
}

#define LUMATRAIL_STREAMS_FOR(Pixel) \
    template void render_streams<Pixel>(const ImageView&, const ImageView&, const RenderSettings&, \
                                        const FrameContext&, const MaskSampler&); \
    template float emitter_weight<Pixel>(const ImageView&, const MaskSampler&, const RenderSettings&, float, \
                                         float); \
    template std::vector<EmitterCell<Pixel>> sample_emitters<Pixel>( \
        const ImageView&, const RenderArea&, const RenderSettings&, const StreamGeometry&, \
        const MaskSampler&, AbortPoll, void*);
LUMATRAIL_FOR_EACH_PIXEL(LUMATRAIL_STREAMS_FOR)
#undef LUMATRAIL_STREAMS_FOR

}  // namespace lumatrail
