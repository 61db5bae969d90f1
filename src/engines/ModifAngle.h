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

#include "core/Geometry.h"
#include "core/ParamCoul.h"
#include "engines/Bilinear.h"
#include "talvine/talvine.h"

#include <cmath>
#include <cstdint>
#include <optional>

namespace talvine::engines {

// The angle of the line from `p1` to `p2`, arctan(dy / dx) in radians, in
// (-pi/2, pi/2).  None when both points share a column.
inline std::optional<long double> tiltAngle(Point p1, Point p2) {
    const int64_t dy = int64_t{p2.y} - p1.y;
    const int64_t dx = int64_t{p2.x} - p1.x;
    if (dx == 0) return std::nullopt;
    return atanl(static_cast<long double>(dy) / static_cast<long double>(dx));
}

struct TiltParams {
    Point centre;      // Point1: keeps its place
    long double angle; // radians, from tiltAngle
    Sampling sampling;
};

// Writes all W*H pixels of `dst`.  Returns false, writing nothing, when the
// angle is not finite.
bool tilt(const TPtImg* src, TPtImg* dst, int32_t w, int32_t h, const TiltParams& p);

namespace reference {
// The plain per-pixel loop, kept as the definition `tilt` is tested
// against byte for byte.
bool tilt(const TPtImg* src, TPtImg* dst, int32_t w, int32_t h, const TiltParams& p);
} // namespace reference

} // namespace talvine::engines
