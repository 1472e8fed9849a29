// Chunk sort speed on 640-element chunks (the default streak length) at each
// depth, against a plain stable comparison sort of the same chunk with
// key_before: random keys, where every key differs, and the keys of a row of
// a smooth 8-bit gradient, where neighbours often share a key.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

#include "engine/pixel_depth.h"
#include "engine/span_order.h"

namespace lumatrail {
namespace {

constexpr std::int32_t CHUNK = 640;
constexpr int CHUNKS = 64;

// CHUNKS chunks of keys side by side: random in 0..1, or the keys of a row
// of an 8-bit picture with a slow ramp under a fine three-step pattern, which
// change every few positions.
std::vector<float> chunk_keys(bool gradient) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> key(0.0f, 1.0f);
    std::vector<float> keys(std::size_t(CHUNK) * CHUNKS);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const float ramp = float(i / 15 % 256), pattern = float(i / 7 % 3 * 60);
        keys[i] = gradient ? (LUMA_RED * ramp + LUMA_BLUE * pattern) / 255.0f : key(rng);
    }
    return keys;
}

template <class Pixel>
void BM_SortChunk(benchmark::State& state) {
    const std::vector<float> keys = chunk_keys(state.range(0) != 0);
    const std::vector<Pixel> pixels(keys.size(), Pixel{});
    std::vector<Pixel> sorted(CHUNK);
    ChunkSortScratch scratch(CHUNK);
    int next = 0;
    for (auto _ : state) {
        const std::size_t first = std::size_t(next) * CHUNK;
        sort_chunk(pixels.data() + first, keys.data() + first, CHUNK, false, sorted.data(), scratch);
        benchmark::DoNotOptimize(sorted.data());
        next = (next + 1) % CHUNKS;
    }
    state.SetItemsProcessed(state.iterations() * CHUNK);
    state.SetLabel(state.range(0) != 0 ? "gradient" : "random");
}

template <class Pixel>
void BM_StableComparisonSort(benchmark::State& state) {
    const std::vector<float> keys = chunk_keys(state.range(0) != 0);
    const std::vector<Pixel> pixels(keys.size(), Pixel{});
    std::vector<Pixel> sorted(CHUNK);
    std::vector<std::int32_t> order(CHUNK);
    int next = 0;
    for (auto _ : state) {
        const std::size_t first = std::size_t(next) * CHUNK;
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](std::int32_t a, std::int32_t b) {
            return key_before(keys[first + std::size_t(a)], keys[first + std::size_t(b)], false);
        });
        for (std::int32_t i = 0; i < CHUNK; ++i)
            sorted[std::size_t(i)] = pixels[first + std::size_t(order[std::size_t(i)])];
        benchmark::DoNotOptimize(sorted.data());
        next = (next + 1) % CHUNKS;
    }
    state.SetItemsProcessed(state.iterations() * CHUNK);
    state.SetLabel(state.range(0) != 0 ? "gradient" : "random");
}

BENCHMARK(BM_SortChunk<Pixel8>)->Arg(0)->Arg(1);
BENCHMARK(BM_SortChunk<Pixel16>)->Arg(0)->Arg(1);
BENCHMARK(BM_SortChunk<PixelFloat>)->Arg(0)->Arg(1);
BENCHMARK(BM_StableComparisonSort<Pixel8>)->Arg(0)->Arg(1);
BENCHMARK(BM_StableComparisonSort<Pixel16>)->Arg(0)->Arg(1);
BENCHMARK(BM_StableComparisonSort<PixelFloat>)->Arg(0)->Arg(1);

}  // namespace
}  // namespace lumatrail
