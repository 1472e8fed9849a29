#include "streams/stream_renderer.h"

#include <algorithm>
#include <cmath>

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

std::int32_t floor_to_int(float v) { return to_int32_saturated(std::floor(v)); }

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

template <class Pixel>
std::vector<EmitterCell<Pixel>> sample_emitters(const ImageView& input, const RenderArea& area,
                                                const RenderSettings& s, const StreamGeometry& geo,
                                                const MaskSampler& mask, AbortPoll poll, void* poll_data) {
    const EmitterGrid grid = emitter_grid(area, s, geo.sx, geo.sy);
    std::vector<EmitterCell<Pixel>> cells(std::size_t(grid.columns) * std::size_t(grid.rows));
    const bool edge_test = s.mask_mode == StretchFromMask && s.render_mode != Particles;
    const std::uint32_t seed = std::uint32_t(s.random_seed);

    for (std::int32_t y = area.top; y < area.bottom; ++y) {
        if (y % 8 == 0) poll_if_present(poll, poll_data);
        const float cy = float(y) + 0.5f;
        const float full_y = cy / geo.sy;
        const std::uint32_t row_hash = hash32(std::uint32_t(floor_to_int(full_y)));
        const std::int32_t j = std::min(std::int32_t(float(y - area.top) / grid.cell_y), grid.rows - 1);
        EmitterCell<Pixel>* row_cells = cells.data() + std::size_t(j) * std::size_t(grid.columns);
        for (std::int32_t x = area.left; x < area.right; ++x) {
            const float cx = float(x) + 0.5f;
            const float weight = emitter_weight<Pixel>(input, mask, s, cx, cy);
            if (weight <= 0.00001f) continue;
            const float full_x = cx / geo.sx;
            const std::uint32_t hp =
                hash32(std::uint32_t(floor_to_int(full_x)) ^ (row_hash >> 16) ^ seed ^ row_hash);
            if (edge_test) {
                // Keep only pixels where the mask falls off ahead, in their own launch direction.
                const Vec2 r = rotate_by_launch_angle(launch_direction(s, geo, {full_x, full_y}),
                                                      s.launch_spread, hash32(hp));
                const float ahead = emitter_weight<Pixel>(input, mask, s, cx + 1.5f * r.x, cy + 1.5f * r.y);
                if (ahead >= 0.95f * weight) continue;
            }
            const std::int32_t i =
                std::min(std::int32_t(float(x - area.left) / grid.cell_x), grid.columns - 1);
            // Exponential key: the smallest per cell picks a pixel with
            // probability proportional to its weight.
            const float h = std::max(hash_unit(hash32(hp + 71u)), 0.000001f);
            EmitterCell<Pixel>& cell = row_cells[i];
            // -log(h) is at least 1 - h, so a key whose lower bound already
            // reaches the cell's key cannot win: skip its logarithm. The bound
            // is lowered, relatively and absolutely, far more than any float
            // logarithm or division errs, so no key that could win is skipped.
            if (((1.0 - double(h)) * (1.0 - 1e-5) - 1e-7) / double(weight) >= double(cell.key)) continue;
            const float key = -std::log(h) / weight;
            if (cell.key > key)
                cell = {full_x, full_y, read_pixel_or_zero<Pixel>(input, x, y), weight, key, hp};
        }
    }

    std::vector<EmitterCell<Pixel>> list;
    list.reserve(std::size_t(
        std::count_if(cells.begin(), cells.end(), [](const auto& c) { return c.weight > 0.0f; })));
    for (const auto& c : cells)
        if (c.weight > 0.0f) list.push_back(c);
    return list;
}

template <class Pixel>
void render_streams(const ImageView& input, const ImageView& output, const RenderArea& area,
                    const RenderSettings& s, float scale_x, float scale_y, AbortPoll poll, void* poll_data,
                    const MaskSampler& mask) {
    if (!output.data) return;
    const RenderArea clip = clip_to_view(area, output);
    if (gate_closed(s, mask)) {
        prepare_output<Pixel>(input, output, clip, OverOriginal, poll, poll_data);
        return;
    }
    const StreamGeometry geo = stream_geometry(area, output, mask, s, scale_x, scale_y);
    const std::vector<EmitterCell<Pixel>> emitters =
        sample_emitters<Pixel>(input, area, s, geo, mask, poll, poll_data);
    prepare_output<Pixel>(input, output, clip, s.composite, poll, poll_data);
    if (emitters.empty()) return;
    run_stream_phase<Pixel>(output, geo, s, emitters.data(), std::uint32_t(emitters.size()), poll, poll_data);
    composite_streams<Pixel>(input, output, area, clip, s, poll, poll_data);
    poll_if_present(poll, poll_data);
}

#define LUMATRAIL_STREAMS_FOR(Pixel) \
    template void render_streams<Pixel>(const ImageView&, const ImageView&, const RenderArea&, \
                                        const RenderSettings&, float, float, AbortPoll, void*, \
                                        const MaskSampler&); \
    template float emitter_weight<Pixel>(const ImageView&, const MaskSampler&, const RenderSettings&, float, \
                                         float); \
    template std::vector<EmitterCell<Pixel>> sample_emitters<Pixel>( \
        const ImageView&, const RenderArea&, const RenderSettings&, const StreamGeometry&, \
        const MaskSampler&, AbortPoll, void*);
LUMATRAIL_FOR_EACH_PIXEL(LUMATRAIL_STREAMS_FOR)
#undef LUMATRAIL_STREAMS_FOR

}  // namespace lumatrail
