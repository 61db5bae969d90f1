// Horizon tilt: the picture turned about a picked point so that the line
// through two picked points comes out level.  Pure pixel work: no dialog, no
// host, no cursor.
//
// Backward lookup.  For the destination pixel (x, y) and the centre (x1, y1):
//
//     dx = x - x1, dy = y - y1                       (integers)
//     X  = dx*cos(a) - dy*sin(a)                      (80-bit)
//     Y  = dx*sin(a) + dy*cos(a)
//
// and the pixel is taken from the source at (x1 + X, y1 + Y).
//
//   nearest   (sx, sy) = (Trunc(X) + x1, Trunc(Y) + y1): offsets truncate
//             toward the centre; a source outside the picture gives white.
//   bilinear  base m = Trunc(y1 + Y)*W + Trunc(x1 + X), accepted when
//             W <= m < W*H - W - 1 (a test on the linear index only, so a
//             source left or right of the picture wraps into the
//             neighbouring row); otherwise white.
//
// `src` and `dst` hold W*H pixels each and must not overlap.
#pragma once

#include "core/Host.h"
#include "core/ParamCoul.h"
#include "talvine/talvine.h"

#include <cmath>

#include <cstdint>
#include <optional>

namespace talvine::engines {

enum class Sampling { Nearest, Bilinear };

// The angle of the line from `p1` to `p2`, arctan(dy / dx) in radians, in
// (-pi/2, pi/2).  None when both points share a column.
std::optional<long double> tiltAngle(Point p1, Point p2);

struct TiltParams {
    Point centre;      // Point1: keeps its place
    long double angle; // radians, from tiltAngle
    Sampling sampling;
};

// Writes all W*H pixels of `dst`.  Returns false, writing nothing, when the
// angle is not finite.
bool pivoter(const TPtImg* src, TPtImg* dst, int32_t w, int32_t h, const TiltParams& p);

namespace reference {
// The plain per-pixel loop, kept as the definition `pivoter` is tested
// against byte for byte.
bool pivoter(const TPtImg* src, TPtImg* dst, int32_t w, int32_t h, const TiltParams& p);
} // namespace reference

namespace detail {

// Round to nearest, ties to even, then clamp to a byte.  A blended value
// lies within a few units of 0..255, so lrintl (one fistp, since the engines
// are built with -fno-math-errno; it rounds in the
// current mode exactly as rintl does) is exact and far cheaper than frndint.
inline uint8_t clampRound(long double value) {
    const long r = lrintl(value);
    if (r >= 255) return 255;
    if (r <= 0) return 0;
    return static_cast<uint8_t>(r);
}

// The bilinear blend shared by the three engines.  With the base pixel `c`,
// its right neighbour `b`, the one below `d` and the diagonal one `a`, and
// the fractions u (across) and v (down), each channel is
//     a*(u*v) + b*(u - u*v) + c*(1 - u - v + u*v) + d*(v - u*v)
// formed and summed in exactly that order in 80-bit arithmetic.
inline TPtImg blend(const TPtImg& a, const TPtImg& b, const TPtImg& c, const TPtImg& d,
                    long double u, long double v) {
    const long double uv = u * v;
    const long double wA = uv;
    const long double wB = u - uv;
    const long double wC = 1.0L - u - v + uv;
    const long double wD = v - uv;
    const TCompPt ca = DecompPt(packPixel(a)), cb = DecompPt(packPixel(b)),
                  cc = DecompPt(packPixel(c)), cd = DecompPt(packPixel(d));
    auto channel = [&](int32_t pa, int32_t pb, int32_t pc, int32_t pd) {
        return clampRound(pa * wA + pb * wB + pc * wC + pd * wD);
    };
    TPtImg out;
    out.octets[2] = channel(ca.octet2, cb.octet2, cc.octet2, cd.octet2);
    out.octets[1] = channel(ca.octet1, cb.octet1, cc.octet1, cd.octet1);
    out.octets[0] = channel(ca.octet0, cb.octet0, cc.octet0, cd.octet0);
    return out;
}

} // namespace detail

} // namespace talvine::engines
