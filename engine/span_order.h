// The order of pixels inside a sorted chunk: by brightness key (ascending, or
// descending with Reverse Direction), ties by ascending input position in
// both directions. Positions are unique within a line, so the order is total
// and the sorted chunk is the same whatever algorithm sorts it.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/pixel_depth.h"

namespace lumatrail {

// True when key a sorts before key b. Keys that are not equal decide; equal
// keys, -0.0 and +0.0 among them, sort neither way, and the positions decide.
inline bool key_before(float a, float b, bool reverse) { return reverse ? a > b : a < b; }

// Working memory of sort_chunk for chunks of up to `capacity` pixels: made
// once per frame, so that sorting never allocates.
struct ChunkSortScratch {
    std::vector<std::uint32_t> words;           // every key's place in the order
    std::vector<std::uint64_t> entries, spare;  // sort entries and the room they are spread into
    std::vector<std::uint32_t> run_starts;      // where each run of equal keys begins, and the end
    std::vector<std::uint32_t> positions;       // the chunk's positions in sorted order
    std::vector<std::uint32_t> buckets;         // bucket boundaries of the spreading pass
    explicit ChunkSortScratch(std::int32_t capacity);
};

// Writes the count pixels of a chunk to `sorted` in the chunk's order; the
// pixel at index i has the key keys[i] and the i-th position of the chunk.
// `sorted` must not overlap `pixels`; count must not exceed the scratch's
// capacity. Keys must not be NaN (the pass never makes one).
template <class Pixel>
void sort_chunk(const Pixel* pixels, const float* keys, std::int32_t count, bool reverse, Pixel* sorted,
                ChunkSortScratch& scratch);

#define LUMATRAIL_DECLARE(Pixel) \
    extern template void sort_chunk(const Pixel*, const float*, std::int32_t, bool, Pixel*, \
                                    ChunkSortScratch&);
LUMATRAIL_FOR_EACH_PIXEL(LUMATRAIL_DECLARE)
#undef LUMATRAIL_DECLARE

}  // namespace lumatrail
