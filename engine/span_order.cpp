// Chunk sorting.
//
// Every key's place in the order is captured by one unsigned 32-bit word: the
// key's bits mapped so that unsigned order is float order (-0.0 and +0.0 map
// to the same word, as they compare equal), complemented for the reverse
// direction. Neighbouring pixels with the same word form a run; a stable sort
// keeps a run together and in position order, so the chunk is sorted as runs:
// fewer entries where a picture has flat or quantised stretches, and nothing
// lost where every key differs.
//
// The runs are sorted as (word, run index) entries by stable methods only, so
// equal words keep ascending positions, which is exactly the tie-break: one
// counting pass spreads the entries over about as many buckets as there are
// entries, by the key's place between the chunk's smallest and largest key,
// and one insertion sort over the whole spread finishes them (buckets too
// crowded for that go to an LSD radix sort each). The runs' positions are then
// listed in the sorted order, and the pixels gathered from them.
#include "engine/span_order.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumatrail {
namespace {

constexpr int MAX_BUCKET_BITS = 12;           // at most 4096 buckets (the scratch's size)
constexpr std::int32_t INSERTION_LIMIT = 48;  // larger buckets go to the radix sort
constexpr std::int32_t SMALL_SORT = 16;       // fewer entries are insertion-sorted directly
constexpr std::uint32_t RUN_WRITE = 8;        // positions a run writes at a time

std::uint32_t order_word(float key, bool reverse) {
    std::uint32_t bits = std::bit_cast<std::uint32_t>(key);
    if (bits == 0x80000000u) bits = 0;  // -0.0 sorts with +0.0
    const std::uint32_t word = (bits & 0x80000000u) ? ~bits : (bits | 0x80000000u);
    return reverse ? ~word : word;
}

std::uint32_t word_of(std::uint64_t entry) { return std::uint32_t(entry >> 32); }

// The order words of count keys into `words`, and the smallest and largest.
struct WordRange {
    std::uint32_t min_word = 0xFFFFFFFFu, max_word = 0;
};

WordRange order_words(const float* keys, std::int32_t count, bool reverse, std::uint32_t* words) {
    WordRange range;
    std::int32_t index = 0;
#if defined(__SSE2__)
    // Four keys side by side, mapped as order_word maps them (a negative key's
    // bits all flipped, a positive key's top bit set). SSE2 compares signed
    // numbers only: the words with their top bit flipped compare in the same
    // order.
    const __m128i top = _mm_set1_epi32(INT32_MIN);
    const __m128i direction = _mm_set1_epi32(reverse ? -1 : 0);
    __m128i low = _mm_set1_epi32(INT32_MAX), high = _mm_set1_epi32(INT32_MIN);  // top bits flipped
    for (; index + 4 <= count; index += 4) {
        __m128i bits = _mm_castps_si128(_mm_loadu_ps(keys + index));
        bits = _mm_andnot_si128(_mm_cmpeq_epi32(bits, top), bits);  // -0.0 as +0.0
        const __m128i flips = _mm_xor_si128(_mm_or_si128(_mm_srai_epi32(bits, 31), top), direction);
        const __m128i word = _mm_xor_si128(bits, flips);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(words + index), word);
        const __m128i signed_word = _mm_xor_si128(word, top);
        const __m128i below = _mm_cmplt_epi32(signed_word, low);
        low = _mm_or_si128(_mm_and_si128(below, signed_word), _mm_andnot_si128(below, low));
        const __m128i above = _mm_cmpgt_epi32(signed_word, high);
        high = _mm_or_si128(_mm_and_si128(above, signed_word), _mm_andnot_si128(above, high));
    }
    std::uint32_t lows[4], highs[4];
    std::memcpy(lows, &low, sizeof lows);
    std::memcpy(highs, &high, sizeof highs);
    for (int lane = 0; lane < 4; ++lane) {
        range.min_word = std::min(range.min_word, lows[lane] ^ 0x80000000u);
        range.max_word = std::max(range.max_word, highs[lane] ^ 0x80000000u);
    }
#endif
    for (; index < count; ++index) {
        words[index] = order_word(keys[index], reverse);
        range.min_word = std::min(range.min_word, words[index]);
        range.max_word = std::max(range.max_word, words[index]);
    }
    return range;
}

// The runs of count words as entries (word << 32 | run index), with each
// run's first index in starts and count after the last; returns how many.
std::int32_t find_runs(const std::uint32_t* words, std::int32_t count, std::uint64_t* entries,
                       std::uint32_t* starts) {
    std::int32_t runs = 0;
    std::uint32_t previous = ~words[0];  // unlike the first word
    for (std::int32_t index = 0; index < count; ++index) {
        const std::uint32_t word = words[index];
        // Written at every index, kept only where a run begins: the next
        // write goes to the same slot unless the count moves on.
        entries[runs] = (std::uint64_t(word) << 32) | std::uint32_t(runs);
        starts[runs] = std::uint32_t(index);
        runs += word != previous ? 1 : 0;
        previous = word;
    }
    starts[runs] = std::uint32_t(count);
    return runs;
}

