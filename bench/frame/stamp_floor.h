// The floor of a stream frame: the blends its strokes make, replayed from a
// list. The list holds every stamp of the frame's segments as the drawing
// makes them (the same pixels, weights and order), so replaying it onto the
// prepared output gives the drawn output bit for bit; what the drawing costs
// beyond that is the search for the pixels and the weighing.
#pragma once

#include <cstdint>
#include <vector>

#include "bench/frame/perf_rounds.h"
#include "engine/render_settings.h"
#include "tests/support/image_buffer.h"

namespace lumatrail::perf {

// One blend: the pixel's byte offset from the first byte of the output and
// its weight.
struct Stamp {
    std::uint32_t offset;
    float weight;
};

// The stamps of a frame, segment after segment: segment i stamps its colour
// with stamps[ends[i - 1]] up to stamps[ends[i]].
template <class Pixel>
struct StampList {
    std::vector<Stamp> stamps;
    std::vector<Pixel> colours;
    std::vector<std::size_t> ends;
};

// Blends every stamp of the list into the output whose first byte is base.
template <class Pixel>
void replay_stamps(const StampList<Pixel>& list, std::uint8_t* base);

// A stream case of the input through the frame entry with these settings,
// its reference the replay of the frame's stamps. Checks once, untimed, that
// the stamps replayed give the drawn output bit for bit and that the drawn
// output composited is the frame the frame entry renders; throws
// std::runtime_error when either differs.
template <class Pixel>
PreparedCase prepare_stream_case(testing::ImageBuffer<Pixel> input, const RenderSettings& settings);

}  // namespace lumatrail::perf
