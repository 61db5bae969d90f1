// The tilt: the angle from two points, the plain reference loop, and the
// public function, which plans a run and deals its rows out to the kernel
// chosen at start-up.  The positions, the exact and screened pixels and the
// error bound they rest on are in ModifAngleKernels.h; the vector kernels in
// ModifAngleAvx2.cpp and ModifAngleAvx512.cpp.
#include "engines/ModifAngle.h"

#include "core/ParamCoul.h"
#include "engines/Dispatch.h"
#include "engines/ModifAngleKernels.h"
#include "engines/Parallel.h"

#include <algorithm>
#include <cmath>

namespace talvine::engines {

using tiltkernel::bilinearAt;
using tiltkernel::kTileColumns;
using tiltkernel::kTileRows;
using tiltkernel::kWhite;
using tiltkernel::SinCos;
using tiltkernel::sinCos;
using tiltkernel::TiltRow;
using tiltkernel::TiltRun;

namespace reference {

bool tilt(const TPtImg* src, TPtImg* dst, int32_t w, int32_t h, const TiltParams& p) {
    if (!std::isfinite(p.angle)) return false;
    const SinCos sc = sinCos(p.angle);
    const int64_t W = w, H = h, count = W * H;
    const int64_t x1 = p.centre.x, y1 = p.centre.y;
    if (p.sampling == Sampling::Nearest) {
        for (int64_t y = 0; y < H; ++y)
            for (int64_t x = 0; x < W; ++x) {
                const int64_t dx = x - x1, dy = y - y1;
                const long double X = dx * sc.cos - dy * sc.sin;
                const long double Y = dx * sc.sin + dy * sc.cos;
                const int64_t sx = static_cast<int64_t>(X) + x1;
                const int64_t sy = static_cast<int64_t>(Y) + y1;
                dst[y * W + x] = sx >= 0 && sx < W && sy >= 0 && sy < H ? src[sy * W + sx] : kWhite;
            }
    } else {
        for (int64_t i = 0; i < count; ++i) {
            const int64_t x = i % W, y = i / W;
            const int64_t dx = x - x1, dy = y - y1;
            const long double X = dx * sc.cos - dy * sc.sin;
            const long double Y = dx * sc.sin + dy * sc.cos;
            dst[i] = bilinearAt<false>(src, W, count, x1 + X, y1 + Y);
        }
    }
    return true;
}

} // namespace reference

namespace tiltkernel {

int64_t rowBaseline(const TiltRun r, const TiltRow& row, int64_t x0, int64_t x1, TPtImg* out) {
    int64_t exact = 0;
    for (int64_t x = x0; x < x1; ++x)
        exact += tiltPixel(r, row, x, out[x]);
    return exact;
}

} // namespace tiltkernel

bool tilt(const TPtImg* src, TPtImg* dst, int32_t w, int32_t h, const TiltParams& p) {
    if (!std::isfinite(p.angle)) return false;
    const SinCos sc = sinCos(p.angle);
    const int64_t W = w, H = h, count = W * H;
    const int64_t x1 = p.centre.x, y1 = p.centre.y;
    if (sc.sin == 0 && sc.cos == 1) {
        // Angle 0: every offset is exactly dx or dy, so the nearest method
        // copies every pixel, and the blend, whose fractions are then 0 and
        // weights 0, 0, 1, 0, copies the base pixel of each accepted index
        // W <= i < count - W - 1 and whitens the rest.  (The screened paths
        // would send every pixel to the exact formula: each position is an
        // integer.)
        if (p.sampling == Sampling::Nearest || count < 2 * W + 1) {
            if (p.sampling == Sampling::Nearest)
                std::copy(src, src + count, dst);
            else
                std::fill(dst, dst + count, kWhite);
            return true;
        }
        std::fill(dst, dst + W, kWhite);
        std::copy(src + W, src + count - W - 1, dst + W);
        std::fill(dst + count - W - 1, dst + count, kWhite);
        return true;
    }
    TiltRun run{src,
                W,
                count,
                x1,
                y1,
                sc,
                static_cast<double>(sc.cos),
                static_cast<double>(sc.sin),
                static_cast<double>(x1),
                static_cast<double>(y1),
                0,
                0,
                0,
                0,
                {}};
    run.e = 0x1p-48 * (static_cast<double>(W) + static_cast<double>(H) +
                       2.0 * (std::fabs(run.x1D) + std::fabs(run.y1D)) + 2.0);
    run.margin = fast::blendMargin(run.e);
    run.halfLessMarginF = fast::halfLessSingle(fast::blendMarginSingle(run.e));
    const double eFixed = fast::fixedBound(run.e);
    run.fixed = tiltkernel::tiltFixed(run.cosD, run.sinD, eFixed, fast::blendMarginSingle(eFixed));
    const bool nearest = p.sampling == Sampling::Nearest;
    const Kernel kernel = activeKernel();
    if (nearest && kernel != Kernel::Avx512) {
        // Each block copies what it reads into locals: its byte stores could
        // otherwise alias the captured values and force 80-bit reloads.
        parallelFor(H, 16, [&](int64_t rowBegin, int64_t rowEnd) {
            const TPtImg* const src_ = src;
            TPtImg* const dst_ = dst;
            const int64_t W_ = W, H_ = H, x1_ = x1, y1_ = y1;
            const long double cos_ = sc.cos, sin_ = sc.sin;
            for (int64_t y = rowBegin; y < rowEnd; ++y) {
                const int64_t dy = y - y1_;
                const long double rowSin = dy * sin_, rowCos = dy * cos_;
                TPtImg* out = dst_ + y * W_;
                // 80 bits: two truncations cost less than two screened splits.
                for (int64_t x = 0; x < W_; ++x) {
                    const int64_t dx = x - x1_;
                    const int64_t px = static_cast<int64_t>(dx * cos_ - rowSin) + x1_;
                    const int64_t py = static_cast<int64_t>(dx * sin_ + rowCos) + y1_;
                    out[x] = px >= 0 && px < W_ && py >= 0 && py < H_ ? src_[py * W_ + px] : kWhite;
                }
            }
        });
        return true;
    }
    // Tiles of 32 rows by 384 columns: the source pixels a tile reads stay
    // in the cache whatever the angle, where whole rows would sweep across
    // hundreds of source rows.
    // The order of a tile's rows changes how well the hardware prefetcher
    // follows the reads, and was chosen by measurement.  Along a source row,
    // the segments successive destination rows read move left when the turn
    // is clockwise (sin > 0): the tiles are then walked upwards, so that the
    // segments follow each other left to right, and downwards otherwise.
    // Nearest at 3 degrees: 30 % faster than the other way.  The blends
    // (best of five runs, one thread): at -3.4 degrees 66 ms downwards
    // against 81 upwards, at -17 degrees 117 against 121, at 17 degrees
    // 111 upwards against 147; at 3.4 degrees 70 upwards against 65, the
    // one case the rule loses.
    const bool upwards = run.sinD > 0;
    // A destination row's source is a string of short segments, one per
    // sixteen-pixel group, no two in the same source row, and each new to
    // the tile (the blends read two rows, the first of them, walking
    // upwards, or the second, downwards, new): the hardware's prefetchers,
    // which follow streams, miss all of them.  Each group therefore asks
    // for the segment that the destination row four rows further in the
    // walk will first need, at the same columns (the source of a column
    // moves by |sin| per row).  Best of three runs at one thread, 6000 x
    // 4000, with the double positions: blends at 3.4 degrees 2.43 -> 2.06
    // ns a pixel (three rows ahead 2.01, two 2.21, five 2.15), at -3.4
    // degrees 2.39 -> 1.97 (three ahead 2.03, five 1.98); with the fixed
    // point, nearest at 3.4 degrees 1.35 -> 1.09 (two rows ahead 1.05, six
    // 1.08, eight 1.25), at -3.4 degrees 1.38 -> 0.97 (two ahead 1.02, six
    // 1.00).
    run.aheadRows = upwards ? -4 : 5;
    // Each thread takes one run of bands (Split::Contiguous): a band reads
    // source rows the band above it read, still in the same core's cache
    // (with two threads, 20 % faster than bands dealt out in turn).
    parallelFor(
        H, kTileRows,
        [&](int64_t rowBegin, int64_t rowEnd) {
            int64_t exact = 0;
            TiltRow rows[kTileRows];
            for (int64_t y = rowBegin; y < rowEnd; ++y) {
                const int64_t dy = y - y1;
                const double dyD = static_cast<double>(dy);
                rows[y - rowBegin] = {dy * sc.sin, dy * sc.cos, dyD * run.sinD, dyD * run.cosD};
            }
            for (int64_t x0 = 0; x0 < W; x0 += kTileColumns) {
                const int64_t xEnd = std::min(W, x0 + kTileColumns);
                for (int64_t k = 0; k < rowEnd - rowBegin; ++k) {
                    const int64_t y = upwards ? rowEnd - 1 - k : rowBegin + k;
                    const TiltRow& row = rows[y - rowBegin];
                    TPtImg* out = dst + y * W;
                    prefetchSpan(run, row, xEnd, std::min(W, xEnd + kTileColumns), H, !nearest);
                    if (nearest) {
                        tiltkernel::nearestRowAvx512(run, row, x0, xEnd, H, out);
                        continue;
                    }
                    exact +=
                        kernel == Kernel::Avx512 ? tiltkernel::rowAvx512(run, row, x0, xEnd, out)
                        : kernel == Kernel::Avx2 ? tiltkernel::rowAvx2(run, row, x0, xEnd, out)
                                                 : tiltkernel::rowBaseline(run, row, x0, xEnd, out);
                }
            }
            fast::fallbacks.fetch_add(exact, std::memory_order_relaxed);
        },
        Split::Contiguous);
    return true;
}

} // namespace talvine::engines
