#include "bench/frame/stamp_floor.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "engine/mask_sampling.h"
#include "engine/pixel_depth.h"
#include "frame/frame_renderer.h"
#include "streams/stream_geometry.h"
#include "streams/stream_renderer.h"
#include "streams/stream_simulation.h"
#include "streams/stroke_drawing.h"

namespace lumatrail::perf {
namespace {

// The frame as the stream renderer holds it just before drawing, made with
// the calls the frame entry and the renderer make (no mask, scale 1).
template <class Pixel>
struct StreamPhase {
    RenderSettings settings;  // normalised, as the renderer gets them
    RenderArea area, clip;
    StreamGeometry geometry;
    std::vector<EmitterCell<Pixel>> emitters;
};

template <class Pixel>
StreamPhase<Pixel> stream_phase(const ImageView& input, const ImageView& output,
                                const RenderSettings& given) {
    StreamPhase<Pixel> f;
    f.settings = normalised_settings(given);
    f.area = {0, 0, input.width, input.height};
    MaskSampler mask = make_mask_sampler(MaskSource{}, f.settings);
    place_pixel_centres(mask, f.area);
    f.clip = clip_to_view(f.area, output);
    f.geometry = stream_geometry(f.area, output, mask, f.settings, 1.0f, 1.0f);
    f.emitters = sample_emitters<Pixel>(input, f.area, f.settings, f.geometry, mask, nullptr, nullptr);
    return f;
}

// Every stamp of the drawn segments, in drawing order.
template <class Pixel>
StampList<Pixel> stamps_of(const std::vector<DrawnSegment<Pixel>>& drawn, const StreamGeometry& g,
                           const ImageView& output) {
    StampList<Pixel> list;
    const std::int64_t limit = std::int64_t(output.height) * output.row_bytes;
    if (output.row_bytes <= 0 || limit > std::int64_t(UINT32_MAX))
        throw std::runtime_error("the output is too large for 32-bit stamp offsets");
    for (const DrawnSegment<Pixel>& d : drawn) {
        for_each_stamp(g.clip, d.p0, d.p1, d.size0, d.size1, d.colour, d.alpha0, d.alpha1, g.sx, g.sy,
                       [&](std::int32_t px, std::int32_t py, float w) {
                           const std::int64_t offset =
                               (std::int64_t(py) - output.origin_y) * output.row_bytes +
                               (std::int64_t(px) - output.origin_x) * sizeof(Pixel);
                           list.stamps.push_back({std::uint32_t(offset), w});
                       });
        list.colours.push_back(d.colour);
        list.ends.push_back(list.stamps.size());
    }
    return list;
}

// Input, output and the recorded stamps of one stream case.
template <class Pixel>
struct StreamFrame {
    testing::ImageBuffer<Pixel> input, output;
    testing::ImageBuffer<Pixel> prepared;  // the output filled as before drawing
    testing::ImageBuffer<Pixel> replayed;
    RenderSettings settings;  // as the frame entry is given them
    StampList<Pixel> list;
};

template <class Pixel>
void render(StreamFrame<Pixel>& f) {
    render_frame(PixelTraits<Pixel>::DEPTH, f.input.view(), f.output.view(), f.settings,
                 {{0, 0, f.input.width, f.input.height}}, MaskSource{});
    benchmark::DoNotOptimize(f.output.pixels.data());
}

void require(bool holds, const char* what) {
    if (!holds) throw std::runtime_error(what);
}

// Records the frame's stamps and checks them against the drawing and the
// frame entry's output.
template <class Pixel>
void record_stamps(StreamFrame<Pixel>& f) {
    const StreamPhase<Pixel> phase = stream_phase<Pixel>(f.input.view(), f.prepared.view(), f.settings);
    require(!phase.emitters.empty(), "the stream frame has no emitters");
    prepare_output<Pixel>(f.input.view(), f.prepared.view(), phase.clip, phase.settings.composite, nullptr,
                          nullptr);
    testing::ImageBuffer<Pixel> drawn_output = f.prepared;
    std::vector<DrawnSegment<Pixel>> drawn;
    run_stream_phase<Pixel>(drawn_output.view(), phase.geometry, phase.settings, phase.emitters.data(),
                            std::uint32_t(phase.emitters.size()), nullptr, nullptr, &drawn);
    f.list = stamps_of(drawn, phase.geometry, drawn_output.view());

    f.replayed = f.prepared;
    replay_stamps(f.list, reinterpret_cast<std::uint8_t*>(f.replayed.pixels.data()));
    require(f.replayed == drawn_output, "the replayed stamps differ from the drawn frame");

    composite_streams<Pixel>(f.input.view(), drawn_output.view(), phase.area, phase.clip, phase.settings,
                             nullptr, nullptr);
    render(f);
    require(f.output == drawn_output, "the recorded segments are not the frame the frame entry draws");
}

std::string millions_of_stamps(std::size_t count) {
    char text[48];
    std::snprintf(text, sizeof text, "%.1f M stamps", double(count) / 1.0e6);
    return text;
}

}  // namespace

template <class Pixel>
void replay_stamps(const StampList<Pixel>& list, std::uint8_t* base) {
    std::size_t i = 0;
    for (std::size_t segment = 0; segment < list.colours.size(); ++segment) {
        const Pixel colour = list.colours[segment];
        for (const std::size_t end = list.ends[segment]; i < end; ++i) {
            std::uint8_t* at = base + list.stamps[i].offset;
            Pixel d;
            std::memcpy(&d, at, sizeof d);
            d = stamp(d, colour, list.stamps[i].weight);
            std::memcpy(at, &d, sizeof d);
        }
    }
}

template <class Pixel>
PreparedCase prepare_stream_case(testing::ImageBuffer<Pixel> input, const RenderSettings& settings) {
    auto f = std::make_shared<StreamFrame<Pixel>>();
    const std::int32_t w = input.width, h = input.height;
    f->input = std::move(input);
    f->output = f->prepared = testing::ImageBuffer<Pixel>(w, h);
    f->settings = settings;
    record_stamps(*f);

    PreparedCase c;
    c.work.run = [f] { render(*f); };
    Work floor;
    floor.reset = [f] { f->replayed.pixels = f->prepared.pixels; };
    floor.run = [f] {
        replay_stamps(f->list, reinterpret_cast<std::uint8_t*>(f->replayed.pixels.data()));
        benchmark::DoNotOptimize(f->replayed.pixels.data());
    };
    c.references.push_back({"floor", floor, true});
    c.note = millions_of_stamps(f->list.stamps.size());
    return c;
}

#define LUMATRAIL_STAMP_FLOOR_FOR(Pixel) \
    template void replay_stamps<Pixel>(const StampList<Pixel>&, std::uint8_t*); \
    template PreparedCase prepare_stream_case<Pixel>(testing::ImageBuffer<Pixel>, const RenderSettings&);
LUMATRAIL_FOR_EACH_PIXEL(LUMATRAIL_STAMP_FLOOR_FOR)
#undef LUMATRAIL_STAMP_FLOOR_FOR

}  // namespace lumatrail::perf
