// The tilt's pieces shared by its scalar and vector paths: the exact
// 80-bit positions and blend, the double-precision positions with their
// error bound, and one pixel by either (the span loop the vector paths run
// is fast::spans, FastBlend.h).  Internal to the engines.
#pragma once

#include "engines/Bilinear.h"
#include "engines/FastBlend.h"
#include "engines/FixedPoint.h"
#include "engines/ModifAngle.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace talvine::engines::tiltkernel {

// Signed 128-bit products keep the bilinear base index exact for any centre
// the host may report (offsets reach 2^34, widths 2^31).
#if defined(__SIZEOF_INT128__)
__extension__ typedef __int128 Int128;
#else
// 32-bit targets have no 128-bit integers.  A product or sum that leaves 64
// bits lies far outside any picture, and so does the 64-bit extreme it is
// held at instead: every index that is tested inside is exact.
struct Int128 {
    explicit Int128(int64_t value) : v(value) {}
    operator int64_t() const { return v; }
    friend Int128 operator*(Int128 a, int64_t b) {
        int64_t r;
        if (__builtin_mul_overflow(a.v, b, &r)) r = (a.v < 0) != (b < 0) ? INT64_MIN : INT64_MAX;
        return Int128(r);
    }
    friend Int128 operator+(Int128 a, int64_t b) {
        int64_t r;
        if (__builtin_add_overflow(a.v, b, &r)) r = b < 0 ? INT64_MIN : INT64_MAX;
        return Int128(r);
    }
    int64_t v;
};
#endif

constexpr TPtImg kWhite{{255, 255, 255}};

struct SinCos {
    long double sin;
    long double cos;
};

inline SinCos sinCos(long double angle) {
    return {sinl(angle), cosl(angle)};
}

// Trunc: truncl, or in the fast loop a conversion to 64 bits and back (one
// fisttp, which truncates whatever the rounding mode); both are exact for
// the |values| < 2^35 met here.
template <bool Fast> long double trunc80(long double v) {
    if constexpr (Fast)
        return static_cast<long double>(static_cast<int64_t>(v));
    else
        return truncl(v);
}

// One bilinear destination pixel from the source point (fx, fy).
template <bool Fast>
inline TPtImg bilinearAt(const TPtImg* src, int64_t w, int64_t count, long double fx,
                         long double fy) {
    const long double tx = trunc80<Fast>(fx), ty = trunc80<Fast>(fy);
    const Int128 m = static_cast<Int128>(static_cast<int64_t>(ty)) * w + static_cast<int64_t>(tx);
    if (m < w || m >= count - w - 1) return kWhite;
    const int64_t base = static_cast<int64_t>(m);
    return detail::blend(src[base + w + 1], src[base + 1], src[base], src[base + w],
                         detail::fracUp(fx, tx), detail::fracUp(fy, ty));
}

// The same arithmetic, row by row and in double where double decides.
//
// The exact path: the row's products (dy*sin, dy*cos) are formed once per
// row, since a product of the same two values rounds the same wherever it is
// formed, and the sums and differences stay those of the reference, so the
// bytes are identical.
//
// The fast path forms X and Y in double from sin and cos rounded to double.
// With c = cos, s = sin (|c|, |s| <= 1) each rounds by at most 2^-54; the
// products dx*c and dy*s then differ from the 80-bit ones by at most
// |dx|*(2^-54 + 2^-53 + 2^-64) (conversion, double and 80-bit rounding), and
// the difference and the addition of the centre round once more in each
// precision, by 2^-53 of at most |x1| + |dx| + |dy| + 1.  So
//     |fx_double - fx_80| <= 2^-50 * (|x1| + |dx| + |dy| + 1)
// and with |dx| <= W + |x1|, |dy| <= H + |y1| for every destination pixel,
// E = 2^-48 * (W + H + 2*(|x1| + |y1|) + 2) bounds both coordinates
// (FastBlend.h takes it from there).  The nearest method stays in 80 bits:
// its two truncations cost less than two screened splits.
// The source position of pixel x in double, within E of the 80-bit one.
// The vector paths form each lane alike (the same operations in the same
// order on the same integer dx, exact in double), so the same doubles.
struct PositionD {
    double x, y;
};

// The AVX-512 kernels' positions in fixed point (FixedPoint.h): steps of
// cos and sin from a tile's row's first pixel.  Against the 80-bit
// position of a pixel n on, that pixel's positionD plus n steps of the
// double cos (or sin) is off by at most e/2: the 80-bit positions lie
// within 2^-62 of their reals relative to |x1| + |dx| + |dy|, the reals
// are affine (R(x + n) = R(x) + n*cos exactly), positionD is within e/4,
// and |cos_double - cos| <= 2^-54 adds at most W*2^-54 over a row.  So
// fixedBound(e) bounds every lane (a tile's row is at most kTileColumns =
// 384 pixels), and where a lane decides, the 80-bit position truncates as
// its floor, both being positive (the window starts at column 1 and row 1
// or further).
struct TiltFixed {
    fast::FixedAxis x, y; // steps of cos and sin
    fast::FixedDecision d;
};

inline TiltFixed tiltFixed(double cosD, double sinD, double eFixed, double marginSingle) {
    TiltFixed f{fast::fixedAxis(cosD), fast::fixedAxis(sinD),
                fast::fixedDecision(eFixed, marginSingle)};
    f.d.usable = f.d.usable && f.x.usable && f.y.usable; // always: |cos|, |sin| <= 1
    return f;
}

// A tile's row from its first pixel's position: false where it is too far
// out for the fixed point.
inline bool fixedStart(PositionD p, int64_t& x, int64_t& y) {
    return fast::fixedStart(p.x, x) && fast::fixedStart(p.y, y);
}

