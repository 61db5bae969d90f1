// Perspective correction: columns that converge towards a vanishing point
// above the picture are made vertical, with an optional vertical stretch.
// Pure pixel work: no dialog, no host, no cursor.
//
// The picked trapezoid is brought into a frame whose origin is the
// bottom-left corner, y pointing up, scaled so that the bottom edge is W long
// (calculerFuite):
//
//        (XG, h) ______ (XD, h)          s  = W / (BD.x - BG.x)
//               /      \                 h  = ((BD.y + BG.y) - (HG.y + HD.y)) * s / 2
//              /        \                XG = (HG.x - BG.x) * s
//       (0, 0) ---------- (W, 0)         XD = W - (BD.x - HD.x) * s
//
//   K = W / (XD - XG), B = (K - 1) * 2 / h, and the sides meet at
//   (Vx, Vy) = (-XG*W, -W*h) / ((XD - XG) - W).
//
// Backward lookup for the destination pixel (x, y), with f = H - y its height
// above the line just below the picture:
//
//   stretch (v > 0):  B' = v*B/10,  f <- (sqrt(B'*2*f + 1) - 1) / B'
//   column:           X = ((Vy - f)*x + f*Vx) / Vy
//   source index:     u = Trunc(H - f)*W + Trunc(X)
//
// Nearest sampling accepts 0 <= u <= W*H - 1, bilinear 0 <= u < W*H - W (the
// diagonal neighbour one past the end reads the last pixel); a destination
// pixel without a source keeps what `dst` held.
//
// A run whose corners leave the mapping undefined (equal bottom x, a top edge
// of zero width, a zero mean height, parallel sides, a negative square-root
// argument, or anything else not finite) writes nothing at all.
//
// `src` and `dst` hold W*H pixels each and must not overlap.
#pragma once

#include "core/Geometry.h"
#include "engines/Bilinear.h"
#include "talvine/talvine.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>

namespace talvine::engines {

struct Corners {
    Point hg; // top-left
    Point hd; // top-right
    Point bd; // bottom-right
    Point bg; // bottom-left
};

struct PointR {
    long double x;
    long double y;
};

struct Fuite {
    // Top-left, top-right, bottom-right, bottom-left in the normalised frame.
    std::array<PointR, 4> trapeze;
    long double K;
    long double B;
    long double Vx;
    long double Vy;
};

// None when the corners leave the mapping undefined.  Inline, header only:
// the hosts' clean crop computes the same mapping.
inline std::optional<Fuite> calculerFuite(const Corners& c, int32_t w) {
    const int64_t bottom = int64_t{c.bd.x} - c.bg.x;
    if (bottom == 0) return std::nullopt;
    const long double W = w;
    const long double s = W / static_cast<long double>(bottom);
    const int64_t heights = (int64_t{c.bd.y} + c.bg.y) - (int64_t{c.hg.y} + c.hd.y);
    const long double h = static_cast<long double>(heights) * s / 2;
    const long double XG = static_cast<long double>(int64_t{c.hg.x} - c.bg.x) * s;
    const long double XD = W - static_cast<long double>(int64_t{c.bd.x} - c.hd.x) * s;
    const long double top = XD - XG;
    const long double sides = top - W;
    if (top == 0 || h == 0 || sides == 0) return std::nullopt;
    Fuite f;
    f.trapeze = {PointR{XG, h}, PointR{XD, h}, PointR{W, 0}, PointR{0, 0}};
    f.K = W / top;
    f.B = (f.K - 1) * 2 / h;
    f.Vx = (-XG * W) / sides;
    f.Vy = (-W * h) / sides;
    for (long double v : {s, h, XG, XD, f.K, f.B, f.Vx, f.Vy})
        if (!std::isfinite(v)) return std::nullopt;
    if (f.Vy == 0) return std::nullopt;
    return f;
}

struct PerspectiveParams {
    Corners corners;
    int32_t vertical; // the vertical correction slider, 0 to 10
    Sampling sampling;
};

// Returns false, with `dst` untouched, for a degenerate run.  Throws
// std::invalid_argument for a vertical correction outside 0..10 or a size
// whose pixel count exceeds 32 bits.
bool correctPerspective(const TPtImg* src, TPtImg* dst, int32_t w, int32_t h,
                        const PerspectiveParams& p);

namespace reference {
// The plain per-pixel loop, in increasing destination index.
bool correctPerspective(const TPtImg* src, TPtImg* dst, int32_t w, int32_t h,
                        const PerspectiveParams& p);
} // namespace reference

} // namespace talvine::engines
