// The resize's rows in AVX-512: the smoothed ones eight pixels at a time in
// double, or, when every fraction is a small power-of-two multiple, 32
// channel bytes at a time in integers (TailleImgKernels.h has the positions
// and the tie rule); the copying ones sixteen pixels at a time.
#include "engines/FastBlendAvx512.h"
#include "engines/TailleImgKernels.h"

#include <cstring>

namespace talvine::engines::resizekernel {
namespace {

// Eight pixels at x, under the rules of the quads (TailleImgAvx2.cpp).
TALVINE_AVX512 inline bool octAvx512(const SmoothedRun& r, const Row& row, int64_t x, TPtImg* out) {
    if (row.rowStart + r.tx[x + 7] + r.w + 1 > r.total - 2) return false;
    const __m256i tx = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r.tx + x));
    const __m512i m = _mm512_add_epi64(_mm512_set1_epi64(row.rowStart), _mm512_cvtepi32_epi64(tx));
    const __m512d u = _mm512_loadu_pd(r.u + x);
    if (row.vApprox == 0 && _mm512_cmp_pd_mask(u, _mm512_setzero_pd(), _CMP_EQ_OQ) == 0xFF) {
        for (int k = 0; k < 8; ++k) // weights 0, 0, 1, 0: the base pixels themselves
            out[x + k] = r.src[row.rowStart + r.tx[x + k]];
        return true;
    }
    uint64_t exactColumns;
    std::memcpy(&exactColumns, r.exact + x, 8);
    const bool exact = row.exact && exactColumns == 0x0101010101010101ull;
    __mmask8 decided = 0xFF;
    const __m512i words = fast::blend8(r.src, r.w, r.total, m, u, _mm512_set1_pd(row.vApprox),
                                       _mm512_set1_pd(kTieMargin), decided, exact);
    if (decided != 0xFF) return false;
    fast::store8(out + x, words);
    return true;
}

} // namespace

TALVINE_AVX512 void rowAvx512(const SmoothedRun r, const Row row, TPtImg* out) {
    fast::spans<8>(
        0, r.nw, [&](int64_t x) TALVINE_AVX512 { return octAvx512(r, row, x, out); },
        [&](int64_t x) { smoothedPixel(r, row, x, out); });
}

namespace {

// The low 32 bytes, widened to 16 bits.
TALVINE_AVX512 inline __m512i widenLow(__m512i bytes) {
    return _mm512_cvtepu8_epi16(_mm512_castsi512_si256(bytes));
}

// sums / 2^shift, rounded half to even.
TALVINE_AVX512 inline __m512i roundShift(__m512i sums, __m512i half, int shift) {
    const __m512i odd = _mm512_and_si512(_mm512_srli_epi32(sums, shift), _mm512_set1_epi32(1));
    return _mm512_srli_epi32(_mm512_add_epi32(_mm512_add_epi32(sums, half), odd), shift);
}

} // namespace

TALVINE_AVX512 int64_t rowDyadic(const uint8_t* top, const uint8_t* sourceEnd, int64_t rowBytes,
                                 const DyadicColumns& cols, int b, uint8_t* out, int64_t outBytes) {
    const int k = cols.k, shift = 2 * k;
    const __m512i one = _mm512_set1_epi16(static_cast<int16_t>(1 << k));
    const __m512i pair = _mm512_set1_epi32(((b & 0xffff) << 16) | (((1 << k) - b) & 0xffff));
    const __m512i half = _mm512_set1_epi32(shift == 0 ? 0 : (1 << (shift - 1)) - 1);
    int64_t j = 0;
    for (; j + 32 <= outBytes; j += 32) {
        const int64_t first = cols.first[static_cast<size_t>(j / 32)];
        if (first < 0 || top + rowBytes + first + 64 > sourceEnd) break;
        const __m512i windowTop = _mm512_loadu_si512(top + first);
        const __m512i windowBottom = _mm512_loadu_si512(top + rowBytes + first);
        const __m512i idxC = _mm512_castsi256_si512(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cols.index.data() + j)));
        const __m512i idxB = _mm512_add_epi8(idxC, _mm512_set1_epi8(3));

        const __m512i c = widenLow(_mm512_permutexvar_epi8(idxC, windowTop));
        const __m512i bRight = widenLow(_mm512_permutexvar_epi8(idxB, windowTop));
        const __m512i d = widenLow(_mm512_permutexvar_epi8(idxC, windowBottom));
        const __m512i a = widenLow(_mm512_permutexvar_epi8(idxB, windowBottom));
        const __m512i wa = _mm512_loadu_si512(cols.weight.data() + j);
        const __m512i wc = _mm512_sub_epi16(one, wa);
        const __m512i upper =
            _mm512_add_epi16(_mm512_mullo_epi16(c, wc), _mm512_mullo_epi16(bRight, wa));
        const __m512i lower =
            _mm512_add_epi16(_mm512_mullo_epi16(d, wc), _mm512_mullo_epi16(a, wa));

        // Pairs (upper, lower) times (2^k - b, b), within 128-bit lanes; the
        // pack below puts them back in order.
        const __m512i lo =
            roundShift(_mm512_madd_epi16(_mm512_unpacklo_epi16(upper, lower), pair), half, shift);
        const __m512i hi =
            roundShift(_mm512_madd_epi16(_mm512_unpackhi_epi16(upper, lower), pair), half, shift);
        const __m256i bytes = _mm512_cvtusepi16_epi8(_mm512_packus_epi32(lo, hi));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + j), bytes);
    }
    return j;
}

TALVINE_AVX512 int64_t gatherRowAvx512(const TPtImg* row, const TPtImg* sourceEnd,
                                       const int32_t* cols, const GatherColumns& g, TPtImg* out,
                                       int64_t nw, const TPtImg* next) {
    const auto* base = reinterpret_cast<const uint8_t*>(row);
    const auto* ahead = reinterpret_cast<const uint8_t*>(next ? next : row);
    const auto* end = reinterpret_cast<const uint8_t*>(sourceEnd);
    int64_t x = 0;
    for (; x + 16 <= nw; x += 16) {
        const int64_t first = g.first[static_cast<size_t>(x / 16)];
        if (first >= 0 && base + first + 128 <= end) {
            // The same two lines of the next row.  6000 x 4000 halved,
            // one thread, smoothed: 3.4-3.8 -> 2.0-2.2 ms (with only the
            // second line, 2.3-2.5); nearest: 3.6-4.3 -> 2.4-2.5 ms.
            if (ahead + first + 128 <= end) {
                __builtin_prefetch(ahead + first);
                __builtin_prefetch(ahead + first + 64);
            }
            const __m512i index = _mm512_loadu_si512(g.index.data() + x / 16 * 64);
            fast::store16(out + x, _mm512_permutex2var_epi8(_mm512_loadu_si512(base + first), index,
                                                            _mm512_loadu_si512(base + first + 64)));
            continue;
        }
        // Sources further apart: eight-byte words gathered.
        if (base + 3 * int64_t{cols[x + 15]} + 8 > end) break; // columns ascend
        for (int64_t half = x; half < x + 16; half += 8)
            fast::gatherStore8(out + half, row,
                               _mm512_cvtepi32_epi64(_mm256_loadu_si256(
                                   reinterpret_cast<const __m256i*>(cols + half))),
                               0xFF);
    }
    return x;
}

} // namespace talvine::engines::resizekernel
