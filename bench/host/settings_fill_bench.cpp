// The per-frame cost of reading the settings: a check-out and check-in per setting
// through the offline host, with keyframed values to interpolate.
#include <benchmark/benchmark.h>

#include "host/parameters.h"
#include "host/settings_fill.h"
#include "offline/offline_host.h"

namespace lumatrail {
namespace {

void BM_ReadRenderSettings(benchmark::State& state) {
    offline::OfflineHost host;
    if (offline::load_parameters(host, EffectMain) != 0) {
        state.SkipWithError("parameter setup failed");
        return;
    }
    offline::set_param_keys(host, PARAM_SWEEP_POSITION, {{0.0, 0.0}, {4.0, 100.0}});
    std::int32_t frame = 0;
    for (auto _ : state) {
        const PF_InData in = offline::make_in_data(host, {frame++ % 120, 1, 30});
        benchmark::DoNotOptimize(ReadRenderSettings(in));
        offline::clear_calls(host);
    }
}
BENCHMARK(BM_ReadRenderSettings);

}  // namespace
}  // namespace lumatrail
