// The order of pixels inside a sorted chunk: by brightness key (ascending, or
// descending with Reverse Direction), ties by ascending input position in
// both directions. Positions are unique within a line, so the order is total
// and the sorted chunk is the same whatever algorithm sorts it.
#pragma once

#include <cstdint>

#include "engine/render_settings.h"
#include "host/host_contract.h"

namespace lumatrail {

// One position of a line: the pixel that stood there, its brightness key and
// its index in the line before sorting. Elements move whole.
template <class Pixel>
struct LineElement {
    Pixel pixel;
    float key;
    std::int32_t position;
};

// True when a must come before b. Keys that are not equal (NaN is equal to
// nothing) decide; equal keys, -0.0 and +0.0 among them, fall to position.
template <class Pixel>
bool element_less(const LineElement<Pixel>& a, const LineElement<Pixel>& b, bool reverse) {
    if (a.key != b.key) return reverse ? a.key > b.key : a.key < b.key;
    return a.position < b.position;
}

// The ordering of one pass, reading Reverse Direction from its settings.
struct ElementOrder {
    const RenderSettings& settings;
    template <class Pixel>
    bool operator()(const LineElement<Pixel>& a, const LineElement<Pixel>& b) const {
        return element_less(a, b, settings.reverse_direction);
    }
};

// Sorts count contiguous elements in place under element_less, without
// allocating. Keys must not be NaN (the pass never makes one).
template <class Pixel>
void sort_chunk(LineElement<Pixel>* first, std::int32_t count, bool reverse);

extern template void sort_chunk(LineElement<PF_Pixel>*, std::int32_t, bool);
extern template void sort_chunk(LineElement<PF_Pixel16>*, std::int32_t, bool);
extern template void sort_chunk(LineElement<PF_PixelFloat>*, std::int32_t, bool);

}  // namespace lumatrail
