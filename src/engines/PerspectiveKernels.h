// The perspective's pieces shared by its scalar and vector paths: the
// bounds on positions, the exact 80-bit pixel, the rows and their
// double-precision column with its error bound, and one pixel by either.
// Internal to the engines.
#pragma once

#include "engines/Bilinear.h"
#include "engines/FastBlend.h"
#include "engines/FixedPoint.h"
#include "engines/Perspective.h"

#include <cmath>
#include <cstdint>

namespace talvine::engines::perspectivekernel {

// Source heights stay within [0, 2H] for any accepted plan, so a row beyond
// +-2^31 cannot occur; a column beyond +-2^62 lies at least 2^32 pixels away
// from the picture whatever the row.  Positions past these bounds (NaN
// among them) have no source, and every accepted one converts to 64 bits
// without overflow: |row*W| < 2^62, |column| < 2^62.
constexpr long double kRowBound = 2147483648.0L;             // 2^31
constexpr long double kColumnBound = 4611686018427387904.0L; // 2^62

inline bool inBounds(long double rowPos, long double column) {
    return fabsl(rowPos) < kRowBound && fabsl(column) < kColumnBound;
}

// The downward fraction of the source row: 1 - Frac(f), or 0 when f is whole.
inline long double rowFraction(long double f) {
    const long double fr = f - truncl(f);
    return fr != 0 ? 1 - fr : 0;
}

// Fast: Trunc by a conversion to 64 bits (one fisttp), exact within the
// bounds checked first; otherwise truncl.
template <bool Fast>
inline void sample(const TPtImg* src, TPtImg* dst, int64_t W, int64_t count, Sampling sampling,
                   long double rowPos, long double column, long double fy) {
    if (!inBounds(rowPos, column)) return;
    const int64_t column64 = static_cast<int64_t>(Fast ? column : truncl(column));
    const int64_t u = static_cast<int64_t>(Fast ? rowPos : truncl(rowPos)) * W + column64;
    if (sampling == Sampling::Nearest) {
        if (u >= 0 && u <= count - 1) *dst = src[u];
        return;
    }
    if (u < 0 || u >= count - W) return;
    const long double tColumn = Fast ? static_cast<long double>(column64) : truncl(column);
    const long double fx = detail::fracUp(column, tColumn);
    // At u = count - W - 1 the diagonal neighbour is one past the end: the
    // last pixel stands in for it.
    const int64_t diag = u + W + 1 <= count - 1 ? u + W + 1 : count - 1;
    *dst = detail::blend(src[diag], src[u + 1], src[u], src[u + W], fx, fy);
}

// The fast path: the reference's arithmetic with everything that depends on
// the row alone (the source height with its square root, Vy - f, f*Vx,
// H - f, its truncation and the row fraction) formed once per row in 80
// bits (rowOf), and the column X = ((Vy - f)*x + f*Vx) / Vy in double where
// double decides.
//
// Error of the double column: Vy - f, f*Vx and Vy rounded to double are
// each within 2^-53 of their 80-bit values (relatively); the product with
// the integer x, the sum and the quotient round once each by 2^-53, and the
// 80-bit expression itself rounds three times by 2^-64.  With
// Q = (|Vy - f|*W + |f*Vx|) / |Vy|, which bounds |X| and the quotient of
// every partial sum, |X_double - X_80| <= 5 * 2^-53 * Q + 2^-60 < 2^-50 * Q +
// 2^-60.  Each row takes E = 2^-48 * Q + 2^-52 (rowOf), which leaves room
// for the rounding of Q itself.  The row's own truncation and fraction stay
// 80-bit, so the fraction v is within 2^-54 of its value in double.  Rows
// whose height is beyond 2^31 go through the exact formula.

//
// The AVX-512 kernel also steps the column in fixed point (FixedPoint.h),
// from a tile's first double column by the double slope (Vy - f) / Vy.
// With the 80-bit column's own rounding (three times 2^-64 of Q) against
// the real ((Vy - f)*x + f*Vx) / Vy, which is affine, and the slope within
// 3.01 * 2^-53 of its real (three roundings), n steps of it within
// 3.01 * 2^-53 * Q over a row (n * |slope| <= Q), a tile's start carried on
// is within 2^-50 * Q + 2^-60 + 2^-61 * Q + 3.01 * 2^-53 * Q < E of the
// 80-bit column: fixedBound(E) bounds every lane.

// One destination row of a run: its exact 80-bit quantities, and the double
// ones of the fast path.
struct PerspectiveRow {
    long double vyf, fvx, rowPos, fy; // Vy - f, f*Vx, H - f, row fraction
    bool fast;                        // the row's truncation is known
    int64_t rowBase;                  // Trunc(H - f) * W
    double vyfD, fvxD, fyD, e, margin;
    float halfLessMarginF; // 1/2 less the single-precision margin, rounded down
    fast::FixedAxis steps; // the column's fixed-point steps
    fast::FixedDecision fixed;
};

// Everything a run needs besides its rows.  The span functions take the run
// and the row by value: copies of their own, which their byte stores cannot
// alias, stay in registers.
struct PerspectiveRun {
    const TPtImg* src;
    int64_t W, count;
    Sampling sampling;
    long double Vy;
    double VyD;
};

// The row of source height f, in 80 bits and in double, with its bound E
// and blend margin.
inline PerspectiveRow rowOf(const PerspectiveRun& r, int64_t H, long double f, long double Vx) {
    PerspectiveRow row;
    row.vyf = r.Vy - f;
    row.fvx = f * Vx;
    row.rowPos = H - f;
    row.fy = r.sampling == Sampling::Bilinear ? rowFraction(f) : 0;
    row.fast = fabsl(row.rowPos) < kRowBound;
    row.rowBase = row.fast ? static_cast<int64_t>(row.rowPos) * r.W : 0;
    row.vyfD = static_cast<double>(row.vyf);
    row.fvxD = static_cast<double>(row.fvx);
    row.fyD = static_cast<double>(row.fy);
    const double q =
        (std::fabs(row.vyfD) * static_cast<double>(r.W) + std::fabs(row.fvxD)) / std::fabs(r.VyD);
    row.e = 0x1p-48 * q + 0x1p-52;
    row.margin = fast::blendMargin(row.e);
    row.halfLessMarginF = fast::halfLessSingle(fast::blendMarginSingle(row.e));
    row.fast = row.fast && std::isfinite(row.e);
    const double eFixed = fast::fixedBound(row.e);
    row.steps = fast::fixedAxis(row.vyfD / r.VyD);
    row.fixed = fast::fixedDecision(eFixed, fast::blendMarginSingle(eFixed));
    return row;
}

// The exact pixel, as the reference computes it.
inline void exactPixel(const PerspectiveRun& r, const PerspectiveRow& row, int64_t x, TPtImg* out) {
    sample<true>(r.src, out, r.W, r.count, r.sampling, row.rowPos, (row.vyf * x + row.fvx) / r.Vy,
                 row.fy);
}

// One pixel in double where double decides; returns whether the exact
// formula ran.
inline bool perspectivePixel(const PerspectiveRun& r, const PerspectiveRow& row, int64_t x,
                             TPtImg* out) {
    fast::Split sx;
    if (row.fast &&
        fast::splitPosition((row.vyfD * static_cast<double>(x) + row.fvxD) / r.VyD, row.e, sx)) {
        const int64_t u = row.rowBase + sx.trunc;
        if (r.sampling == Sampling::Nearest) {
            if (u >= 0 && u <= r.count - 1) *out = r.src[u];
            return false;
        }
        if (u < 0 || u >= r.count - r.W) return false;
        const int64_t diag = u + r.W + 1 <= r.count - 1 ? u + r.W + 1 : r.count - 1;
        if (fast::blendScreened(r.src[diag], r.src[u + 1], r.src[u], r.src[u + r.W], sx.frac,
                                row.fyD, row.margin, *out))
            return false;
    }
    exactPixel(r, row, x, out);
    return true;
}

// The spans of each kernel: the pixels x0 .. x1 - 1 of one destination row;
// they return how many pixels took the exact formula.
int64_t spanBaseline(const PerspectiveRun r, const PerspectiveRow row, int64_t x0, int64_t x1,
                     TPtImg* out);
int64_t spanAvx2(const PerspectiveRun r, const PerspectiveRow row, int64_t x0, int64_t x1,
                 TPtImg* out);
int64_t spanAvx512(const PerspectiveRun r, const PerspectiveRow row, int64_t x0, int64_t x1,
                   TPtImg* out);

} // namespace talvine::engines::perspectivekernel
