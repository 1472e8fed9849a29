// Chunk sort speed on 640-element chunks (the default streak length) of
// random keys, at each depth, against a plain comparison sort with
// element_less. Each iteration copies a fresh unsorted chunk first; the copy
// is a small part of the time and the same for both.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "engine/pixel_depth.h"
#include "engine/span_order.h"

namespace lumatrail {
namespace {

constexpr std::int32_t CHUNK = 640;
constexpr int CHUNKS = 64;

template <class Pixel>
std::vector<LineElement<Pixel>> random_chunks() {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> key(0.0f, 1.0f);
    std::vector<LineElement<Pixel>> all(std::size_t(CHUNK) * CHUNKS);
    for (std::size_t i = 0; i < all.size(); ++i) {
        all[i].pixel = Pixel{};
        all[i].key = key(rng);
        all[i].position = std::int32_t(i % CHUNK);
    }
    return all;
}

template <class Pixel>
void BM_SortChunk(benchmark::State& state) {
    const auto source = random_chunks<Pixel>();
    std::vector<LineElement<Pixel>> work(CHUNK);
    int next = 0;
    for (auto _ : state) {
        std::copy_n(source.begin() + std::ptrdiff_t(next) * CHUNK, CHUNK, work.begin());
        sort_chunk(work.data(), CHUNK, false);
        benchmark::DoNotOptimize(work.data());
        next = (next + 1) % CHUNKS;
    }
    state.SetItemsProcessed(state.iterations() * CHUNK);
}

template <class Pixel>
void BM_ComparisonSort(benchmark::State& state) {
    const auto source = random_chunks<Pixel>();
    std::vector<LineElement<Pixel>> work(CHUNK);
    int next = 0;
    for (auto _ : state) {
        std::copy_n(source.begin() + std::ptrdiff_t(next) * CHUNK, CHUNK, work.begin());
        std::sort(work.begin(), work.end(),
                  [](const auto& a, const auto& b) { return element_less(a, b, false); });
        benchmark::DoNotOptimize(work.data());
        next = (next + 1) % CHUNKS;
    }
    state.SetItemsProcessed(state.iterations() * CHUNK);
}

BENCHMARK(BM_SortChunk<Pixel8>);
BENCHMARK(BM_SortChunk<Pixel16>);
BENCHMARK(BM_SortChunk<PixelFloat>);
BENCHMARK(BM_ComparisonSort<Pixel8>);
BENCHMARK(BM_ComparisonSort<Pixel16>);
BENCHMARK(BM_ComparisonSort<PixelFloat>);

}  // namespace
}  // namespace lumatrail
