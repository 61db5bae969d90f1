// The arithmetic every engine that samples between pixels shares.
//
// All of it is 80-bit long double, evaluated left to right as written: no
// re-association, no fused multiply-add (the engines build with
// -ffp-contract=off), no reciprocal in place of a division.
//
//   Round(v)  to nearest, ties to even (the current rounding mode)
//   Trunc(v)  towards zero
//   Frac(v)   v - Trunc(v)
//
// A source position v is split into its base Trunc(v) and the fraction
// fracUp(v, Trunc(v)): Frac(v), plus 1 when negative.  So for a negative
// non-whole offset the base stays on the centre side while the weight comes
// from the other side (the sample is effectively taken one pixel further
// on); that asymmetry is part of the result.
//
// The blend of the base pixel c, its right neighbour b, the pixel below d
// and the diagonal one a, with the fractions u (across) and v (down), is per
// byte
//     a*(u*v) + b*(u - u*v) + c*(1 - u - v + u*v) + d*(v - u*v)
// summed in that order, rounded and clamped to 0..255.  The fast paths
// (FastBlend.h) keep only what they can prove equal to it.
#pragma once

#include "talvine/talvine.h"

#include <cmath>
#include <cstdint>

namespace talvine::engines {

enum class Sampling { Nearest, Bilinear };

namespace detail {

// Frac(v) from v and its truncation t, plus 1 when negative.
inline long double fracUp(long double v, long double t) {
    long double f = v - t;
    if (f < 0) f += 1;
    return f;
}

// Round, then clamp to a byte.  A blended value lies within a few units of
// 0..255, so lrintl (one fistp, since the engines are built with
// -fno-math-errno; it rounds in the current mode exactly as rintl does) is
// exact and far cheaper than frndint.
inline uint8_t clampRound(long double value) {
    const long r = lrintl(value);
    if (r >= 255) return 255;
    if (r <= 0) return 0;
    return static_cast<uint8_t>(r);
}

// An integer already rounded, clamped to a byte.
inline uint8_t clampByte(int64_t v) {
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// The blend above, for one destination pixel.
inline TPtImg blend(const TPtImg& a, const TPtImg& b, const TPtImg& c, const TPtImg& d,
                    long double u, long double v) {
    const long double uv = u * v;
    const long double wA = uv;
    const long double wB = u - uv;
    const long double wC = 1.0L - u - v + uv;
    const long double wD = v - uv;
    TPtImg out;
    for (int k = 0; k < 3; ++k)
        out.octets[k] =
            clampRound(a.octets[k] * wA + b.octets[k] * wB + c.octets[k] * wC + d.octets[k] * wD);
    return out;
}

} // namespace detail

} // namespace talvine::engines
