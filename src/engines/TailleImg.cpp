#include "engines/TailleImg.h"

#include "core/ParamCoul.h"
#include "engines/Bilinear.h"
#include "engines/Dispatch.h"
#include "engines/FastBlend.h"
#include "engines/FastBlendAvx2.h"
#include "engines/FastBlendAvx512.h"
#include "engines/Parallel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

// Where the edges go (docs/RESAMPLING.md has the pictures):
//
// - Nearest pixel: a rounded row sy = H (possible when the height is at least
//   doubled) reads row H - 1; a rounded column sx = W reads the first pixel of
//   the next row, except on the last row, where it reads the last pixel.
// - Bilinear: the row below the last source row is the last row again, so the
//   bottom output rows blend along the last row only; a right neighbour past
//   the last pixel (last column of the last row, or the diagonal neighbour of
//   the last pixel of the row above it) is the last pixel.
//
// With x <= NW - 1, x * rx stays below W by at least W / NW (far above the
// rounding error of two extended operations), so Trunc(fx) <= W - 1 and
// Round(fx) <= W; the same holds for the rows.

namespace talvine::engines {
namespace {

void checkSizes(int32_t w, int32_t h, int32_t nw, int32_t nh) {
    if (w < 0 || h < 0 || nw < 0 || nh < 0)
        throw std::invalid_argument("negative picture dimension");
    if (nw == 0 || nh == 0) throw ZeroDimension();
    if (w == 0 || h == 0) throw std::invalid_argument("empty source picture");
}

} // namespace

namespace reference {

void resizeNearest(const TPtImg* src, int32_t w, int32_t h, TPtImg* dst, int32_t nw, int32_t nh) {
    checkSizes(w, h, nw, nh);
    const long double rx = static_cast<long double>(w) / nw;
    const long double ry = static_cast<long double>(h) / nh;
    const int64_t total = int64_t{w} * h;
    for (int64_t y = 0; y < nh; ++y) {
        for (int64_t x = 0; x < nw; ++x) {
            const auto sx = static_cast<int64_t>(rintl(static_cast<long double>(x) * rx));
            auto sy = static_cast<int64_t>(rintl(static_cast<long double>(y) * ry));
            int64_t index = sy * w + sx;
            if (index >= total) {
                sy = std::min<int64_t>(sy, h - 1);
                index = std::min(sy * w + sx, total - 1);
            }
            dst[y * nw + x] = src[index];
        }
    }
}

void resizeSmoothed(const TPtImg* src, int32_t w, int32_t h, TPtImg* dst, int32_t nw, int32_t nh) {
    checkSizes(w, h, nw, nh);
    const long double rx = static_cast<long double>(w) / nw;
    const long double ry = static_cast<long double>(h) / nh;
    const int64_t total = int64_t{w} * h;
    const int64_t count = int64_t{nw} * nh;
    for (int64_t i = 0; i < count; ++i) {
        const int64_t x = i % nw, y = i / nw;
        const long double fx = static_cast<long double>(x) * rx;
        const long double fy = static_cast<long double>(y) * ry;
        const auto tx = static_cast<int64_t>(fx); // Trunc: fx >= 0
        const auto ty = static_cast<int64_t>(fy);
        const int64_t m = ty * w + tx;
        const long double u = fx - static_cast<long double>(tx);
        const long double v = fy - static_cast<long double>(ty);
        int64_t c = m, b = m + 1, d = m + w, a = m + w + 1;
        if (m >= total - w) { // last source row: the row below is the same row
            b = std::min(b, total - 1);
            d = c;
            a = b;
        } else {
            a = std::min(a, total - 1);
        }
        dst[i] = detail::blend(src[a], src[b], src[c], src[d], u, v);
    }
}

} // namespace reference

namespace {

// Round to nearest, ties to even, as rintl in the default rounding mode: adding
// 1.5 * 2^63 leaves no fraction bits in the 64-bit mantissa, so the sum is
// rounded to an integer by the addition itself; exact for |r| < 2^62.
inline long double roundEven(long double r) {
    constexpr long double kShift = 0x1.8p63L;
    return (r + kShift) - kShift;
}

inline uint8_t toByte(long double r) {
    return detail::clampByte(static_cast<int64_t>(roundEven(r)));
}

// One rule for the scalar and the vector paths: the fractions and weights
// they blend with are the extended ones rounded to double, within 2^-54 of
// them (the fractions lie in [0, 1)), so by FastBlend.h's argument a double
// blend lies within blendMargin(2^-54), about 3.8e-12, of the extended one,
// whatever the order of its terms (two for the edge's columns and rows, four
// inside).  Unless the double sum comes within that margin of a rounding
// tie, both round to the same integer.  Near a tie the extended sum decides,
// unless both sums are exact (see dyadic): then they are equal, and the
// double one is rounded to even directly.
constexpr double kTieMargin = fast::blendMargin(0x1p-54);

template <class Exact> inline uint8_t screened(double approx, bool exactSum, Exact exact) {
    const double s = approx + 0.5;
    const double f = std::floor(s);
    const double frac = s - f;
    if (frac > kTieMargin && frac < 1 - kTieMargin)
        return detail::clampByte(static_cast<int64_t>(f));
    if (exactSum) {
        constexpr double kShift = 0x1.8p52; // as roundEven, in double: exact below 2^51
        return detail::clampByte(static_cast<int64_t>((approx + kShift) - kShift));
    }
    return toByte(exact());
}

// Whether a fraction is a multiple of 2^-20.  When u and v both are, every
// weight is a multiple of 2^-40 below 2, every product of a byte and a weight
// fits in 49 bits and every sum of four in 51: the blend is computed without
// any rounding, in double as in extended precision.  Halving and doubling
// give such fractions (0, 1/2, 1/4, ...).
bool dyadic(long double fraction) {
    const long double scaled = fraction * 0x1p20L;
    return scaled == static_cast<long double>(static_cast<int64_t>(scaled));
}

struct LisseColumns {
    const int32_t* tx;
    const double* u;
    const uint8_t* exact;
};

// One output row of the smoothed resampling, four pixels at a time, from
// column x = 0 on, for a base row that is not the last source row.  It stops
// where the eight-byte reads of a quad would reach the end of the source,
// and returns the column there; a quad it cannot decide goes to `pixel`, the
// scalar form.  The fractions are the 80-bit ones rounded to double, within
// 2^-54 of them; where they are all dyadic the double blend is the 80-bit
// one and is rounded to even directly.
template <class Pixel>
TALVINE_AVX2 int64_t lisseRowAvx2(const TPtImg* src, int64_t w, int64_t total, int64_t rowStart,
                                  const LisseColumns& cols, int64_t nw, double v, bool rowExact,
                                  TPtImg* out, Pixel& pixel) {
    const __m256d margin = _mm256_set1_pd(kTieMargin);
    const __m256d vv = _mm256_set1_pd(v);
    int64_t x = 0;
    for (; x + 4 <= nw; x += 4) {
        if (rowStart + cols.tx[x + 3] + w + 1 > total - 2) break;
        const __m128i tx = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cols.tx + x));
        const __m256i m = _mm256_add_epi64(_mm256_set1_epi64x(rowStart), _mm256_cvtepi32_epi64(tx));
        const __m256d u = _mm256_loadu_pd(cols.u + x);
        if (v == 0 &&
            _mm256_movemask_pd(_mm256_cmp_pd(u, _mm256_setzero_pd(), _CMP_EQ_OQ)) == 0xF) {
            for (int k = 0; k < 4; ++k) // weights 0, 0, 1, 0: the base pixels themselves
                out[x + k] = src[rowStart + cols.tx[x + k]];
            continue;
        }
        uint32_t exactColumns;
        std::memcpy(&exactColumns, cols.exact + x, 4);
        const bool exact = rowExact && exactColumns == 0x01010101u;
        __m256d decided = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
        const __m128i words = fast::blend4(src, w, m, u, vv, margin, decided, exact);
        if (_mm256_movemask_pd(decided) == 0xF) {
            fast::store4(out + x, words);
            continue;
        }
        for (int k = 0; k < 4; ++k)
            pixel(x + k);
    }
    return x;
}

