// Cancellation witnesses: each engine's fast-path decisions, made again in
// double (and in float, where the AVX-512 kernels blend in float) beside the
// 80-bit values they stand for, with the margins of the engines scaled by a
// chosen factor.  `escapes` counts the destination pixels that the fast
// path would get wrong with the margins so scaled: a pixel whose double
// position lands on the other side of a truncation than the 80-bit one, or
// whose double blend rounds to another byte, and that the scaled margin no
// longer hands to the exact formula.  With the engines' own margins (scale
// 1) the count is 0 by the bounds derived in src/engines; with scale 0 it
// counts the pixels that only the fallback gets right.
//
// The arithmetic below is the engines' own, operation for operation and in
// the same order (src/engines/FastBlend.h, each engine's *Kernels.h and its
// AVX2 and AVX-512 kernels); when one of those changes, so must this.  Used
// by the witness finder (tests/witness/witness_finder.cpp), which searches
// parameters with many such pixels, and by tests/witness_test.cpp, which
// runs the cases it found through the public engines under every kernel and
// thread count and checks here that each is still a witness.
#pragma once

#include "core/Geometry.h"
#include "engines/Bilinear.h"
#include "engines/CorrDistor.h"
#include "engines/FastBlend.h"
#include "engines/ModifAngle.h"
#include "engines/ModifAngleKernels.h"
#include "engines/Perspective.h"
#include "engines/TailleImgKernels.h"
#include "talvine/talvine.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <vector>

