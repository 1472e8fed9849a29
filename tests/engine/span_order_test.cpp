// The chunk order, and the fast chunk sort against a plain comparison sort.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "engine/pixel_depth.h"
#include "engine/span_order.h"

namespace lumatrail {
namespace {

using E = LineElement<Pixel8>;

std::vector<E> chunk_of(std::initializer_list<float> keys) {
    std::vector<E> out;
    std::int32_t pos = 0;
    for (float k : keys) {
        out.push_back({Pixel8{255, std::uint8_t(pos), 0, 0}, k, pos});
        ++pos;
    }
    return out;
}

std::vector<std::int32_t> sorted_positions(std::vector<E> chunk, bool reverse) {
    sort_chunk(chunk.data(), std::int32_t(chunk.size()), reverse);
    std::vector<std::int32_t> out;
    for (const E& e : chunk) {
        EXPECT_EQ(e.pixel.red, e.position) << "pixel left its element";
        out.push_back(e.position);
    }
    return out;
}

using Positions = std::vector<std::int32_t>;

TEST(SpanOrder, WorkedExampleInBothDirections) {
    const auto chunk = chunk_of({0.3f, 0.1f, 0.3f, 0.2f});
    EXPECT_EQ(sorted_positions(chunk, false), (Positions{1, 3, 0, 2}));
    EXPECT_EQ(sorted_positions(chunk, true), (Positions{0, 2, 3, 1}));
}

TEST(SpanOrder, EqualKeysKeepInputOrderInBothDirections) {
    const auto chunk = chunk_of({0.5f, 0.5f, 0.5f, 0.5f, 0.5f});
    EXPECT_EQ(sorted_positions(chunk, false), (Positions{0, 1, 2, 3, 4}));
    EXPECT_EQ(sorted_positions(chunk, true), (Positions{0, 1, 2, 3, 4}));
    EXPECT_EQ(sorted_positions(chunk_of({0.7f}), true), (Positions{0}));
}

TEST(SpanOrder, KeysOutsideTheUnitRangeSortByValue) {
    const auto chunk = chunk_of({2.5f, -1.0f, 0.5f, 16.0f, -0.25f});
    EXPECT_EQ(sorted_positions(chunk, false), (Positions{1, 4, 2, 0, 3}));
    EXPECT_EQ(sorted_positions(chunk, true), (Positions{3, 0, 2, 4, 1}));
}

TEST(SpanOrder, NegativeAndPositiveZeroAreEqualKeys) {
    EXPECT_EQ(sorted_positions(chunk_of({-0.0f, 0.0f, -0.0f}), false), (Positions{0, 1, 2}));
    EXPECT_EQ(sorted_positions(chunk_of({0.0f, -0.0f, 0.0f}), true), (Positions{0, 1, 2}));
    EXPECT_FALSE(element_less(E{{}, -0.0f, 1}, E{{}, 0.0f, 0}, false));
    EXPECT_TRUE(element_less(E{{}, 0.0f, 0}, E{{}, -0.0f, 1}, true));
}

// Random chunks against std::sort with element_less, compared byte for byte.
// Keys come from a small pool (many ties, both zeros, values outside 0..1) or
// are random floats; sizes cover the stack path and the longer fallback, and
// some chunks have shuffled positions.
template <class Pixel>
void check_against_comparison_sort(std::uint32_t seed) {
    std::mt19937 rng(seed);
    const float pool[] = {0.0f, -0.0f, 0.25f, 0.5f, 1.0f, 1.5f, -0.75f, 1e-30f, -1e-30f, 3e38f};
    for (int trial = 0; trial < 3000; ++trial) {
        const std::int32_t size =
            trial % 10 == 0 ? std::int32_t(rng() % 3000) + 1 : std::int32_t(rng() % 700) + 1;
        const bool pooled = trial % 2 == 0;
        const bool reverse = (trial / 2) % 2 == 0;
        std::vector<LineElement<Pixel>> chunk(static_cast<std::size_t>(size));
        const std::int32_t base = std::int32_t(rng() % 5000) - 100;
        for (std::int32_t i = 0; i < size; ++i) {
            auto& e = chunk[std::size_t(i)];
            std::memset(&e, 0, sizeof e);
            using Channel = typename PixelTraits<Pixel>::Channel;
            e.pixel.red = Channel(rng() % 200);
            e.key = pooled ? pool[rng() % std::size(pool)]
                           : std::uniform_real_distribution<float>(-0.5f, 2.0f)(rng);
            e.position = base + i;
        }
        if (trial % 7 == 0) std::shuffle(chunk.begin(), chunk.end(), rng);
        auto expected = chunk;
        std::sort(expected.begin(), expected.end(),
                  [reverse](const auto& a, const auto& b) { return element_less(a, b, reverse); });
        sort_chunk(chunk.data(), size, reverse);
        ASSERT_EQ(std::memcmp(chunk.data(), expected.data(), chunk.size() * sizeof chunk[0]), 0)
            << "trial " << trial << ", size " << size << (reverse ? ", reverse" : "");
    }
}

TEST(SpanOrder, FastSortEqualsComparisonSort8Bit) { check_against_comparison_sort<Pixel8>(1); }
TEST(SpanOrder, FastSortEqualsComparisonSort16Bit) { check_against_comparison_sort<Pixel16>(2); }
TEST(SpanOrder, FastSortEqualsComparisonSortFloat) { check_against_comparison_sort<PixelFloat>(3); }

}  // namespace
}  // namespace lumatrail
