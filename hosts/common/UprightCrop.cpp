// Each step reads its source at positions that, along one destination row,
// move monotonically with the column: the tilt's are affine in the column,
// and the perspective's source row is fixed for a destination row while its
// column is affine in the destination's.  A step's clean pixels in a row are
// therefore one run of columns, found by bisection on the step's own
// arithmetic (the same 80-bit formulas, Trunc toward zero and all), and the
// chain's are the destination columns whose source pixels, and the
// bilinear neighbours they blend, all lie in the previous step's clean runs.
// Positions are truncated towards zero, so one less than a pixel before the
// first column or row reads that column or row: clean.  The perspective's
// rows beyond its vanishing point (the slope (Vy - f) / Vy of the column no
// longer positive) hold the picture mirrored and count as none; a vanishing
// point below the picture (sides parting upwards, Vy < 0) leaves every row
// ahead of it.  Where the engine refuses a run the crop is nothing.  (The
// perspective's map is not projective: the column's slope 1 - f/Vy and its
// offset f.Vx/Vy both move with the row, and the stretch takes f through a
// square root, so the clean region's sides are curves, not the edges of a
// polygon; the runs follow them exactly.)  The largest rectangle of rows
// with such runs is then found exactly (largest, below).
//
// The distortion moves a pixel along its ray from the centre, by a factor
// s(r)/r monotone in r, so along a row each side of the centre column the
// source column's distance from the centre grows and the source row's moves
// one way only: the clean pixels of a row about its centre column are one
// run, again found by bisection, on each side, with the engine's own
// arithmetic.
#include "UprightCrop.h"

#include "engines/CorrDistor.h"
#include "engines/ModifAngle.h"
#include "engines/Perspective.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <functional>
#include <vector>

