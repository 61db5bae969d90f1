// The fast blend of FastBlend.h, eight destination pixels at a time with
// AVX-512 (F, DQ, BW, VL and VBMI).  Each operation is the scalar one on
// eight lanes (multiplications and additions stay separate), so the margins
// derived there hold lane by lane.  Compiled inside functions marked
// TALVINE_AVX512 only; callers check Dispatch.h first.
#pragma once

#include "talvine/talvine.h"

#include "engines/FastBlend.h"
#include "engines/FixedPoint.h"
#include "engines/Intrinsics.h"

#include <cstdint>
#include <cstring>

#define TALVINE_AVX512 __attribute__((target("avx512f,avx512dq,avx512bw,avx512vl,avx512vbmi")))

namespace talvine::engines::fast {

// Splits eight positions known within `e` of their 80-bit values (as
// splitPosition): the truncations, the fractions c - floor(c), and the
// mask of the decided lanes.
TALVINE_AVX512 inline __m512i split8(__m512d c, __m512d e, __m512d& frac, __mmask8& decided) {
    const __m512d one = _mm512_set1_pd(1.0);
    const __mmask8 near = _mm512_cmp_pd_mask(_mm512_abs_pd(c), _mm512_set1_pd(0x1p31), _CMP_LT_OQ);
    const __m512d fl = _mm512_roundscale_pd(c, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    frac = _mm512_sub_pd(c, fl);
    decided = near & _mm512_cmp_pd_mask(frac, e, _CMP_GT_OQ) &
              _mm512_cmp_pd_mask(frac, _mm512_sub_pd(one, e), _CMP_LT_OQ);
    // A decided lane is no integer and below 2^31: converting it truncates
    // exactly.  Undecided lanes give what they give; callers refuse them.
    return _mm512_cvttpd_epi64(c);
}

TALVINE_AVX512 inline __mmask8 inRange8(__m512i m, int64_t lo, int64_t hi) {
    return _mm512_cmpge_epi64_mask(m, _mm512_set1_epi64(lo)) &
           _mm512_cmplt_epi64_mask(m, _mm512_set1_epi64(hi));
}

// Byte `k` (0 to 7) of each 64-bit lane, as a double.
TALVINE_AVX512 inline __m512d byte8(__m512i words, int k) {
    const __m512i index =
        _mm512_add_epi64(_mm512_set1_epi64(k), _mm512_setr_epi64(0, 8, 16, 24, 32, 40, 48, 56));
    return _mm512_cvtepu64_pd(_mm512_maskz_permutexvar_epi8(0x0101010101010101ull, index, words));
}

// Eight indices as offsets from the smallest: those a row further on (at
// least W past it) are marked in `second` and brought back by W.
struct Window {
    int64_t first;
    __mmask8 second;
    __m512i offset;
};

TALVINE_AVX512 inline Window windowOf(__m512i m, int64_t w) {
    // The smallest lane, by three halvings (GCC's own reduction trips
    // -Wuninitialized on its placeholder operands).
    __m512i least =
        _mm512_min_epi64(m, _mm512_permutexvar_epi64(_mm512_setr_epi64(4, 5, 6, 7, 0, 1, 2, 3), m));
    least = _mm512_min_epi64(
        least, _mm512_permutexvar_epi64(_mm512_setr_epi64(2, 3, 0, 1, 6, 7, 4, 5), least));
    least = _mm512_min_epi64(
        least, _mm512_permutexvar_epi64(_mm512_setr_epi64(1, 0, 3, 2, 5, 4, 7, 6), least));
    const int64_t first = _mm_cvtsi128_si64(_mm512_castsi512_si128(least));
    const __m512i d = _mm512_sub_epi64(m, _mm512_set1_epi64(first));
    const __mmask8 second = _mm512_cmpge_epi64_mask(d, _mm512_set1_epi64(w));
    return {first, second, _mm512_mask_sub_epi64(d, second, d, _mm512_set1_epi64(w))};
}

// Byte j of lane k of a window load is byte 3*offset_k + j.
TALVINE_AVX512 inline __m512i windowIndex(__m512i offset) {
    return _mm512_add_epi64(
        _mm512_mullo_epi64(_mm512_add_epi64(_mm512_add_epi64(offset, offset), offset),
                           _mm512_set1_epi64(0x0101010101010101ll)),
        _mm512_set1_epi64(0x0706050403020100ll));
}

// The eight-byte words at 3*m (a base pixel and its right neighbour) and
// at 3*(m + W) (the two below), for eight base indices with 0 <= m and
// m + W + 1 <= count - 2.  When the bases lie within 19 pixels of each
// other on at most two neighbouring rows, as they do along a destination
// row of a small turn, a resize or a perspective row, the words are cut out
// of two or three 64-byte loads with byte permutes; otherwise each is read
// on its own.
TALVINE_AVX512 inline void words8(const TPtImg* src, int64_t w, int64_t count, __m512i m,
                                  __m512i& top, __m512i& bottom) {
    const char* base = reinterpret_cast<const char*>(src);
    const Window win = windowOf(m, w);
    const int64_t first = win.first;
    const __mmask8 second = win.second;
    const __m512i d = win.offset;
    const int64_t rows = second ? 3 : 2;
    if (!_mm512_cmpgt_epi64_mask(d, _mm512_set1_epi64(19)) &&
        first + (rows - 1) * w + 22 <= count) {
        const __m512i index = windowIndex(d);
        const __m512i row0 = _mm512_permutexvar_epi8(index, _mm512_loadu_si512(base + 3 * first));
        const __m512i row1 =
            _mm512_permutexvar_epi8(index, _mm512_loadu_si512(base + 3 * (first + w)));
        if (!second) {
            top = row0;
            bottom = row1;
            return;
        }
        const __m512i row2 =
            _mm512_permutexvar_epi8(index, _mm512_loadu_si512(base + 3 * (first + 2 * w)));
        top = _mm512_mask_blend_epi64(second, row0, row1);
        bottom = _mm512_mask_blend_epi64(second, row1, row2);
        return;
    }
    // Elsewhere (steeper turns, rows further apart) the words are gathered.
    const __m512i at = _mm512_add_epi64(_mm512_add_epi64(m, m), m);
    top = _mm512_i64gather_epi64(at, base, 1);
    bottom = _mm512_i64gather_epi64(_mm512_add_epi64(at, _mm512_set1_epi64(3 * w)), base, 1);
}

// The blends of eight pixels at base indices `m`, under the same conditions
// as blend4 (every lane 0 <= m, m + W + 1 <= count - 2), as eight 64-bit
// words of three bytes each; undecided lanes are cleared in `decided`, and
// with `exactSum` the sums are rounded to even directly.
TALVINE_AVX512 inline __m512i blend8(const TPtImg* src, int64_t w, int64_t count, __m512i m,
                                     __m512d u, __m512d v, __m512d margin, __mmask8& decided,
                                     bool exactSum = false) {
    __m512i t, b;
    words8(src, w, count, m, t, b);
    const __m512d one = _mm512_set1_pd(1.0);
    const __m512d wA = _mm512_mul_pd(u, v);
    const __m512d wB = _mm512_sub_pd(u, wA);
    const __m512d wC = _mm512_add_pd(_mm512_sub_pd(_mm512_sub_pd(one, u), v), wA);
    const __m512d wD = _mm512_sub_pd(v, wA);
    const __m512d zero = _mm512_setzero_pd(), top255 = _mm512_set1_pd(255.0);
    const __m512d halfLessMargin = _mm512_sub_pd(_mm512_set1_pd(0.5), margin);
    __m512i out = _mm512_setzero_si512();
    for (int k = 0; k < 3; ++k) {
        // C and B share the top word, D and A the bottom one.
        const __m512d value =
            _mm512_add_pd(_mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(byte8(b, k + 3), wA),
                                                      _mm512_mul_pd(byte8(t, k + 3), wB)),
                                        _mm512_mul_pd(byte8(t, k), wC)),
                          _mm512_mul_pd(byte8(b, k), wD));
        const __m512d r =
            _mm512_roundscale_pd(value, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
        // Decided when the value lies further than the margin from every
        // k + 1/2, that is within 1/2 - margin of its nearest integer (the
        // difference is exact).
        if (!exactSum)
            decided &= _mm512_cmp_pd_mask(_mm512_abs_pd(_mm512_sub_pd(value, r)), halfLessMargin,
                                          _CMP_LT_OQ);
        const __m512i channel = _mm512_cvttpd_epi64(_mm512_min_pd(_mm512_max_pd(r, zero), top255));
        out = _mm512_or_si512(out, _mm512_slli_epi64(channel, 8 * k));
    }
    return out;
}

// The fraction bits of sixteen fixed-point lanes (FixedPoint.h).
TALVINE_AVX512 inline __m512i fraction16(__m512i lanes) {
    return _mm512_and_si512(lanes, _mm512_set1_epi32((1 << kLaneBits) - 1));
}

// The lanes whose fractions decide, fracLow <= fraction <= 2^26 - fracLow
// (one unsigned comparison).
TALVINE_AVX512 inline __mmask16 decided16(__m512i fraction, const FixedDecision& d) {
    return _mm512_cmple_epu32_mask(_mm512_sub_epi32(fraction, _mm512_set1_epi32(d.fracLow)),
                                   _mm512_set1_epi32((1 << kLaneBits) - 2 * d.fracLow));
}

// Channel bytes of a 128-byte window (`low`, then `high`) at the byte
// offsets in the low bytes of the 32-bit lanes of `at`, as floats.
TALVINE_AVX512 inline __m512 bytesAt(__m512i low, __m512i at, __m512i high) {
    return _mm512_cvtepi32_ps(_mm512_maskz_permutex2var_epi8(0x1111111111111111ull, low, at, high));
}

// Byte k of each 64-bit lane of `first` to 32-bit lanes 0-7, of `second`
// to lanes 8-15, as floats.
TALVINE_AVX512 inline __m512 channel16(__m512i first, __m512i second, int k) {
    const __m512i index =
        _mm512_add_epi32(_mm512_set1_epi32(k), _mm512_setr_epi32(0, 8, 16, 24, 32, 40, 48, 56, 64,
                                                                 72, 80, 88, 96, 104, 112, 120));
    return bytesAt(first, index, second);
}

// Channel k of the four pixels each of sixteen blends read: c the base, b
// its right neighbour, d the pixel below, a the diagonal one.
struct Corners16 {
    __m512 c, b, d, a;
};

// The blends of sixteen pixels in single precision (FastBlend.h,
// blendMarginSingle), from corners(k) for each channel k and the float
// fractions u and v.  Each channel is two
// interpolations along the row and one down, each a single fused
// multiply-add, and is rounded by adding 1.5 * 2^23, which leaves the
// rounded value in the low byte of the sum's bits.  Returns the sixteen
// pixels packed in the first 48 bytes, and clears in `decided` the lanes
// with a channel further than 1/2 - margin from its nearest integer (where
// the 80-bit blend could round otherwise).
template <class Corners>
[[gnu::always_inline]] TALVINE_AVX512 inline __m512i
blendPacked16f(Corners&& corners, __m512 u, __m512 v, __m512 halfLessMargin, __mmask16& decided) {
    const __m512 magic = _mm512_set1_ps(0x1.8p23f);
    __m512i rounded[3];
    for (int k = 0; k < 3; ++k) {
        const Corners16 q = corners(k);
        const __m512 top = _mm512_fmadd_ps(u, _mm512_sub_ps(q.b, q.c), q.c);
        const __m512 bottom = _mm512_fmadd_ps(u, _mm512_sub_ps(q.a, q.d), q.d);
        const __m512 value = _mm512_fmadd_ps(v, _mm512_sub_ps(bottom, top), top);
        const __m512 sum =
            _mm512_add_round_ps(value, magic, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
        decided &=
            _mm512_cmp_ps_mask(_mm512_abs_ps(_mm512_sub_ps(value, _mm512_sub_ps(sum, magic))),
                               halfLessMargin, _CMP_LT_OQ);
        rounded[k] = _mm512_castps_si512(sum);
    }
    // Byte 3i + k of the result is the low byte of lane i of channel k.
    const __m512i first2 = _mm512_set_epi8(
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 124, 60, 0, 120, 56, 0, 116, 52, 0, 112,
        48, 0, 108, 44, 0, 104, 40, 0, 100, 36, 0, 96, 32, 0, 92, 28, 0, 88, 24, 0, 84, 20, 0, 80,
        16, 0, 76, 12, 0, 72, 8, 0, 68, 4, 0, 64, 0);
    const __m512i third =
        _mm512_set_epi8(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 60, 0, 0, 56, 0, 0, 52, 0,
                        0, 48, 0, 0, 44, 0, 0, 40, 0, 0, 36, 0, 0, 32, 0, 0, 28, 0, 0, 24, 0, 0, 20,
                        0, 0, 16, 0, 0, 12, 0, 0, 8, 0, 0, 4, 0, 0, 0, 0, 0);
    return _mm512_mask_permutexvar_epi8(_mm512_permutex2var_epi8(rounded[0], first2, rounded[1]),
                                        0x0000924924924924ull, third, rounded[2]);
}

// Sixteen double fractions, pixels 0-7 in `first` and 8-15 in `second`,
// rounded to float.
TALVINE_AVX512 inline __m512 toFloat16(__m512d first, __m512d second) {
    return _mm512_insertf32x8(_mm512_castps256_ps512(_mm512_cvtpd_ps(first)),
                              _mm512_cvtpd_ps(second), 1);
}

// Byte 3i + k (k < 3) of the result is byte at_i + k of the window, for
// the sixteen 32-bit lanes of `at` (each below 62): sixteen pixels packed.
TALVINE_AVX512 inline __m512i pixelIndex16(__m512i at) {
    const __m512i spread = _mm512_set_epi8(
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 60, 60, 60, 56, 56, 56, 52, 52, 52, 48, 48,
        48, 44, 44, 44, 40, 40, 40, 36, 36, 36, 32, 32, 32, 28, 28, 28, 24, 24, 24, 20, 20, 20, 16,
        16, 16, 12, 12, 12, 8, 8, 8, 4, 4, 4, 0, 0, 0);
    const __m512i channel =
        _mm512_set_epi8(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 1, 0, 2, 1, 0, 2, 1, 0,
                        2, 1, 0, 2, 1, 0, 2, 1, 0, 2, 1, 0, 2, 1, 0, 2, 1, 0, 2, 1, 0, 2, 1, 0, 2,
                        1, 0, 2, 1, 0, 2, 1, 0, 2, 1, 0, 2, 1, 0);
    return _mm512_add_epi8(_mm512_permutexvar_epi8(spread, at), channel);
}

// Sixteen pixels at the byte offsets `at` of a 64-byte window.
TALVINE_AVX512 inline __m512i pixels16(__m512i window, __m512i at) {
    return _mm512_permutexvar_epi8(pixelIndex16(at), window);
}

// The same from a 128-byte window (`low`, then `high`; offsets below 126).
TALVINE_AVX512 inline __m512i pixels16(__m512i low, __m512i at, __m512i high) {
    return _mm512_permutex2var_epi8(low, pixelIndex16(at), high);
}

// Writes sixteen adjacent pixels from their 48 packed bytes.
TALVINE_AVX512 inline void store16(TPtImg* out, __m512i packed) {
    _mm512_mask_storeu_epi8(out, 0xffffffffffffull, packed);
}

// Sixteen pixels at `out` blended in single precision from the base indices
// of pixels 0-7 (m0) and 8-15 (m1), all within words8's bounds, and their
// double fractions; false, with nothing written, when a lane is not decided.
TALVINE_AVX512 inline bool blendStore16f(const TPtImg* src, int64_t w, int64_t count, __m512i m0,
                                         __m512i m1, __m512d u0, __m512d v0, __m512d u1, __m512d v1,
                                         float halfLessMargin, TPtImg* out) {
    __m512i t0, b0, t1, b1;
    words8(src, w, count, m0, t0, b0);
    words8(src, w, count, m1, t1, b1);
    __mmask16 decided = 0xFFFF;
    const auto corners = [&](int k) TALVINE_AVX512 {
        // C and B share the top word, D and A the bottom one.
        return Corners16{channel16(t0, t1, k), channel16(t0, t1, k + 3), channel16(b0, b1, k),
                         channel16(b0, b1, k + 3)};
    };
    const __m512i packed = blendPacked16f(corners, toFloat16(u0, u1), toFloat16(v0, v1),
                                          _mm512_set1_ps(halfLessMargin), decided);
    if (decided != 0xFFFF) return false;
    store16(out, packed);
    return true;
}

// The same blends when the caller knows the window: the channel bytes of
// pixel i's base lie at byte at_i + k of the 128 bytes at 3 * first and
// then 3 * (first + W) (at_i below 64 for a base in the upper row, 64 on
// for one in the lower, the lanes set in `below`), and those of the pixels
// below them 64 bytes on: the 64 bytes at 3 * (first + 2W) are read too
// when `below` is not empty, and must then lie inside the source.  Each
// corner's channel is cut straight out of those loads, a byte permute of
// two rows at once, and u and v are the float fractions.
TALVINE_AVX512 inline bool blendAt16f(const TPtImg* src, int64_t w, int64_t first, __m512i at,
                                      __mmask16 below, __m512 u, __m512 v, float halfLessMargin,
                                      TPtImg* out) {
    const char* base = reinterpret_cast<const char*>(src);
    const __m512i row0 = _mm512_loadu_si512(base + 3 * first);
    const __m512i row1 = _mm512_loadu_si512(base + 3 * (first + w));
    const __m512i row2 = below ? _mm512_loadu_si512(base + 3 * (first + 2 * w)) : row1;
    const auto corners = [&](int k) TALVINE_AVX512 {
        const __m512i c = _mm512_add_epi32(at, _mm512_set1_epi32(k));
        const __m512i b = _mm512_add_epi32(at, _mm512_set1_epi32(k + 3));
        return Corners16{bytesAt(row0, c, row1), bytesAt(row0, b, row1), bytesAt(row1, c, row2),
                         bytesAt(row1, b, row2)};
    };
    __mmask16 decided = 0xFFFF;
    const __m512i packed = blendPacked16f(corners, u, v, _mm512_set1_ps(halfLessMargin), decided);
    if (decided != 0xFFFF) return false;
    store16(out, packed);
    return true;
}

// The span loop of the blending kernels: sixteen pixels at a time by
// `hex`, a group it declines by eight through `oct`, then the rest by
// eight (fast::spans; `one` takes what the blocks decline).
template <class Hex, class Oct, class One>
[[gnu::always_inline]] TALVINE_AVX512 inline void hexSpans(int64_t x0, int64_t x1, Hex&& hex,
                                                           Oct&& oct, One&& one) {
    const int64_t hexEnd = x0 + (x1 - x0) / 16 * 16;
    spans<16>(
        x0, hexEnd,
        [&](int64_t x) TALVINE_AVX512 {
            if (!hex(x)) spans<8>(x, x + 16, oct, one);
            return true;
        },
        one);
    spans<8>(hexEnd, x1, oct, one);
}

// Writes eight adjacent pixels from eight words of three bytes.
TALVINE_AVX512 inline void store8(TPtImg* out, __m512i words) {
    const __m512i pack =
        _mm512_set_epi8(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 58, 57, 56, 50, 49, 48, 42, 41,
                        40, 34, 33, 32, 26, 25, 24, 18, 17, 16, 10, 9, 8, 2, 1, 0);
    _mm512_mask_storeu_epi8(out, 0xffffffull, _mm512_permutexvar_epi8(pack, words));
}

// Eight adjacent pixels as words of three bytes.
TALVINE_AVX512 inline __m512i load8(const TPtImg* in) {
    const __m512i raw = _mm512_maskz_loadu_epi8(0xffffffull, in);
    const __m512i spread =
        _mm512_set_epi8(0, 0, 0, 0, 0, 23, 22, 21, 0, 0, 0, 0, 0, 20, 19, 18, 0, 0, 0, 0, 0, 17, 16,
                        15, 0, 0, 0, 0, 0, 14, 13, 12, 0, 0, 0, 0, 0, 11, 10, 9, 0, 0, 0, 0, 0, 8,
                        7, 6, 0, 0, 0, 0, 0, 5, 4, 3, 0, 0, 0, 0, 0, 2, 1, 0);
    return _mm512_maskz_permutexvar_epi8(0x0707070707070707ull, spread, raw);
}

// Writes the eight words to the eight pixels at `out` where `inside`; the
// others keep their bytes.
TALVINE_AVX512 inline void storeWhere8(TPtImg* out, __m512i words, __mmask8 inside) {
    if (inside != 0xFF) words = _mm512_mask_blend_epi64(inside, load8(out), words);
    store8(out, words);
}

// The nearest pixels at base indices `m` (each at most count - 3, so that
// the eight-byte read at 3*m stays inside the source) written to the eight
// pixels at `out` where `inside`; the others keep their bytes.
TALVINE_AVX512 inline void gatherStore8(TPtImg* out, const TPtImg* src, __m512i m,
                                        __mmask8 inside) {
    const __m512i at = _mm512_add_epi64(_mm512_add_epi64(m, m), m);
    if (inside == 0xFF) { // no old bytes to keep: the destination is not read
        store8(out, _mm512_i64gather_epi64(at, src, 1));
        return;
    }
    store8(out, _mm512_mask_i64gather_epi64(load8(out), inside, at, src, 1));
}

} // namespace talvine::engines::fast
