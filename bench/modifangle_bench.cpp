// Horizon tilt on a 6000 x 4000 picture, each sampling mode, the plain
// per-pixel loop against the shipped one.
// "fast" is the shipped path (threads and the best vector kernel of the
// machine; TALVINE_THREADS and TALVINE_KERNEL choose); talvine_yardstick
// has the same jobs beside OpenCV.

#include "core/ParamCoul.h"
#include "engines/ModifAngle.h"

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

template <bool (*Kernel)(const TPtImg*, TPtImg*, int32_t, int32_t, const engines::TiltParams&),
          engines::Sampling S>
void BM_Tilt(benchmark::State& state) {
    const PtsImg src = picture();
    PtsImg dst(kW * kH);
    // Points 1000 apart, 60 higher: about 3.4 degrees.
    const engines::TiltParams p{{2500, 2000}, *engines::tiltAngle({2500, 2000}, {3500, 2060}), S};
    for (auto _ : state) {
        Kernel(src.data(), dst.data(), kW, kH, p);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kW * kH);
}

using engines::Sampling;
BENCHMARK(BM_Tilt<engines::reference::tilt, Sampling::Nearest>)
    ->Name("Tilt/Nearest/reference")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Tilt<engines::tilt, Sampling::Nearest>)
    ->Name("Tilt/Nearest/fast")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Tilt<engines::reference::tilt, Sampling::Bilinear>)
    ->Name("Tilt/Bilinear/reference")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Tilt<engines::tilt, Sampling::Bilinear>)
    ->Name("Tilt/Bilinear/fast")
    ->Unit(benchmark::kMillisecond);

} // namespace