// Group j of the row from (x, y): its window's start (column, line) and
// lane 0's position from it in units of 2^-26; false when the window would
// start left of column 1 or above row 1.
struct FixedGroup {
    int64_t column, line;
    int32_t x, y;
};

inline bool fixedGroup(const TiltFixed& f, int64_t x, int64_t y, int64_t j, FixedGroup& g) {
    return fast::fixedGroup(f.x, x, j, g.column, g.x) && fast::fixedGroup(f.y, y, j, g.line, g.y);
}

// Everything one bilinear run needs, exact and approximate.  The span
// functions take it by value: a copy of their own, which their byte stores
// cannot alias, stays in registers.
struct TiltRun {
    const TPtImg* src;
    int64_t W, count, x1, y1;
    SinCos sc;
    double cosD, sinD, x1D, y1D, e, margin;
    float halfLessMarginF; // 1/2 less the single-precision margin, rounded down
    // The blends' read-ahead inside a tile: from the first source row a
    // sixteen-pixel group reads, how many rows on (or back, negative) lies
    // the row that the destination row four rows further in the tile's walk
    // reads first (ModifAngle.cpp).
    int64_t aheadRows;
    TiltFixed fixed; // the AVX-512 blends' fixed-point positions
};

// Tiles of 32 rows by 384 columns (a multiple of 16, so that tiles end
// where the sixteen-pixel groups do).  Measured at +-3.4 degrees, best of
// three runs, one thread: 16 x 128 took 34 ms nearest and 70 blended;
// 16 x 384, 30 and 66; 32 x 384, 28 and 65 (64 rows no better, 8 worse,
// columns from 64 to 1024 tried); two threads alike.
constexpr int64_t kTileRows = 32, kTileColumns = 384;
static_assert(kTileColumns <= fast::kFixedSpan, "the fixed point's bound covers a tile's row");

struct TiltRow {
    long double sin, cos; // dy*sin, dy*cos in 80 bits
    double sinD, cosD;    // the same in double
};

inline PositionD positionD(const TiltRun& r, const TiltRow& row, int64_t x) {
    const double dx = static_cast<double>(x - r.x1);
    return {r.x1D + (dx * r.cosD - row.sinD), r.y1D + (dx * r.sinD + row.cosD)};
}

// One bilinear pixel: in double when double decides, else exactly.  Returns
// whether the exact formula ran.
inline bool tiltPixel(const TiltRun& r, const TiltRow& row, int64_t x, TPtImg& out) {
    const int64_t dx = x - r.x1;
    const PositionD p = positionD(r, row, x);
    fast::Split sx, sy;
    if (fast::splitPosition(p.x, r.e, sx) && fast::splitPosition(p.y, r.e, sy)) {
        const int64_t m = sy.trunc * r.W + sx.trunc;
        if (m < r.W || m >= r.count - r.W - 1) {
            out = kWhite;
            return false;
        }
        if (fast::blendScreened(r.src[m + r.W + 1], r.src[m + 1], r.src[m], r.src[m + r.W], sx.frac,
                                sy.frac, r.margin, out))
            return false;
    }
    out = bilinearAt<true>(r.src, r.W, r.count, r.x1 + (dx * r.sc.cos - row.sin),
                           r.y1 + (dx * r.sc.sin + row.cos));
    return true;
}

// The source pixels a turned row reads lie on a slanted line that crosses a
// source row every 1/|sin| pixels, a pattern no hardware prefetcher follows.
// While a tile's row is worked on, the same row of the next tile asks for
// its source lines (and those of the row below for the blends): one request
// every 16 columns, each row found in double (a line too many or too few is
// harmless, being a hint).
inline void prefetchSpan(const TiltRun& r, const TiltRow& row, int64_t x0, int64_t x1, int64_t h,
                         bool below) {
    for (int64_t x = x0; x < x1; x += 16) {
        const auto [fx, fy] = positionD(r, row, x);
        if (!(fx >= 0 && fy >= 0 && fx < static_cast<double>(r.W) && fy < static_cast<double>(h)))
            continue;
        const int64_t m = static_cast<int64_t>(fy) * r.W + static_cast<int64_t>(fx);
        __builtin_prefetch(r.src + m);
        if (below && m + r.W < r.count) __builtin_prefetch(r.src + m + r.W);
    }
}

// The nearest method's one 80-bit pixel.  The vector path's offsets
// X = dx*cos - dy*sin and Y = dx*sin + dy*cos are the bilinear positions
// without the centre added, so they too lie within E of their 80-bit
// values.
inline TPtImg nearestAt(const TiltRun& r, const TiltRow& row, int64_t x, int64_t h) {
    const int64_t dx = x - r.x1;
    const int64_t px = static_cast<int64_t>(dx * r.sc.cos - row.sin) + r.x1;
    const int64_t py = static_cast<int64_t>(dx * r.sc.sin + row.cos) + r.y1;
    return px >= 0 && px < r.W && py >= 0 && py < h ? r.src[py * r.W + px] : kWhite;
}

// The rows of each kernel: the pixels x0 .. x1 - 1 of one destination row;
// the bilinear ones return how many pixels took the exact formula.
int64_t rowBaseline(const TiltRun r, const TiltRow& row, int64_t x0, int64_t x1, TPtImg* out);
int64_t rowAvx2(const TiltRun r, const TiltRow& row, int64_t x0, int64_t x1, TPtImg* out);
int64_t rowAvx512(const TiltRun r, const TiltRow& row, int64_t x0, int64_t x1, TPtImg* out);
void nearestRowAvx512(const TiltRun r, const TiltRow& row, int64_t x0, int64_t x1, int64_t h,
                      TPtImg* out);

} // namespace talvine::engines::tiltkernel
