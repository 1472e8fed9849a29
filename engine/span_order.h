// The order of pixels inside a sorted chunk: by brightness key (ascending, or
// descending with Reverse Direction), ties by ascending input position in
// both directions. Positions are unique within a line, so the order is total
// and the sorted chunk is the same whatever algorithm sorts it.
#pragma once

#include <cstdint>

#include "engine/pixel_depth.h"

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

// Sorts count contiguous elements in place under element_less, without
// allocating. Keys must not be NaN (the pass never makes one).
template <class Pixel>
void sort_chunk(LineElement<Pixel>* first, std::int32_t count, bool reverse);

#define LUMATRAIL_DECLARE(Pixel) extern template void sort_chunk(LineElement<Pixel>*, std::int32_t, bool);
LUMATRAIL_FOR_EACH_PIXEL(LUMATRAIL_DECLARE)
#undef LUMATRAIL_DECLARE

}  // namespace lumatrail
