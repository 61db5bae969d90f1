// Perspective correction on a 6000 x 4000 picture, each sampling mode, with
// and without the vertical stretch, the plain per-pixel loop against the
// shipped one.
// "fast" is the shipped path (threads and the best vector kernel of the
// machine; TALVINE_THREADS and TALVINE_KERNEL choose); talvine_yardstick
// has the same jobs beside OpenCV.

#include "core/ParamCoul.h"
#include "engines/Perspective.h"

#include <benchmark/benchmark.h>

namespace {

using namespace talvine;

constexpr int32_t kW = 6000, kH = 4000;

PtsImg picture() {
    PtsImg p(kW * kH);
    auto* b = reinterpret_cast<uint8_t*>(p.data());
    for (int64_t i = 0; i < int64_t{kW} * kH * 3; ++i)
        b[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
    return p;
}

template <bool (*Kernel)(const TPtImg*, TPtImg*, int32_t, int32_t,
                         const engines::PerspectiveParams&),
          engines::Sampling S, int32_t V>
void BM_Perspective(benchmark::State& state) {
    const PtsImg src = picture();
    PtsImg dst(kW * kH);
    const engines::PerspectiveParams p{{{900, 300}, {5100, 260}, {5900, 3900}, {100, 3950}}, V, S};
    for (auto _ : state) {
        Kernel(src.data(), dst.data(), kW, kH, p);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kW * kH);
}

using engines::Sampling;
namespace ref = engines::reference;
BENCHMARK(BM_Perspective<ref::correctPerspective, Sampling::Nearest, 0>)
    ->Name("Perspective/Nearest/v0/reference")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Perspective<engines::correctPerspective, Sampling::Nearest, 0>)
    ->Name("Perspective/Nearest/v0/fast")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Perspective<ref::correctPerspective, Sampling::Nearest, 5>)
    ->Name("Perspective/Nearest/v5/reference")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Perspective<engines::correctPerspective, Sampling::Nearest, 5>)
    ->Name("Perspective/Nearest/v5/fast")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Perspective<ref::correctPerspective, Sampling::Bilinear, 5>)
    ->Name("Perspective/Bilinear/v5/reference")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Perspective<engines::correctPerspective, Sampling::Bilinear, 5>)
    ->Name("Perspective/Bilinear/v5/fast")
    ->Unit(benchmark::kMillisecond);

} // namespace