namespace talvine::hosts {
namespace {

struct Run {
    int32_t lo = 0, hi = -1; // empty when hi < lo
    bool empty() const { return hi < lo; }
};

// The run of columns of 0..w-1 where `clean` holds, given that it holds on
// one run at most, searched about `guess`.
Run runOf(int32_t w, const std::function<bool(int32_t)>& clean, long double guess) {
    int32_t inside = -1;
    const int32_t g = static_cast<int32_t>(std::clamp<long double>(guess, 0, w - 1));
    for (const int32_t c : {g, 0, w - 1, w / 2, w / 4, 3 * (w / 4)})
        if (clean(c)) {
            inside = c;
            break;
        }
    if (inside < 0) return {};
    Run r;
    int32_t a = 0, b = inside; // the first clean column is in (a-1, b]
    if (clean(0)) b = 0;
    while (b - a > 0) {
        const int32_t m = a + (b - a) / 2;
        if (clean(m))
            b = m;
        else
            a = m + 1;
    }
    r.lo = b;
    a = inside, b = w - 1; // the last clean column is in [a, b]
    if (clean(w - 1)) a = w - 1;
    while (b - a > 0) {
        const int32_t m = a + (b - a + 1) / 2;
        if (clean(m))
            a = m;
        else
            b = m - 1;
    }
    r.hi = a;
    return r;
}

Run intersect(Run a, Run b) {
    return {std::max(a.lo, b.lo), std::min(a.hi, b.hi)};
}

// The largest rectangle over the rows' runs, of any proportion or of the
// picture's.  Going down from a first row y0, the common run only narrows.
// Of the picture's proportions (its width rounded from the height), a
// height that fits still fits from a later first row, so the last row that
// fits only moves down: one pass of two pointers, the common run of the
// window kept by two monotone queues.  Of any proportion, every first and
// last row, skipping what cannot beat the best found (the common run times
// the rows left).
std::optional<PixelRect> largest(const std::vector<Run>& rows, int32_t W, int32_t H,
                                 bool keepProportion) {
    PixelRect best;
    int64_t bestArea = 0;
    if (keepProportion) {
        const double aspect = static_cast<double>(W) / H;
        auto wanted = [aspect](int64_t h) { return static_cast<int64_t>(std::lround(aspect * h)); };
        std::deque<int32_t> los, his; // rows of the window, their lo falling, their hi rising
        int32_t end = 0;              // the window is rows y0 .. end - 1
        for (int32_t y0 = 0; y0 < H; ++y0) {
            if (end < y0) end = y0;
            while (!los.empty() && los.front() < y0)
                los.pop_front();
            while (!his.empty() && his.front() < y0)
                his.pop_front();
            for (; end < H; ++end) {
                const Run& r = rows[static_cast<size_t>(end)];
                const int32_t lo = std::max(los.empty() ? r.lo : rows[los.front()].lo, r.lo);
                const int32_t hi = std::min(his.empty() ? r.hi : rows[his.front()].hi, r.hi);
                if (hi < lo || wanted(end - y0 + 1) > hi - lo + 1) break;
                while (!los.empty() && rows[static_cast<size_t>(los.back())].lo <= r.lo)
                    los.pop_back();
                los.push_back(end);
                while (!his.empty() && rows[static_cast<size_t>(his.back())].hi >= r.hi)
                    his.pop_back();
                his.push_back(end);
            }
            const int32_t h = end - y0;
            if (h == 0) continue;
            const int64_t w = wanted(h);
            if (w * h > bestArea) {
                const int32_t lo = rows[static_cast<size_t>(los.front())].lo;
                const int32_t hi = rows[static_cast<size_t>(his.front())].hi;
                bestArea = w * h;
                best = {lo + (hi - lo + 1 - static_cast<int32_t>(w)) / 2, y0,
                        static_cast<int32_t>(w), h};
            }
        }
    } else {
        for (int32_t y0 = 0; y0 < H && int64_t{W} * (H - y0) > bestArea; ++y0) {
            Run span{0, W - 1};
            for (int32_t y1 = y0; y1 < H; ++y1) {
                span = intersect(span, rows[static_cast<size_t>(y1)]);
                const int64_t w = int64_t{span.hi} - span.lo + 1;
                if (span.empty() || w * (H - y0) <= bestArea) break;
                const int64_t h = y1 - y0 + 1;
                if (w * h > bestArea) {
                    bestArea = w * h;
                    best = {span.lo, y0, static_cast<int32_t>(w), static_cast<int32_t>(h)};
                }
            }
        }
    }
    if (bestArea == 0) return std::nullopt;
    return best;
}

} // namespace

std::optional<PixelRect> uprightCrop(int32_t W, int32_t H, const std::optional<TiltStep>& tilt,
                                     const std::optional<PerspectiveStep>& perspective,
                                     bool keepProportion) {
    if (W < 2 || H < 2) return std::nullopt;
    // The tilt's clean runs, row by row of its result.
    std::vector<Run> tilted(static_cast<size_t>(H), Run{0, W - 1});
    if (tilt) {
        const auto angle = engines::tiltAngle(tilt->from, tilt->to);
        if (!angle) return std::nullopt;
        const long double s = sinl(*angle), c = cosl(*angle);
        const int64_t x1 = tilt->from.x, y1 = tilt->from.y;
        for (int32_t r = 0; r < H; ++r) {
            const int64_t dy = r - y1;
            auto clean = [&](int32_t col) {
                const int64_t dx = col - x1;
                const long double X = dx * c - dy * s, Y = dx * s + dy * c;
                if (!tilt->bilinear) {
                    const long double sx = truncl(X) + x1, sy = truncl(Y) + y1;
                    return sx >= 0 && sx < W && sy >= 0 && sy < H;
                }
                // The blend reads (tx, ty) to (tx + 1, ty + 1), and row 0
                // never starts one (its base index must be at least W).  A
                // position just left of column 0 truncates to it and blends
                // columns 0 and 1: inside.
                const long double tx = truncl(x1 + X), ty = truncl(y1 + Y);
                return tx >= 0 && tx <= W - 2 && ty >= 1 && ty <= H - 2;
            };
            // Where the row crosses the source's middle column, roughly.
            const long double guess = x1 + (W / 2.0L - x1) * c + dy * s;
            tilted[static_cast<size_t>(r)] = runOf(W, clean, guess);
        }
    }
    // The perspective's, over the tilt's.
    std::vector<Run> rows = tilted;
    if (perspective) {
        const engines::Corners k{perspective->corners[0], perspective->corners[1],
                                 perspective->corners[2], perspective->corners[3]};
        const auto fuite = engines::calculerFuite(k, W);
        if (!fuite) return std::nullopt;
        long double B = fuite->B;
        const bool stretch = perspective->vertical != 0;
        if (stretch) B = perspective->vertical * B / 10;
        const long double Vx = fuite->Vx, Vy = fuite->Vy;
        if (stretch && (B == 0 || !std::isfinite(B))) return std::nullopt;
        const bool bilinear = perspective->bilinear;
        for (int32_t y = 0; y < H; ++y) {
            long double f = static_cast<long double>(H - y);
            if (stretch) f = (sqrtl(B * 2 * f + 1) - 1) / B;
            // The engine refuses the whole run, writing nothing, when a
            // row's position or either end of its columns is not finite.
            if (!std::isfinite(f) || !std::isfinite(H - f) ||
                !std::isfinite(((Vy - f) * 0 + f * Vx) / Vy) ||
                !std::isfinite(((Vy - f) * (W - 1) + f * Vx) / Vy))
                return std::nullopt;
            Run& out = rows[static_cast<size_t>(y)];
            out = {};
            // Rows beyond the vanishing point (where the column's slope
            // (Vy - f) / Vy is no longer positive) are the picture
            // mirrored, or one pixel drawn across: none is clean.  The
            // vanishing point is below the picture (Vy < 0) when the sides
            // part upwards, and then every row is ahead of it.
            if (!((Vy - f) / Vy > 0)) continue;
            const long double rowPos = H - f;
            // Truncated towards zero: a position less than a pixel above the
            // picture reads row 0.
            if (!(rowPos > -1)) continue;
            const int64_t r = static_cast<int64_t>(truncl(rowPos));
            if (r > H - 1 - (bilinear ? 1 : 0)) continue;
            Run from = tilted[static_cast<size_t>(r)];
            if (bilinear) {
                from = intersect(from, tilted[static_cast<size_t>(r + 1)]);
                from.hi -= 1; // the blend's right neighbour
            }
            if (from.empty()) continue;
            auto clean = [&](int32_t x) {
                const long double X = ((Vy - f) * x + f * Vx) / Vy;
                const long double t = truncl(X);
                return t >= from.lo && t <= from.hi;
            };
            // The column whose source is the run's middle.
            const long double middle = (from.lo + from.hi) / 2.0L;
            out = runOf(W, clean, (middle * Vy - f * Vx) / (Vy - f));
        }
    }
    return largest(rows, W, H, keepProportion);
}

std::optional<PixelRect> distortionCrop(int32_t W, int32_t H, const DistortionStep& d,
                                        bool keepProportion) {
    if (W < 2 || H < 2 || d.position < -100 || d.position > 100) return std::nullopt;
    const engines::DistortionParams params{
        d.position, d.law == 2 ? engines::DistortionLaw::Square : engines::DistortionLaw::Linear,
        d.bilinear ? engines::Sampling::Bilinear : engines::Sampling::Nearest};
    // Rate 0 copies every pixel of the rows above the last, in either
    // sampling: no blend reads a neighbour.
    const bool blends = d.bilinear && d.position != 0;
    const int64_t cx = W / 2, cy = H / 2;
    std::vector<Run> rows(static_cast<size_t>(H));
    for (int32_t y = 0; y < H; ++y) {
        const int64_t dy = y - cy;
        auto clean = [&](int32_t x) {
            const auto o = engines::distortionOffset(W, H, params, x - cx, dy);
            const long double tx = truncl(o.x), ty = truncl(o.y);
            const long double column = cx + tx, row = cy + ty;
            // The last row is never a source; a blend reads the next column
            // and row, at X + 1 when X is negative and not whole.
            if (!blends) return column >= 0 && column <= W - 1 && row >= 0 && row <= H - 2;
            return column >= 0 && column <= W - 2 && row >= 0 && row <= H - 2;
        };
        Run& r = rows[static_cast<size_t>(y)];
        if (!clean(static_cast<int32_t>(cx))) continue;
        // The last clean column on the left, the first unclean one on the right.
        int32_t a = 0, b = static_cast<int32_t>(cx);
        if (!clean(0))
            while (b - a > 1) {
                const int32_t m = a + (b - a) / 2;
                if (clean(m))
                    b = m;
                else
                    a = m;
            }
        else
            b = 0;
        r.lo = b;
        a = static_cast<int32_t>(cx), b = W - 1;
        if (!clean(W - 1))
            while (b - a > 1) {
                const int32_t m = a + (b - a) / 2;
                if (clean(m))
                    a = m;
                else
                    b = m;
            }
        else
            a = W - 1;
        r.hi = a;
    }
    return largest(rows, W, H, keepProportion);
}

} // namespace talvine::hosts
