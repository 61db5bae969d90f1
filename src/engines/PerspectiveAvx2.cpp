// The perspective's bilinear spans four pixels at a time in AVX2
// (PerspectiveKernels.h has the column and its bound).
#include "engines/FastBlendAvx2.h"
#include "engines/PerspectiveKernels.h"

namespace talvine::engines::perspectivekernel {
namespace {

// Four bilinear pixels at x in AVX2; false when a lane needs the scalar path.
TALVINE_AVX2 inline bool quadAvx2(const PerspectiveRun& r, const PerspectiveRow& row, int64_t x,
                                  TPtImg* out) {
    const __m256d xs =
        _mm256_add_pd(_mm256_set1_pd(static_cast<double>(x)), _mm256_setr_pd(0, 1, 2, 3));
    const __m256d column = _mm256_div_pd(
        _mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(row.vyfD), xs), _mm256_set1_pd(row.fvxD)),
        _mm256_set1_pd(r.VyD));
    __m256d u, decided;
    const __m128i tx = fast::split4(column, _mm256_set1_pd(row.e), u, decided);
    if (_mm256_movemask_pd(decided) != 0xF) return false;
    const __m256i m = _mm256_add_epi64(_mm256_set1_epi64x(row.rowBase), _mm256_cvtepi32_epi64(tx));
    const __m256i inside = fast::inRange(m, 0, r.count - r.W);
    const __m256i safe = fast::inRange(m, 0, r.count - r.W - 2);
    if (_mm256_movemask_pd(_mm256_castsi256_pd(_mm256_xor_si256(inside, safe))) != 0) return false;
    if (_mm256_testz_si256(inside, inside)) return true; // no source: left as it was
    __m256d ok = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    const __m128i words =
        fast::blend4(r.src, r.W, _mm256_blendv_epi8(_mm256_setzero_si256(), m, inside), u,
                     _mm256_set1_pd(row.fyD), _mm256_set1_pd(row.margin), ok);
    ok = _mm256_or_pd(ok, _mm256_castsi256_pd(_mm256_xor_si256(inside, _mm256_set1_epi64x(-1))));
    if (_mm256_movemask_pd(ok) != 0xF) return false;
    fast::store4(out + x, _mm_blendv_epi8(fast::load4(out + x), words, fast::narrowMask(inside)));
    return true;
}

} // namespace

TALVINE_AVX2 int64_t spanAvx2(const PerspectiveRun r, const PerspectiveRow row, int64_t x0,
                              int64_t x1, TPtImg* out) {
    // Nearest sampling, and rows the double column cannot serve (row.fast),
    // go pixel by pixel.
    if (!(row.fast && r.sampling == Sampling::Bilinear)) return spanBaseline(r, row, x0, x1, out);
    int64_t exact = 0;
    fast::spans<4>(
        x0, x1, [&](int64_t x) TALVINE_AVX2 { return quadAvx2(r, row, x, out); },
        [&](int64_t x) { exact += perspectivePixel(r, row, x, out + x); });
    return exact;
}

} // namespace talvine::engines::perspectivekernel
