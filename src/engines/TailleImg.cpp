// The resize: the plain reference loops, the nearest pixel's fast loop, and
// the smoothed resampling as a plan (each column's and each row's source
// index and fraction, computed once) and a row step (one output row from the
// plan, by the kernel chosen at start-up).  The positions, the tie rule and
// one pixel are in TailleImgKernels.h; the vector rows in TailleImgAvx2.cpp
// and TailleImgAvx512.cpp.
#include "engines/TailleImg.h"

#include "core/ParamCoul.h"
#include "engines/Bilinear.h"
#include "engines/Dispatch.h"
#include "engines/Parallel.h"
#include "engines/TailleImgKernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

// Where the edges go (docs/RESAMPLING.md has the pictures):
//
// - Nearest pixel: a rounded row sy = H (possible when the height is at least
//   doubled) reads row H - 1; a rounded column sx = W reads the first pixel of
//   the next row, except on the last row, where it reads the last pixel.
// - Bilinear: the row below the last source row is the last row again, so the
//   bottom output rows blend along the last row only; a right neighbour past
//   the last pixel (last column of the last row, or the diagonal neighbour of
//   the last pixel of the row above it) is the last pixel.
//
// With x <= NW - 1, x * rx stays below W by at least W / NW (far above the
// rounding error of two extended operations), so Trunc(fx) <= W - 1 and
// Round(fx) <= W; the same holds for the rows.

