// The upright analysis of a 24-megapixel photo-like facade, as detected
// about 1200 pixels wide (and 1600) and refined at full resolution, beside the same
// analysis detecting at full resolution (what the refinement saves).  The
// errors of both on the whole test set: talvine_upright_eval --full.
#include "Upright.h"
#include "UprightScenes.h"

#include <benchmark/benchmark.h>

namespace {

using namespace talvine::analysis;

const talvine::hosts::Picture& facade() {
    static const talvine::hosts::Picture p =
        scenes::render({scenes::Kind::Facade, 6000, 4000, 1.7, 10, 28, 1.0, 3, 90});
    return p;
}

void BM_UprightAnalysis(benchmark::State& state) {
    const auto& p = facade();
    Options o;
    o.detectionSize = static_cast<int32_t>(state.range(0));
    for (auto _ : state) {
        const Analysis a = analyse({p.rgb.data(), p.width, p.height}, o);
        benchmark::DoNotOptimize(a.level.degrees);
        state.counters["level_error_deg"] = a.level.degrees ? std::abs(*a.level.degrees - 1.7) : -1;
    }
}
BENCHMARK(BM_UprightAnalysis)
    ->Arg(1200)
    ->Arg(1600)
    ->Arg(6000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
