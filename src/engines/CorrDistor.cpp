#include "engines/CorrDistor.h"

#include "engines/Dispatch.h"
#include "engines/FastBlend.h"
#include "engines/FastBlendAvx512.h"
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

int64_t checkedCount(int32_t w, int32_t h, const DistortionParams& p) {
    if (p.position < -100 || p.position > 100)
        throw std::invalid_argument("distortion rate outside -100..100");
    if (w < 0 || h < 0) throw std::invalid_argument("negative picture size");
    const int64_t count = int64_t{w} * h;
    if (count > INT32_MAX) throw std::invalid_argument("picture too large");
    return count;
}

// One destination pixel from the truncated offset (sx, sy) and the source
// fractions; pixels without a source are left alone.
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

} // namespace

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

// The law in double, for the fast path.
struct LawD {
    bool square;
    double k, g;
};

// The source offset of (|dx|, |dy|) in double: within E of the 80-bit one.
inline void offsetD(const LawD& law, int64_t adx, int64_t ady, double& X, double& Y) {
    const double r = std::sqrt(static_cast<double>(adx * adx + ady * ady));
    const double rho = law.square ? r / (law.k * r * r + 1) : r / (law.k * r + 1);
    const double s = law.g * rho;
    X = static_cast<double>(adx) * s / r;
    Y = static_cast<double>(ady) * s / r;
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

struct DistortionRun {
    const TPtImg* src;
    TPtImg* dst;
    int64_t W, H, cx, cy, limit, last;
    Sampling sampling;
    Law law;
    LawD lawD;
    double e, margin;
};

// The exact pixel at the signed offset (dx, dy), as the reference computes it.
void exactPixel(const DistortionRun& r, int64_t dx, int64_t dy, TPtImg* out) {
    const Offset o = sourceOffset(r.law, dx, dy);
    const long double tx = truncl(o.X), ty = truncl(o.Y);
    const long double fx = detail::fracUp(o.X, tx), fy = detail::fracUp(o.Y, ty);
    sample(r.src, out, r.W, r.cx, r.cy, r.limit, r.last, r.sampling, static_cast<int64_t>(tx),
           static_cast<int64_t>(ty), fx, fy);
}

// One destination pixel of row y at x, from the table of |dx| offsets of
// its |dy| row; returns whether the exact formula ran.
inline bool distortionPixel(const DistortionRun& r, const double* tX, const double* tY, int64_t ady,
                            bool up, int64_t x, int64_t y, TPtImg* row) {
    const bool left = x < r.cx;
    const int64_t adx = left ? r.cx - x : x - r.cx;
    const double X = left ? -tX[adx] : tX[adx];
    const double Y = up ? -tY[adx] : tY[adx];
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

// Eight bilinear pixels at x, all on one side of the centre column and off
// the centre row, in AVX-512; false when a lane needs the scalar path.
TALVINE_AVX512 inline bool distortionOctAvx512(const DistortionRun& r, const double* tX,
                                               const double* tY, bool up, int64_t x, TPtImg* row) {
    const __m512i reverse = _mm512_setr_epi64(7, 6, 5, 4, 3, 2, 1, 0);
    const __m512d sign = _mm512_set1_pd(-0.0);
    __m512d X, Y;
    if (x >= r.cx) {
        X = _mm512_loadu_pd(tX + (x - r.cx));
        Y = _mm512_loadu_pd(tY + (x - r.cx));
    } else { // |dx| falls from cx - x: the table backwards, X negated
        X = _mm512_xor_pd(_mm512_permutexvar_pd(reverse, _mm512_loadu_pd(tX + (r.cx - x - 7))),
                          sign);
        Y = _mm512_permutexvar_pd(reverse, _mm512_loadu_pd(tY + (r.cx - x - 7)));
    }
    if (up) Y = _mm512_xor_pd(Y, sign);
    const __m512d e = _mm512_set1_pd(r.e);
    __m512d u, v;
    __mmask8 decidedX, decidedY;
    const __m512i sx = fast::split8(X, e, u, decidedX);
    const __m512i sy = fast::split8(Y, e, v, decidedY);
    if ((decidedX & decidedY) != 0xFF) return false;
    const __m512i m =
        _mm512_add_epi64(_mm512_add_epi64(_mm512_mul_epi32(sy, _mm512_set1_epi64(r.W)), sx),
                         _mm512_set1_epi64(r.cx + r.W * r.cy));
    const __mmask8 inside = fast::inRange8(m, 0, r.limit);
    if (inside != fast::inRange8(m, 0, r.limit - 2)) return false;
    if (inside == 0) return true; // no source: left as it was
    __mmask8 ok = 0xFF;
    const __m512i words = fast::blend8(r.src, r.W, r.W + r.limit, _mm512_maskz_mov_epi64(inside, m),
                                       u, v, _mm512_set1_pd(r.margin), ok);
    if ((ok | static_cast<__mmask8>(~inside)) != 0xFF) return false;
    fast::store8(row + x, _mm512_mask_blend_epi64(inside, fast::load8(row + x), words));
    return true;
}

TALVINE_AVX512 int64_t distortionRowAvx512(const DistortionRun r, const double* tX,
                                           const double* tY, int64_t ady, bool up, int64_t y,
                                           TPtImg* row) {
    int64_t exact = 0;
    for (int64_t x = 0; x < r.W;) {
        // Groups of eight that do not straddle the centre column.
        const bool group = ady != 0 && x + 8 <= r.W && (x >= r.cx + 1 || x + 8 <= r.cx);
        if (group && distortionOctAvx512(r, tX, tY, up, x, row)) {
            x += 8;
            continue;
        }
        const int64_t end = group ? x + 8 : x + 1;
        for (; x < end; ++x)
            exact += distortionPixel(r, tX, tY, ady, up, x, y, row);
    }
    return exact;
}

// The rows cy + ady and cy - ady; returns the number of exact pixels.
int64_t distortionRows(const DistortionRun r, int64_t ady, std::vector<double>& table,
                       bool avx512) {
    // cx >= W - 1 - cx, so 0..cx covers every |dx|; likewise for rows.
    double* tX = table.data();
    double* tY = table.data() + (r.cx + 1);
    for (int64_t adx = 0; adx <= r.cx; ++adx) {
        if (adx == 0 && ady == 0) {
            tX[0] = tY[0] = 0; // the centre: offset (0, 0)
            continue;
        }
        offsetD(r.lawD, adx, ady, tX[adx], tY[adx]);
    }
    int64_t exact = 0;
    for (int side = 0; side < 2; ++side) {
        if (side == 1 && ady == 0) break;
        const int64_t y = side == 0 ? r.cy + ady : r.cy - ady;
        if (y >= r.H) continue;
        const bool up = side == 1;
        TPtImg* row = r.dst + y * r.W;
        if (avx512 && r.sampling == Sampling::Bilinear) {
            exact += distortionRowAvx512(r, tX, tY, ady, up, y, row);
            continue;
        }
        for (int64_t x = 0; x < r.W; ++x)
            exact += distortionPixel(r, tX, tY, ady, up, x, y, row);
    }
    return exact;
}

} // namespace

// The geometry depends on |dx| and |dy| only up to sign: r is the same for
// the four mirror offsets, and negating dx negates dx*s and dx*s/r exactly,
// in 80 bits as in double.  So the offsets are formed once per (|dx|, |dy|),
// for a row of |dx| at a time, in double, and the two destination rows
// cy - |dy| and cy + |dy| are written from that one table.  Where double
// cannot decide a truncation or a rounding, the pixel is computed by the
// exact formula (FastBlend.h).
//
// Error of the double offsets.  Every destination pixel has r <= Rmax, so
// |k*r| <= 0.8 (|k*r*r| <= 0.4 for the square law) and the denominator
// k*r + 1 (k*r*r + 1) is at least 0.2 (0.6).  Each operation rounds by at
// most 2^-53 relatively and k and g are rounded once to double: the
// denominator then errs by at most 4.2 * 2^-53 absolutely, at most 21 * 2^-53
// relatively, and rho, s and the offset gather at most 28 * 2^-53 < 2^-48
// relatively (the 80-bit values err by 2^-64 per operation).  With
// |X| <= |dx| * g / (k*r + 1) <= 1.8 * |dx| <= 9 * Rmax, the offsets are
// within 2^-48 * 9 * Rmax < 2^-44 * (W + H) = E of the 80-bit ones.  Zero
// offsets are exact in both.  Rate 0 is the identity and copies.
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
                      0x1p-44 * (static_cast<double>(W) + static_cast<double>(H)),
                      0};
    run.margin = fast::blendMargin(run.e);
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
