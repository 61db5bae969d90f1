// The perspective: the plan of a run, the plain reference loop, and the
// public function, which forms each row once and deals tiles of rows out to
// the kernel chosen at start-up.  The bounds on positions, the exact and
// screened pixels and the error bound they rest on are in
// PerspectiveKernels.h; the vector spans in PerspectiveAvx2.cpp and
// PerspectiveAvx512.cpp.
#include "engines/Perspective.h"

#include "engines/Dispatch.h"
#include "engines/Parallel.h"
#include "engines/PerspectiveKernels.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace talvine::engines {

using perspectivekernel::PerspectiveRow;
using perspectivekernel::PerspectiveRun;
using perspectivekernel::rowFraction;
using perspectivekernel::rowOf;
using perspectivekernel::sample;
using perspectivekernel::spanAvx2;
using perspectivekernel::spanAvx512;
using perspectivekernel::spanBaseline;

namespace {

// Everything a run needs besides the pixels, checked before any pixel is
// written.
struct Plan {
    long double B;
    long double Vx;
    long double Vy;
    bool stretch;
};

// The source height of the destination row whose height is `f0`.
long double sourceHeight(const Plan& p, int64_t f0) {
    long double f = static_cast<long double>(f0);
    if (p.stretch) f = (sqrtl(p.B * 2 * f + 1) - 1) / p.B;
    return f;
}

long double sourceColumn(const Plan& p, long double f, int64_t x) {
    return ((p.Vy - f) * x + f * p.Vx) / p.Vy;
}

int64_t checkedCount(int32_t w, int32_t h, const PerspectiveParams& p) {
    if (p.vertical < 0 || p.vertical > 10)
        throw std::invalid_argument("vertical correction outside 0..10");
    if (w < 0 || h < 0) throw std::invalid_argument("negative picture size");
    const int64_t count = int64_t{w} * h;
    if (count > INT32_MAX) throw std::invalid_argument("picture too large");
    return count;
}

std::optional<Plan> planOf(const PerspectiveParams& p, int32_t w, int32_t h) {
    const std::optional<Fuite> fuite = calculerFuite(p.corners, w);
    if (!fuite) return std::nullopt;
    Plan plan{fuite->B, fuite->Vx, fuite->Vy, p.vertical != 0};
    if (plan.stretch) {
        plan.B = p.vertical * plan.B / 10;
        if (plan.B == 0 || !std::isfinite(plan.B)) return std::nullopt;
    }
    // Every row, and the two ends of every row: along a row the column is a
    // monotone function of x (each rounded operation is monotone), so it is
    // finite throughout when it is finite at both ends.
    const int64_t W = w, H = h;
    for (int64_t y = 0; y < H; ++y) {
        const long double f = sourceHeight(plan, H - y);
        if (!std::isfinite(f) || !std::isfinite(H - f)) return std::nullopt;
        if (!std::isfinite(sourceColumn(plan, f, 0)) ||
            !std::isfinite(sourceColumn(plan, f, W - 1)))
            return std::nullopt;
    }
    return plan;
}

constexpr int64_t kTileRows = 16, kTileColumns = 128;
static_assert(kTileColumns <= fast::kFixedSpan, "the fixed point's bound covers a tile's row");

} // namespace

namespace reference {

bool correctPerspective(const TPtImg* src, TPtImg* dst, int32_t w, int32_t h,
                        const PerspectiveParams& p) {
    const int64_t count = checkedCount(w, h, p);
    if (count == 0) return false;
    const std::optional<Plan> plan = planOf(p, w, h);
    if (!plan) return false;
    const int64_t W = w, H = h;
    for (int64_t i = 0; i < count; ++i) {
        const int64_t x = i % W, y = i / W;
        const long double f = sourceHeight(*plan, H - y);
        const long double X = sourceColumn(*plan, f, x);
        sample<false>(src, dst + i, W, count, p.sampling, H - f, X,
                      p.sampling == Sampling::Bilinear ? rowFraction(f) : 0);
    }
    return true;
}

} // namespace reference

namespace perspectivekernel {

int64_t spanBaseline(const PerspectiveRun r, const PerspectiveRow row, int64_t x0, int64_t x1,
                     TPtImg* out) {
    int64_t exact = 0;
    for (int64_t x = x0; x < x1; ++x)
        exact += perspectivePixel(r, row, x, out + x);
    return exact;
}

} // namespace perspectivekernel

// Each row formed once in 80 bits and in double (PerspectiveKernels.h argues
// the bound), the rows walked in tiles of 16 x 128 pixels.
bool correctPerspective(const TPtImg* src, TPtImg* dst, int32_t w, int32_t h,
                        const PerspectiveParams& p) {
    const int64_t count = checkedCount(w, h, p);
    if (count == 0) return false;
    const std::optional<Plan> plan = planOf(p, w, h);
    if (!plan) return false;
    const int64_t W = w, H = h;
    const PerspectiveRun run{src, W, count, p.sampling, plan->Vy, static_cast<double>(plan->Vy)};
    const Kernel kernel = activeKernel();
    // The span functions take the run and the row by value: copies of their
    // own, which their byte stores cannot alias, stay in registers.
    parallelFor(H, kTileRows, [&](int64_t rowBegin, int64_t rowEnd) {
        PerspectiveRow rows[kTileRows];
        for (int64_t y = rowBegin; y < rowEnd; ++y)
            rows[y - rowBegin] = rowOf(run, H, sourceHeight(*plan, H - y), plan->Vx);
        int64_t exact = 0;
        for (int64_t x0 = 0; x0 < W; x0 += kTileColumns) {
            const int64_t x1 = std::min(W, x0 + kTileColumns);
            for (int64_t y = rowBegin; y < rowEnd; ++y) {
                TPtImg* out = dst + y * W;
                const PerspectiveRow& row = rows[y - rowBegin];
                exact += kernel == Kernel::Avx512 ? spanAvx512(run, row, x0, x1, out)
                         : kernel == Kernel::Avx2 ? spanAvx2(run, row, x0, x1, out)
                                                  : spanBaseline(run, row, x0, x1, out);
            }
        }
        fast::fallbacks.fetch_add(exact, std::memory_order_relaxed);
    });
    return true;
}

} // namespace talvine::engines
