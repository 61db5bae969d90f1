// Distortion correction on a 6000 x 4000 picture, each sampling mode and
// law, the plain per-pixel loop against the loop that forms each offset once
// for its four mirror images.
// "fast" is the shipped path (threads and the best vector kernel of the
// machine; TALVINE_THREADS and TALVINE_KERNEL choose); talvine_yardstick
// has the same jobs beside OpenCV.

#include "core/ParamCoul.h"
#include "engines/CorrDistor.h"

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

template <void (*Kernel)(const TPtImg*, TPtImg*, int32_t, int32_t,
                         const engines::DistortionParams&),
          engines::Sampling S, engines::DistortionLaw L>
void BM_Distortion(benchmark::State& state) {
    const PtsImg src = picture();
    PtsImg dst(kW * kH);
    const engines::DistortionParams p{35, L, S};
    for (auto _ : state) {
        Kernel(src.data(), dst.data(), kW, kH, p);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kW * kH);
}

using engines::DistortionLaw;
using engines::Sampling;
namespace ref = engines::reference;
BENCHMARK(BM_Distortion<ref::correctDistortion, Sampling::Nearest, DistortionLaw::Linear>)
    ->Name("Distortion/Nearest/reference")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Distortion<engines::correctDistortion, Sampling::Nearest, DistortionLaw::Linear>)
    ->Name("Distortion/Nearest/fast")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Distortion<ref::correctDistortion, Sampling::Bilinear, DistortionLaw::Linear>)
    ->Name("Distortion/Bilinear/reference")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Distortion<engines::correctDistortion, Sampling::Bilinear, DistortionLaw::Linear>)
    ->Name("Distortion/Bilinear/fast")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Distortion<ref::correctDistortion, Sampling::Nearest, DistortionLaw::Square>)
    ->Name("Distortion/NearestSquareLaw/reference")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Distortion<engines::correctDistortion, Sampling::Nearest, DistortionLaw::Square>)
    ->Name("Distortion/NearestSquareLaw/fast")
    ->Unit(benchmark::kMillisecond);

} // namespace
