// The distortion: the plain reference loop, and the public function, which
// forms the offsets in double once for the four mirror pixels of each
// (|dx|, |dy|) and deals bands of rows out to the kernel chosen at start-up,
// a tile at a time.  The offsets in double, the exact and screened pixels
// and the error bound they rest on are in CorrDistorKernels.h; the AVX-512
// rows in CorrDistorAvx512.cpp.
#include "engines/CorrDistor.h"

#include "engines/CorrDistorKernels.h"
#include "engines/Dispatch.h"
#include "engines/Parallel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace talvine::engines {
namespace {

using distortion::Law;
using distortion::lawOf;
using distortion::Offset;
using distortion::sourceOffset;
using distortionkernel::distortionPixel;
using distortionkernel::DistortionRun;
using distortionkernel::offsetD;
using distortionkernel::OffsetTable;
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

// Tiles of kBand pairs of rows cy -+ |dy| by kBlock values of |dx|: four
// pieces of kBand rows, one in each quadrant about the centre, read from
// kBand tables of kBlock offsets.  Whole rows read their source along
// curves that cross hundreds of source rows, a line or so from each, and
// most reads miss the cache; a piece reads a compact patch, each source
// row's lines one after another as the piece's rows go down (at 6000 x
// 4000, rate 35, one thread: nearest 70 -> 56 ms, bilinear 85 -> 77; bands
// of 16 or 64 and blocks of 96 to 1024 no better, the small blocks clearly
// worse; prefetching the lines of later rows or columns gained nothing).
constexpr int64_t kBand = 32, kBlock = 384;

// The pixels with |dy| in [dy0, dy1) and |dx| in [a0, a1), a quadrant at a
// time; returns the number of exact pixels.  `tables` has room for
// 2 * kBand * kBlock doubles.
int64_t distortionTile(const DistortionRun r, int64_t dy0, int64_t dy1, int64_t a0, int64_t a1,
                       double* tables, bool avx512) {
    // The table of |dy| = ady: X at tableAt(ady), Y kBlock further.
    const auto tableAt = [&](int64_t ady) { return tables + (ady - dy0) * 2 * kBlock; };
    for (int64_t ady = dy0; ady < dy1; ++ady) {
        double* X = tableAt(ady);
        double* Y = X + kBlock;
        if (avx512) {
            distortionkernel::tableAvx512(r.lawD, ady, a0, a1, X, Y);
        } else {
            for (int64_t adx = a0; adx < a1; ++adx)
                offsetD(r.lawD, adx, ady, X[adx - a0], Y[adx - a0]);
        }
        if (ady == 0 && a0 == 0) X[0] = Y[0] = 0; // the centre: offset (0, 0)
    }
    int64_t exact = 0;
    // cx >= W - 1 - cx, so |dx| <= cx covers both sides.  The right piece
    // takes the centre column, the left one stops before it.
    const int64_t pieces[2][2] = {
        {r.cx + a0, std::min(r.W, r.cx + a1)},
        {std::max<int64_t>(0, r.cx - a1 + 1), std::min(r.cx, r.cx - a0 + 1)}};
    for (const bool up : {false, true}) {
        for (const auto& piece : pieces) {
            const int64_t x0 = piece[0], x1 = piece[1];
            for (int64_t ady = dy0; x0 < x1 && ady < dy1; ++ady) {
                const int64_t y = up ? r.cy - ady : r.cy + ady;
                if ((up && ady == 0) || y >= r.H) continue;
                const OffsetTable t{tableAt(ady), tableAt(ady) + kBlock, a0};
                TPtImg* row = r.dst + y * r.W;
                if (avx512) {
                    exact += distortionkernel::rowAvx512(r, t, ady, up, y, x0, x1, row);
                    continue;
                }
                for (int64_t x = x0; x < x1; ++x)
                    exact += distortionPixel(r, t, ady, up, x, y, row);
            }
        }
    }
    return exact;
}

} // namespace

// The offsets in double, one table of |dx| for each |dy| of a tile, serving
// the four mirror pixels (CorrDistorKernels.h argues the symmetry and the
// bound E).
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
    // distortionTile takes the run by value: a copy of its own, which its
    // byte stores cannot alias, stays in registers.
    parallelFor(run.cy + 1, kBand, [&](int64_t begin, int64_t end) {
        const auto tables = std::make_unique_for_overwrite<double[]>(2 * kBand * kBlock);
        int64_t exact = 0;
        for (int64_t a0 = 0; a0 <= run.cx; a0 += kBlock)
            exact += distortionTile(run, begin, end, a0, std::min(run.cx + 1, a0 + kBlock),
                                    tables.get(), avx512);
        fast::fallbacks.fetch_add(exact, std::memory_order_relaxed);
    });
}

} // namespace talvine::engines
