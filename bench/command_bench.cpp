// A tilt preview as the host sees it (XchgData with a picked point: the
// dialog's pass into the host's buffer and the callback) beside the engine
// alone on the same picture and points, 6000 x 4000, bilinear.  The two
// should differ by little more than the callback.

#include "core/ParamCoul.h"
#include "dialogs/Scripts.h"
#include "engines/ModifAngle.h"
#include "plugin/Library.h"
#include "talvine/talvine.h"
#include "toolkit/Application.h"
#include "toolkit/Automation.h"

#include <benchmark/benchmark.h>

namespace {

using namespace talvine;

constexpr int32_t kW = 6000, kH = 4000;

PtsImg picture() {
    PtsImg p(int64_t{kW} * kH);
    auto* b = reinterpret_cast<uint8_t*>(p.data());
    for (int64_t i = 0; i < int64_t{kW} * kH * 3; ++i)
        b[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
    return p;
}

void TALVINE_CALL ignore(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, intptr_t, int32_t,
                         int32_t) {}

void BM_TiltPreviewThroughXchgData(benchmark::State& state) {
    startLibrary();
    AdrRetour(&ignore, 0);
    PtsImg img = picture();
    tk::Automation ui(talvine::application());
    XchgData(TALVINE_CMD_INCLINAISON, 0, 0, 0, 0, kW, kH, 0, 0, img.handle(), nullptr, 0, 0);
    const auto report = [&](Point p) {
        XchgData(TALVINE_CMD_INCLINAISON, 0, 0, p.x, p.y, kW, kH, 1, 0, nullptr, img.handle(), 0,
                 0);
    };
    dialogs::scripts::pickTilt(ui, {{3000, 2000}, {4000, 2060}, true}, report);
    for (auto _ : state) {
        // A point while no box waits redraws the preview with the same points.
        report({7, 7});
        benchmark::ClobberMemory();
    }
    dialogs::scripts::cancel(ui, TALVINE_CMD_INCLINAISON);
    stopLibrary();
}

void BM_TiltEngineAlone(benchmark::State& state) {
    const PtsImg src = picture();
    PtsImg dst(int64_t{kW} * kH);
    const engines::TiltParams p{
        {3000, 2000}, *engines::tiltAngle({3000, 2000}, {4000, 2060}), engines::Sampling::Bilinear};
    for (auto _ : state) {
        engines::tilt(src.data(), dst.data(), kW, kH, p);
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_TiltPreviewThroughXchgData)
    ->Name("Tilt/Bilinear/command")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_TiltEngineAlone)
    ->Name("Tilt/Bilinear/engine")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
