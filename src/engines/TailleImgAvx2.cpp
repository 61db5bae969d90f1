// The smoothed resize's rows four pixels at a time in AVX2
// (TailleImgKernels.h has the positions and the tie rule).
#include "engines/FastBlendAvx2.h"
#include "engines/TailleImgKernels.h"

#include <cstring>

namespace talvine::engines::resizekernel {
namespace {

// Four pixels at x; false when the scalar form must take them: a quad it
// cannot decide, or one whose eight-byte reads would reach the end of the
// source.  The fractions are the 80-bit ones rounded to double, and where
// they are all dyadic the sums are rounded to even directly (kTieMargin).
TALVINE_AVX2 inline bool quadAvx2(const SmoothedRun& r, const Row& row, int64_t x, TPtImg* out) {
    if (row.rowStart + r.tx[x + 3] + r.w + 1 > r.total - 2) return false;
    const __m128i tx = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r.tx + x));
    const __m256i m = _mm256_add_epi64(_mm256_set1_epi64x(row.rowStart), _mm256_cvtepi32_epi64(tx));
    const __m256d u = _mm256_loadu_pd(r.u + x);
    if (row.vApprox == 0 &&
        _mm256_movemask_pd(_mm256_cmp_pd(u, _mm256_setzero_pd(), _CMP_EQ_OQ)) == 0xF) {
        for (int k = 0; k < 4; ++k) // weights 0, 0, 1, 0: the base pixels themselves
            out[x + k] = r.src[row.rowStart + r.tx[x + k]];
        return true;
    }
    uint32_t exactColumns;
    std::memcpy(&exactColumns, r.exact + x, 4);
    const bool exact = row.exact && exactColumns == 0x01010101u;
    __m256d decided = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    const __m128i words = fast::blend4(r.src, r.w, m, u, _mm256_set1_pd(row.vApprox),
                                       _mm256_set1_pd(kTieMargin), decided, exact);
    if (_mm256_movemask_pd(decided) != 0xF) return false;
    fast::store4(out + x, words);
    return true;
}

} // namespace

TALVINE_AVX2 void rowAvx2(const SmoothedRun r, const Row row, TPtImg* out) {
    fast::spans<4>(
        0, r.nw, [&](int64_t x) TALVINE_AVX2 { return quadAvx2(r, row, x, out); },
        [&](int64_t x) { smoothedPixel(r, row, x, out); });
}

} // namespace talvine::engines::resizekernel