namespace talvine::witness {

using engines::Sampling;
using Pixels = std::vector<TPtImg>;

// The source pictures of the cases.
enum class Pattern : uint8_t {
    Random,  // every byte from mt19937(seed), as test::randomPicture
    Ties,    // every byte a or a + 1 at random (blends of k + 1/2 at halves)
    Stripes, // channel k of column x: (x even ? a : b) + k
    Checker, // channel k of (x, y): (x + y even ? a : b) + k
};

struct PictureSpec {
    Pattern pattern;
    uint32_t seed;
    uint8_t a, b;
};

inline Pixels picture(const PictureSpec& p, int32_t w, int32_t h) {
    Pixels out(static_cast<size_t>(int64_t{w} * h));
    auto* bytes = reinterpret_cast<uint8_t*>(out.data());
    std::mt19937 rng(p.seed);
    for (int64_t y = 0, i = 0; y < h; ++y)
        for (int64_t x = 0; x < w; ++x)
            for (int k = 0; k < 3; ++k, ++i) {
                switch (p.pattern) {
                case Pattern::Random:
                    bytes[i] = static_cast<uint8_t>(rng());
                    break;
                case Pattern::Ties:
                    bytes[i] = static_cast<uint8_t>(p.a + (rng() & 1));
                    break;
                case Pattern::Stripes:
                    bytes[i] = static_cast<uint8_t>(std::min(255, (x % 2 == 0 ? p.a : p.b) + k));
                    break;
                case Pattern::Checker:
                    bytes[i] =
                        static_cast<uint8_t>(std::min(255, ((x + y) % 2 == 0 ? p.a : p.b) + k));
                    break;
                }
            }
    return out;
}

// What a destination holds before a run: the distortion and the perspective
// keep it where a pixel has no source.
inline Pixels initialDestination(int32_t w, int32_t h) {
    return picture({Pattern::Random, 5, 0, 0}, w, h);
}

// Which margin is scaled.
enum class Knob : uint8_t {
    Position, // the bound E on positions (truncations; the blend margin stays)
    Blend,    // the double blend's margin (blendMargin, kTieMargin)
    Single,   // the AVX-512 float blends' margin (blendMarginSingle)
};

struct Scales {
    double position = 1, blend = 1, single = 1;
    static Scales scaled(Knob knob, double factor) {
        Scales s;
        (knob == Knob::Position ? s.position : knob == Knob::Blend ? s.blend : s.single) = factor;
        return s;
    }
};

// Wrong pixels where the scalar code decides, and where the vector kernels
// decide otherwise: the AVX-512 tilt, distortion and perspective (their
// blends in float, their nearest methods in double) and the AVX2 and
// AVX-512 resampling (whose edge blends take four terms).  Elsewhere every
// lane decides as the scalar code does.
struct Escapes {
    int64_t scalar = 0, vector = 0;
    int64_t fixed = 0; // of `vector`, those of the tilt's fixed-point groups
    int64_t most() const { return std::max(scalar, vector); }
};

namespace detail {

inline bool same(const TPtImg& a, const TPtImg& b) {
    return a.octets[0] == b.octets[0] && a.octets[1] == b.octets[1] && a.octets[2] == b.octets[2];
}

// _mm512_cvttpd_epi64: out of range (NaN included) gives INT64_MIN.
inline int64_t cvtt(double v) {
    return std::fabs(v) < 0x1p63 ? static_cast<int64_t>(v) : INT64_MIN;
}

// The hardware's fused multiply-add of floats, rounded once.  Not std::fma:
// some C libraries (MinGW's) round a float fma twice, through double.
// a * b is exact in double (48 bits); s + e == a * b + c exactly (TwoSum);
// s rounded to odd toward e, then to float, rounds the exact sum once.
inline float fmaSingle(float a, float b, float c) {
    const double p = static_cast<double>(a) * b, cd = c;
    const double s = p + cd, z = s - p;
    const double e = (p - (s - z)) + (cd - z);
    uint64_t bits;
    std::memcpy(&bits, &s, sizeof bits);
    if (e == 0 || (bits & 1) != 0) return static_cast<float>(s);
    return static_cast<float>(std::nextafter(s, e > 0 ? HUGE_VAL : -HUGE_VAL));
}

// blendPacked16f for one pixel: the float blend of the double fractions;
// false when a channel lies half less the margin or further from its integer.
inline bool blendSingle(const TPtImg& a, const TPtImg& b, const TPtImg& c, const TPtImg& d,
                        double uD, double vD, float halfLessMargin, TPtImg& out) {
    const float u = static_cast<float>(uD), v = static_cast<float>(vD);
    for (int k = 0; k < 3; ++k) {
        const auto A = static_cast<float>(a.octets[k]), B = static_cast<float>(b.octets[k]),
                   C = static_cast<float>(c.octets[k]), D = static_cast<float>(d.octets[k]);
        const float top = fmaSingle(u, B - C, C), bottom = fmaSingle(u, A - D, D);
        const float value = fmaSingle(v, bottom - top, top);
        const float r = std::nearbyint(value);
        if (!(std::fabs(value - r) < halfLessMargin)) return false;
        out.octets[k] = static_cast<uint8_t>(r);
    }
    return true;
}

// The tilt's sixteen blends from fixed-point positions, group j of the
// tile's row that starts at (x, y), as the AVX-512 kernel forms them (the
// same integers, the same float blend); false where it declines the group.
inline bool fixedLanes(const engines::tiltkernel::TiltFixed& f, int64_t x, int64_t y, int64_t j,
                       const Pixels& src, int64_t w, int64_t count, TPtImg* lanes) {
    namespace tk = engines::tiltkernel;
    tk::FixedGroup g;
    if (!tk::fixedGroup(f, x, y, j, g)) return false;
    const int32_t one = 1 << engines::fast::kLaneBits;
    int32_t tx[16], ty[16], fx[16], fy[16];
    bool below = false;
    for (int k = 0; k < 16; ++k) {
        const int32_t lx = g.x + f.x.lane[k], ly = g.y + f.y.lane[k];
        tx[k] = lx >> engines::fast::kLaneBits;
        ty[k] = ly >> engines::fast::kLaneBits;
        fx[k] = lx & (one - 1);
        fy[k] = ly & (one - 1);
        if (fx[k] < f.d.fracLow || fx[k] > one - f.d.fracLow || fy[k] < f.d.fracLow ||
            fy[k] > one - f.d.fracLow || tx[k] < 0 || tx[k] > 19 || ty[k] < 0 || ty[k] > 1)
            return false;
        below = below || ty[k] == 1;
    }
    const int64_t first = g.line * w + g.column;
    if (first + (below ? 2 : 1) * w + 22 > count) return false;
    for (int k = 0; k < 16; ++k) {
        const int64_t m = first + ty[k] * w + tx[k];
        if (!blendSingle(src[m + w + 1], src[m + 1], src[m], src[m + w], fx[k] * 0x1p-26,
                         fy[k] * 0x1p-26, f.d.halfLessMarginF, lanes[k]))
            return false;
    }
    return true;
}

// The tilt's sixteen nearest pixels from fixed-point positions, as the
// AVX-512 kernel takes them; false where it declines the group.
inline bool fixedNearestLanes(const engines::tiltkernel::TiltFixed& f, int64_t x, int64_t y,
                              int64_t j, const Pixels& src, int64_t w, int64_t h, int64_t x1,
                              int64_t y1, TPtImg* lanes) {
    namespace tk = engines::tiltkernel;
    tk::FixedGroup g;
    if (!tk::fixedGroup(f, x, y, j, g)) return false;
    const int64_t column = g.column + (g.column < x1), line = g.line + (g.line < y1);
    const int32_t one = 1 << engines::fast::kLaneBits;
    const int32_t bx = g.x - (column > g.column ? one : 0), by = g.y - (line > g.line ? one : 0);
    int64_t px[16], py[16];
    for (int k = 0; k < 16; ++k) {
        const int32_t lx = bx + f.x.lane[k], ly = by + f.y.lane[k];
        const int32_t fx = lx & (one - 1), fy = ly & (one - 1);
        if (fx < f.d.fracLow || fx > one - f.d.fracLow || fy < f.d.fracLow ||
            fy > one - f.d.fracLow)
            return false;
        // The floors, one on where left of (above) the centre.
        px[k] = column + (lx >> engines::fast::kLaneBits);
        py[k] = line + (ly >> engines::fast::kLaneBits);
        px[k] += px[k] < x1;
        py[k] += py[k] < y1;
        if (px[k] < column || px[k] > column + 19 || py[k] < line || py[k] > line + 1 ||
            px[k] >= w || py[k] >= h)
            return false;
    }
    if (line * w + column + w + 22 > w * h) return false;
    for (int k = 0; k < 16; ++k)
        lanes[k] = src[py[k] * w + px[k]];
    return true;
}

// One destination row of a case: the reference's bytes, the scalar path's
// and the vector kernels', and which pixels each path decided.
struct RowPaths {
    std::vector<TPtImg> ref, dbl, wide;
    std::vector<char> dblDone, wideDone, fixedDone;
    explicit RowPaths(int64_t w)
        : ref(static_cast<size_t>(w)), dbl(static_cast<size_t>(w)), wide(static_cast<size_t>(w)),
          dblDone(static_cast<size_t>(w)), wideDone(static_cast<size_t>(w)),
          fixedDone(static_cast<size_t>(w)) {}
    // The vector kernels start from the scalar path's decisions.
    void startWide() {
        wide = dbl;
        wideDone = dblDone;
        std::fill(fixedDone.begin(), fixedDone.end(), 0);
    }
    // A group of n vector lanes at g, all decided (by the tilt's fixed
    // point if `fixed`).
    void acceptGroup(int64_t g, int64_t n, const TPtImg* lanes, bool fixed = false) {
        for (int64_t k = 0; k < n; ++k) {
            wide[static_cast<size_t>(g + k)] = lanes[k];
            wideDone[static_cast<size_t>(g + k)] = true;
            fixedDone[static_cast<size_t>(g + k)] = fixed;
        }
    }
    // Adds the row's wrong decided pixels to `out`.
    void count(Escapes& out) const {
        for (size_t x = 0; x < ref.size(); ++x) {
            out.scalar += dblDone[x] && !same(dbl[x], ref[x]);
            const bool wrong = wideDone[x] && !same(wide[x], ref[x]);
            out.vector += wrong;
            out.fixed += wrong && fixedDone[x];
        }
    }
};

} // namespace detail

// ---------------------------------------------------------------- tilt

struct TiltCase {
    int32_t w, h;
    Point centre;
    long double angle;
    Sampling sampling;
    PictureSpec picture;
};

inline Escapes escapes(const TiltCase& c, Scales s) {
    namespace tk = engines::tiltkernel;
    Escapes out;
    if (!std::isfinite(c.angle) || c.w <= 0 || c.h <= 0) return out;
    const tk::SinCos sc = tk::sinCos(c.angle);
    if (sc.sin == 0 && sc.cos == 1) return out; // angle 0: copies, nothing screened
    const Pixels src = picture(c.picture, c.w, c.h);
    const int64_t W = c.w, H = c.h, count = W * H, x1 = c.centre.x, y1 = c.centre.y;
    const double cosD = static_cast<double>(sc.cos), sinD = static_cast<double>(sc.sin);
    const double x1D = static_cast<double>(x1), y1D = static_cast<double>(y1);
    const double e = 0x1p-48 * (static_cast<double>(W) + static_cast<double>(H) +
                                2.0 * (std::fabs(x1D) + std::fabs(y1D)) + 2.0);
    const double eS = e * s.position;
    const double margin = engines::fast::blendMargin(e) * s.blend;
    const float halfLess =
        engines::fast::halfLessSingle(engines::fast::blendMarginSingle(e) * s.single);
    const bool nearest = c.sampling == Sampling::Nearest;
    const double eFixed = engines::fast::fixedBound(e);
    const tk::TiltFixed fixedSteps = tk::tiltFixed(
        cosD, sinD, eFixed * s.position, engines::fast::blendMarginSingle(eFixed) * s.single);
    detail::RowPaths row(W);
    auto& ref = row.ref;
    auto& dbl = row.dbl;
    auto& wide = row.wide;
    auto& wideDone = row.wideDone;
    auto& dblDone = row.dblDone;
    for (int64_t y = 0; y < H; ++y) {
        const int64_t dy = y - y1;
        const long double rowSin = dy * sc.sin, rowCos = dy * sc.cos;
        const double dyD = static_cast<double>(dy);
        const double rowSinD = dyD * sinD, rowCosD = dyD * cosD;
        for (int64_t x = 0; x < W; ++x) {
            const int64_t dx = x - x1;
            if (nearest) {
                const int64_t px = static_cast<int64_t>(dx * sc.cos - rowSin) + x1;
                const int64_t py = static_cast<int64_t>(dx * sc.sin + rowCos) + y1;
                ref[x] = px >= 0 && px < W && py >= 0 && py < H ? src[py * W + px] : tk::kWhite;
            } else {
                ref[x] = tk::bilinearAt<false>(src.data(), W, count, x1 + (dx * sc.cos - rowSin),
                                               y1 + (dx * sc.sin + rowCos));
            }
        }
        // The double path, one pixel at a time (every vector lane decides as
        // the scalar code does, and a group it declines goes to that code).
        for (int64_t x = 0; x < W; ++x) {
            dblDone[x] = false;
            if (nearest) continue; // 80 bits but under AVX-512
            const double dxD = static_cast<double>(x - x1);
            engines::fast::Split sx, sy;
            if (engines::fast::splitPosition(x1D + (dxD * cosD - rowSinD), eS, sx) &&
                engines::fast::splitPosition(y1D + (dxD * sinD + rowCosD), eS, sy)) {
                const int64_t m = sy.trunc * W + sx.trunc;
                if (m < W || m >= count - W - 1) {
                    dbl[x] = tk::kWhite;
                    dblDone[x] = true;
                } else {
                    dblDone[x] =
                        engines::fast::blendScreened(src[m + W + 1], src[m + 1], src[m], src[m + W],
                                                     sx.frac, sy.frac, margin, dbl[x]);
                }
            }
        }
        // AVX-512: the nearest method eight at a time, the blends sixteen at
        // a time in float, within the engine's tiles.
        row.startWide();
        constexpr int64_t tile = engines::tiltkernel::kTileColumns;
        for (int64_t x0 = 0; x0 < W; x0 += tile) {
            const int64_t xEnd = std::min(W, x0 + tile);
            const int64_t hexEnd = x0 + (xEnd - x0) / 16 * 16;
            // The tile's row in fixed point, from its first pixel's double
            // position.
            int64_t startX = 0, startY = 0;
            const double dx0 = static_cast<double>(x0 - x1);
            const bool fixed = fixedSteps.d.usable && tk::fixedStart({x1D + (dx0 * cosD - rowSinD),
                                                                      y1D + (dx0 * sinD + rowCosD)},
                                                                     startX, startY);
            if (nearest) {
                // Eight at a time in double.
                const auto oct = [&](int64_t g) {
                    bool decided = true;
                    int64_t px[8], py[8];
                    for (int k = 0; k < 8 && decided; ++k) {
                        const double dxD = static_cast<double>(g + k - x1);
                        const double X = dxD * cosD - rowSinD, Y = dxD * sinD + rowCosD;
                        const int64_t tx = detail::cvtt(X - eS), ty = detail::cvtt(Y - eS);
                        decided = tx == detail::cvtt(X + eS) && ty == detail::cvtt(Y + eS);
                        px[k] = static_cast<int64_t>(static_cast<uint64_t>(tx) +
                                                     static_cast<uint64_t>(x1));
                        py[k] = static_cast<int64_t>(static_cast<uint64_t>(ty) +
                                                     static_cast<uint64_t>(y1));
                        const bool inside =
                            static_cast<uint64_t>(px[k]) < static_cast<uint64_t>(W) &&
                            static_cast<uint64_t>(py[k]) < static_cast<uint64_t>(H);
                        if (inside && py[k] * W + px[k] > count - 2) decided = false;
                    }
                    if (!decided) return;
                    for (int k = 0; k < 8; ++k) {
                        const bool inside =
                            static_cast<uint64_t>(px[k]) < static_cast<uint64_t>(W) &&
                            static_cast<uint64_t>(py[k]) < static_cast<uint64_t>(H);
                        wide[g + k] = inside ? src[py[k] * W + px[k]] : tk::kWhite;
                        wideDone[g + k] = true;
                    }
                };
                // Sixteen at a time in fixed point, a group it declines by
                // eight, then the rest by eight.
                for (int64_t g = x0; g < hexEnd; g += 16) {
                    TPtImg lanes[16];
                    if (fixed &&
                        detail::fixedNearestLanes(fixedSteps, startX, startY, (g - x0) / 16, src, W,
                                                  H, x1, y1, lanes)) {
                        row.acceptGroup(g, 16, lanes, true);
                        continue;
                    }
                    oct(g);
                    oct(g + 8);
                }
                for (int64_t g = hexEnd; g + 8 <= xEnd; g += 8)
                    oct(g);
                continue;
            }
            for (int64_t g = x0; g < hexEnd; g += 16) {
                TPtImg lanes[16];
                if (fixed && detail::fixedLanes(fixedSteps, startX, startY, (g - x0) / 16, src, W,
                                                count, lanes)) {
                    row.acceptGroup(g, 16, lanes, true);
                    continue;
                }
                bool decided = true;
                for (int k = 0; k < 16 && decided; ++k) {
                    const double dxD = static_cast<double>(g + k - x1);
                    engines::fast::Split sx, sy;
                    decided = engines::fast::splitPosition(x1D + (dxD * cosD - rowSinD), eS, sx) &&
                              engines::fast::splitPosition(y1D + (dxD * sinD + rowCosD), eS, sy);
                    if (!decided) break;
                    const int64_t m = sy.trunc * W + sx.trunc;
                    decided = m >= W && m < count - W - 2 &&
                              detail::blendSingle(src[m + W + 1], src[m + 1], src[m], src[m + W],
                                                  sx.frac, sy.frac, halfLess, lanes[k]);
                }
                if (!decided) continue;
                for (int k = 0; k < 16; ++k) {
                    wide[g + k] = lanes[k];
                    wideDone[g + k] = true;
                }
            }
        }
        row.count(out);
    }
    return out;
}

// A tilt or perspective case, counting only the wrong pixels of the AVX-512
// kernel's fixed-point groups: witnesses for the margins of that path.
template <class Case> struct FixedPointCase { Case engine; };

template <class Case> Escapes escapes(const FixedPointCase<Case>& c, Scales s) {
    const Escapes all = escapes(c.engine, s);
    return {0, all.fixed, all.fixed};
}

// The engine's case itself, of either kind.
template <class Case> const Case& caseOf(const Case& c) {
    return c;
}
template <class Case> const Case& caseOf(const FixedPointCase<Case>& c) {
    return c.engine;
}

using TiltFixedCase = FixedPointCase<TiltCase>;

// ---------------------------------------------------------- distortion

struct DistortionCase {
    int32_t w, h;
    int32_t rate;
    engines::DistortionLaw law;
    Sampling sampling;
    PictureSpec picture;
};

inline Escapes escapes(const DistortionCase& c, Scales s) {
    namespace d = engines::distortion;
    Escapes out;
    if (c.w <= 0 || c.h <= 0 || c.rate < -100 || c.rate > 100) return out;
    const engines::DistortionParams params{c.rate, c.law, c.sampling};
    const d::Law law = d::lawOf(c.w, c.h, params);
    if (law.identity) return out;
    const Pixels src = picture(c.picture, c.w, c.h), before = initialDestination(c.w, c.h);
    const int64_t W = c.w, H = c.h, count = W * H, cx = W / 2, cy = H / 2, limit = count - W;
    const double kD = static_cast<double>(law.k), gD = static_cast<double>(law.g);
    const double e = 0x1p-44 * (static_cast<double>(W) + static_cast<double>(H));
    const double eS = e * s.position, margin = engines::fast::blendMargin(e) * s.blend;
    const float halfLess =
        engines::fast::halfLessSingle(engines::fast::blendMarginSingle(e) * s.single);
    const bool nearest = c.sampling == Sampling::Nearest;
    // The pixel from the truncated offset (sx, sy): false when it has none.
    auto sample = [&](int64_t sx, int64_t sy, auto&& blend, TPtImg& o) {
        const int64_t u = (cx + sx) + W * (cy + sy);
        if (u < 0 || u >= limit) return false;
        if (nearest) {
            o = src[u];
            return true;
        }
        const int64_t diag = u + W + 1 <= count - 1 ? u + W + 1 : count - 1;
        return blend(src[diag], src[u + 1], src[u], src[u + W], o);
    };
    // The double table's offset of (dx, dy), signed.
    auto offset = [&](int64_t dx, int64_t dy, double& X, double& Y) {
        const int64_t adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
        X = Y = 0;
        if (adx != 0 || ady != 0) {
            const double n = static_cast<double>(adx * adx + ady * ady);
            const double t = law.square ? gD / (kD * n + 1) : gD / (kD * std::sqrt(n) + 1);
            X = static_cast<double>(adx) * t;
            Y = static_cast<double>(ady) * t;
        }
        if (dx < 0) X = -X;
        if (dy < 0) Y = -Y;
    };
    detail::RowPaths row(W);
    auto& ref = row.ref;
    auto& dbl = row.dbl;
    auto& dblDone = row.dblDone;
    for (int64_t y = 0; y < H; ++y) {
        const int64_t dy = y - cy;
        for (int64_t x = 0; x < W; ++x) {
            const int64_t i = y * W + x, dx = x - cx;
            ref[x] = before[i];
            const d::Offset o = d::sourceOffset(law, dx, dy);
            const long double tx = truncl(o.X), ty = truncl(o.Y);
            const long double fx = engines::detail::fracUp(o.X, tx),
                              fy = engines::detail::fracUp(o.Y, ty);
            sample(
                static_cast<int64_t>(tx), static_cast<int64_t>(ty),
                [&](const TPtImg& a, const TPtImg& b, const TPtImg& cc, const TPtImg& dd,
                    TPtImg& p) {
                    p = engines::detail::blend(a, b, cc, dd, fx, fy);
                    return true;
                },
                ref[x]);
            // The scalar path (the double vector lanes decide alike).
            double X, Y;
            offset(dx, dy, X, Y);
            engines::fast::Split sx{0, 0.0}, sy{0, 0.0};
            dblDone[x] = (dx == 0 || engines::fast::splitPosition(X, eS, sx)) &&
                         (dy == 0 || engines::fast::splitPosition(Y, eS, sy));
            if (!dblDone[x]) continue;
            dbl[x] = before[i];
            sample(
                sx.trunc, sy.trunc,
                [&](const TPtImg& a, const TPtImg& b, const TPtImg& cc, const TPtImg& dd,
                    TPtImg& p) {
                    dblDone[x] =
                        engines::fast::blendScreened(a, b, cc, dd, sx.frac, sy.frac, margin, p);
                    return true;
                },
                dbl[x]);
        }
        row.startWide();
        // AVX-512, off the centre row: the nearest method eight at a time,
        // the blends sixteen at a time in float, in groups on either side of
        // the centre column.
        for (int side = 0; side < 2 && dy != 0; ++side) {
            const int64_t x0 = side == 0 ? 0 : cx + 1, x1 = side == 0 ? cx : W;
            const int64_t n = nearest ? 8 : 16;
            for (int64_t g = x0; g + n <= x1; g += n) {
                TPtImg lanes[16];
                bool decided = true;
                for (int k = 0; k < n && decided; ++k) {
                    double X, Y;
                    offset(g + k - cx, dy, X, Y);
                    lanes[k] = before[y * W + g + k];
                    if (nearest) {
                        const int64_t tx = detail::cvtt(X - eS), ty = detail::cvtt(Y - eS);
                        decided = tx == detail::cvtt(X + eS) && ty == detail::cvtt(Y + eS);
                        const int64_t m = (cx + tx) + W * (cy + ty);
                        if (decided && m >= 0 && m < limit) {
                            decided = m <= count - 3;
                            lanes[k] = src[m];
                        }
                        continue;
                    }
                    engines::fast::Split sx, sy;
                    decided = engines::fast::splitPosition(X, eS, sx) &&
                              engines::fast::splitPosition(Y, eS, sy);
                    if (!decided) break;
                    const int64_t m = (cx + sx.trunc) + W * (cy + sy.trunc);
                    decided = m >= 0 && m < limit - 2 &&
                              detail::blendSingle(src[m + W + 1], src[m + 1], src[m], src[m + W],
                                                  sx.frac, sy.frac, halfLess, lanes[k]);
                }
                if (decided) row.acceptGroup(g, n, lanes);
            }
        }
        row.count(out);
    }
    return out;
}

// ---------------------------------------------------------- perspective

namespace detail {

// The perspective's sixteen pixels of a row from fixed-point columns, as the
// AVX-512 kernel takes them; false where it declines the group.
inline bool fixedColumnLanes(const engines::fast::FixedAxis& steps,
                             const engines::fast::FixedDecision& d, int64_t start, int64_t j,
                             int64_t rowBase, bool bilinear, const Pixels& src, int64_t w,
                             int64_t count, double fy, TPtImg* lanes) {
    int64_t column = 0;
    int32_t lane0 = 0;
    if (!engines::fast::fixedGroup(steps, start, j, column, lane0)) return false;
    const int32_t one = 1 << engines::fast::kLaneBits;
    int32_t tx[16], fx[16];
    for (int k = 0; k < 16; ++k) {
        const int32_t lx = lane0 + steps.lane[k];
        tx[k] = lx >> engines::fast::kLaneBits;
        fx[k] = lx & (one - 1);
        if (fx[k] < d.fracLow || fx[k] > one - d.fracLow || tx[k] < 0 || tx[k] > 19) return false;
    }
    const int64_t first = rowBase + column;
    if (first < 0 || first + (bilinear ? w : 0) + 22 > count) return false;
    for (int k = 0; k < 16; ++k) {
        const int64_t m = first + tx[k];
        if (!bilinear)
            lanes[k] = src[m];
        else if (!blendSingle(src[m + w + 1], src[m + 1], src[m], src[m + w], fx[k] * 0x1p-26, fy,
                              d.halfLessMarginF, lanes[k]))
            return false;
    }
    return true;
}

} // namespace detail

struct PerspectiveCase {
    int32_t w, h;
    engines::Corners corners;
    int32_t vertical;
    Sampling sampling;
    PictureSpec picture;
};

inline Escapes escapes(const PerspectiveCase& c, Scales s) {
    Escapes out;
    if (c.w <= 0 || c.h <= 0 || c.vertical < 0 || c.vertical > 10) return out;
    const std::optional<engines::Fuite> fuite = engines::calculerFuite(c.corners, c.w);
    if (!fuite) return out;
    long double B = fuite->B;
    const long double Vx = fuite->Vx, Vy = fuite->Vy;
    const bool stretch = c.vertical != 0;
    if (stretch) {
        B = c.vertical * B / 10;
        if (B == 0 || !std::isfinite(B)) return out;
    }
    const int64_t W = c.w, H = c.h, count = W * H;
    auto height = [&](int64_t f0) {
        long double f = static_cast<long double>(f0);
        if (stretch) f = (sqrtl(B * 2 * f + 1) - 1) / B;
        return f;
    };
    auto column = [&](long double f, int64_t x) { return ((Vy - f) * x + f * Vx) / Vy; };
    for (int64_t y = 0; y < H; ++y) { // planOf: a run that writes nothing
        const long double f = height(H - y);
        if (!std::isfinite(f) || !std::isfinite(H - f) || !std::isfinite(column(f, 0)) ||
            !std::isfinite(column(f, W - 1)))
            return out;
    }
    const Pixels src = picture(c.picture, c.w, c.h), before = initialDestination(c.w, c.h);
    const bool bilinear = c.sampling == Sampling::Bilinear;
    const double VyD = static_cast<double>(Vy);
    detail::RowPaths row(W);
    auto& ref = row.ref;
    auto& dbl = row.dbl;
    auto& dblDone = row.dblDone;
    for (int64_t y = 0; y < H; ++y) {
        const long double f = height(H - y);
        const long double vyf = Vy - f, fvx = f * Vx, rowPos = H - f;
        const long double fy = bilinear ? (f - truncl(f) != 0 ? 1 - (f - truncl(f)) : 0) : 0;
        bool fastRow = fabsl(rowPos) < 2147483648.0L;
        const int64_t rowBase = fastRow ? static_cast<int64_t>(rowPos) * W : 0;
        const double vyfD = static_cast<double>(vyf), fvxD = static_cast<double>(fvx),
                     fyD = static_cast<double>(fy);
        const double q =
            (std::fabs(vyfD) * static_cast<double>(W) + std::fabs(fvxD)) / std::fabs(VyD);
        const double e = 0x1p-48 * q + 0x1p-52;
        const double eS = e * s.position, margin = engines::fast::blendMargin(e) * s.blend;
        const float halfLess =
            engines::fast::halfLessSingle(engines::fast::blendMarginSingle(e) * s.single);
        fastRow = fastRow && std::isfinite(e);
        auto columnD = [&](int64_t x) { return (vyfD * static_cast<double>(x) + fvxD) / VyD; };
        for (int64_t x = 0; x < W; ++x) {
            const int64_t i = y * W + x;
            ref[x] = before[i];
            const long double X = column(f, x);
            if (fabsl(rowPos) < 2147483648.0L && fabsl(X) < 4611686018427387904.0L) {
                const int64_t u =
                    static_cast<int64_t>(truncl(rowPos)) * W + static_cast<int64_t>(truncl(X));
                if (!bilinear) {
                    if (u >= 0 && u <= count - 1) ref[x] = src[u];
                } else if (u >= 0 && u < count - W) {
                    const int64_t diag = u + W + 1 <= count - 1 ? u + W + 1 : count - 1;
                    ref[x] = engines::detail::blend(src[diag], src[u + 1], src[u], src[u + W],
                                                    engines::detail::fracUp(X, truncl(X)), fy);
                }
            }
            // The scalar path (the double vector lanes decide alike).
            engines::fast::Split sx{};
            dblDone[x] = fastRow && engines::fast::splitPosition(columnD(x), eS, sx);
            if (!dblDone[x]) continue;
            const int64_t u = rowBase + sx.trunc;
            dbl[x] = before[i];
            if (!bilinear) {
                if (u >= 0 && u <= count - 1) dbl[x] = src[u];
            } else if (u >= 0 && u < count - W) {
                const int64_t diag = u + W + 1 <= count - 1 ? u + W + 1 : count - 1;
                dblDone[x] = engines::fast::blendScreened(src[diag], src[u + 1], src[u], src[u + W],
                                                          sx.frac, fyD, margin, dbl[x]);
            }
        }
        row.startWide();
        // AVX-512, within tiles of 128 columns: sixteen pixels at a time in
        // fixed point where that decides, else the blends sixteen at a
        // time in float and the nearest method eight at a time in double.
        const double eFixed = engines::fast::fixedBound(e);
        const engines::fast::FixedAxis steps = engines::fast::fixedAxis(vyfD / VyD);
        const engines::fast::FixedDecision decision = engines::fast::fixedDecision(
            eFixed * s.position, engines::fast::blendMarginSingle(eFixed) * s.single);
        const auto group = [&](int64_t g, int64_t n) {
            TPtImg lanes[16];
            bool decided = true;
            for (int k = 0; k < n && decided; ++k) {
                const double X = columnD(g + k);
                lanes[k] = before[y * W + g + k];
                if (!bilinear) {
                    const int64_t tx = detail::cvtt(X - eS);
                    decided = std::fabs(X) < 0x1p31 && tx == detail::cvtt(X + eS);
                    const int64_t m = rowBase + tx;
                    if (decided && m >= 0 && m < count) {
                        decided = m <= count - 3;
                        lanes[k] = src[m];
                    }
                    continue;
                }
                engines::fast::Split sx;
                decided = engines::fast::splitPosition(X, eS, sx);
                if (!decided) break;
                const int64_t m = rowBase + sx.trunc;
                decided = m >= 0 && m < count - W - 2 &&
                          detail::blendSingle(src[m + W + 1], src[m + 1], src[m], src[m + W],
                                              sx.frac, fyD, halfLess, lanes[k]);
            }
            if (decided) row.acceptGroup(g, n, lanes);
        };
        for (int64_t x0 = 0; x0 < W && fastRow; x0 += 128) {
            const int64_t x1 = std::min(W, x0 + 128), hexEnd = x0 + (x1 - x0) / 16 * 16;
            int64_t start = 0;
            const bool fixed =
                decision.usable && steps.usable && engines::fast::fixedStart(columnD(x0), start);
            for (int64_t g = x0; g < hexEnd; g += 16) {
                TPtImg lanes[16];
                if (fixed &&
                    detail::fixedColumnLanes(steps, decision, start, (g - x0) / 16, rowBase,
                                             bilinear, src, W, count, fyD, lanes)) {
                    row.acceptGroup(g, 16, lanes, true);
                    continue;
                }
                if (bilinear) {
                    group(g, 16);
                } else {
                    group(g, 8);
                    group(g + 8, 8);
                }
            }
            for (int64_t g = hexEnd; g + 8 <= x1 && !bilinear; g += 8)
                group(g, 8);
        }
        row.count(out);
    }
    return out;
}

using PerspectiveFixedCase = FixedPointCase<PerspectiveCase>;

// ---------------------------------------------------------- resampling

struct ResizeCase {
    int32_t w, h, nw, nh;
    PictureSpec picture;
};

// The resize's one margin on a blend near a tie (TailleImgKernels.h).
constexpr double kResizeTieMargin = engines::resizekernel::kTieMargin;

inline Escapes escapes(const ResizeCase& c, Scales s) {
    Escapes out;
    if (c.w <= 0 || c.h <= 0 || c.nw <= 0 || c.nh <= 0) return out;
    const Pixels src = picture(c.picture, c.w, c.h);
    const long double rx = static_cast<long double>(c.w) / c.nw;
    const long double ry = static_cast<long double>(c.h) / c.nh;
    const int64_t w = c.w, h = c.h, total = w * h, last = total - 1;
    const double tieMargin = kResizeTieMargin * s.blend;
    auto dyadic = [](long double fraction) {
        const long double scaled = fraction * 0x1p20L;
        return scaled == static_cast<long double>(static_cast<int64_t>(scaled));
    };
    // TailleImgKernels.h's `screened`: the byte, or -1 when the exact sum decides.
    auto screened = [&](double approx, bool exactSum) -> int {
        const double sh = approx + 0.5;
        const double f = std::floor(sh);
        const double frac = sh - f;
        if (frac > tieMargin && frac < 1 - tieMargin)
            return engines::detail::clampByte(static_cast<int64_t>(f));
        if (exactSum)
            return engines::detail::clampByte(static_cast<int64_t>((approx + 0x1.8p52) - 0x1.8p52));
        return -1;
    };
    for (int64_t y = 0; y < c.nh; ++y) {
        const long double fy = static_cast<long double>(y) * ry;
        const auto ty = static_cast<int64_t>(fy);
        const long double v = fy - static_cast<long double>(ty);
        const double vA = static_cast<double>(v), omvA = static_cast<double>(1 - v);
        const bool rowExact = dyadic(v), lastRow = ty == h - 1;
        for (int64_t x = 0; x < c.nw; ++x) {
            const long double fx = static_cast<long double>(x) * rx;
            const auto tx = static_cast<int64_t>(fx);
            const long double u = fx - static_cast<long double>(tx);
            const double uA = static_cast<double>(u), omuA = static_cast<double>(1 - u);
            const bool colExact = dyadic(u);
            // The reference's four pixels (its edge rules are the engine's).
            const int64_t m = ty * w + tx;
            int64_t cI = m, bI = std::min(m + 1, last), dI = m + w, aI = m + w + 1;
            if (lastRow) {
                dI = cI;
                aI = bI;
            } else {
                aI = std::min(aI, last);
            }
            const TPtImg A = src[aI], Bp = src[bI], C = src[cI], D = src[dI];
            const TPtImg ref = engines::detail::blend(A, Bp, C, D, u, v);
            // The scalar pixel: two terms on a whole row or column.
            TPtImg scalar = ref, vector = ref;
            bool scalarDone = true;
            const double wA = uA * vA, wB = uA - wA, wC = 1 - uA - vA + wA, wD = vA - wA;
            for (int k = 0; k < 3; ++k) {
                const int ca = A.octets[k], cb = Bp.octets[k], cc = C.octets[k], cd = D.octets[k];
                int r;
                if (v == 0 && u == 0)
                    r = cc;
                else if (v == 0)
                    r = screened(cb * uA + cc * omuA, colExact);
                else if (u == 0)
                    r = screened(cc * omvA + cd * vA, rowExact);
                else
                    r = screened(ca * wA + cb * wB + cc * wC + cd * wD, colExact && rowExact);
                if (r < 0) scalarDone = false;
                scalar.octets[k] = static_cast<uint8_t>(r < 0 ? 0 : r);
            }
            out.scalar += scalarDone && !detail::same(scalar, ref);
            // The vector rows: four terms everywhere but the last source row;
            // a lane they cannot decide goes to the scalar pixel.
            if (lastRow || (v == 0 && u == 0)) {
                out.vector += scalarDone && !detail::same(scalar, ref);
                continue;
            }
            bool vectorDone = true;
            for (int k = 0; k < 3; ++k) {
                const int r = screened(A.octets[k] * wA + Bp.octets[k] * wB + C.octets[k] * wC +
                                           D.octets[k] * wD,
                                       colExact && rowExact);
                if (r < 0) vectorDone = false;
                vector.octets[k] = static_cast<uint8_t>(r < 0 ? 0 : r);
            }
            if (!vectorDone) {
                vector = scalar;
                vectorDone = scalarDone;
            }
            out.vector += vectorDone && !detail::same(vector, ref);
        }
    }
    return out;
}

} // namespace talvine::witness
