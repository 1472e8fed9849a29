// The chunk order, and the chunk sort against a plain stable comparison sort.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

#include "engine/pixel_depth.h"
#include "engine/span_order.h"

namespace lumatrail {
namespace {

// The positions of a chunk of the given keys in sorted order, read back from
// the red channel of the sorted pixels (each pixel's red is its position).
std::vector<std::int32_t> sorted_positions(const std::vector<float>& keys, bool reverse) {
    const std::int32_t count = std::int32_t(keys.size());
    std::vector<Pixel8> pixels, sorted(keys.size());
    for (std::int32_t i = 0; i < count; ++i) pixels.push_back(Pixel8{255, std::uint8_t(i), 0, 0});
    ChunkSortScratch scratch(count);
    sort_chunk(pixels.data(), keys.data(), count, reverse, sorted.data(), scratch);
    std::vector<std::int32_t> out;
    for (const Pixel8& p : sorted) out.push_back(p.red);
    return out;
}

using Positions = std::vector<std::int32_t>;

TEST(SpanOrder, WorkedExampleInBothDirections) {
    const std::vector<float> keys{0.3f, 0.1f, 0.3f, 0.2f};
    EXPECT_EQ(sorted_positions(keys, false), (Positions{1, 3, 0, 2}));
    EXPECT_EQ(sorted_positions(keys, true), (Positions{0, 2, 3, 1}));
}

TEST(SpanOrder, EqualKeysKeepInputOrderInBothDirections) {
    const std::vector<float> keys{0.5f, 0.5f, 0.5f, 0.5f, 0.5f};
    EXPECT_EQ(sorted_positions(keys, false), (Positions{0, 1, 2, 3, 4}));
    EXPECT_EQ(sorted_positions(keys, true), (Positions{0, 1, 2, 3, 4}));
    EXPECT_EQ(sorted_positions({0.7f}, true), (Positions{0}));
    // Runs of equal keys move whole and keep their order among themselves.
    EXPECT_EQ(sorted_positions({0.6f, 0.6f, 0.2f, 0.6f, 0.2f, 0.2f}, false), (Positions{2, 4, 5, 0, 1, 3}));
    EXPECT_EQ(sorted_positions({0.6f, 0.6f, 0.2f, 0.6f, 0.2f, 0.2f}, true), (Positions{0, 1, 3, 2, 4, 5}));
}

TEST(SpanOrder, KeysOutsideTheUnitRangeSortByValue) {
    const std::vector<float> keys{2.5f, -1.0f, 0.5f, 16.0f, -0.25f};
    EXPECT_EQ(sorted_positions(keys, false), (Positions{1, 4, 2, 0, 3}));
    EXPECT_EQ(sorted_positions(keys, true), (Positions{3, 0, 2, 4, 1}));
}

TEST(SpanOrder, NegativeAndPositiveZeroAreEqualKeys) {
    EXPECT_EQ(sorted_positions({-0.0f, 0.0f, -0.0f}, false), (Positions{0, 1, 2}));
    EXPECT_EQ(sorted_positions({0.0f, -0.0f, 0.0f}, true), (Positions{0, 1, 2}));
    EXPECT_EQ(sorted_positions({0.0f, -1.0f, -0.0f, 1.0f, 0.0f}, false), (Positions{1, 0, 2, 4, 3}));
    EXPECT_FALSE(key_before(-0.0f, 0.0f, false));
    EXPECT_FALSE(key_before(0.0f, -0.0f, true));
}

// Keys for one random chunk, in one of several shapes that reach every path
// of the sort: a small pool (ties, both zeros, values far apart, so that
// buckets crowd), plain random floats, runs of repeated keys, two close keys
// alternating (one crowded bucket of equal words), many distinct keys packed
// close together beside one far key (one crowded bucket of distinct words),
// keys whose range overflows a float, and denormal keys whose range is too
// narrow to divide.
std::vector<float> random_keys(std::mt19937& rng, std::int32_t size, int shape) {
    const float pool[] = {0.0f, -0.0f, 0.25f, 0.5f, 1.0f, 1.5f, -0.75f, 1e-30f, -1e-30f, 3e38f};
    const float extremes[] = {-3e38f, 3e38f, 1e-45f, -1e-45f, 0.0f, 1.0f, -2.0f};
    std::uniform_real_distribution<float> uniform(-0.5f, 2.0f);
    std::vector<float> keys(std::size_t(size), 0.0f);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        switch (shape) {
        case 0: keys[i] = pool[rng() % std::size(pool)]; break;
        case 1: keys[i] = uniform(rng); break;
        case 2: keys[i] = i > 0 && rng() % 6 != 0 ? keys[i - 1] : pool[rng() % std::size(pool)]; break;
        case 3: keys[i] = i % 2 == 0 ? 0.5f : std::nextafter(0.5f, 1.0f); break;
        case 4: keys[i] = i == 7 ? 3e38f : 0.5f + float(rng() % 4096) * 1e-7f; break;
        case 5: keys[i] = rng() % 2 == 0 ? extremes[rng() % std::size(extremes)] : uniform(rng); break;
        default: keys[i] = float(int(rng() % 64) - 20) * 1e-45f; break;
        }
    }
    return keys;
}

// Random chunks against std::stable_sort with key_before, compared byte for
// byte, one scratch serving every chunk. Sizes cover short chunks and chunks
// longer than the 4096 buckets; the pixel after the chunk must stay as it was.
template <class Pixel>
void check_against_stable_sort(std::uint32_t seed) {
    std::mt19937 rng(seed);
    constexpr std::int32_t LONGEST = 6000;
    ChunkSortScratch scratch(LONGEST);
    for (int trial = 0; trial < 2500; ++trial) {
        const std::int32_t size =
            trial % 10 == 0 ? std::int32_t(rng() % LONGEST) + 1 : std::int32_t(rng() % 700) + 1;
        const bool reverse = trial % 2 == 0;
        const std::vector<float> keys = random_keys(rng, size, (trial / 2) % 7);
        std::vector<Pixel> pixels(std::size_t(size) + 1);
        for (Pixel& p : pixels) {
            using Channel = typename PixelTraits<Pixel>::Channel;
            p = Pixel{Channel(rng() % 200), Channel(rng() % 200), Channel(rng() % 200), Channel(rng() % 200)};
        }
        std::vector<std::int32_t> order(static_cast<std::size_t>(size));
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](std::int32_t a, std::int32_t b) {
            return key_before(keys[std::size_t(a)], keys[std::size_t(b)], reverse);
        });
        std::vector<Pixel> expected(pixels.size()), sorted(pixels.size());
        for (std::size_t i = 0; i < order.size(); ++i) expected[i] = pixels[std::size_t(order[i])];
        expected.back() = sorted.back() = pixels.back();  // the sentinel after the chunk
        sort_chunk(pixels.data(), keys.data(), size, reverse, sorted.data(), scratch);
        ASSERT_EQ(std::memcmp(sorted.data(), expected.data(), sorted.size() * sizeof sorted[0]), 0)
            << "trial " << trial << ", size " << size << (reverse ? ", reverse" : "");
    }
}

TEST(SpanOrder, SortEqualsStableSort8Bit) { check_against_stable_sort<Pixel8>(1); }
TEST(SpanOrder, SortEqualsStableSort16Bit) { check_against_stable_sort<Pixel16>(2); }
TEST(SpanOrder, SortEqualsStableSortFloat) { check_against_stable_sort<PixelFloat>(3); }

}  // namespace
}  // namespace lumatrail