// The same row eight pixels at a time with AVX-512.
template <class Pixel>
TALVINE_AVX512 int64_t lisseRowAvx512(const TPtImg* src, int64_t w, int64_t total, int64_t rowStart,
                                      const LisseColumns& cols, int64_t nw, double v, bool rowExact,
                                      TPtImg* out, Pixel& pixel) {
    const __m512d margin = _mm512_set1_pd(kTieMargin);
    const __m512d vv = _mm512_set1_pd(v);
    int64_t x = 0;
    for (; x + 8 <= nw; x += 8) {
        if (rowStart + cols.tx[x + 7] + w + 1 > total - 2) break;
        const __m256i tx = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cols.tx + x));
        const __m512i m = _mm512_add_epi64(_mm512_set1_epi64(rowStart), _mm512_cvtepi32_epi64(tx));
        const __m512d u = _mm512_loadu_pd(cols.u + x);
        if (v == 0 && _mm512_cmp_pd_mask(u, _mm512_setzero_pd(), _CMP_EQ_OQ) == 0xFF) {
            for (int k = 0; k < 8; ++k) // weights 0, 0, 1, 0: the base pixels themselves
                out[x + k] = src[rowStart + cols.tx[x + k]];
            continue;
        }
        uint64_t exactColumns;
        std::memcpy(&exactColumns, cols.exact + x, 8);
        const bool exact = rowExact && exactColumns == 0x0101010101010101ull;
        __mmask8 decided = 0xFF;
        const __m512i words = fast::blend8(src, w, total, m, u, vv, margin, decided, exact);
        if (decided == 0xFF) {
            fast::store8(out + x, words);
            continue;
        }
        for (int k = 0; k < 8; ++k)
            pixel(x + k);
    }
    return x;
}

