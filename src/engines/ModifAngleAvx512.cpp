// The tilt in AVX-512: the blends sixteen pixels at a time in single
// precision from fixed-point positions or, where those do not serve, from
// double ones, or eight pixels in double; the nearest method eight at a
// time (ModifAngleKernels.h has the positions and their bounds).
#include "engines/FastBlendAvx512.h"
#include "engines/ModifAngleKernels.h"

#include <algorithm>

namespace talvine::engines::tiltkernel {
namespace {

// The positions of eight pixels at x: their base indices, fractions, and
// the lanes whose truncations double decides.
struct TiltOct {
    __m512i m;
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
    const __m512i tx = fast::split8(fx, e, o.u, decidedX);
    const __m512i ty = fast::split8(fy, e, o.v, decidedY);
    o.decided = decidedX & decidedY;
    // |ty| < 2^31 and W < 2^31 where decided: a signed 32-bit product is exact.
    o.m = _mm512_add_epi64(_mm512_mul_epi32(ty, _mm512_set1_epi64(r.W)), tx);
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

// Sixteen pixels at x, all with a source, blended in single precision
// from the double positions; false when a lane needs more (the eight-pixel
// path then takes over).
TALVINE_AVX512 inline bool hexAvx512(const TiltRun& r, const TiltRow& row, int64_t x, TPtImg* out) {
    const TiltOct a = positions8(r, row, x), b = positions8(r, row, x + 8);
    // Every lane decided, and its four reads inside the source.
    if ((a.decided & b.decided & fast::inRange8(a.m, r.W, r.count - r.W - 2) &
         fast::inRange8(b.m, r.W, r.count - r.W - 2)) != 0xFF)
        return false;
    return fast::blendStore16f(r.src, r.W, r.count, a.m, b.m, a.u, a.v, b.u, b.v, r.halfLessMarginF,
                               out + x);
}

// Sixteen pixels blended in single precision from their fixed-point
// positions (ModifAngleKernels.h): group j of the tile's row that starts at
// (x, y), written at `out`.  Its window starts at the group's smaller end;
// every lane must lie at most 19 columns right of the start and at most
// one row below it, which holds at turns below about 3.8 degrees (sixteen
// steps of sin less than a row, give or take the start's fraction), and
// decide its truncations and its blend; false otherwise, with nothing
// written (the double positions then take over).
TALVINE_AVX512 inline bool hexFixed(const TiltRun& r, int64_t x, int64_t y, int64_t j,
                                    TPtImg* out) {
    const TiltFixed& f = r.fixed;
    FixedGroup g;
    if (!fixedGroup(f, x, y, j, g)) return false;
    const __m512i lx = _mm512_add_epi32(_mm512_set1_epi32(g.x), _mm512_loadu_si512(f.x.lane));
    const __m512i ly = _mm512_add_epi32(_mm512_set1_epi32(g.y), _mm512_loadu_si512(f.y.lane));
    const __m512i tx = _mm512_srai_epi32(lx, fast::kLaneBits),
                  ty = _mm512_srai_epi32(ly, fast::kLaneBits);
    const __m512i fx = fast::fraction16(lx), fy = fast::fraction16(ly);
    // A negative column or row (a lane before the start) is a huge one.
    if ((fast::decided16(fx, f.d) & fast::decided16(fy, f.d) &
         _mm512_cmple_epu32_mask(tx, _mm512_set1_epi32(19)) &
         _mm512_cmple_epu32_mask(ty, _mm512_set1_epi32(1))) != 0xFFFF)
        return false;
    const __mmask16 below = _mm512_test_epi32_mask(ty, ty);
    // From column 1 and row 1 on, the reads stay inside the source up to the
    // window's last load; every lane then has a source (m < count - W - 1).
    const int64_t first = g.line * r.W + g.column;
    if (first + (below ? 2 : 1) * r.W + 22 > r.count) return false;
    const int64_t ahead = first + r.aheadRows * r.W;
    if (ahead >= 0 && ahead < r.count) __builtin_prefetch(r.src + ahead);
    // The fractions to float (within 2^-25), then scaled exactly.
    const __m512 unit = _mm512_set1_ps(0x1p-26f);
    const __m512 u = _mm512_mul_ps(_mm512_cvtepi32_ps(fx), unit);
    const __m512 v = _mm512_mul_ps(_mm512_cvtepi32_ps(fy), unit);
    const __m512i at =
        _mm512_add_epi32(_mm512_add_epi32(_mm512_add_epi32(tx, tx), tx), _mm512_slli_epi32(ty, 6));
    return fast::blendAt16f(r.src, r.W, first, at, below, u, v, f.d.halfLessMarginF, out);
}

} // namespace

// x1 - x0 is at most kTileColumns, which the fixed-point bound assumes.
TALVINE_AVX512 int64_t rowAvx512(const TiltRun r, const TiltRow& row, int64_t x0, int64_t x1,
                                 TPtImg* out) {
    int64_t exact = 0;
    int64_t startX = 0, startY = 0;
    const bool fixed = r.fixed.d.usable && fixedStart(positionD(r, row, x0), startX, startY);
    const auto one = [&](int64_t x) { exact += tiltPixel(r, row, x, out[x]); };
    const auto oct = [&](int64_t x) TALVINE_AVX512 { return octAvx512(r, row, x, out); };
    const auto hex = [&](int64_t x) TALVINE_AVX512 {
        return (fixed && hexFixed(r, startX, startY, (x - x0) / 16, out + x)) ||
               hexAvx512(r, row, x, out);
    };
    fast::hexSpans(x0, x1, hex, oct, one);
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

// Sixteen nearest pixels from fixed-point positions: group j of the tile's
// row that starts at (x, y), written at `out`; false, with nothing
// written, unless every lane decides its truncations and has its source
// within the window of two rows (the eight-pixel path then takes over).
// A lane's position less the window's start is that of x1 + X, the offset
// plus the centre, as for the blends; where it decides, its floor is that
// of the 80-bit x1 + X, and Trunc(X) is that floor less x1, plus one where
// X is negative, that is where the floor lies left of x1 (X being no
// integer).  Rows alike.
TALVINE_AVX512 inline bool nearestHexFixed(const TiltRun& r, int64_t x, int64_t y, int64_t j,
                                           int64_t h, TPtImg* out) {
    const TiltFixed& f = r.fixed;
    FixedGroup g;
    if (!fixedGroup(f, x, y, j, g)) return false;
    // Where the group's smaller end lies before the centre, its source lies
    // one further on: the window starts there, and the lanes' floors are
    // counted from it.
    const int64_t column = g.column + (g.column < r.x1), line = g.line + (g.line < r.y1);
    const int32_t back = 1 << fast::kLaneBits;
    const __m512i lx = _mm512_add_epi32(_mm512_set1_epi32(g.x - (column > g.column ? back : 0)),
                                        _mm512_loadu_si512(f.x.lane));
    const __m512i ly = _mm512_add_epi32(_mm512_set1_epi32(g.y - (line > g.line ? back : 0)),
                                        _mm512_loadu_si512(f.y.lane));
    if ((fast::decided16(fast::fraction16(lx), f.d) & fast::decided16(fast::fraction16(ly), f.d)) !=
        0xFFFF)
        return false;
    // The floors, then one on where the offset is negative (the floor left
    // of the centre); the distances are clamped to ranges that decide the
    // same for lanes of -1 to 31.
    const auto near = [](int64_t a, int64_t least) {
        return static_cast<int32_t>(std::clamp<int64_t>(a, least, 32));
    };
    __m512i tx = _mm512_srai_epi32(lx, fast::kLaneBits),
            ty = _mm512_srai_epi32(ly, fast::kLaneBits);
    const __m512i one = _mm512_set1_epi32(1);
    tx = _mm512_mask_add_epi32(
        tx, _mm512_cmplt_epi32_mask(tx, _mm512_set1_epi32(near(r.x1 - column, -1))), tx, one);
    ty = _mm512_mask_add_epi32(
        ty, _mm512_cmplt_epi32_mask(ty, _mm512_set1_epi32(near(r.y1 - line, -1))), ty, one);
    // Within the window and inside the picture (unsigned: a negative column
    // or row is a huge one).
    if ((_mm512_cmple_epu32_mask(tx, _mm512_set1_epi32(19)) & _mm512_cmple_epu32_mask(ty, one) &
         _mm512_cmplt_epu32_mask(tx, _mm512_set1_epi32(near(r.W - column, 0))) &
         _mm512_cmplt_epu32_mask(ty, _mm512_set1_epi32(near(h - line, 0)))) != 0xFFFF)
        return false;
    const int64_t first = line * r.W + column;
    if (first + r.W + 22 > r.count) return false;
    const int64_t ahead = first + r.aheadRows * r.W;
    if (ahead >= 0 && ahead < r.count) __builtin_prefetch(r.src + ahead);
    const char* base = reinterpret_cast<const char*>(r.src);
    const __m512i row0 = _mm512_loadu_si512(base + 3 * first);
    const __m512i row1 = _mm512_loadu_si512(base + 3 * (first + r.W));
    // Lane i's source starts at byte at_i of the two rows (below 126).
    const __m512i at =
        _mm512_add_epi32(_mm512_add_epi32(_mm512_add_epi32(tx, tx), tx), _mm512_slli_epi32(ty, 6));
    fast::store16(out, fast::pixels16(row0, at, row1));
    return true;
}

} // namespace

TALVINE_AVX512 void nearestRowAvx512(const TiltRun r, const TiltRow& row, int64_t x0, int64_t x1,
                                     int64_t h, TPtImg* out) {
    int64_t startX = 0, startY = 0;
    const bool fixed = r.fixed.d.usable && fixedStart(positionD(r, row, x0), startX, startY);
    const auto one = [&](int64_t x) { out[x] = nearestAt(r, row, x, h); };
    const auto oct = [&](int64_t x) TALVINE_AVX512 { return nearestOctAvx512(r, row, x, h, out); };
    const auto hex = [&](int64_t x) TALVINE_AVX512 {
        return fixed && nearestHexFixed(r, startX, startY, (x - x0) / 16, h, out + x);
    };
    fast::hexSpans(x0, x1, hex, oct, one);
}

} // namespace talvine::engines::tiltkernel
