// The tilt's blends four pixels at a time in AVX2 (ModifAngleKernels.h has
// the positions and their bound).
#include "engines/FastBlendAvx2.h"
#include "engines/ModifAngleKernels.h"

namespace talvine::engines::tiltkernel {
namespace {

// Four pixels at x in AVX2; false when a lane needs the scalar path (a
// position or a channel the double values cannot decide, or a base whose
// four-byte reads would end past the source).
TALVINE_AVX2 inline bool quadAvx2(const TiltRun& r, const TiltRow& row, int64_t x, TPtImg* out) {
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

} // namespace

TALVINE_AVX2 int64_t rowAvx2(const TiltRun r, const TiltRow& row, int64_t x0, int64_t x1,
                             TPtImg* out) {
    int64_t exact = 0;
    fast::spans<4>(
        x0, x1, [&](int64_t x) TALVINE_AVX2 { return quadAvx2(r, row, x, out); },
        [&](int64_t x) { exact += tiltPixel(r, row, x, out[x]); });
    return exact;
}

} // namespace talvine::engines::tiltkernel
