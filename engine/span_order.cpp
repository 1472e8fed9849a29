// Chunk sorting, fast path and fallback.
//
// Every element's order is captured by one unsigned 32-bit word: the key's
// bits mapped so that unsigned order is float order (-0.0 and +0.0 map to the
// same word, as they compare equal), complemented for the reverse direction.
// A chunk whose positions ascend (as the pass gathers them) is then sorted as
// (word, index) pairs by stable methods only, so equal words keep ascending
// positions, which is exactly the tie-break: one pass spreads the pairs over
// about as many buckets as there are pairs, by the word's place between the
// chunk's smallest and largest word, and each bucket is finished by an
// insertion sort (a crowded bucket by an LSD radix sort). The pairs and a copy
// of the elements live on the stack, so nothing is allocated. Longer chunks,
// or chunks whose positions do not ascend, use an introsort on the
// (word, position) pair, which is the same order.
#include "engine/span_order.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace lumatrail {
namespace {

constexpr std::int32_t RADIX_LIMIT = 1024;  // elements sorted on the stack

std::uint32_t order_word(float key, bool reverse) {
    std::uint32_t bits = std::bit_cast<std::uint32_t>(key);
    if (bits == 0x80000000u) bits = 0;  // -0.0 sorts with +0.0
    const std::uint32_t word = (bits & 0x80000000u) ? ~bits : (bits | 0x80000000u);
    return reverse ? ~word : word;
}

// (word, position) as one 64-bit number, position made order-preserving unsigned.
std::uint64_t order_pair(float key, std::int32_t position, bool reverse) {
    return (std::uint64_t(order_word(key, reverse)) << 32) | (std::uint32_t(position) ^ 0x80000000u);
}

// Stable radix sort of (word << 32 | index) pairs by the word, 8 bits a pass;
// passes where every pair has the same digit are skipped.
void radix_sort_pairs(std::uint64_t* pairs, std::uint64_t* scratch, std::int32_t count) {
    std::uint32_t histograms[4][256] = {};
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uint32_t w = std::uint32_t(pairs[i] >> 32);
        ++histograms[0][w & 0xFF];
        ++histograms[1][(w >> 8) & 0xFF];
        ++histograms[2][(w >> 16) & 0xFF];
        ++histograms[3][w >> 24];
    }
    std::uint64_t* from = pairs;
    std::uint64_t* to = scratch;
    for (int pass = 0; pass < 4; ++pass) {
        std::uint32_t* h = histograms[pass];
        const int shift = 32 + 8 * pass;
        if (h[(from[0] >> shift) & 0xFF] == std::uint32_t(count)) continue;
        std::uint32_t sum = 0;
        for (int d = 0; d < 256; ++d) {
            const std::uint32_t n = h[d];
            h[d] = sum;
            sum += n;
        }
        for (std::int32_t i = 0; i < count; ++i) to[h[(from[i] >> shift) & 0xFF]++] = from[i];
        std::swap(from, to);
    }
    if (from != pairs) std::memcpy(pairs, from, std::size_t(count) * sizeof *pairs);
}

constexpr std::int32_t INSERTION_LIMIT = 48;  // larger buckets go to the radix sort

// Sorts pairs whose words all lie in min_word .. max_word; the result is in
// `pairs`, `scratch` is clobbered.
void bucket_sort_pairs(std::uint64_t* pairs, std::uint64_t* scratch, std::int32_t count,
                       std::uint32_t min_word, std::uint32_t max_word) {
    const std::uint32_t range = max_word - min_word;
    if (range == 0) return;  // all words equal: index order is the order
    const int bucket_bits = std::max(4, int(std::bit_width(std::uint32_t(count))));
    const int shift = std::max(0, int(std::bit_width(range)) - bucket_bits);
    const std::uint32_t buckets = (range >> shift) + 1;
    std::uint32_t start[(1u << 11) + 2];
    std::memset(start, 0, (buckets + 1) * sizeof start[0]);
    auto bucket_of = [&](std::uint64_t pair) { return (std::uint32_t(pair >> 32) - min_word) >> shift; };
    for (std::int32_t i = 0; i < count; ++i) ++start[bucket_of(pairs[i]) + 1];
    for (std::uint32_t b = 1; b <= buckets; ++b) start[b] += start[b - 1];
    std::uint32_t next[(1u << 11) + 1];
    std::memcpy(next, start, buckets * sizeof next[0]);
    for (std::int32_t i = 0; i < count; ++i) scratch[next[bucket_of(pairs[i])]++] = pairs[i];

    for (std::uint32_t b = 0; b < buckets; ++b) {
        std::uint64_t* first = scratch + start[b];
        const std::int32_t n = std::int32_t(start[b + 1] - start[b]);
        if (n <= 1) continue;
        if (n > INSERTION_LIMIT) {
            radix_sort_pairs(first, pairs + start[b], n);
            continue;
        }
        // Stable: a pair moves left only past larger words.
        for (std::int32_t i = 1; i < n; ++i) {
            const std::uint64_t pair = first[i];
            const std::uint32_t word = std::uint32_t(pair >> 32);
            std::int32_t j = i;
            for (; j > 0 && std::uint32_t(first[j - 1] >> 32) > word; --j) first[j] = first[j - 1];
            first[j] = pair;
        }
    }
    std::memcpy(pairs, scratch, std::size_t(count) * sizeof *pairs);
}

}  // namespace

template <class Pixel>
void sort_chunk(LineElement<Pixel>* first, std::int32_t count, bool reverse) {
    if (count < 2) return;
    bool ascending = true;
    for (std::int32_t i = 1; i < count && ascending; ++i)
        ascending = first[i - 1].position < first[i].position;

    if (count > RADIX_LIMIT || !ascending) {
        std::sort(first, first + count, [reverse](const LineElement<Pixel>& a, const LineElement<Pixel>& b) {
            return order_pair(a.key, a.position, reverse) < order_pair(b.key, b.position, reverse);
        });
        return;
    }

    std::uint64_t pairs[RADIX_LIMIT];
    std::uint64_t scratch[RADIX_LIMIT];
    std::uint32_t min_word = 0xFFFFFFFFu, max_word = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uint32_t word = order_word(first[i].key, reverse);
        min_word = std::min(min_word, word);
        max_word = std::max(max_word, word);
        pairs[i] = (std::uint64_t(word) << 32) | std::uint32_t(i);
    }
    bucket_sort_pairs(pairs, scratch, count, min_word, max_word);

    LineElement<Pixel> original[RADIX_LIMIT];
    std::memcpy(original, first, std::size_t(count) * sizeof *first);
    for (std::int32_t i = 0; i < count; ++i) first[i] = original[pairs[i] & 0xFFFFFFFFu];
}

#define LUMATRAIL_INSTANTIATE(Pixel) template void sort_chunk(LineElement<Pixel>*, std::int32_t, bool);
LUMATRAIL_FOR_EACH_PIXEL(LUMATRAIL_INSTANTIATE)
#undef LUMATRAIL_INSTANTIATE

}  // namespace lumatrail
