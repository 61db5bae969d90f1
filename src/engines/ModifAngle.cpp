#include "engines/ModifAngle.h"

#include "core/ParamCoul.h"
#include "engines/Dispatch.h"
#include "engines/FastBlend.h"
#include "engines/FastBlendAvx2.h"
#include "engines/FastBlendAvx512.h"
#include "engines/Parallel.h"

#include <algorithm>
#include <cmath>

namespace talvine::engines {
namespace {

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

SinCos sinCos(long double angle) {
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
TPtImg bilinearAt(const TPtImg* src, int64_t w, int64_t count, long double fx, long double fy) {
    const long double tx = trunc80<Fast>(fx), ty = trunc80<Fast>(fy);
    const Int128 m = static_cast<Int128>(static_cast<int64_t>(ty)) * w + static_cast<int64_t>(tx);
    if (m < w || m >= count - w - 1) return kWhite;
    const int64_t base = static_cast<int64_t>(m);
    return detail::blend(src[base + w + 1], src[base + 1], src[base], src[base + w],
                         detail::fracUp(fx, tx), detail::fracUp(fy, ty));
}

} // namespace

std::optional<long double> tiltAngle(Point p1, Point p2) {
    const int64_t dy = int64_t{p2.y} - p1.y;
    const int64_t dx = int64_t{p2.x} - p1.x;
    if (dx == 0) return std::nullopt;
    return atanl(static_cast<long double>(dy) / static_cast<long double>(dx));
}

namespace reference {

bool pivoter(const TPtImg* src, TPtImg* dst, int32_t w, int32_t h, const TiltParams& p) {
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
namespace {

// Everything one bilinear run needs, exact and approximate.  The span
// functions take it by value: a copy of their own, which their byte stores
// cannot alias, stays in registers.
struct TiltRun {
    const TPtImg* src;
    int64_t W, count, x1, y1;
    SinCos sc;
    double cosD, sinD, x1D, y1D, e, margin;
    float halfLessMarginF; // 1/2 less the single-precision margin, rounded down
};

constexpr int64_t kTileRows = 16, kTileColumns = 128;

struct TiltRow {
    long double sin, cos; // dy*sin, dy*cos in 80 bits
    double sinD, cosD;    // the same in double
};

// One bilinear pixel: in double when double decides, else exactly.  Returns
// whether the exact formula ran.
inline bool tiltPixel(const TiltRun& r, const TiltRow& row, int64_t x, TPtImg& out) {
    const int64_t dx = x - r.x1;
    const double dxD = static_cast<double>(dx);
    fast::Split sx, sy;
    if (fast::splitPosition(r.x1D + (dxD * r.cosD - row.sinD), r.e, sx) &&
        fast::splitPosition(r.y1D + (dxD * r.sinD + row.cosD), r.e, sy)) {
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
        const double dx = static_cast<double>(x - r.x1);
        const double fx = r.x1D + (dx * r.cosD - row.sinD), fy = r.y1D + (dx * r.sinD + row.cosD);
        if (!(fx >= 0 && fy >= 0 && fx < static_cast<double>(r.W) && fy < static_cast<double>(h)))
            continue;
        const int64_t m = static_cast<int64_t>(fy) * r.W + static_cast<int64_t>(fx);
        __builtin_prefetch(r.src + m);
        if (below && m + r.W < r.count) __builtin_prefetch(r.src + m + r.W);
    }
}

int64_t tiltRowBaseline(const TiltRun r, const TiltRow& row, int64_t x0, int64_t x1, TPtImg* out) {
    int64_t exact = 0;
    for (int64_t x = x0; x < x1; ++x)
        exact += tiltPixel(r, row, x, out[x]);
    return exact;
}

// Four pixels at x in AVX2; false when a lane needs the scalar path (a
// position or a channel the double values cannot decide, or a base whose
// four-byte reads would end past the source).
TALVINE_AVX2 inline bool tiltQuadAvx2(const TiltRun& r, const TiltRow& row, int64_t x,
                                      TPtImg* out) {
    const __m256d dx =
        _mm256_add_pd(_mm256_set1_pd(static_cast<double>(x - r.x1)), _mm256_setr_pd(0, 1, 2, 3));
    const __m256d fx = _mm256_add_pd(
        _mm256_set1_pd(r.x1D),
        _mm256_sub_pd(_mm256_mul_pd(dx, _mm256_set1_pd(r.cosD)), _mm256_set1_pd(row.sinD)));
    const __m256d fy = _mm256_add_pd(
        _mm256_set1_pd(r.y1D),
        _mm256_add_pd(_mm256_mul_pd(dx, _mm256_set1_pd(r.sinD)), _mm256_set1_pd(row.cosD)));
    const __m256d e = _mm256_set1_pd(r.e);
    __m256d u, v, decidedX, decidedY;
    const __m128i tx = fast::split4(fx, e, u, decidedX);
    const __m128i ty = fast::split4(fy, e, v, decidedY);
    if (_mm256_movemask_pd(_mm256_and_pd(decidedX, decidedY)) != 0xF) return false;
    const __m256i m = fast::baseIndex(ty, tx, r.W);
    const __m256i inside = fast::inRange(m, r.W, r.count - r.W - 1);
    const __m256i safe = fast::inRange(m, r.W, r.count - r.W - 2);
    if (_mm256_movemask_pd(_mm256_castsi256_pd(_mm256_xor_si256(inside, safe))) != 0) return false;
    const __m128i white = _mm_set1_epi32(0xffffff);
    if (_mm256_testz_si256(inside, inside)) {
        fast::store4(out + x, white);
        return true;
    }
    __m256d decided = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    const __m128i words =
        fast::blend4(r.src, r.W, _mm256_blendv_epi8(_mm256_set1_epi64x(r.W), m, inside), u, v,
                     _mm256_set1_pd(r.margin), decided);
    decided = _mm256_or_pd(decided,
                           _mm256_castsi256_pd(_mm256_xor_si256(inside, _mm256_set1_epi64x(-1))));
    if (_mm256_movemask_pd(decided) != 0xF) return false;
    fast::store4(out + x, _mm_blendv_epi8(white, words, fast::narrowMask(inside)));
    return true;
}

TALVINE_AVX2 int64_t tiltRowAvx2(const TiltRun r, const TiltRow& row, int64_t x0, int64_t x1,
                                 TPtImg* out) {
    int64_t exact = 0, x = x0;
    for (; x + 4 <= x1; x += 4)
        if (!tiltQuadAvx2(r, row, x, out))
            for (int k = 0; k < 4; ++k)
                exact += tiltPixel(r, row, x + k, out[x + k]);
    for (; x < x1; ++x)
        exact += tiltPixel(r, row, x, out[x]);
    return exact;
}

// The positions of eight pixels at x: their base indices, fractions, and
// the lanes whose truncations double decides.
struct TiltOct {
    __m512i m;
    __m512d u, v;
    __mmask8 decided;
};

TALVINE_AVX512 inline TiltOct tiltPositions8(const TiltRun& r, const TiltRow& row, int64_t x) {
    const __m512d dx = _mm512_add_pd(_mm512_set1_pd(static_cast<double>(x - r.x1)),
                                     _mm512_setr_pd(0, 1, 2, 3, 4, 5, 6, 7));
    const __m512d fx = _mm512_add_pd(
        _mm512_set1_pd(r.x1D),
        _mm512_sub_pd(_mm512_mul_pd(dx, _mm512_set1_pd(r.cosD)), _mm512_set1_pd(row.sinD)));
    const __m512d fy = _mm512_add_pd(
        _mm512_set1_pd(r.y1D),
        _mm512_add_pd(_mm512_mul_pd(dx, _mm512_set1_pd(r.sinD)), _mm512_set1_pd(row.cosD)));
    const __m512d e = _mm512_set1_pd(r.e);
    TiltOct o;
    __mmask8 decidedX, decidedY;
    const __m512i tx = fast::split8(fx, e, o.u, decidedX);
    const __m512i ty = fast::split8(fy, e, o.v, decidedY);
    o.decided = decidedX & decidedY;
    // |ty| < 2^31 and W < 2^31 where decided: a signed 32-bit product is exact.
    o.m = _mm512_add_epi64(_mm512_mul_epi32(ty, _mm512_set1_epi64(r.W)), tx);
    return o;
}

// Eight pixels at x in AVX-512, under the same rules as tiltQuadAvx2.
TALVINE_AVX512 inline bool tiltOctAvx512(const TiltRun& r, const TiltRow& row, int64_t x,
                                         TPtImg* out) {
    const TiltOct o = tiltPositions8(r, row, x);
    if (o.decided != 0xFF) return false;
    const __mmask8 inside = fast::inRange8(o.m, r.W, r.count - r.W - 1);
    const __mmask8 safe = fast::inRange8(o.m, r.W, r.count - r.W - 2);
    if (inside != safe) return false;
    const __m512i white = _mm512_set1_epi64(0xffffff);
    if (inside == 0) {
        fast::store8(out + x, white);
        return true;
    }
    __mmask8 decided = 0xFF;
    const __m512i words = fast::blend8(r.src, r.W, r.count,
                                       _mm512_mask_blend_epi64(inside, _mm512_set1_epi64(r.W), o.m),
                                       o.u, o.v, _mm512_set1_pd(r.margin), decided);
    if ((decided | static_cast<__mmask8>(~inside)) != 0xFF) return false;
    fast::store8(out + x, _mm512_mask_blend_epi64(inside, white, words));
    return true;
}

// Sixteen pixels at x, all with a source, blended in single precision;
// false when a lane needs more (the eight-pixel path then takes over).
TALVINE_AVX512 inline bool tiltHexAvx512(const TiltRun& r, const TiltRow& row, int64_t x,
                                         TPtImg* out) {
    const TiltOct a = tiltPositions8(r, row, x), b = tiltPositions8(r, row, x + 8);
    // Every lane decided, and its four reads inside the source.
    if ((a.decided & b.decided & fast::inRange8(a.m, r.W, r.count - r.W - 2) &
         fast::inRange8(b.m, r.W, r.count - r.W - 2)) != 0xFF)
        return false;
    __m512i t0, b0, t1, b1;
    fast::words8(r.src, r.W, r.count, a.m, t0, b0);
    fast::words8(r.src, r.W, r.count, b.m, t1, b1);
    __mmask16 decided = 0xFFFF;
    const __m512i words = fast::blendWords16f(t0, b0, t1, b1, a.u, a.v, b.u, b.v,
                                              _mm512_set1_ps(r.halfLessMarginF), decided);
    if (decided != 0xFFFF) return false;
    fast::store16(out + x, words);
    return true;
}

TALVINE_AVX512 int64_t tiltRowAvx512(const TiltRun r, const TiltRow& row, int64_t x0, int64_t x1,
                                     TPtImg* out) {
    int64_t exact = 0, x = x0;
    for (; x + 16 <= x1; x += 16) {
        if (tiltHexAvx512(r, row, x, out)) continue;
        for (int64_t h = x; h < x + 16; h += 8)
            if (!tiltOctAvx512(r, row, h, out))
                for (int k = 0; k < 8; ++k)
                    exact += tiltPixel(r, row, h + k, out[h + k]);
    }
    for (; x + 8 <= x1; x += 8)
        if (!tiltOctAvx512(r, row, x, out))
            for (int k = 0; k < 8; ++k)
                exact += tiltPixel(r, row, x + k, out[x + k]);
    for (; x < x1; ++x)
        exact += tiltPixel(r, row, x, out[x]);
    return exact;
}

// The nearest method in AVX-512.  Its offsets X = dx*cos - dy*sin and
// Y = dx*sin + dy*cos are the bilinear positions without the centre added,
// so they too lie within E of their 80-bit values, and where split8 decides
// their truncations (every lane further than E from an integer, magnitudes
// below 2^31) those are the 80-bit ones.  One 80-bit pixel.
inline TPtImg nearestAt(const TiltRun& r, const TiltRow& row, int64_t x, int64_t h) {
    const int64_t dx = x - r.x1;
    const int64_t px = static_cast<int64_t>(dx * r.sc.cos - row.sin) + r.x1;
    const int64_t py = static_cast<int64_t>(dx * r.sc.sin + row.cos) + r.y1;
    return px >= 0 && px < r.W && py >= 0 && py < h ? r.src[py * r.W + px] : kWhite;
}

// Eight pixels at x; false when a lane needs the 80-bit formula.  A lane is
// decided when X - E and X + E truncate alike: Trunc is monotone, so it then
// takes that value on the whole interval, where the 80-bit offset lies.
// (|X| stays below 2^34, so the conversions are exact.)  The eight source
// pixels are gathered as 32-bit words, the byte after a pixel unused.
TALVINE_AVX512 inline bool tiltNearestOctAvx512(const TiltRun& r, const TiltRow& row, int64_t x,
                                                int64_t h, TPtImg* out) {
    const __m512d dx = _mm512_add_pd(_mm512_set1_pd(static_cast<double>(x - r.x1)),
                                     _mm512_setr_pd(0, 1, 2, 3, 4, 5, 6, 7));
    const __m512d X =
        _mm512_sub_pd(_mm512_mul_pd(dx, _mm512_set1_pd(r.cosD)), _mm512_set1_pd(row.sinD));
    const __m512d Y =
        _mm512_add_pd(_mm512_mul_pd(dx, _mm512_set1_pd(r.sinD)), _mm512_set1_pd(row.cosD));
    const __m512d e = _mm512_set1_pd(r.e);
    const __m512i tx = _mm512_cvttpd_epi64(_mm512_sub_pd(X, e));
    const __m512i ty = _mm512_cvttpd_epi64(_mm512_sub_pd(Y, e));
    if ((_mm512_cmpeq_epi64_mask(tx, _mm512_cvttpd_epi64(_mm512_add_pd(X, e))) &
         _mm512_cmpeq_epi64_mask(ty, _mm512_cvttpd_epi64(_mm512_add_pd(Y, e)))) != 0xFF)
        return false;
    const __m512i px = _mm512_add_epi64(tx, _mm512_set1_epi64(r.x1));
    const __m512i py = _mm512_add_epi64(ty, _mm512_set1_epi64(r.y1));
    // Unsigned comparisons: a negative column or row is a huge one.
    const __mmask8 inside = _mm512_cmplt_epu64_mask(px, _mm512_set1_epi64(r.W)) &
                            _mm512_cmplt_epu64_mask(py, _mm512_set1_epi64(h));
    const __m256i white = _mm256_set1_epi32(0xffffff);
    __m256i words = white;
    if (inside) {
        // Rows and columns of inside lanes fit in 32 bits.
        const __m512i m = _mm512_add_epi64(_mm512_mul_epu32(py, _mm512_set1_epi64(r.W)), px);
        // A four-byte read at 3*m stays inside the source up to count - 2.
        if (_mm512_mask_cmpgt_epi64_mask(inside, m, _mm512_set1_epi64(r.count - 2))) return false;
        words = _mm512_mask_i64gather_epi32(white, inside,
                                            _mm512_add_epi64(_mm512_add_epi64(m, m), m), r.src, 1);
    }
    const __m256i pack = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 16, 17, 18, 20,
                                          21, 22, 24, 25, 26, 28, 29, 30, 0, 0, 0, 0, 0, 0, 0, 0);
    _mm256_mask_storeu_epi8(out + x, 0xffffff, _mm256_permutexvar_epi8(pack, words));
    return true;
}

TALVINE_AVX512 void tiltNearestRowAvx512(const TiltRun r, const TiltRow& row, int64_t x0,
                                         int64_t x1, int64_t h, TPtImg* out) {
    int64_t x = x0;
    for (; x + 8 <= x1; x += 8)
        if (!tiltNearestOctAvx512(r, row, x, h, out))
            for (int k = 0; k < 8; ++k)
                out[x + k] = nearestAt(r, row, x + k, h);
    for (; x < x1; ++x)
        out[x] = nearestAt(r, row, x, h);
}

} // namespace

bool pivoter(const TPtImg* src, TPtImg* dst, int32_t w, int32_t h, const TiltParams& p) {
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
                0};
    run.e = 0x1p-48 * (static_cast<double>(W) + static_cast<double>(H) +
                       2.0 * (std::fabs(run.x1D) + std::fabs(run.y1D)) + 2.0);
    run.margin = fast::blendMargin(run.e);
    run.halfLessMarginF =
        std::nextafter(static_cast<float>(0.5 - fast::blendMarginSingle(run.e)), 0.0f);
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
    // Tiles of 16 rows by 128 columns: the source pixels a tile reads stay
    // in the cache whatever the angle, where whole rows would sweep across
    // hundreds of source rows.
    // The order of a tile's rows changes how well the hardware prefetcher
    // follows the reads, and was chosen by measurement.  Along a source row,
    // the segments successive destination rows read move left when the turn
    // is clockwise (sin > 0): the nearest method, which reads one segment per
    // row, then walks its tiles upwards, so that the segments follow each
    // other left to right (30 % faster at 3 degrees, slower the other way).
    // The blends, which read two rows, are fastest upwards whichever way the
    // picture turns (10 % at 3 degrees, 35 % at 17).
    const bool upwards = !nearest || run.sinD > 0;
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
                        tiltNearestRowAvx512(run, row, x0, xEnd, H, out);
                        continue;
                    }
                    exact += kernel == Kernel::Avx512 ? tiltRowAvx512(run, row, x0, xEnd, out)
                             : kernel == Kernel::Avx2 ? tiltRowAvx2(run, row, x0, xEnd, out)
                                                      : tiltRowBaseline(run, row, x0, xEnd, out);
                }
            }
            fast::fallbacks.fetch_add(exact, std::memory_order_relaxed);
        },
        Split::Contiguous);
    return true;
}

} // namespace talvine::engines
