// The crop copy: the middle half of a 6000 x 4000 picture (3000 x 2000),
// plain per-pixel loop against row copies.
#include "core/ParamCoul.h"
#include "engines/DecoupImg.h"

#include <benchmark/benchmark.h>

namespace {

using namespace talvine;

using Kernel = engines::Cadre (*)(const TPtImg*, int32_t, int32_t, engines::Cadre, TPtImg*,
                                  int64_t);

template <Kernel K> void BM_Crop(benchmark::State& state) {
    constexpr int32_t w = 6000, h = 4000;
    const PtsImg src(w * h);
    PtsImg dst(w * h);
    const engines::Cadre cadre{1500, 1000, 3000, 2000};
    for (auto _ : state) {
        benchmark::DoNotOptimize(K(src.data(), w, h, cadre, dst.data(), dst.size()));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 3000 * 2000);
}

BENCHMARK(BM_Crop<engines::reference::copyRect>)
    ->Name("BM_CropPlain")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crop<engines::copyRect>)->Name("BM_CropFast")->Unit(benchmark::kMillisecond);

} // namespace
