// Resampling a 6000 x 4000 picture to half and to double its size, by each
// method, plain per-pixel loop against the table-driven form.
#include "core/ParamCoul.h"
#include "engines/TailleImg.h"

#include <benchmark/benchmark.h>

namespace {

using namespace talvine;

using Kernel = void (*)(const TPtImg*, int32_t, int32_t, TPtImg*, int32_t, int32_t);

PtsImg picture(int32_t w, int32_t h) {
    PtsImg p(w * h);
    auto* b = reinterpret_cast<uint8_t*>(p.data());
    for (int64_t i = 0; i < int64_t{w} * h * 3; ++i)
        b[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
    return p;
}

// Arguments: source width and height, then the new size in percent of each.
template <Kernel K> void BM_Resize(benchmark::State& state) {
    const auto w = static_cast<int32_t>(state.range(0)), h = static_cast<int32_t>(state.range(1));
    const auto nw = static_cast<int32_t>(w * state.range(2) / 100);
    const auto nh = static_cast<int32_t>(h * state.range(2) / 100);
    const PtsImg src = picture(w, h);
    PtsImg dst(nw * nh);
    for (auto _ : state) {
        K(src.data(), w, h, dst.data(), nw, nh);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * nw * nh);
}

#define RESIZES                                                                                    \
    Args({6000, 4000, 50})->Args({6000, 4000, 200})->Unit(benchmark::kMillisecond)->Iterations(1)
BENCHMARK(BM_Resize<engines::reference::resizeNearest>)->Name("BM_BasiquePlain")->RESIZES;
BENCHMARK(BM_Resize<engines::resizeNearest>)->Name("BM_BasiqueFast")->RESIZES;
BENCHMARK(BM_Resize<engines::reference::resizeSmoothed>)->Name("BM_LissePlain")->RESIZES;
BENCHMARK(BM_Resize<engines::resizeSmoothed>)->Name("BM_LisseFast")->RESIZES;
// An uneven ratio, where few fractions are zero.
BENCHMARK(BM_Resize<engines::reference::resizeSmoothed>)
    ->Name("BM_LissePlain")
    ->Args({6000, 4000, 137})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_Resize<engines::resizeSmoothed>)
    ->Name("BM_LisseFast")
    ->Args({6000, 4000, 137})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace
