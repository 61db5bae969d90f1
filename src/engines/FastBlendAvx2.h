// The fast blend of FastBlend.h, four destination pixels at a time with
// AVX2.  Each operation is the scalar one on four lanes (multiplications and
// additions stay separate, no fused multiply-add), so the margins derived
// there hold lane by lane.  Compiled for AVX2 inside functions marked
// TALVINE_AVX2 only; callers check Dispatch.h first.
#pragma once

#include "talvine/talvine.h"

#include "engines/Intrinsics.h"

#include <cstdint>
#include <cstring>

#define TALVINE_AVX2 __attribute__((target("avx2")))

namespace talvine::engines::fast {

// Splits four positions known within `e` of their 80-bit values: the
// truncations as 32-bit integers, the fractions c - floor(c), and a mask of
// the lanes that are decided (as FastBlend.h's splitPosition).
TALVINE_AVX2 inline __m128i split4(__m256d c, __m256d e, __m256d& frac, __m256d& decided) {
    const __m256d absMask = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7fffffffffffffff));
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d near =
        _mm256_cmp_pd(_mm256_and_pd(c, absMask), _mm256_set1_pd(0x1p31), _CMP_LT_OQ);
    const __m256d fl = _mm256_floor_pd(c);
    frac = _mm256_sub_pd(c, fl);
    const __m256d inside = _mm256_and_pd(_mm256_cmp_pd(frac, e, _CMP_GT_OQ),
                                         _mm256_cmp_pd(frac, _mm256_sub_pd(one, e), _CMP_LT_OQ));
    decided = _mm256_and_pd(near, inside);
    // Trunc = floor, plus 1 below zero; lanes not decided may hold anything
    // but stay within the 32-bit range because of `near`.
    const __m256d t =
        _mm256_add_pd(fl, _mm256_and_pd(_mm256_cmp_pd(fl, _mm256_setzero_pd(), _CMP_LT_OQ), one));
    return _mm256_cvttpd_epi32(_mm256_and_pd(t, decided));
}

// Base index row * W + column for four lanes, in 64 bits.
TALVINE_AVX2 inline __m256i baseIndex(__m128i row, __m128i column, int64_t w) {
    return _mm256_add_epi64(_mm256_mul_epi32(_mm256_cvtepi32_epi64(row), _mm256_set1_epi64x(w)),
                            _mm256_cvtepi32_epi64(column));
}

// Lanes with lo <= m < hi.
TALVINE_AVX2 inline __m256i inRange(__m256i m, int64_t lo, int64_t hi) {
    return _mm256_and_si256(_mm256_cmpgt_epi64(m, _mm256_set1_epi64x(lo - 1)),
                            _mm256_cmpgt_epi64(_mm256_set1_epi64x(hi), m));
}

// Byte `k` of each 64-bit lane as a double: the byte is put in the mantissa
// of 2^52, which is then subtracted (exact for any integer below 2^52).
TALVINE_AVX2 inline __m256d byteOf(__m256i words, int k) {
    const __m256i bits =
        _mm256_and_si256(_mm256_srli_epi64(words, 8 * k), _mm256_set1_epi64x(0xff));
    const __m256d big = _mm256_set1_pd(0x1p52);
    return _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(bits, _mm256_castpd_si256(big))), big);
}

// One channel's blend, rounded; lanes within `margin` of a rounding boundary
// are cleared in `decided`.
TALVINE_AVX2 inline __m128i roundChannel(__m256d a, __m256d b, __m256d c, __m256d d, __m256d wA,
                                         __m256d wB, __m256d wC, __m256d wD, __m256d margin,
                                         bool exactSum, __m256d& decided) {
    const __m256d value =
        _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(a, wA), _mm256_mul_pd(b, wB)),
                                    _mm256_mul_pd(c, wC)),
                      _mm256_mul_pd(d, wD));
    if (exactSum) { // the sum is the 80-bit one: round it, ties to even
        const __m256d r = _mm256_round_pd(value, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
        return _mm256_cvttpd_epi32(
            _mm256_min_pd(_mm256_max_pd(r, _mm256_setzero_pd()), _mm256_set1_pd(255.0)));
    }
    const __m256d shifted = _mm256_add_pd(value, _mm256_set1_pd(0.5));
    const __m256d r = _mm256_floor_pd(shifted);
    const __m256d t = _mm256_sub_pd(shifted, r);
    decided = _mm256_and_pd(
        decided,
        _mm256_and_pd(_mm256_cmp_pd(t, margin, _CMP_GT_OQ),
                      _mm256_cmp_pd(t, _mm256_sub_pd(_mm256_set1_pd(1.0), margin), _CMP_LT_OQ)));
    const __m256d clamped =
        _mm256_min_pd(_mm256_max_pd(r, _mm256_setzero_pd()), _mm256_set1_pd(255.0));
    return _mm256_cvttpd_epi32(clamped);
}

