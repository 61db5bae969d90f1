// The tilt in AVX-512: the blends sixteen pixels at a time in single
// precision, or eight in double, and the nearest method eight at a time
// (ModifAngleKernels.h has the positions and their bound).
#include "engines/FastBlendAvx512.h"
#include "engines/ModifAngleKernels.h"

#include <algorithm>

namespace talvine::engines::tiltkernel {
namespace {

// The positions of eight pixels at x: their base indices, fractions, and
// the lanes whose truncations double decides.
struct TiltOct {
    __m512i m, tx, ty;
    __m512d u, v;
    __mmask8 decided;
};

TALVINE_AVX512 inline TiltOct positions8(const TiltRun& r, const TiltRow& row, int64_t x) {
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
    o.tx = fast::split8(fx, e, o.u, decidedX);
    o.ty = fast::split8(fy, e, o.v, decidedY);
    o.decided = decidedX & decidedY;
    // |ty| < 2^31 and W < 2^31 where decided: a signed 32-bit product is exact.
    o.m = _mm512_add_epi64(_mm512_mul_epi32(o.ty, _mm512_set1_epi64(r.W)), o.tx);
    return o;
}

// Eight pixels at x in AVX-512, under the same rules as tiltQuadAvx2.
TALVINE_AVX512 inline bool octAvx512(const TiltRun& r, const TiltRow& row, int64_t x, TPtImg* out) {
    const TiltOct o = positions8(r, row, x);
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
//
// Along a turned row the columns and rows read are monotone, so the
// smallest of each lies at one end of the sixteen: the window of source
// bytes the blends read starts at the smaller row and column of the two
// end pixels, found in scalar arithmetic beside the vector positions
// rather than after them (a reduction over the lanes there made every load
// wait for it: 4 % of the blends' time at the yardstick's 3.4 degrees, the
// best of ten alternated runs 66.8 against 63.8 ms).  The lanes must then
// lie at most one row below the window's start and at most 19 columns right
// of it; where they do not, because the turn is steep, the general path
// (fast::blendStore16f) runs.
TALVINE_AVX512 inline bool hexAvx512(const TiltRun& r, const TiltRow& row, int64_t x, TPtImg* out) {
    // The end pixels' positions, as their lanes hold them (positionD).
    const PositionD ends[2] = {positionD(r, row, x), positionD(r, row, x + 15)};
    const TiltOct a = positions8(r, row, x), b = positions8(r, row, x + 8);
    // Every lane decided, and its four reads inside the source.
    if ((a.decided & b.decided & fast::inRange8(a.m, r.W, r.count - r.W - 2) &
         fast::inRange8(b.m, r.W, r.count - r.W - 2)) != 0xFF)
        return false;
    // Every lane decided: the truncations are exact.
    const int64_t column = static_cast<int64_t>(std::min(ends[0].x, ends[1].x));
    const int64_t line = static_cast<int64_t>(std::min(ends[0].y, ends[1].y));
    const int64_t first = line * r.W + column;
    const int64_t ahead = first + r.aheadRows * r.W;
    if (ahead >= 0 && ahead < r.count) __builtin_prefetch(r.src + ahead);
    const __m512i c = _mm512_set1_epi64(column), l = _mm512_set1_epi64(line);
    const __m512i offA = _mm512_sub_epi64(a.tx, c), offB = _mm512_sub_epi64(b.tx, c);
    const __m512i downA = _mm512_sub_epi64(a.ty, l), downB = _mm512_sub_epi64(b.ty, l);
    // Unsigned comparisons: a negative difference is a huge one.
    const __m512i most = _mm512_set1_epi64(19), one = _mm512_set1_epi64(1);
    const __mmask8 fitA = _mm512_cmple_epu64_mask(offA, most) & _mm512_cmple_epu64_mask(downA, one);
    const __mmask8 fitB = _mm512_cmple_epu64_mask(offB, most) & _mm512_cmple_epu64_mask(downB, one);
    const __mmask16 below =
        _mm512_kunpackb(_mm512_test_epi64_mask(downB, downB), _mm512_test_epi64_mask(downA, downA));
    if ((fitA & fitB) != 0xFF || first < 0 || first + (below ? 2 : 1) * r.W + 22 > r.count)
        return fast::blendStore16f(r.src, r.W, r.count, a.m, b.m, a.u, a.v, b.u, b.v,
                                   r.halfLessMarginF, out + x);
    return fast::blendWindow16f(r.src, r.W, first, offA, offB, below, a.u, a.v, b.u, b.v,
                                r.halfLessMarginF, out + x);
}

} // namespace

TALVINE_AVX512 int64_t rowAvx512(const TiltRun r, const TiltRow& row, int64_t x0, int64_t x1,
                                 TPtImg* out) {
    int64_t exact = 0;
    const auto one = [&](int64_t x) { exact += tiltPixel(r, row, x, out[x]); };
    const auto oct = [&](int64_t x) TALVINE_AVX512 { return octAvx512(r, row, x, out); };
    fast::hexSpans(
        x0, x1, [&](int64_t x) TALVINE_AVX512 { return hexAvx512(r, row, x, out); }, oct, one);
    return exact;
}

namespace {

// The nearest method.  Its offsets X = dx*cos - dy*sin and
// Y = dx*sin + dy*cos are the bilinear positions without the centre added,
// so they too lie within E of their 80-bit values, and where split8 decides
// their truncations (every lane further than E from an integer, magnitudes
// below 2^31) those are the 80-bit ones.  One 80-bit pixel.
// Eight pixels at x; false when a lane needs the 80-bit formula.  A lane is
// decided when X - E and X + E truncate alike: Trunc is monotone, so it then
// takes that value on the whole interval, where the 80-bit offset lies.
// (|X| stays below 2^34, so the conversions are exact.)  The eight source
// pixels are gathered as 32-bit words, the byte after a pixel unused.
TALVINE_AVX512 inline bool nearestOctAvx512(const TiltRun& r, const TiltRow& row, int64_t x,
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

} // namespace

TALVINE_AVX512 void nearestRowAvx512(const TiltRun r, const TiltRow& row, int64_t x0, int64_t x1,
                                     int64_t h, TPtImg* out) {
    fast::spans<8>(
        x0, x1, [&](int64_t x) TALVINE_AVX512 { return nearestOctAvx512(r, row, x, h, out); },
        [&](int64_t x) { out[x] = nearestAt(r, row, x, h); });
}

} // namespace talvine::engines::tiltkernel