// Stable: an entry moves left only past larger words. Cheap when the entries
// are nearly in order, as they are after the counting pass.
void insertion_sort(std::uint64_t* entries, std::int32_t count) {
    for (std::int32_t next = 1; next < count; ++next) {
        const std::uint64_t entry = entries[next];
        const std::uint32_t word = word_of(entry);
        if (word_of(entries[next - 1]) <= word) continue;
        std::int32_t hole = next;
        for (; hole > 0 && word_of(entries[hole - 1]) > word; --hole) entries[hole] = entries[hole - 1];
        entries[hole] = entry;
    }
}

// Stable radix sort of entries by the word, 8 bits a pass; passes where every
// entry has the same digit are skipped. The result is in `entries`.
void radix_sort(std::uint64_t* entries, std::uint64_t* scratch, std::int32_t count) {
    std::uint32_t histograms[4][256] = {};
    for (std::int32_t index = 0; index < count; ++index) {
        const std::uint32_t word = word_of(entries[index]);
        ++histograms[0][word & 0xFF];
        ++histograms[1][(word >> 8) & 0xFF];
        ++histograms[2][(word >> 16) & 0xFF];
        ++histograms[3][word >> 24];
    }
    std::uint64_t* from = entries;
    std::uint64_t* to = scratch;
    for (int pass = 0; pass < 4; ++pass) {
        std::uint32_t* histogram = histograms[pass];
        const int shift = 32 + 8 * pass;
        if (histogram[(from[0] >> shift) & 0xFF] == std::uint32_t(count)) continue;
        std::uint32_t sum = 0;
        for (int digit = 0; digit < 256; ++digit) {
            const std::uint32_t size = histogram[digit];
            histogram[digit] = sum;
            sum += size;
        }
        for (std::int32_t index = 0; index < count; ++index)
            to[histogram[(from[index] >> shift) & 0xFF]++] = from[index];
        std::swap(from, to);
    }
    if (from != entries) std::memcpy(entries, from, std::size_t(count) * sizeof *entries);
}

// Finishes the buckets one by one when some are crowded: an insertion sort
// for the small ones, the radix sort (with the other array's same stretch as
// its scratch) for the crowded. bucket_ends[b] is one past bucket b's last.
void finish_buckets(std::uint64_t* spread, std::uint64_t* other, const std::uint32_t* bucket_ends,
                    std::uint32_t bucket_count) {
    std::uint32_t begin = 0;
    for (std::uint32_t bucket = 0; bucket < bucket_count; ++bucket) {
        const std::uint32_t end = bucket_ends[bucket];
        const std::int32_t size = std::int32_t(end - begin);
        if (size > INSERTION_LIMIT)
            radix_sort(spread + begin, other + begin, size);
        else
            insertion_sort(spread + begin, size);
        begin = end;
    }
}

// The key a word stands for (-0.0 comes back as +0.0).
float key_of(std::uint32_t word, bool reverse) {
    if (reverse) word = ~word;
    return std::bit_cast<float>((word & 0x80000000u) ? (word ^ 0x80000000u) : ~word);
}

// Spreads the entries into `spare` by bucket, stably: counts, then each
// bucket's start, then the spread, after which buckets[b] is the end of
// bucket b. bucket_of must not decrease as the word grows. Returns the
// largest bucket's size.
template <class BucketOf>
std::uint32_t spread(const std::uint64_t* entries, std::uint64_t* spare, std::int32_t count,
                     std::uint32_t* buckets, std::uint32_t bucket_count, BucketOf bucket_of) {
    std::memset(buckets, 0, (bucket_count + 1) * sizeof *buckets);
    for (std::int32_t index = 0; index < count; ++index) ++buckets[bucket_of(entries[index]) + 1];
    std::uint32_t largest = 0;
    for (std::uint32_t bucket = 1; bucket <= bucket_count; ++bucket) {
        largest = std::max(largest, buckets[bucket]);
        buckets[bucket] += buckets[bucket - 1];
    }
    for (std::int32_t index = 0; index < count; ++index)
        spare[buckets[bucket_of(entries[index])]++] = entries[index];
    return largest;
}

