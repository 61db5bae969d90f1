// Radial distortion correction: every destination pixel is fetched from the
// same ray through the picture's centre, at a radius given by the law.  Pure
// pixel work: no dialog, no host, no cursor.
//
// Coordinates.  The centre is (cx, cy) = (W div 2, H div 2): for an even
// side, the right-hand (lower) of the two middle columns (rows).  Rmax is
// half the diagonal, sqrt(W*W + H*H) / 2.  For a destination pixel at the
// integer offset (dx, dy) from the centre and r = sqrt(dx*dx + dy*dy):
//
//     law 1  ("1 + a.R"):   rho = r / (k*r + 1),     k = a / Rmax,  a = P / 125
//     law 2  ("1 + a.R^2"): rho = r / (k*r*r + 1),   k = a / Rmax^2, a = P / 250
//     s = (1 + a) * rho,  X = dx*s / r,  Y = dy*s / r
//
// all in 80-bit arithmetic, left to right as written.  The source offset is
// (Trunc(X), Trunc(Y)), towards the centre; the bilinear weights take the
// fractional parts, 1 added to a negative one.  The flat source index
// u = (cx + sx) + W*(cy + sy) is accepted when 0 <= u < W*H - W: a point
// beyond a side border wraps into the neighbouring row, the last row is never
// a source, and a destination pixel without a source keeps what `dst` held.
//
// `src` and `dst` hold W*H pixels each and must not overlap.
#pragma once

#include "engines/Bilinear.h"
#include "talvine/talvine.h"

#include <cmath>
#include <cstdint>

namespace talvine::engines {

// The two laws are numbered by the power of R everywhere users see them:
// law 1, "en ( 1 + a.R )", and law 2, "en ( 1 + a.R² )" (the tool's --law,
// the manual, docs/ENGINES.md).  The values are the dialog's item indices.
enum class DistortionLaw { Linear = 0, Square = 1 };

struct DistortionParams {
    int32_t position; // the rate slider, -100 to 100
    DistortionLaw law;
    Sampling sampling;
};

// Throws std::invalid_argument for a position outside -100..100 or a size
// whose pixel count exceeds 32 bits.
void correctDistortion(const TPtImg* src, TPtImg* dst, int32_t w, int32_t h,
                       const DistortionParams& p);

// The mapping, header only: the engine's loops and the hosts' clean crop
// compute the same positions.
namespace distortion {

struct Law {
    bool identity;
    bool square;
    long double k; // a / Rmax, or a / (Rmax*Rmax)
    long double g; // 1 + a
};

inline Law lawOf(int32_t w, int32_t h, const DistortionParams& p) {
    const int64_t W = w, H = h;
    const long double rmax = sqrtl(static_cast<long double>(W * W + H * H)) / 2;
    Law law{};
    law.identity = p.position == 0;
    law.square = p.law == DistortionLaw::Square;
    const long double a = law.square ? p.position / 250.0L : p.position / 125.0L;
    law.k = law.square ? a / (rmax * rmax) : a / rmax;
    law.g = 1 + a;
    return law;
}

// The source position for the integer offset (dx, dy), before truncation.
struct Offset {
    long double X;
    long double Y;
};

inline Offset sourceOffset(const Law& law, int64_t dx, int64_t dy) {
    // Rate 0 is the identity.  The general form would give dx*r/r, which
    // in 80 bits misses dx by an ulp for about one offset in six, and a
    // truncation then shifts that pixel by one: the offset is taken whole.
    if (law.identity) return {static_cast<long double>(dx), static_cast<long double>(dy)};
    const long double r = sqrtl(static_cast<long double>(dx * dx + dy * dy));
    if (r == 0) return {0, 0};
    const long double rho = law.square ? r / (law.k * r * r + 1) : r / (law.k * r + 1);
    const long double s = law.g * rho;
    return {dx * s / r, dy * s / r};
}

} // namespace distortion

// The source offset, before truncation, of the destination pixel at the
// offset (dx, dy) from the centre: the arithmetic of every run.
struct DistortionOffset {
    long double x;
    long double y;
};
inline DistortionOffset distortionOffset(int32_t w, int32_t h, const DistortionParams& p,
                                         int64_t dx, int64_t dy) {
    const distortion::Offset o = distortion::sourceOffset(distortion::lawOf(w, h, p), dx, dy);
    return {o.X, o.Y};
}

namespace reference {
// The plain per-pixel loop, in increasing destination index.
void correctDistortion(const TPtImg* src, TPtImg* dst, int32_t w, int32_t h,
                       const DistortionParams& p);
} // namespace reference

} // namespace talvine::engines