// Halving, doubling and every ratio whose fractions are multiples of 2^-k
// for a small k (at most 7): with u = a / 2^k and v = b / 2^k, the 80-bit
// blend rounds nothing (see dyadic), so it is the exact real
//     (C*(2^k - a) + B*a) * (2^k - b) + (D*(2^k - a) + A*a) * b,  over 2^2k,
// which integers compute exactly: the row sums below 255 * 2^7 fit 16 bits,
// the whole below 255 * 2^14 fits 32.  Rounded half to even, it is the
// reference's byte.  The row is taken as a run of channel bytes: output
// byte j reads the source bytes at off[j] and off[j] + 3 of both rows.
struct DyadicColumns {
    int k = -1;                   // the common exponent; -1 when there is none
    std::vector<int32_t> first;   // per chunk of 32 output bytes: its first source byte
    std::vector<uint8_t> index;   // per output byte: off[j] - first of its chunk
    std::vector<uint16_t> weight; // per output byte: a
};

// The smallest k <= 7 with fraction * 2^k whole, or -1.
int dyadicExponent(long double fraction) {
    for (int k = 0; k <= 7; ++k) {
        const long double scaled = ldexpl(fraction, k);
        if (scaled == truncl(scaled)) return k;
    }
    return -1;
}

// The low 32 bytes, widened to 16 bits.
TALVINE_AVX512 inline __m512i widenLow(__m512i bytes) {
    return _mm512_cvtepu8_epi16(_mm512_castsi512_si256(bytes));
}

// sums / 2^shift, rounded half to even.
TALVINE_AVX512 inline __m512i roundShift(__m512i sums, __m512i half, int shift) {
    const __m512i odd = _mm512_and_si512(_mm512_srli_epi32(sums, shift), _mm512_set1_epi32(1));
    return _mm512_srli_epi32(_mm512_add_epi32(_mm512_add_epi32(sums, half), odd), shift);
}

TALVINE_AVX512 int64_t lisseRowDyadic(const uint8_t* top, const uint8_t* sourceEnd,
                                      int64_t rowBytes, const DyadicColumns& cols, int b,
                                      uint8_t* out, int64_t outBytes) {
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

} // namespace

void resizeNearest(const TPtImg* src, int32_t w, int32_t h, TPtImg* dst, int32_t nw, int32_t nh) {
    checkSizes(w, h, nw, nh);
    const long double rx = static_cast<long double>(w) / nw;
    const long double ry = static_cast<long double>(h) / nh;

    // Column offsets within a row; sx = W runs into the next row except on the
    // last row, where it stops at the last pixel.
    std::vector<int32_t> sx(static_cast<size_t>(nw)), sxLast(static_cast<size_t>(nw));
    for (int64_t x = 0; x < nw; ++x) {
        sx[x] = static_cast<int32_t>(rintl(static_cast<long double>(x) * rx));
        sxLast[x] = std::min(sx[x], w - 1);
    }
    // Blocks of output rows over the pool; within a block, a row that
    // samples the same source row as the one above copies it.
    parallelFor(nh, 64, [&](int64_t rowBegin, int64_t rowEnd) {
        const TPtImg* const source = src;
        TPtImg* const target = dst;
        const int64_t width = w, height = h, newWidth = nw;
        const long double stepY = ry;
        const int32_t* const colsAll = sx.data();
        const int32_t* const colsLast = sxLast.data();
        int64_t previous = -1;
        for (int64_t y = rowBegin; y < rowEnd; ++y) {
            const auto sy = std::min<int64_t>(
                static_cast<int64_t>(rintl(static_cast<long double>(y) * stepY)), height - 1);
            TPtImg* out = target + y * newWidth;
            if (sy == previous) {
                std::memcpy(out, out - newWidth, static_cast<size_t>(newWidth) * sizeof(TPtImg));
                continue;
            }
            previous = sy;
            const TPtImg* row = source + sy * width;
            const int32_t* cols = sy == height - 1 ? colsLast : colsAll;
            for (int64_t x = 0; x < newWidth; ++x)
                out[x] = row[cols[x]];
        }
    });
}