// The blends of four pixels at base indices `m` (every lane must satisfy
// 0 <= m and m + W + 1 <= count - 2, so that the eight-byte reads of a base
// pixel with its right neighbour, and of the pixel below with its right
// neighbour, stay inside the source), as four 32-bit words of three bytes
// each.  Lanes whose blend is not decided are cleared in `decided`.  With
// `exactSum` the caller knows that the double blend has rounded nothing (it
// is the 80-bit one), and it is rounded to even directly.
// (Eight-byte loads, not gathers: a gather costs more than eight loads on
// processors with the gather data sampling mitigation.)
TALVINE_AVX2 inline __m128i blend4(const TPtImg* src, int64_t w, __m256i m, __m256d u, __m256d v,
                                   __m256d margin, __m256d& decided, bool exactSum = false) {
    const __m128i lo = _mm256_castsi256_si128(m), hi = _mm256_extracti128_si256(m, 1);
    const int64_t index[4] = {_mm_cvtsi128_si64(lo), _mm_extract_epi64(lo, 1),
                              _mm_cvtsi128_si64(hi), _mm_extract_epi64(hi, 1)};
    const char* base = reinterpret_cast<const char*>(src);
    const int64_t below = 3 * w;
    // The words go straight into registers: four stores then one wide load
    // would wait for the stores, which cannot be forwarded to it.
    auto at = [&](int k, int64_t offset) {
        long long word;
        std::memcpy(&word, base + 3 * index[k] + offset, 8);
        return word;
    };
    const __m256i t = _mm256_set_epi64x(at(3, 0), at(2, 0), at(1, 0), at(0, 0));
    const __m256i b = _mm256_set_epi64x(at(3, below), at(2, below), at(1, below), at(0, below));
    const __m256d wA = _mm256_mul_pd(u, v);
    const __m256d wB = _mm256_sub_pd(u, wA);
    const __m256d wC = _mm256_add_pd(_mm256_sub_pd(_mm256_sub_pd(_mm256_set1_pd(1.0), u), v), wA);
    const __m256d wD = _mm256_sub_pd(v, wA);
    __m128i out = _mm_setzero_si128();
    for (int k = 0; k < 3; ++k) {
        // C and B share the top word, D and A the bottom one.
        const __m128i r = roundChannel(byteOf(b, k + 3), byteOf(t, k + 3), byteOf(t, k),
                                       byteOf(b, k), wA, wB, wC, wD, margin, exactSum, decided);
        out = _mm_or_si128(out, _mm_slli_epi32(r, 8 * k));
    }
    return out;
}

// Narrows a 64-bit lane mask to the four 32-bit lanes of a __m128i.
TALVINE_AVX2 inline __m128i narrowMask(__m256i mask) {
    const __m256i packed =
        _mm256_permutevar8x32_epi32(mask, _mm256_setr_epi32(0, 2, 4, 6, 0, 0, 0, 0));
    return _mm256_castsi256_si128(packed);
}

// Writes four adjacent pixels from four words of three bytes.
TALVINE_AVX2 inline void store4(TPtImg* out, __m128i words) {
    const __m128i packed = _mm_shuffle_epi8(
        words, _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), packed);
    const int tail = _mm_extract_epi32(packed, 2);
    std::memcpy(reinterpret_cast<char*>(out) + 8, &tail, 4);
}

// The four pixels as words of three bytes.
TALVINE_AVX2 inline __m128i load4(const TPtImg* in) {
    __m128i raw = _mm_setzero_si128();
    std::memcpy(&raw, in, 12);
    return _mm_shuffle_epi8(raw,
                            _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1));
}

} // namespace talvine::engines::fast
