// The smoothed resize's pieces shared by its scalar and vector paths: the
// position of a column and of a row (80-bit, and rounded to double), the one
// rule that decides a rounding near a tie, one pixel, and the row kernels.
// Internal to the engines.
#pragma once

#include "engines/Bilinear.h"
#include "engines/FastBlend.h"
#include "talvine/talvine.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace talvine::engines::resizekernel {

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
inline bool dyadic(long double fraction) {
    const long double scaled = fraction * 0x1p20L;
    return scaled == static_cast<long double>(static_cast<int64_t>(scaled));
}

// One output column of the plan: its source column Trunc(x * rx) and the
// fraction u, extended and rounded to double.
struct Column {
    int32_t tx;
    bool whole; // u == 0
    bool exact; // dyadic(u)
    long double u;
    long double oneMinusU;
    double uApprox;
    double oneMinusUApprox;
};

inline Column columnAt(long double rx, int64_t x) {
    const long double fx = static_cast<long double>(x) * rx;
    const auto tx = static_cast<int64_t>(fx);
    const long double u = fx - static_cast<long double>(tx);
    return {static_cast<int32_t>(tx),  u == 0, dyadic(u), u, 1 - u, static_cast<double>(u),
            static_cast<double>(1 - u)};
}

// One output row of the plan: its source row Trunc(y * ry), where that row
// starts, the offset of the row below it (0 on the last source row, whose
// row below is itself), and the fraction v, extended and rounded to double.
struct Row {
    int64_t ty;
    int64_t rowStart;
    int64_t below;
    bool lastRow;
    bool exact; // dyadic(v)
    long double v;
    long double oneMinusV;
    double vApprox;
    double oneMinusVApprox;
};

inline Row rowAt(long double ry, int64_t y, int64_t width, int64_t height) {
    const long double fy = static_cast<long double>(y) * ry;
    const auto ty = static_cast<int64_t>(fy);
    const long double v = fy - static_cast<long double>(ty);
    Row row;
    row.ty = ty;
    row.v = v;
    row.rowStart = ty * width;
    row.lastRow = ty == height - 1;
    row.below = row.lastRow ? 0 : width; // offset of D from C
    row.oneMinusV = 1 - v;
    row.vApprox = static_cast<double>(v);
    row.oneMinusVApprox = static_cast<double>(row.oneMinusV);
    row.exact = dyadic(v);
    return row;
}

// What the row kernels read of the plan, and the source.  They take it and
// the row by value: copies of their own, which their byte stores cannot
// alias, stay in registers.
struct SmoothedRun {
    const TPtImg* src;
    const Column* columns;
    // The same columns laid out for the vector kernels.
    const int32_t* tx;
    const double* u;
    const uint8_t* exact;
    int64_t w, total, nw;
};

