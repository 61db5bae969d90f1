// The distortion's pieces shared by its scalar and vector paths: the exact
// 80-bit pixel, the double-precision offsets with their error bound, and one
// pixel by either.  Internal to the engines.
#pragma once

#include "engines/Bilinear.h"
#include "engines/CorrDistor.h"
#include "engines/FastBlend.h"

#include <cmath>
#include <cstdint>

namespace talvine::engines::distortionkernel {

// One destination pixel from the truncated offset (sx, sy) and the source
// fractions; pixels without a source are left alone.
void sample(const TPtImg* src, TPtImg* dst, int64_t W, int64_t cx, int64_t cy, int64_t limit,
            int64_t last, Sampling sampling, int64_t sx, int64_t sy, long double fx,
            long double fy);

// The geometry depends on |dx| and |dy| only up to sign: r is the same for
// the four mirror offsets, and negating dx negates dx*s and dx*s/r exactly,
// in 80 bits as in double.  So the offsets are formed once per (|dx|, |dy|),
// for a row of |dx| at a time, in double, and the two destination rows
// cy - |dy| and cy + |dy| are written from that one table.  Where double
// cannot decide a truncation or a rounding, the pixel is computed by the
// exact formula (FastBlend.h).
//
// Error of the double offsets.  In reals s/r = g/(k*r + 1) (g/(k*r*r + 1)
// for the square law), so the fast path forms the factor
//     t = g / (k*r + 1)    or    t = g / (k*n + 1),  n = dx*dx + dy*dy,
// with one square root (none for the square law) and one division, and the
// offsets X = |dx|*t, Y = |dy|*t.  Every destination pixel has r <= Rmax, so
// |k*r| <= 0.8 (|k*n| <= 0.4) and the denominator is at least 0.2 (0.6).
// Each operation rounds by at most 2^-53 relatively and k and g are rounded
// once to double: r carries 1.5 * 2^-53 (n rounded to double, then its
// square root; n alone 2^-53), k 2^-53 and k*r one more, so the
// denominator errs by at most 0.8 * 3.5 * 2^-53 + 2^-53 = 3.8 * 2^-53
// absolutely, at most 19 * 2^-53 relatively; g, the quotient and the
// product with |dx| add 3 * 2^-53, so the offsets are within 22 * 2^-53 <
// 2^-48 relatively of the real ones, and the 80-bit values (a dozen
// operations of 2^-64 each) are within 2^-60 of them.  With
// |X| <= |dx| * g / (k*r + 1) <= 1.8 * |dx| / 0.2 <= 9 * Rmax, the offsets
// are within 2^-48 * 9 * Rmax < 2^-44 * (W + H) = E of the 80-bit ones
// (offsetBound).  Zero offsets are exact in both.  Rate 0 is the identity
// and copies.

// The law in double, for the fast path.
struct LawD {
    bool square;
    double k, g;
};

// The factor t of (|dx|, |dy|) = (a, b), not both 0: the offsets are a*t, b*t.
inline double offsetFactor(const LawD& law, int64_t a, int64_t b) {
    const double n = static_cast<double>(a * a + b * b);
    return law.square ? law.g / (law.k * n + 1) : law.g / (law.k * std::sqrt(n) + 1);
}

// The source offset of (|dx|, |dy|) in double: within E of the 80-bit one.
inline void offsetD(const LawD& law, int64_t adx, int64_t ady, double& X, double& Y) {
    const double t = offsetFactor(law, adx, ady);
    X = static_cast<double>(adx) * t;
    Y = static_cast<double>(ady) * t;
}

// E, the bound above, for a W x H picture.
inline double offsetBound(int64_t W, int64_t H) {
    return 0x1p-44 * (static_cast<double>(W) + static_cast<double>(H));
}

// The split of a signed offset: exact for a zero offset (a zero |dx| gives
// X = 0 exactly in either precision), screened otherwise.
inline bool splitOffset(int64_t a, double value, double e, fast::Split& out) {
    if (a == 0) {
        out = {0, 0.0};
        return true;
    }
    return fast::splitPosition(value, e, out);
}

// Everything one run needs, exact and approximate.  The row functions take
// it by value: a copy of their own, which their byte stores cannot alias,
// stays in registers.
struct DistortionRun {
    const TPtImg* src;
    TPtImg* dst;
    int64_t W, H, cx, cy, limit, last;
    Sampling sampling;
    distortion::Law law;
    LawD lawD;
    double e, margin;
    float halfLessMarginF; // 1/2 less the single-precision margin, rounded down
};

// The exact pixel at the signed offset (dx, dy), as the reference computes it.
inline void exactPixel(const DistortionRun& r, int64_t dx, int64_t dy, TPtImg* out) {
    const distortion::Offset o = distortion::sourceOffset(r.law, dx, dy);
    const long double tx = truncl(o.X), ty = truncl(o.Y);
    const long double fx = detail::fracUp(o.X, tx), fy = detail::fracUp(o.Y, ty);
    sample(r.src, out, r.W, r.cx, r.cy, r.limit, r.last, r.sampling, static_cast<int64_t>(tx),
           static_cast<int64_t>(ty), fx, fy);
}

// The offsets of one |dy| for the |dx| from `first` on: X[adx - first],
// Y[adx - first].
struct OffsetTable {
    const double* X;
    const double* Y;
    int64_t first;
};

// One destination pixel of row y at x, from the table of |dx| offsets of
// its |dy| row; returns whether the exact formula ran.
inline bool distortionPixel(const DistortionRun& r, const OffsetTable& t, int64_t ady, bool up,
                            int64_t x, int64_t y, TPtImg* row) {
    const bool left = x < r.cx;
    const int64_t adx = left ? r.cx - x : x - r.cx;
    const double X = left ? -t.X[adx - t.first] : t.X[adx - t.first];
    const double Y = up ? -t.Y[adx - t.first] : t.Y[adx - t.first];
    fast::Split sx, sy;
    if (splitOffset(adx, X, r.e, sx) && splitOffset(ady, Y, r.e, sy)) {
        const int64_t u = (r.cx + sx.trunc) + r.W * (r.cy + sy.trunc);
        if (u < 0 || u >= r.limit) return false;
        if (r.sampling == Sampling::Nearest) {
            row[x] = r.src[u];
            return false;
        }
        const int64_t diag = u + r.W + 1 <= r.last ? u + r.W + 1 : r.last;
        if (fast::blendScreened(r.src[diag], r.src[u + 1], r.src[u], r.src[u + r.W], sx.frac,
                                sy.frac, r.margin, row[x]))
            return false;
    }
    exactPixel(r, x - r.cx, y - r.cy, row + x);
    return true;
}

// The pixels x0 .. x1 - 1 of the row y = cy -+ ady in AVX-512
// (CorrDistorAvx512.cpp), from its table, which holds every |dx| of those
// pixels; returns how many took the exact formula.
int64_t rowAvx512(const DistortionRun r, const OffsetTable& t, int64_t ady, bool up, int64_t y,
                  int64_t x0, int64_t x1, TPtImg* row);

// The offsets of |dx| = a0 .. a1 - 1 for one |dy| into X[0 ..], Y[0 ..],
// as offsetD forms them, eight at a time (the same operations lane by lane,
// so the same doubles).
void tableAvx512(const LawD& law, int64_t ady, int64_t a0, int64_t a1, double* X, double* Y);

} // namespace talvine::engines::distortionkernel
