// The double-precision fast path shared by the bilinear engines.
//
// Every bilinear engine defines its bytes by 80-bit arithmetic: a source
// position (fx, fy), its truncations, the fractions u and v, and the blend
//     A*(u*v) + B*(u - u*v) + C*(1 - u - v + u*v) + D*(v - u*v)
// rounded to nearest, ties to even, and clamped to a byte.  The fast path
// forms the same quantities in double and keeps a result only where the
// double value cannot have decided differently; every other pixel is
// computed again by the exact 80-bit formula.  Two decisions matter:
//
// 1. Truncation.  Each engine bounds |c_double - c_80| <= E for its
//    positions (the bound is derived beside each engine).  When c_double
//    lies further than E from every integer, floor and Trunc of both values
//    agree, and so do the signs.  splitPosition refuses the rest.
//
// 2. Rounding of the blend.  With the truncations agreed, the fractions
//    differ by at most E + 2^-52 (c - floor(c) is exact in double but for a
//    negative c in (-1, 0), where it rounds once, and the 80-bit fraction
//    rounds once when 1 is added).  The blend is bilinear in (u, v) with
//    partial derivatives of at most 255 in magnitude, so moving (u, v) by
//    (du, dv) moves it by at most 255*(|du| + |dv|) + 510*|du*dv|.  Forming
//    the weights and the sum in double rounds a dozen times, each time by at
//    most 2^-53 of a quantity below 2^10, and the 80-bit sum rounds likewise
//    by 2^-64 units: together well below 2^-38.  So
//        |blend_double - blend_80| <= 520*(E + 2^-52) + 2^-38 = margin(E),
//    and where blend_double + 1/2 lies further than that from an integer,
//    both round to the same integer (a tie of the 80-bit value lies exactly
//    on such an integer, so it is never decided here).  blendScreened
//    refuses the rest.
//
// Positions of magnitude 2^31 and beyond are refused as well, so a
// truncation times a width fits in 64 bits; they only occur far outside the
// picture, where the exact formula is cheap enough.
#pragma once

#include "core/ParamCoul.h"
#include "talvine/talvine.h"

#include <atomic>
#include <cmath>
#include <cstdint>

namespace talvine::engines::fast {

constexpr double kFarAway = 0x1p31;

// The margin on a blend whose positions are within `e` of the 80-bit ones.
constexpr double blendMargin(double e) {
    return 520.0 * (e + 0x1p-52) + 0x1p-38;
}

// The margin on the same blend formed in single precision, sixteen pixels
// to a vector, from the double fractions rounded to float.  Rounding a
// fraction in (0, 1) to float moves it by at most 2^-25, so the float
// fractions lie within d = e + 2^-52 + 2^-25 of the 80-bit ones and the
// exact blends at the two lie within 520*d of each other (as above).  The
// float evaluation
//     top = fma(u, B - C, C),  bottom = fma(u, A - D, D),
//     value = fma(v, bottom - top, top)
// is that exact blend at the float fractions but for four roundings: the
// differences of bytes are exact, and each fused step and the difference
// of the two rows round once each by at most 2^-17 (half an ulp below
// 256).  The difference carries the errors of both rows, 3 * 2^-17, which
// v <= 1 carries on; with top's own and the last rounding, value is within
// 5 * 2^-17 < 2^-14 of that exact blend.  Adding 1.5 * 2^23 then rounds it
// to an integer exactly, ties to even.  2^-38 covers the 80-bit side as
// before.
constexpr double blendMarginSingle(double e) {
    return 520.0 * (e + 0x1p-52 + 0x1p-25) + 0x1p-14 + 0x1p-38;
}

// What the float blends compare a channel's distance to its nearest
// integer with: 1/2 less `margin`, rounded to float downwards, so that the
// comparison in float is never looser than the margin.
inline float halfLessSingle(double margin) {
    return std::nextafter(static_cast<float>(0.5 - margin), 0.0f);
}

// Pixels that the fast paths handed to the exact formula, over all runs
// (the benchmarks report it).
inline std::atomic<int64_t> fallbacks{0};

struct Split {
    int64_t trunc; // Trunc(c): towards zero
    double frac;   // c - floor(c), in (0, 1)
};

// Splits the position `c`, known within `e` of its 80-bit value; false when
// that value's truncation or fraction could differ.
inline bool splitPosition(double c, double e, Split& out) {
    if (!(std::fabs(c) < kFarAway)) return false;
    const double fl = std::floor(c);
    const double frac = c - fl;
    if (!(frac > e && frac < 1.0 - e)) return false;
    out.trunc = static_cast<int64_t>(fl) + (fl < 0 ? 1 : 0);
    out.frac = frac;
    return true;
}

// One rounded channel, or -1 when the double value lies within `margin` of
// a rounding boundary.
inline int roundedChannel(double value, double margin) {
    const double shifted = value + 0.5;
    const double r = std::floor(shifted);
    const double t = shifted - r;
    if (!(t > margin && t < 1.0 - margin)) return -1;
    return r >= 255 ? 255 : r <= 0 ? 0 : static_cast<int>(r);
}

// The blend of the four pixels in double (a: diagonal, b: right, c: base,
// d: below); false, with `out` untouched, when a channel is not decided.
inline bool blendScreened(const TPtImg& a, const TPtImg& b, const TPtImg& c, const TPtImg& d,
                          double u, double v, double margin, TPtImg& out) {
    const double wA = u * v;
    const double wB = u - wA;
    const double wC = 1.0 - u - v + wA;
    const double wD = v - wA;
    int r[3];
    for (int k = 0; k < 3; ++k) {
        r[k] = roundedChannel(
            a.octets[k] * wA + b.octets[k] * wB + c.octets[k] * wC + d.octets[k] * wD, margin);
        if (r[k] < 0) return false;
    }
    for (int k = 0; k < 3; ++k)
        out.octets[k] = static_cast<uint8_t>(r[k]);
    return true;
}

// The span loop of every vector path: blocks of N pixels while they fit,
// each done pixel by pixel by `one` when `block` declines it, then the tail
// by `one`.  Always inlined, so that it takes the target of the kernel that
// runs it and the kernel's lambdas inline into it.
template <int64_t N, class Block, class One>
[[gnu::always_inline]] inline void spans(int64_t x0, int64_t x1, Block&& block, One&& one) {
    int64_t x = x0;
    for (; x + N <= x1; x += N)
        if (!block(x))
            for (int64_t k = 0; k < N; ++k)
                one(x + k);
    for (; x < x1; ++x)
        one(x);
}

} // namespace talvine::engines::fast
