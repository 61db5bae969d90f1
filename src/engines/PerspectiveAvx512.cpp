// The perspective's bilinear spans eight pixels at a time in AVX-512
// (PerspectiveKernels.h has the column and its bound).
#include "engines/FastBlendAvx512.h"
#include "engines/PerspectiveKernels.h"

namespace talvine::engines::perspectivekernel {
namespace {

// Eight bilinear pixels at x in AVX-512, under the rules of the quads.
TALVINE_AVX512 inline bool octAvx512(const PerspectiveRun& r, const PerspectiveRow& row, int64_t x,
                                     TPtImg* out) {
    const __m512d xs = _mm512_add_pd(_mm512_set1_pd(static_cast<double>(x)),
                                     _mm512_setr_pd(0, 1, 2, 3, 4, 5, 6, 7));
    const __m512d column = _mm512_div_pd(
        _mm512_add_pd(_mm512_mul_pd(_mm512_set1_pd(row.vyfD), xs), _mm512_set1_pd(row.fvxD)),
        _mm512_set1_pd(r.VyD));
    __m512d u;
    __mmask8 decided;
    const __m512i tx = fast::split8(column, _mm512_set1_pd(row.e), u, decided);
    if (decided != 0xFF) return false;
    const __m512i m = _mm512_add_epi64(_mm512_set1_epi64(row.rowBase), tx);
    const __mmask8 inside = fast::inRange8(m, 0, r.count - r.W);
    if (inside != fast::inRange8(m, 0, r.count - r.W - 2)) return false;
    if (inside == 0) return true; // no source: left as it was
    __mmask8 ok = 0xFF;
    const __m512i words = fast::blend8(r.src, r.W, r.count, _mm512_maskz_mov_epi64(inside, m), u,
                                       _mm512_set1_pd(row.fyD), _mm512_set1_pd(row.margin), ok);
    if ((ok | static_cast<__mmask8>(~inside)) != 0xFF) return false;
    fast::store8(out + x, _mm512_mask_blend_epi64(inside, fast::load8(out + x), words));
    return true;
}

} // namespace

TALVINE_AVX512 int64_t spanAvx512(const PerspectiveRun r, const PerspectiveRow row, int64_t x0,
                                  int64_t x1, TPtImg* out) {
    // Nearest sampling, and rows the double column cannot serve (row.fast),
    // go pixel by pixel.
    if (!(row.fast && r.sampling == Sampling::Bilinear)) return spanBaseline(r, row, x0, x1, out);
    int64_t exact = 0;
    fast::spans<8>(
        x0, x1, [&](int64_t x) TALVINE_AVX512 { return octAvx512(r, row, x, out); },
        [&](int64_t x) { exact += perspectivePixel(r, row, x, out + x); });
    return exact;
}

} // namespace talvine::engines::perspectivekernel
