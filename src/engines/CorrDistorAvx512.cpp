// The distortion's bilinear rows eight pixels at a time in AVX-512
// (CorrDistorKernels.h has the offsets and their bound).
#include "engines/CorrDistorKernels.h"
#include "engines/FastBlendAvx512.h"

namespace talvine::engines::distortionkernel {
namespace {

// Eight bilinear pixels at x, all on one side of the centre column and off
// the centre row, in AVX-512; false when a lane needs the scalar path.
TALVINE_AVX512 inline bool octAvx512(const DistortionRun& r, const double* tX, const double* tY,
                                     bool up, int64_t x, TPtImg* row) {
    const __m512i reverse = _mm512_setr_epi64(7, 6, 5, 4, 3, 2, 1, 0);
    const __m512d sign = _mm512_set1_pd(-0.0);
    __m512d X, Y;
    if (x >= r.cx) {
        X = _mm512_loadu_pd(tX + (x - r.cx));
        Y = _mm512_loadu_pd(tY + (x - r.cx));
    } else { // |dx| falls from cx - x: the table backwards, X negated
        X = _mm512_xor_pd(_mm512_permutexvar_pd(reverse, _mm512_loadu_pd(tX + (r.cx - x - 7))),
                          sign);
        Y = _mm512_permutexvar_pd(reverse, _mm512_loadu_pd(tY + (r.cx - x - 7)));
    }
    if (up) Y = _mm512_xor_pd(Y, sign);
    const __m512d e = _mm512_set1_pd(r.e);
    __m512d u, v;
    __mmask8 decidedX, decidedY;
    const __m512i sx = fast::split8(X, e, u, decidedX);
    const __m512i sy = fast::split8(Y, e, v, decidedY);
    if ((decidedX & decidedY) != 0xFF) return false;
    const __m512i m =
        _mm512_add_epi64(_mm512_add_epi64(_mm512_mul_epi32(sy, _mm512_set1_epi64(r.W)), sx),
                         _mm512_set1_epi64(r.cx + r.W * r.cy));
    const __mmask8 inside = fast::inRange8(m, 0, r.limit);
    if (inside != fast::inRange8(m, 0, r.limit - 2)) return false;
    if (inside == 0) return true; // no source: left as it was
    __mmask8 ok = 0xFF;
    const __m512i words = fast::blend8(r.src, r.W, r.W + r.limit, _mm512_maskz_mov_epi64(inside, m),
                                       u, v, _mm512_set1_pd(r.margin), ok);
    if ((ok | static_cast<__mmask8>(~inside)) != 0xFF) return false;
    fast::store8(row + x, _mm512_mask_blend_epi64(inside, fast::load8(row + x), words));
    return true;
}

} // namespace

TALVINE_AVX512 int64_t rowAvx512(const DistortionRun r, const double* tX, const double* tY,
                                 int64_t ady, bool up, int64_t y, TPtImg* row) {
    int64_t exact = 0;
    const auto one = [&](int64_t x) { exact += distortionPixel(r, tX, tY, ady, up, x, y, row); };
    if (ady == 0) { // the centre row: pixel by pixel
        for (int64_t x = 0; x < r.W; ++x)
            one(x);
        return exact;
    }
    // Groups of eight that do not straddle the centre column, which is done
    // alone (cx < W).
    const auto oct = [&](int64_t x) TALVINE_AVX512 { return octAvx512(r, tX, tY, up, x, row); };
    fast::spans<8>(0, r.cx, oct, one);
    one(r.cx);
    fast::spans<8>(r.cx + 1, r.W, oct, one);
    return exact;
}

} // namespace talvine::engines::distortionkernel
