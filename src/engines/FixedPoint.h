// Source positions that are affine along a destination row (the tilt's, and
// the perspective's columns) in fixed point, for the AVX-512 kernels'
// groups of sixteen pixels.  Internal to the engines.
//
// A tile's row starts from the double position of its first pixel, within
// some bound of its 80-bit value, scaled by 2^32 and rounded to a 64-bit
// integer; its group j starts j steps of 16 * slope on, that step rounded
// to 2^-32 once.  The group's window of source pixels starts at the integer
// part of its smaller end, and each lane k holds its position less that
// start in 32 bits, 26 of them fraction: the group's (its difference
// shifted down, a floor) plus k * slope rounded to 2^-26.  Against the
// start's double position carried on by n steps of the double slope, a
// lane is off by at most
//   (j + 1) * 2^-33   the start and j steps, each rounded once;
//   2^-26             the shift;
//   2^-27             the lane's step;
// which for j < 32 (rows of at most 512 pixels) is below 2^-25.  Each
// engine bounds the rest (its double start and slope against its 80-bit
// positions) beside its positions; with that bound e, fixedBound(e) holds
// for every lane.  Where a lane's fraction lies at least that far from 0
// and from 1 (fracLow), the 80-bit position has the same floor, and it is
// no integer.  Converting the fraction to float moves it by at most 2^-25
// more (a 26-bit integer rounded to 24 bits), so the float blend's margin
// is blendMarginSingle(fixedBound(e)).
#pragma once

#include "engines/FastBlend.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace talvine::engines::fast {

constexpr int kLaneBits = 26;

// The longest row a fixed-point start serves, in pixels.
constexpr int64_t kFixedSpan = 512;

inline double fixedBound(double e) {
    return e + 0x1p-25;
}

// One coordinate's steps.  Sixteen lanes fit a window of 20 pixels only
// for slopes below 1.25 in magnitude, and then every lane's position from
// the window's start stays below 2^31 in units of 2^-26; other slopes are
// not usable.
struct FixedAxis {
    int64_t step;     // 16 * slope in units of 2^-32
    int64_t low;      // the group's smaller end from its first pixel: min(0, 15 * slope)
    int32_t lane[16]; // k * slope in units of 2^-26
    bool usable;
};

inline FixedAxis fixedAxis(double slope) {
    FixedAxis a{};
    a.usable = std::fabs(slope) < 1.25;
    if (!a.usable) return a;
    a.step = std::llrint(16 * slope * 0x1p32);
    a.low = std::min<int64_t>(0, std::llrint(15 * slope * 0x1p32));
    for (int k = 0; k < 16; ++k)
        a.lane[k] = static_cast<int32_t>(std::llrint(k * slope * 0x1p26));
    return a;
}

// What decides a lane, for positions within `eFixed` of the 80-bit ones
// and float blends within `marginSingle` of the 80-bit blends.
struct FixedDecision {
    int32_t fracLow;       // a lane decides when fracLow <= fraction <= 2^26 - fracLow
    float halfLessMarginF; // 1/2 less the float margin, rounded down
    bool usable;           // eFixed small enough for any lane to decide
};

inline FixedDecision fixedDecision(double eFixed, double marginSingle) {
    FixedDecision d{};
    d.usable = eFixed < 0x1p-8;
    d.fracLow = d.usable ? static_cast<int32_t>(std::floor(eFixed * 0x1p26)) + 1 : 0;
    d.halfLessMarginF = halfLessSingle(marginSingle);
    return d;
}

// A tile's row from its first pixel's double position: false where it is
// too far out for the fixed point (2^30 or more).
inline bool fixedStart(double position, int64_t& start) {
    if (!(std::fabs(position) < 0x1p30)) return false;
    start = std::llrint(position * 0x1p32);
    return true;
}

// Group j of the row from `start` (j < kFixedSpan / 16) on a usable axis:
// its window's start and lane 0's position from it in units of 2^-26;
// false when the window would start before 1.
inline bool fixedGroup(const FixedAxis& a, int64_t start, int64_t j, int64_t& window,
                       int32_t& lane0) {
    const int64_t p = start + j * a.step, low = p + a.low;
    if (low < (int64_t{1} << 32)) return false;
    window = low >> 32;
    // Below 20 * 2^26: lane 0 lies at most 15 steps from the smaller end.
    lane0 = static_cast<int32_t>((p - (window << 32)) >> (32 - kLaneBits));
    return true;
}

} // namespace talvine::engines::fast
