// The distortion in AVX-512: the table of offsets eight at a time, the
// bilinear rows sixteen pixels at a time in single precision or eight in
// double, the nearest rows eight at a time (CorrDistorKernels.h has the
// offsets and their bound).
#include "engines/CorrDistorKernels.h"
#include "engines/FastBlendAvx512.h"

#include <algorithm>

namespace talvine::engines::distortionkernel {
namespace {

// The offsets of eight pixels at x, all on one side of the centre column
// and off the centre row, signed.
struct Offsets8 {
    __m512d X, Y;
};

TALVINE_AVX512 inline Offsets8 offsets8(const DistortionRun& r, const OffsetTable& t, bool up,
                                        int64_t x) {
    const __m512i reverse = _mm512_setr_epi64(7, 6, 5, 4, 3, 2, 1, 0);
    const __m512d sign = _mm512_set1_pd(-0.0);
    Offsets8 o;
    if (x >= r.cx) {
        o.X = _mm512_loadu_pd(t.X + (x - r.cx - t.first));
        o.Y = _mm512_loadu_pd(t.Y + (x - r.cx - t.first));
    } else { // |dx| falls from cx - x: the table backwards, X negated
        o.X = _mm512_xor_pd(
            _mm512_permutexvar_pd(reverse, _mm512_loadu_pd(t.X + (r.cx - x - 7 - t.first))), sign);
        o.Y = _mm512_permutexvar_pd(reverse, _mm512_loadu_pd(t.Y + (r.cx - x - 7 - t.first)));
    }
    if (up) o.Y = _mm512_xor_pd(o.Y, sign);
    return o;
}

// The bilinear positions of eight pixels at x: base indices, fractions and
// the lanes whose truncations double decides.
struct Positions8 {
    __m512i m;
    __m512d u, v;
    __mmask8 decided;
};

TALVINE_AVX512 inline Positions8 positions8(const DistortionRun& r, const OffsetTable& t, bool up,
                                            int64_t x) {
    const Offsets8 o = offsets8(r, t, up, x);
    const __m512d e = _mm512_set1_pd(r.e);
    Positions8 p;
    __mmask8 decidedX, decidedY;
    const __m512i sx = fast::split8(o.X, e, p.u, decidedX);
    const __m512i sy = fast::split8(o.Y, e, p.v, decidedY);
    p.decided = decidedX & decidedY;
    // |sy| < 2^31 and W < 2^31 where decided: a signed 32-bit product is exact.
    p.m = _mm512_add_epi64(_mm512_add_epi64(_mm512_mul_epi32(sy, _mm512_set1_epi64(r.W)), sx),
                           _mm512_set1_epi64(r.cx + r.W * r.cy));
    return p;
}

// Eight bilinear pixels at x in double; false when a lane needs the scalar
// path.
TALVINE_AVX512 inline bool octAvx512(const DistortionRun& r, const OffsetTable& t, bool up,
                                     int64_t x, TPtImg* row) {
    const Positions8 p = positions8(r, t, up, x);
    if (p.decided != 0xFF) return false;
    const __mmask8 inside = fast::inRange8(p.m, 0, r.limit);
    if (inside != fast::inRange8(p.m, 0, r.limit - 2)) return false;
    if (inside == 0) return true; // no source: left as it was
    __mmask8 ok = 0xFF;
    const __m512i words =
        fast::blend8(r.src, r.W, r.W + r.limit, _mm512_maskz_mov_epi64(inside, p.m), p.u, p.v,
                     _mm512_set1_pd(r.margin), ok);
    if ((ok | static_cast<__mmask8>(~inside)) != 0xFF) return false;
    fast::storeWhere8(row + x, words, inside);
    return true;
}

// Sixteen bilinear pixels at x, all with a source, blended in single
// precision; false when a lane needs more (the eight-pixel path then takes
// over).
TALVINE_AVX512 inline bool hexAvx512(const DistortionRun& r, const OffsetTable& t, bool up,
                                     int64_t x, TPtImg* row) {
    const Positions8 a = positions8(r, t, up, x), b = positions8(r, t, up, x + 8);
    // Every lane decided, and its four reads inside the source: the base
    // below limit - 2 puts the diagonal at count - 2 at most.
    if ((a.decided & b.decided & fast::inRange8(a.m, 0, r.limit - 2) &
         fast::inRange8(b.m, 0, r.limit - 2)) != 0xFF)
        return false;
    return fast::blendStore16f(r.src, r.W, r.W + r.limit, a.m, b.m, a.u, a.v, b.u, b.v,
                               r.halfLessMarginF, row + x);
}

// Eight nearest pixels at x; false when a lane needs the scalar path.  A
// lane is decided when X - E and X + E truncate alike (and so for Y): Trunc
// is monotone, so the 80-bit offset, within E, truncates alike too.  The
// offsets stay below 9 * Rmax < 2^34, so the conversions are exact, and so
// is the 64-bit product.  The eight-byte words at the sources are gathered
// and their first three bytes kept.
TALVINE_AVX512 inline bool nearestOctAvx512(const DistortionRun& r, const OffsetTable& t, bool up,
                                            int64_t x, TPtImg* row) {
    const Offsets8 o = offsets8(r, t, up, x);
    const __m512d e = _mm512_set1_pd(r.e);
    const __m512i sx = _mm512_cvttpd_epi64(_mm512_sub_pd(o.X, e));
    const __m512i sy = _mm512_cvttpd_epi64(_mm512_sub_pd(o.Y, e));
    if ((_mm512_cmpeq_epi64_mask(sx, _mm512_cvttpd_epi64(_mm512_add_pd(o.X, e))) &
         _mm512_cmpeq_epi64_mask(sy, _mm512_cvttpd_epi64(_mm512_add_pd(o.Y, e)))) != 0xFF)
        return false;
    const __m512i m =
        _mm512_add_epi64(_mm512_add_epi64(_mm512_mullo_epi64(sy, _mm512_set1_epi64(r.W)), sx),
                         _mm512_set1_epi64(r.cx + r.W * r.cy));
    const __mmask8 inside = fast::inRange8(m, 0, r.limit);
    if (inside == 0) return true; // no source: left as it was
    // An eight-byte read at 3*m stays inside the source up to count - 3.
    if (_mm512_mask_cmpgt_epi64_mask(inside, m, _mm512_set1_epi64(r.W + r.limit - 3))) return false;
    fast::gatherStore8(row + x, r.src, m, inside);
    return true;
}

} // namespace

TALVINE_AVX512 int64_t rowAvx512(const DistortionRun r, const OffsetTable& t, int64_t ady, bool up,
                                 int64_t y, int64_t x0, int64_t x1, TPtImg* row) {
    int64_t exact = 0;
    const auto one = [&](int64_t x) { exact += distortionPixel(r, t, ady, up, x, y, row); };
    if (ady == 0) { // the centre row: pixel by pixel
        for (int64_t x = x0; x < x1; ++x)
            one(x);
        return exact;
    }
    // Groups that do not straddle the centre column, which is done alone
    // (cx < W).
    const int64_t leftEnd = std::min(x1, r.cx), rightBegin = std::max(x0, r.cx + 1);
    const bool centre = x0 <= r.cx && r.cx < x1;
    if (r.sampling == Sampling::Nearest) {
        const auto oct = [&](int64_t x)
                             TALVINE_AVX512 { return nearestOctAvx512(r, t, up, x, row); };
        fast::spans<8>(x0, leftEnd, oct, one);
        if (centre) one(r.cx);
        fast::spans<8>(rightBegin, x1, oct, one);
        return exact;
    }
    const auto oct = [&](int64_t x) TALVINE_AVX512 { return octAvx512(r, t, up, x, row); };
    const auto hex = [&](int64_t x) TALVINE_AVX512 { return hexAvx512(r, t, up, x, row); };
    fast::hexSpans(x0, leftEnd, hex, oct, one);
    if (centre) one(r.cx);
    fast::hexSpans(rightBegin, x1, hex, oct, one);
    return exact;
}

TALVINE_AVX512 void tableAvx512(const LawD& law, int64_t ady, int64_t a0, int64_t a1, double* X,
                                double* Y) {
    const __m512i iota = _mm512_setr_epi64(0, 1, 2, 3, 4, 5, 6, 7);
    const __m512i b2 = _mm512_set1_epi64(ady * ady);
    const __m512d b = _mm512_set1_pd(static_cast<double>(ady));
    const __m512d k = _mm512_set1_pd(law.k), g = _mm512_set1_pd(law.g), one = _mm512_set1_pd(1.0);
    int64_t a = a0;
    for (; a + 8 <= a1; a += 8) {
        const __m512i av = _mm512_add_epi64(_mm512_set1_epi64(a), iota);
        const __m512d n = _mm512_cvtepi64_pd(_mm512_add_epi64(_mm512_mul_epi32(av, av), b2));
        const __m512d t = _mm512_div_pd(
            g, _mm512_add_pd(_mm512_mul_pd(k, law.square ? n : _mm512_sqrt_pd(n)), one));
        _mm512_storeu_pd(X + (a - a0), _mm512_mul_pd(_mm512_cvtepi64_pd(av), t));
        _mm512_storeu_pd(Y + (a - a0), _mm512_mul_pd(b, t));
    }
    for (; a < a1; ++a)
        offsetD(law, a, ady, X[a - a0], Y[a - a0]);
}

} // namespace talvine::engines::distortionkernel
