// The perspective in AVX-512: the bilinear spans sixteen pixels at a time in
// single precision or eight in double, the nearest spans eight at a time
// (PerspectiveKernels.h has the column and its bound).
#include "engines/FastBlendAvx512.h"
#include "engines/PerspectiveKernels.h"

namespace talvine::engines::perspectivekernel {
namespace {

// The double columns of eight pixels at x.
TALVINE_AVX512 inline __m512d columns8(const PerspectiveRun& r, const PerspectiveRow& row,
                                       int64_t x) {
    const __m512d xs = _mm512_add_pd(_mm512_set1_pd(static_cast<double>(x)),
                                     _mm512_setr_pd(0, 1, 2, 3, 4, 5, 6, 7));
    return _mm512_div_pd(
        _mm512_add_pd(_mm512_mul_pd(_mm512_set1_pd(row.vyfD), xs), _mm512_set1_pd(row.fvxD)),
        _mm512_set1_pd(r.VyD));
}

// The bilinear positions of eight pixels at x: base indices, column
// fractions, and the lanes whose truncations double decides.
struct Positions8 {
    __m512i m;
    __m512d u;
    __mmask8 decided;
};

TALVINE_AVX512 inline Positions8 positions8(const PerspectiveRun& r, const PerspectiveRow& row,
                                            int64_t x) {
    Positions8 p;
    const __m512i tx = fast::split8(columns8(r, row, x), _mm512_set1_pd(row.e), p.u, p.decided);
    p.m = _mm512_add_epi64(_mm512_set1_epi64(row.rowBase), tx);
    return p;
}

// Eight bilinear pixels at x in double, under the rules of the quads.
TALVINE_AVX512 inline bool octAvx512(const PerspectiveRun& r, const PerspectiveRow& row, int64_t x,
                                     TPtImg* out) {
    const Positions8 p = positions8(r, row, x);
    if (p.decided != 0xFF) return false;
    const __mmask8 inside = fast::inRange8(p.m, 0, r.count - r.W);
    if (inside != fast::inRange8(p.m, 0, r.count - r.W - 2)) return false;
    if (inside == 0) return true; // no source: left as it was
    __mmask8 ok = 0xFF;
    const __m512i words =
        fast::blend8(r.src, r.W, r.count, _mm512_maskz_mov_epi64(inside, p.m), p.u,
                     _mm512_set1_pd(row.fyD), _mm512_set1_pd(row.margin), ok);
    if ((ok | static_cast<__mmask8>(~inside)) != 0xFF) return false;
    fast::storeWhere8(out + x, words, inside);
    return true;
}

// Sixteen bilinear pixels at x, all with a source, blended in single
// precision; false when a lane needs more (the eight-pixel path then takes
// over).
TALVINE_AVX512 inline bool hexAvx512(const PerspectiveRun& r, const PerspectiveRow& row, int64_t x,
                                     TPtImg* out) {
    const Positions8 a = positions8(r, row, x), b = positions8(r, row, x + 8);
    // Every lane decided, and its four reads inside the source.
    if ((a.decided & b.decided & fast::inRange8(a.m, 0, r.count - r.W - 2) &
         fast::inRange8(b.m, 0, r.count - r.W - 2)) != 0xFF)
        return false;
    const __m512d v = _mm512_set1_pd(row.fyD);
    return fast::blendStore16f(r.src, r.W, r.count, a.m, b.m, a.u, v, b.u, v, row.halfLessMarginF,
                               out + x);
}

// Eight nearest pixels at x; false when a lane needs the scalar path.  A
// lane is decided when its column lies below 2^31 in magnitude and X - E
// and X + E truncate alike: Trunc is monotone, so the 80-bit column, within
// E, truncates alike too.  The eight-byte words at the sources are
// gathered and their first three bytes kept.
TALVINE_AVX512 inline bool nearestOctAvx512(const PerspectiveRun& r, const PerspectiveRow& row,
                                            int64_t x, TPtImg* out) {
    const __m512d column = columns8(r, row, x);
    const __m512d e = _mm512_set1_pd(row.e);
    const __m512i tx = _mm512_cvttpd_epi64(_mm512_sub_pd(column, e));
    if ((_mm512_cmp_pd_mask(_mm512_abs_pd(column), _mm512_set1_pd(0x1p31), _CMP_LT_OQ) &
         _mm512_cmpeq_epi64_mask(tx, _mm512_cvttpd_epi64(_mm512_add_pd(column, e)))) != 0xFF)
        return false;
    const __m512i m = _mm512_add_epi64(_mm512_set1_epi64(row.rowBase), tx);
    const __mmask8 inside = fast::inRange8(m, 0, r.count);
    if (inside == 0) return true; // no source: left as it was
    // An eight-byte read at 3*m stays inside the source up to count - 3.
    if (_mm512_mask_cmpgt_epi64_mask(inside, m, _mm512_set1_epi64(r.count - 3))) return false;
    fast::gatherStore8(out + x, r.src, m, inside);
    return true;
}

// The columns of sixteen pixels in fixed point (PerspectiveKernels.h):
// group j of the tile's row that starts at `start`.  False unless every
// lane decides its truncation and the group's bases lie within 19 pixels
// of the window's start, inside the source; otherwise `first`, the
// window's first base index, `tx`, the lanes' bases from it, and `fx`,
// their fractions in units of 2^-26.
struct FixedColumns {
    int64_t first;
    __m512i tx, fx;
};

TALVINE_AVX512 inline bool fixedColumns(const PerspectiveRow& row, int64_t start, int64_t j,
                                        FixedColumns& c) {
    int64_t column = 0;
    int32_t lane0 = 0;
    if (!fast::fixedGroup(row.steps, start, j, column, lane0)) return false;
    const __m512i lx =
        _mm512_add_epi32(_mm512_set1_epi32(lane0), _mm512_loadu_si512(row.steps.lane));
    c.tx = _mm512_srai_epi32(lx, fast::kLaneBits);
    c.fx = fast::fraction16(lx);
    c.first = row.rowBase + column;
    // A negative base (a lane before the start) is a huge one.
    return (fast::decided16(c.fx, row.fixed) &
            _mm512_cmple_epu32_mask(c.tx, _mm512_set1_epi32(19))) == 0xFFFF;
}

// Sixteen bilinear pixels from fixed-point columns, every base u with
// 0 <= u and u + W + 1 <= count - 2, cut from the window's two rows.
TALVINE_AVX512 inline bool hexFixed(const PerspectiveRun& r, const PerspectiveRow& row,
                                    int64_t start, int64_t j, TPtImg* out) {
    FixedColumns c;
    if (!fixedColumns(row, start, j, c) || c.first < 0 || c.first + r.W + 22 > r.count)
        return false;
    const __m512 u = _mm512_mul_ps(_mm512_cvtepi32_ps(c.fx), _mm512_set1_ps(0x1p-26f));
    const __m512 v = _mm512_set1_ps(static_cast<float>(row.fyD));
    const __m512i at = _mm512_add_epi32(_mm512_add_epi32(c.tx, c.tx), c.tx);
    return fast::blendAt16f(r.src, r.W, c.first, at, 0, u, v, row.fixed.halfLessMarginF, out);
}

// Sixteen nearest pixels from fixed-point columns, every base inside the
// source, cut from the window's row.
TALVINE_AVX512 inline bool nearestHexFixed(const PerspectiveRun& r, const PerspectiveRow& row,
                                           int64_t start, int64_t j, TPtImg* out) {
    FixedColumns c;
    if (!fixedColumns(row, start, j, c) || c.first < 0 || c.first + 22 > r.count) return false;
    const __m512i at = _mm512_add_epi32(_mm512_add_epi32(c.tx, c.tx), c.tx);
    fast::store16(
        out,
        fast::pixels16(_mm512_loadu_si512(reinterpret_cast<const char*>(r.src) + 3 * c.first), at));
    return true;
}

} // namespace

TALVINE_AVX512 int64_t spanAvx512(const PerspectiveRun r, const PerspectiveRow row, int64_t x0,
                                  int64_t x1, TPtImg* out) {
    // Rows the double column cannot serve (row.fast) go pixel by pixel.
    if (!row.fast) return spanBaseline(r, row, x0, x1, out);
    int64_t exact = 0;
    int64_t start = 0;
    const bool fixed =
        row.fixed.usable && row.steps.usable &&
        fast::fixedStart((row.vyfD * static_cast<double>(x0) + row.fvxD) / r.VyD, start);
    const auto one = [&](int64_t x) { exact += perspectivePixel(r, row, x, out + x); };
    if (r.sampling == Sampling::Nearest) {
        const auto oct = [&](int64_t x) TALVINE_AVX512 { return nearestOctAvx512(r, row, x, out); };
        const auto hex = [&](int64_t x) TALVINE_AVX512 {
            return fixed && nearestHexFixed(r, row, start, (x - x0) / 16, out + x);
        };
        fast::hexSpans(x0, x1, hex, oct, one);
        return exact;
    }
    const auto oct = [&](int64_t x) TALVINE_AVX512 { return octAvx512(r, row, x, out); };
    const auto hex = [&](int64_t x) TALVINE_AVX512 {
        return (fixed && hexFixed(r, row, start, (x - x0) / 16, out + x)) ||
               hexAvx512(r, row, x, out);
    };
    fast::hexSpans(x0, x1, hex, oct, one);
    return exact;
}

} // namespace talvine::engines::perspectivekernel
