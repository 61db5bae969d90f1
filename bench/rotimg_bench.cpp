// The four instant commands' kernels against a plain copy of the same buffer.
// Targets at 6000 x 4000, as ratios of time to the copy: top-bottom mirror
// 1.5, left-right mirror 3, each quarter turn 6 (a quarter turn includes the
// copy of the picture it reads from, as the command does).
#include "core/ParamCoul.h"
#include "engines/RotImg.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

using namespace talvine;

PtsImg picture(int32_t w, int32_t h) {
    PtsImg p(w * h);
    auto* b = reinterpret_cast<uint8_t*>(p.data());
    for (int64_t i = 0; i < int64_t{w} * h * 3; ++i)
        b[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
    return p;
}

void setBytes(benchmark::State& state, int32_t w, int32_t h) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * w * h * 3);
}

void BM_Copy(benchmark::State& state) {
    const auto w = static_cast<int32_t>(state.range(0)), h = static_cast<int32_t>(state.range(1));
    PtsImg src = picture(w, h), dst(w * h);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), static_cast<size_t>(w) * h * 3);
        benchmark::ClobberMemory();
    }
    setBytes(state, w, h);
}

void BM_MirrorTopBottom(benchmark::State& state) {
    const auto w = static_cast<int32_t>(state.range(0)), h = static_cast<int32_t>(state.range(1));
    PtsImg img = picture(w, h);
    for (auto _ : state) {
        engines::mirrorTopBottom(img.data(), w, h);
        benchmark::ClobberMemory();
    }
    setBytes(state, w, h);
}

void BM_MirrorLeftRight(benchmark::State& state) {
    const auto w = static_cast<int32_t>(state.range(0)), h = static_cast<int32_t>(state.range(1));
    PtsImg img = picture(w, h);
    for (auto _ : state) {
        engines::mirrorLeftRight(img.data(), w, h);
        benchmark::ClobberMemory();
    }
    setBytes(state, w, h);
}

template <void (*Kernel)(const TPtImg*, TPtImg*, int32_t, int32_t)>
void BM_QuarterTurn(benchmark::State& state) {
    const auto w = static_cast<int32_t>(state.range(0)), h = static_cast<int32_t>(state.range(1));
    PtsImg img = picture(w, h), copy(w * h);
    for (auto _ : state) {
        std::memcpy(copy.data(), img.data(), static_cast<size_t>(w) * h * 3);
        Kernel(copy.data(), img.data(), w, h);
        benchmark::ClobberMemory();
    }
    setBytes(state, w, h);
}

#define SIZES Args({6000, 4000})->Args({1500, 1000})->Unit(benchmark::kMillisecond)
BENCHMARK(BM_Copy)->SIZES;
BENCHMARK(BM_MirrorTopBottom)->SIZES;
BENCHMARK(BM_MirrorLeftRight)->SIZES;
BENCHMARK(BM_QuarterTurn<engines::quarterTurnCcw>)->Name("BM_QuarterTurnCcw")->SIZES;
BENCHMARK(BM_QuarterTurn<engines::quarterTurnCw>)->Name("BM_QuarterTurnCw")->SIZES;

} // namespace

// The whole command as a host calls it: XchgData, the library's own copy of
// the picture (a fresh allocation each time), the kernel and the callback.
#include "plugin/Library.h"
#include "talvine/talvine.h"

namespace {

void BM_Command(benchmark::State& state) {
    const auto cmd = static_cast<int32_t>(state.range(0));
    const int32_t w = 6000, h = 4000;
    talvine::startLibrary();
    PtsImg img = picture(w, h);
    bool turned = false;
    for (auto _ : state) {
        const bool swap = turned && (cmd == TALVINE_CMD_ROTATION_ANTI_HORAIRE ||
                                     cmd == TALVINE_CMD_ROTATION_HORAIRE);
        XchgData(cmd, 0, 0, 0, 0, swap ? h : w, swap ? w : h, 0, 0, img.handle(), nullptr, 0, 0);
        turned = !turned;
        benchmark::ClobberMemory();
    }
    setBytes(state, w, h);
}
BENCHMARK(BM_Command)
    ->ArgName("command")
    ->Arg(TALVINE_CMD_ROTATION_ANTI_HORAIRE)
    ->Arg(TALVINE_CMD_ROTATION_HORAIRE)
    ->Arg(TALVINE_CMD_MIROIR_HORZ)
    ->Arg(TALVINE_CMD_MIROIR_VERT)
    ->Unit(benchmark::kMillisecond);

} // namespace