void resizeSmoothed(const TPtImg* src, int32_t w, int32_t h, TPtImg* dst, int32_t nw, int32_t nh) {
    checkSizes(w, h, nw, nh);
    const long double rx = static_cast<long double>(w) / nw;
    const long double ry = static_cast<long double>(h) / nh;
    const int64_t total = int64_t{w} * h;

    struct Column {
        int32_t tx;
        bool whole; // u == 0
        bool exact; // dyadic(u)
        long double u;
        long double oneMinusU;
        double uApprox;
        double oneMinusUApprox;
    };
    std::vector<Column> cols(static_cast<size_t>(nw));
    for (int64_t x = 0; x < nw; ++x) {
        const long double fx = static_cast<long double>(x) * rx;
        const auto tx = static_cast<int64_t>(fx);
        const long double u = fx - static_cast<long double>(tx);
        cols[x] = {static_cast<int32_t>(tx),  u == 0, dyadic(u), u, 1 - u, static_cast<double>(u),
                   static_cast<double>(1 - u)};
    }
    // The same columns laid out for the vector kernel.
    std::vector<int32_t> colTx(static_cast<size_t>(nw));
    std::vector<double> colU(static_cast<size_t>(nw));
    std::vector<uint8_t> colExact(static_cast<size_t>(nw));
    for (int64_t x = 0; x < nw; ++x) {
        colTx[x] = cols[x].tx;
        colU[x] = cols[x].uApprox;
        colExact[x] = cols[x].exact;
    }
    const LisseColumns vectorCols{colTx.data(), colU.data(), colExact.data()};
    const Kernel kernel = activeKernel();

    // The integer path for small power-of-two fractions, when every column
    // and every row has one.
    DyadicColumns dyadicCols;
    if (kernel == Kernel::Avx512) {
        int k = 0;
        for (int64_t x = 0; x < nw && k >= 0; ++x) {
            const int kx = dyadicExponent(cols[x].u);
            k = kx < 0 ? -1 : std::max(k, kx);
        }
        for (int64_t y = 0; y < nh && k >= 0; ++y) {
            const long double fy = static_cast<long double>(y) * ry;
            const int ky = dyadicExponent(fy - truncl(fy));
            k = ky < 0 ? -1 : std::max(k, ky);
        }
        if (k > 0) {
            const int64_t outBytes = 3 * int64_t{nw};
            dyadicCols.k = k;
            dyadicCols.first.assign(static_cast<size_t>(outBytes / 32 + 1), -1);
            dyadicCols.index.assign(static_cast<size_t>(outBytes), 0);
            dyadicCols.weight.assign(static_cast<size_t>(outBytes), 0);
            for (int64_t j0 = 0; j0 + 32 <= outBytes; j0 += 32) {
                const int64_t first = 3 * int64_t{cols[j0 / 3].tx}; // channel 0 of its first pixel
                const int64_t last = 3 * int64_t{cols[(j0 + 31) / 3].tx} + 2;
                if (last + 3 - first > 63) continue; // the chunk needs a wider window
                dyadicCols.first[static_cast<size_t>(j0 / 32)] = static_cast<int32_t>(first);
                for (int64_t j = j0; j < j0 + 32; ++j) {
                    dyadicCols.index[j] =
                        static_cast<uint8_t>(3 * int64_t{cols[j / 3].tx} + j % 3 - first);
                    dyadicCols.weight[j] = static_cast<uint16_t>(ldexpl(cols[j / 3].u, k));
                }
            }
        }
    }

    // Blocks of output rows over the pool; within a block, a row with the
    // same source row and fraction as the one above copies it.
    parallelFor(nh, 32, [&](int64_t rowBegin, int64_t rowEnd) {
        const Column* const columns = cols.data();
        const TPtImg* const source = src;
        TPtImg* const target = dst;
        const int64_t width = w, height = h, newWidth = nw, last = total - 1;
        const long double stepY = ry;
        int64_t previousTy = -1;
        long double previousV = -1;
        for (int64_t y = rowBegin; y < rowEnd; ++y) {
            const long double fy = static_cast<long double>(y) * stepY;
            const auto ty = static_cast<int64_t>(fy);
            const long double v = fy - static_cast<long double>(ty);
            TPtImg* out = target + y * newWidth;
            if (ty == previousTy && v == previousV) {
                std::memcpy(out, out - newWidth, static_cast<size_t>(newWidth) * sizeof(TPtImg));
                continue;
            }
            previousTy = ty;
            previousV = v;

            const int64_t rowStart = ty * width;
            const bool lastRow = ty == height - 1;
            const int64_t below = lastRow ? 0 : width; // offset of D from C
            const long double oneMinusV = 1 - v;
            const auto vApprox = static_cast<double>(v);
            const auto oneMinusVApprox = static_cast<double>(oneMinusV);
            const bool rowExact = dyadic(v);

            auto pixel = [&](int64_t x) {
                const Column& col = columns[x];
                const int64_t c = rowStart + col.tx;
                const int64_t b = std::min(c + 1, last);
                const int64_t d = c + below;
                const int64_t a = lastRow ? b : std::min(d + 1, last);
                TPtImg& o = out[x];
                if (v == 0) {
                    if (col.whole) { // weights 0, 0, 1, 0: the base pixel itself
                        o = source[c];
                        return;
                    }
                    // wA = 0, wB = u, wC = 1 - u, wD = 0
                    const TPtImg& B = source[b];
                    const TPtImg& C = source[c];
                    for (int k = 0; k < 3; ++k) {
                        const int cb = B.octets[k], cc = C.octets[k];
                        o.octets[k] =
                            screened(cb * col.uApprox + cc * col.oneMinusUApprox, col.exact,
                                     [&] { return cb * col.u + cc * col.oneMinusU; });
                    }
                    return;
                }
                if (col.whole) {
                    // wA = 0, wB = 0, wC = 1 - v, wD = v
                    const TPtImg& C = source[c];
                    const TPtImg& D = source[d];
                    for (int k = 0; k < 3; ++k) {
                        const int cc = C.octets[k], cd = D.octets[k];
                        o.octets[k] = screened(cc * oneMinusVApprox + cd * vApprox, rowExact,
                                               [&] { return cc * oneMinusV + cd * v; });
                    }
                    return;
                }
                const double uA = col.uApprox;
                const double wAApprox = uA * vApprox;
                const double wBApprox = uA - wAApprox;
                const double wCApprox = 1 - uA - vApprox + wAApprox;
                const double wDApprox = vApprox - wAApprox;
                const TPtImg& A = source[a];
                const TPtImg& B = source[b];
                const TPtImg& C = source[c];
                const TPtImg& D = source[d];
                for (int k = 0; k < 3; ++k) {
                    const int ca = A.octets[k], cb = B.octets[k], cc = C.octets[k],
                              cd = D.octets[k];
                    o.octets[k] =
                        screened(ca * wAApprox + cb * wBApprox + cc * wCApprox + cd * wDApprox,
                                 col.exact && rowExact, [&] {
                                     const long double u = col.u;
                                     const long double wA = u * v;
                                     const long double wB = u - u * v;
                                     const long double wC = 1 - u - v + u * v;
                                     const long double wD = v - u * v;
                                     return ca * wA + cb * wB + cc * wC + cd * wD;
                                 });
                }
            };
            int64_t x = 0;
            if (dyadicCols.k > 0 && !lastRow) {
                const auto* bytes = reinterpret_cast<const uint8_t*>(source);
                const int64_t done =
                    lisseRowDyadic(bytes + 3 * rowStart, bytes + 3 * (last + 1), 3 * width,
                                   dyadicCols, static_cast<int>(ldexpl(v, dyadicCols.k)),
                                   reinterpret_cast<uint8_t*>(out), 3 * newWidth);
                x = done / 3; // a pixel cut by the last chunk is redone whole below
            }
            if (x == 0 && kernel == Kernel::Avx512 && !lastRow)
                x = lisseRowAvx512(source, width, last + 1, rowStart, vectorCols, newWidth, vApprox,
                                   rowExact, out, pixel);
            else if (kernel == Kernel::Avx2 && !lastRow)
                x = lisseRowAvx2(source, width, last + 1, rowStart, vectorCols, newWidth, vApprox,
                                 rowExact, out, pixel);
            for (; x < newWidth; ++x)
                pixel(x);
        }
    });
}

} // namespace talvine::engines