// Sorts entries whose words all lie in min_word .. max_word; returns where the
// result is: `entries` or `spare` (the other is clobbered). `buckets` holds
// 2^MAX_BUCKET_BITS + 1 counters. The buckets divide the keys' value range
// evenly: keys spread evenly over a range then fill them evenly, where by
// their bits the upper octaves would crowd. A range too wide or too narrow
// for float arithmetic divides the words' range instead.
const std::uint64_t* sort_entries(std::uint64_t* entries, std::uint64_t* spare, std::int32_t count,
                                  std::uint32_t min_word, std::uint32_t max_word, bool reverse,
                                  std::uint32_t* buckets) {
    const std::uint32_t range = max_word - min_word;
    if (range == 0) return entries;  // all words equal: index order is the order
    if (count <= SMALL_SORT) {
        insertion_sort(entries, count);
        return entries;
    }
    const int bucket_bits = std::clamp(int(std::bit_width(std::uint32_t(count))), 4, MAX_BUCKET_BITS);
    // The key at the bottom of the order, and how far the top one lies from it.
    const float first_key = key_of(min_word, reverse);
    const float key_range =
        reverse ? first_key - key_of(max_word, reverse) : key_of(max_word, reverse) - first_key;
    const std::uint32_t value_buckets = std::uint32_t(1) << bucket_bits;
    const float scale = float(value_buckets) / key_range;
    std::uint32_t largest = 0, bucket_count = value_buckets;
    const bool by_value = key_range < HUGE_VALF && scale < HUGE_VALF;
    if (by_value) {
        // Monotonic: a later key's distance from the first is not smaller,
        // nor is its scaled and truncated value.
        largest = spread(entries, spare, count, buckets, bucket_count, [&](std::uint64_t entry) {
            const float key = key_of(word_of(entry), reverse);
            const float distance = reverse ? first_key - key : key - first_key;
            return std::min(std::uint32_t(distance * scale), value_buckets - 1);
        });
    } else {
        const int shift = std::max(0, int(std::bit_width(range)) - bucket_bits);
        bucket_count = (range >> shift) + 1;
        largest = spread(entries, spare, count, buckets, bucket_count,
                         [&](std::uint64_t entry) { return (word_of(entry) - min_word) >> shift; });
    }
    if (largest <= std::uint32_t(INSERTION_LIMIT))
        insertion_sort(spare, count);  // entries move only within their bucket
    else
        finish_buckets(spare, entries, buckets, bucket_count);
    return spare;
}

// The positions of the chunk in sorted order: every run's positions, the runs
// in the order given. Each run's positions are written eight at a time, and
// the writes past a run's end are overwritten by the next run's (positions
// has room for RUN_WRITE more than the chunk), so that a short run costs no
// branch of its own.
void run_positions(const std::uint64_t* order, std::int32_t run_count, const std::uint32_t* starts,
                   std::uint32_t* positions) {
    for (std::int32_t rank = 0; rank < run_count; ++rank) {
        const std::uint32_t run = std::uint32_t(order[rank]);
        const std::uint32_t begin = starts[run], length = starts[run + 1] - begin;
        for (std::uint32_t written = 0; written < length; written += RUN_WRITE)
            for (std::uint32_t lane = 0; lane < RUN_WRITE; ++lane)
                positions[written + lane] = begin + written + lane;
        positions += length;
    }
}

}  // namespace

ChunkSortScratch::ChunkSortScratch(std::int32_t capacity)
    : words(std::size_t(std::max(capacity, 1))),
      entries(words.size()),
      spare(entries.size()),
      run_starts(entries.size() + 1),
      positions(entries.size() + RUN_WRITE),
      buckets((std::size_t(1) << MAX_BUCKET_BITS) + 1) {}

template <class Pixel>
void sort_chunk(const Pixel* pixels, const float* keys, std::int32_t count, bool reverse, Pixel* sorted,
                ChunkSortScratch& scratch) {
    if (count <= 0) return;
    const WordRange range = order_words(keys, count, reverse, scratch.words.data());
    const std::int32_t runs =
        find_runs(scratch.words.data(), count, scratch.entries.data(), scratch.run_starts.data());
    if (runs == 1) {
        std::copy(pixels, pixels + count, sorted);
        return;
    }
    const std::uint64_t* order =
        sort_entries(scratch.entries.data(), scratch.spare.data(), runs, range.min_word, range.max_word,
                     reverse, scratch.buckets.data());
    if (runs == count) {  // every run one pixel long: a run's index is its position
        for (std::int32_t index = 0; index < count; ++index)
            sorted[index] = pixels[std::uint32_t(order[index])];
        return;
    }
    const std::uint32_t* positions = scratch.positions.data();
    run_positions(order, runs, scratch.run_starts.data(), scratch.positions.data());
    for (std::int32_t index = 0; index < count; ++index) sorted[index] = pixels[positions[index]];
}

#define LUMATRAIL_INSTANTIATE(Pixel) \
    template void sort_chunk(const Pixel*, const float*, std::int32_t, bool, Pixel*, ChunkSortScratch&);
LUMATRAIL_FOR_EACH_PIXEL(LUMATRAIL_INSTANTIATE)
#undef LUMATRAIL_INSTANTIATE

}  // namespace lumatrail