// Output pixel x of a row: the blend in double, the extended one where the
// tie rule asks for it, and the shortcuts where a fraction is zero.
inline void smoothedPixel(const SmoothedRun& r, const Row& row, int64_t x, TPtImg* out) {
    const int64_t last = r.total - 1;
    const Column& col = r.columns[x];
    const int64_t c = row.rowStart + col.tx;
    const int64_t b = std::min(c + 1, last);
    const int64_t d = c + row.below;
    const int64_t a = row.lastRow ? b : std::min(d + 1, last);
    const long double v = row.v, oneMinusV = row.oneMinusV;
    const double vApprox = row.vApprox, oneMinusVApprox = row.oneMinusVApprox;
    const bool rowExact = row.exact;
    TPtImg& o = out[x];
    if (v == 0) {
        if (col.whole) { // weights 0, 0, 1, 0: the base pixel itself
            o = r.src[c];
            return;
        }
        // wA = 0, wB = u, wC = 1 - u, wD = 0
        const TPtImg& B = r.src[b];
        const TPtImg& C = r.src[c];
        for (int k = 0; k < 3; ++k) {
            const int cb = B.octets[k], cc = C.octets[k];
            o.octets[k] = screened(cb * col.uApprox + cc * col.oneMinusUApprox, col.exact,
                                   [&] { return cb * col.u + cc * col.oneMinusU; });
        }
        return;
    }
    if (col.whole) {
        // wA = 0, wB = 0, wC = 1 - v, wD = v
        const TPtImg& C = r.src[c];
        const TPtImg& D = r.src[d];
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
    const TPtImg& A = r.src[a];
    const TPtImg& B = r.src[b];
    const TPtImg& C = r.src[c];
    const TPtImg& D = r.src[d];
    for (int k = 0; k < 3; ++k) {
        const int ca = A.octets[k], cb = B.octets[k], cc = C.octets[k], cd = D.octets[k];
        o.octets[k] = screened(ca * wAApprox + cb * wBApprox + cc * wCApprox + cd * wDApprox,
                               col.exact && rowExact, [&] {
                                   const long double u = col.u;
                                   const long double wA = u * v;
                                   const long double wB = u - u * v;
                                   const long double wC = 1 - u - v + u * v;
                                   const long double wD = v - u * v;
                                   return ca * wA + cb * wB + cc * wC + cd * wD;
                               });
    }
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

// The row kernels: one whole output row whose base row is not the last
// source row, four pixels at a time (AVX2, TailleImgAvx2.cpp) or eight
// (AVX-512, TailleImgAvx512.cpp), each group they cannot decide done by
// smoothedPixel.
void rowAvx2(const SmoothedRun r, const Row row, TPtImg* out);
void rowAvx512(const SmoothedRun r, const Row row, TPtImg* out);

// The integer blend of DyadicColumns (AVX-512) over the output bytes of one
// row from 0 on, b = v * 2^k; it stops where a chunk needs a wider window or
// would read past `sourceEnd`, and returns the byte there.
int64_t rowDyadic(const uint8_t* top, const uint8_t* sourceEnd, int64_t rowBytes,
                  const DyadicColumns& cols, int b, uint8_t* out, int64_t outBytes);

// Rows that only copy pixels: the nearest method, and the smoothed one when
// every fraction is 0 (its blend of a single pixel is that pixel).  Output
// pixel x is source pixel cols[x] of the row.  Per group of sixteen output
// pixels, when their sources lie within a window of 128 bytes: the
// window's first byte, or -1, and for each of the 48 output bytes its place
// in the window (AVX-512, one two-register byte permute per group).
struct GatherColumns {
    std::vector<int64_t> first;
    std::vector<uint8_t> index; // 64 per group, the last 16 unused
};

inline GatherColumns gatherColumns(const int32_t* cols, int64_t nw) {
    GatherColumns g;
    g.first.assign(static_cast<size_t>(nw / 16), -1);
    g.index.assign(static_cast<size_t>(nw / 16 * 64), 0);
    for (int64_t x0 = 0; x0 + 16 <= nw; x0 += 16) {
        const int64_t lo = *std::min_element(cols + x0, cols + x0 + 16);
        const int64_t hi = *std::max_element(cols + x0, cols + x0 + 16);
        if (3 * (hi - lo) + 3 > 128) continue;
        g.first[static_cast<size_t>(x0 / 16)] = 3 * lo;
        for (int64_t j = 0; j < 48; ++j)
            g.index[static_cast<size_t>(x0 / 16 * 64 + j)] =
                static_cast<uint8_t>(3 * (cols[x0 + j / 3] - lo) + j % 3);
    }
    return g;
}

// Output pixels 0 .. nw - 1 of a copying row whose source row starts at
// `row`, with ascending columns (AVX-512): groups of sixteen from their
// windows, or by gathers, as far as the reads stay below `sourceEnd`;
// returns the pixel where it stopped.  `next`, the source row of the next
// output row (or null), is asked for as this one is read: when a
// reduction skips rows, the hardware's prefetcher starts each row cold.
int64_t gatherRowAvx512(const TPtImg* row, const TPtImg* sourceEnd, const int32_t* cols,
                        const GatherColumns& g, TPtImg* out, int64_t nw,
                        const TPtImg* next = nullptr);

} // namespace talvine::engines::resizekernel