namespace talvine::engines {
namespace {

void checkSizes(int32_t w, int32_t h, int32_t nw, int32_t nh) {
    if (w < 0 || h < 0 || nw < 0 || nh < 0)
        throw std::invalid_argument("negative picture dimension");
    if (nw == 0 || nh == 0) throw ZeroDimension();
    if (w == 0 || h == 0) throw std::invalid_argument("empty source picture");
}

} // namespace

namespace reference {

void resizeNearest(const TPtImg* src, int32_t w, int32_t h, TPtImg* dst, int32_t nw, int32_t nh) {
    checkSizes(w, h, nw, nh);
    const long double rx = static_cast<long double>(w) / nw;
    const long double ry = static_cast<long double>(h) / nh;
    const int64_t total = int64_t{w} * h;
    for (int64_t y = 0; y < nh; ++y) {
        for (int64_t x = 0; x < nw; ++x) {
            const auto sx = static_cast<int64_t>(rintl(static_cast<long double>(x) * rx));
            auto sy = static_cast<int64_t>(rintl(static_cast<long double>(y) * ry));
            int64_t index = sy * w + sx;
            if (index >= total) {
                sy = std::min<int64_t>(sy, h - 1);
                index = std::min(sy * w + sx, total - 1);
            }
            dst[y * nw + x] = src[index];
        }
    }
}

void resizeSmoothed(const TPtImg* src, int32_t w, int32_t h, TPtImg* dst, int32_t nw, int32_t nh) {
    checkSizes(w, h, nw, nh);
    const long double rx = static_cast<long double>(w) / nw;
    const long double ry = static_cast<long double>(h) / nh;
    const int64_t total = int64_t{w} * h;
    const int64_t count = int64_t{nw} * nh;
    for (int64_t i = 0; i < count; ++i) {
        const int64_t x = i % nw, y = i / nw;
        const long double fx = static_cast<long double>(x) * rx;
        const long double fy = static_cast<long double>(y) * ry;
        const auto tx = static_cast<int64_t>(fx); // Trunc: fx >= 0
        const auto ty = static_cast<int64_t>(fy);
        const int64_t m = ty * w + tx;
        const long double u = fx - static_cast<long double>(tx);
        const long double v = fy - static_cast<long double>(ty);
        int64_t c = m, b = m + 1, d = m + w, a = m + w + 1;
        if (m >= total - w) { // last source row: the row below is the same row
            b = std::min(b, total - 1);
            d = c;
            a = b;
        } else {
            a = std::min(a, total - 1);
        }
        dst[i] = detail::blend(src[a], src[b], src[c], src[d], u, v);
    }
}

} // namespace reference

namespace {

using resizekernel::Column;
using resizekernel::DyadicColumns;
using resizekernel::Row;
using resizekernel::SmoothedRun;

// The smallest k <= 7 with fraction * 2^k whole, or -1.
int dyadicExponent(long double fraction) {
    for (int k = 0; k <= 7; ++k) {
        const long double scaled = ldexpl(fraction, k);
        if (scaled == truncl(scaled)) return k;
    }
    return -1;
}

// Everything the rows of one smoothed resampling share, computed once.
struct SmoothedPlan {
    std::vector<Column> cols;
    // The same columns laid out for the vector kernels.
    std::vector<int32_t> colTx;
    std::vector<double> colU;
    std::vector<uint8_t> colExact;
    std::vector<Row> rows;
    Kernel kernel;
    // The integer path for small power-of-two fractions, when every column
    // and every row has one (AVX-512 only).
    DyadicColumns dyadicCols;
    // Every fraction 0, and the copying rows' windows (AVX-512 only).
    bool copies = false;
    resizekernel::GatherColumns gather;
};

// The plan step.
SmoothedPlan planSmoothed(int32_t w, int32_t h, int32_t nw, int32_t nh) {
    const long double rx = static_cast<long double>(w) / nw;
    const long double ry = static_cast<long double>(h) / nh;
    SmoothedPlan plan;
    std::vector<Column>& cols = plan.cols;
    cols.resize(static_cast<size_t>(nw));
    for (int64_t x = 0; x < nw; ++x)
        cols[x] = resizekernel::columnAt(rx, x);
    plan.colTx.resize(static_cast<size_t>(nw));
    plan.colU.resize(static_cast<size_t>(nw));
    plan.colExact.resize(static_cast<size_t>(nw));
    for (int64_t x = 0; x < nw; ++x) {
        plan.colTx[x] = cols[x].tx;
        plan.colU[x] = cols[x].uApprox;
        plan.colExact[x] = cols[x].exact;
    }
    plan.rows.resize(static_cast<size_t>(nh));
    for (int64_t y = 0; y < nh; ++y)
        plan.rows[y] = resizekernel::rowAt(ry, y, w, h);
    plan.kernel = activeKernel();

    plan.copies = true; // every fraction 0: each pixel is its base pixel
    for (int64_t x = 0; x < nw && plan.copies; ++x)
        plan.copies = cols[x].u == 0;
    for (int64_t y = 0; y < nh && plan.copies; ++y)
        plan.copies = plan.rows[y].v == 0;
    if (plan.copies && plan.kernel == Kernel::Avx512)
        plan.gather = resizekernel::gatherColumns(plan.colTx.data(), nw);

    DyadicColumns& dyadicCols = plan.dyadicCols;
    if (plan.kernel == Kernel::Avx512) {
        int k = 0;
        for (int64_t x = 0; x < nw && k >= 0; ++x) {
            const int kx = dyadicExponent(cols[x].u);
            k = kx < 0 ? -1 : std::max(k, kx);
        }
        for (int64_t y = 0; y < nh && k >= 0; ++y) {
            const long double fy = static_cast<long double>(y) * ry;
            const int ky = dyadicExponent(fy - truncl(fy));
            k = ky < 0 ? -1 : std::max(k, ky);
        }
        if (k > 0) {
            const int64_t outBytes = 3 * int64_t{nw};
            dyadicCols.k = k;
            dyadicCols.first.assign(static_cast<size_t>(outBytes / 32 + 1), -1);
            dyadicCols.index.assign(static_cast<size_t>(outBytes), 0);
            dyadicCols.weight.assign(static_cast<size_t>(outBytes), 0);
            for (int64_t j0 = 0; j0 + 32 <= outBytes; j0 += 32) {
                const int64_t first = 3 * int64_t{cols[j0 / 3].tx}; // channel 0 of its first pixel
                const int64_t last = 3 * int64_t{cols[(j0 + 31) / 3].tx} + 2;
                if (last + 3 - first > 63) continue; // the chunk needs a wider window
                dyadicCols.first[static_cast<size_t>(j0 / 32)] = static_cast<int32_t>(first);
                for (int64_t j = j0; j < j0 + 32; ++j) {
                    dyadicCols.index[j] =
                        static_cast<uint8_t>(3 * int64_t{cols[j / 3].tx} + j % 3 - first);
                    dyadicCols.weight[j] = static_cast<uint16_t>(ldexpl(cols[j / 3].u, k));
                }
            }
        }
    }
    return plan;
}

// The row step: output row `row` of the plan into `out`, by the integer
// path as far as it goes, then the chosen kernel.  The last source row,
// whose row below is itself, is left to the scalar form.
void smoothedRow(const SmoothedRun r, const Row row, const DyadicColumns& dyadicCols, Kernel kernel,
                 TPtImg* out) {
    int64_t x = 0;
    if (dyadicCols.k > 0 && !row.lastRow) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(r.src);
        const int64_t done =
            resizekernel::rowDyadic(bytes + 3 * row.rowStart, bytes + 3 * r.total, 3 * r.w,
                                    dyadicCols, static_cast<int>(ldexpl(row.v, dyadicCols.k)),
                                    reinterpret_cast<uint8_t*>(out), 3 * r.nw);
        x = done / 3; // a pixel cut by the last chunk is redone whole below
    }
    if (x == 0 && kernel == Kernel::Avx512 && !row.lastRow) {
        resizekernel::rowAvx512(r, row, out);
        return;
    }
    if (kernel == Kernel::Avx2 && !row.lastRow) {
        resizekernel::rowAvx2(r, row, out);
        return;
    }
    for (; x < r.nw; ++x)
        resizekernel::smoothedPixel(r, row, x, out);
}

} // namespace

void resizeNearest(const TPtImg* src, int32_t w, int32_t h, TPtImg* dst, int32_t nw, int32_t nh) {
    checkSizes(w, h, nw, nh);
    const long double rx = static_cast<long double>(w) / nw;
    const long double ry = static_cast<long double>(h) / nh;

    // Column offsets within a row; sx = W runs into the next row except on the
    // last row, where it stops at the last pixel.
    std::vector<int32_t> sx(static_cast<size_t>(nw)), sxLast(static_cast<size_t>(nw));
    for (int64_t x = 0; x < nw; ++x) {
        sx[x] = static_cast<int32_t>(rintl(static_cast<long double>(x) * rx));
        sxLast[x] = std::min(sx[x], w - 1);
    }
    const bool avx512 = activeKernel() == Kernel::Avx512;
    const resizekernel::GatherColumns gather =
        avx512 ? resizekernel::gatherColumns(sx.data(), nw) : resizekernel::GatherColumns{};
    // Blocks of output rows over the pool; within a block, a row that
    // samples the same source row as the one above copies it.
    parallelFor(nh, 64, [&](int64_t rowBegin, int64_t rowEnd) {
        const TPtImg* const source = src;
        TPtImg* const target = dst;
        const int64_t width = w, height = h, newWidth = nw;
        const long double stepY = ry;
        const int32_t* const colsAll = sx.data();
        const int32_t* const colsLast = sxLast.data();
        int64_t previous = -1;
        const auto sourceRow = [&](int64_t y) {
            return std::min<int64_t>(
                static_cast<int64_t>(rintl(static_cast<long double>(y) * stepY)), height - 1);
        };
        for (int64_t y = rowBegin; y < rowEnd; ++y) {
            const int64_t sy = sourceRow(y);
            TPtImg* out = target + y * newWidth;
            if (sy == previous) {
                std::memcpy(out, out - newWidth, static_cast<size_t>(newWidth) * sizeof(TPtImg));
                continue;
            }
            previous = sy;
            const TPtImg* row = source + sy * width;
            const int32_t* cols = sy == height - 1 ? colsLast : colsAll;
            int64_t x = 0;
            if (avx512 && cols == colsAll)
                x = resizekernel::gatherRowAvx512(
                    row, source + width * height, cols, gather, out, newWidth,
                    y + 1 < rowEnd ? source + sourceRow(y + 1) * width : nullptr);
            for (; x < newWidth; ++x)
                out[x] = row[cols[x]];
        }
    });
}

void resizeSmoothed(const TPtImg* src, int32_t w, int32_t h, TPtImg* dst, int32_t nw, int32_t nh) {
    checkSizes(w, h, nw, nh);
    const SmoothedPlan plan = planSmoothed(w, h, nw, nh);
    const SmoothedRun run{src,
                          plan.cols.data(),
                          plan.colTx.data(),
                          plan.colU.data(),
                          plan.colExact.data(),
                          w,
                          int64_t{w} * h,
                          nw};
    // Blocks of output rows over the pool; within a block, a row with the
    // same source row and fraction as the one above copies it.
    parallelFor(nh, 32, [&](int64_t rowBegin, int64_t rowEnd) {
        const Row* const rows = plan.rows.data();
        TPtImg* const target = dst;
        const int64_t newWidth = nw;
        for (int64_t y = rowBegin; y < rowEnd; ++y) {
            TPtImg* out = target + y * newWidth;
            if (y > rowBegin && rows[y].ty == rows[y - 1].ty && rows[y].v == rows[y - 1].v) {
                std::memcpy(out, out - newWidth, static_cast<size_t>(newWidth) * sizeof(TPtImg));
                continue;
            }
            if (!plan.copies) {
                smoothedRow(run, rows[y], plan.dyadicCols, plan.kernel, out);
                continue;
            }
            const TPtImg* row = run.src + rows[y].rowStart;
            int64_t x = 0;
            if (plan.kernel == Kernel::Avx512)
                x = resizekernel::gatherRowAvx512(
                    row, run.src + run.total, run.tx, plan.gather, out, newWidth,
                    y + 1 < rowEnd ? run.src + rows[y + 1].rowStart : nullptr);
            for (; x < newWidth; ++x)
                out[x] = row[run.tx[x]];
        }
    });
}

} // namespace talvine::engines
