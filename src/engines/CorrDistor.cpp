// The distortion: the plain reference loop, and the public function, which
// forms the offsets of a pair of rows once in double and deals the pairs out
// to the kernel chosen at start-up.  The offsets in double, the exact and
// screened pixels and the error bound they rest on are in
// CorrDistorKernels.h; the AVX-512 rows in CorrDistorAvx512.cpp.
#include "engines/CorrDistor.h"

#include "engines/CorrDistorKernels.h"
#include "engines/Dispatch.h"
#include "engines/Parallel.h"

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace talvine::engines {
namespace {

using distortion::Law;
using distortion::lawOf;
using distortion::Offset;
using distortion::sourceOffset;
using distortionkernel::distortionPixel;
using distortionkernel::DistortionRun;
using distortionkernel::offsetD;
using distortionkernel::sample;

int64_t checkedCount(int32_t w, int32_t h, const DistortionParams& p) {
    if (p.position < -100 || p.position > 100)
        throw std::invalid_argument("distortion rate outside -100..100");
    if (w < 0 || h < 0) throw std::invalid_argument("negative picture size");
    const int64_t count = int64_t{w} * h;
    if (count > INT32_MAX) throw std::invalid_argument("picture too large");
    return count;
}

} // namespace

namespace distortionkernel {

void sample(const TPtImg* src, TPtImg* dst, int64_t W, int64_t cx, int64_t cy, int64_t limit,
            int64_t last, Sampling sampling, int64_t sx, int64_t sy, long double fx,
            long double fy) {
    const int64_t u = (cx + sx) + W * (cy + sy);
    if (u < 0 || u >= limit) return;
    if (sampling == Sampling::Nearest) {
        *dst = src[u];
        return;
    }
    // At u = limit - 1 the diagonal neighbour is one past the end: the last
    // pixel stands in for it.
    const int64_t diag = u + W + 1 <= last ? u + W + 1 : last;
    *dst = detail::blend(src[diag], src[u + 1], src[u], src[u + W], fx, fy);
}

} // namespace distortionkernel

namespace reference {

void correctDistortion(const TPtImg* src, TPtImg* dst, int32_t w, int32_t h,
                       const DistortionParams& p) {
    const int64_t count = checkedCount(w, h, p);
    if (count == 0) return;
    const Law law = lawOf(w, h, p);
    const int64_t W = w, cx = w / 2, cy = h / 2, limit = count - W;
    for (int64_t i = 0; i < count; ++i) {
        const int64_t dx = i % W - cx, dy = i / W - cy;
        const Offset o = sourceOffset(law, dx, dy);
        const long double tx = truncl(o.X), ty = truncl(o.Y);
        const long double fx = detail::fracUp(o.X, tx), fy = detail::fracUp(o.Y, ty);
        sample(src, dst + i, W, cx, cy, limit, count - 1, p.sampling, static_cast<int64_t>(tx),
               static_cast<int64_t>(ty), fx, fy);
    }
}

} // namespace reference

namespace {

// The rows cy + ady and cy - ady; returns the number of exact pixels.
int64_t distortionRows(const DistortionRun r, int64_t ady, std::vector<double>& table,
                       bool avx512) {
    // cx >= W - 1 - cx, so 0..cx covers every |dx|; likewise for rows.
    double* tX = table.data();
    double* tY = table.data() + (r.cx + 1);
    if (avx512) {
        distortionkernel::tableAvx512(r.lawD, ady, r.cx, tX, tY);
    } else {
        for (int64_t adx = ady == 0 ? 1 : 0; adx <= r.cx; ++adx)
            offsetD(r.lawD, adx, ady, tX[adx], tY[adx]);
    }
    if (ady == 0) tX[0] = tY[0] = 0; // the centre: offset (0, 0)
    int64_t exact = 0;
    for (int side = 0; side < 2; ++side) {
        if (side == 1 && ady == 0) break;
        const int64_t y = side == 0 ? r.cy + ady : r.cy - ady;
        if (y >= r.H) continue;
        const bool up = side == 1;
        TPtImg* row = r.dst + y * r.W;
        if (avx512) {
            exact += distortionkernel::rowAvx512(r, tX, tY, ady, up, y, row);
            continue;
        }
        for (int64_t x = 0; x < r.W; ++x)
            exact += distortionPixel(r, tX, tY, ady, up, x, y, row);
    }
    return exact;
}

} // namespace

// The offsets of each pair of rows cy -+ |dy| in double, from one table of
// |dx| (CorrDistorKernels.h argues the mirror symmetry and the bound E).
void correctDistortion(const TPtImg* src, TPtImg* dst, int32_t w, int32_t h,
                       const DistortionParams& p) {
    const int64_t count = checkedCount(w, h, p);
    if (count == 0) return;
    const Law law = lawOf(w, h, p);
    const int64_t W = w, H = h, limit = count - W;
    if (law.identity) {
        // Offsets (0, 0) everywhere: u = i, fractions 0, so every pixel below
        // the limit is its own source, in either sampling.
        if (limit > 0) std::memcpy(dst, src, static_cast<size_t>(limit) * sizeof(TPtImg));
        return;
    }
    DistortionRun run{src,
                      dst,
                      W,
                      H,
                      w / 2,
                      h / 2,
                      limit,
                      count - 1,
                      p.sampling,
                      law,
                      {law.square, static_cast<double>(law.k), static_cast<double>(law.g)},
                      distortionkernel::offsetBound(W, H),
                      0,
                      0};
    run.margin = fast::blendMargin(run.e);
    run.halfLessMarginF = fast::halfLessSingle(fast::blendMarginSingle(run.e));
    const bool avx512 = activeKernel() == Kernel::Avx512;
    // distortionRows takes the run by value: a copy of its own, which its
    // byte stores cannot alias, stays in registers.
    parallelFor(run.cy + 1, 8, [&](int64_t begin, int64_t end) {
        std::vector<double> table(static_cast<size_t>(2 * (run.cx + 1)));
        int64_t exact = 0;
        for (int64_t ady = begin; ady < end; ++ady)
            exact += distortionRows(run, ady, table, avx512);
        fast::fallbacks.fetch_add(exact, std::memory_order_relaxed);
    });
}

} // namespace talvine::engines
