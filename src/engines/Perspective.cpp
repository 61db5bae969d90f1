#include "engines/Perspective.h"

#include <cmath>
#include <stdexcept>
#include <vector>

namespace talvine::engines {
namespace {

bool finite(long double v) {
    return std::isfinite(v);
}

// Everything a run needs besides the pixels, checked before any pixel is
// written.
struct Plan {
    long double B;
    long double Vx;
    long double Vy;
    bool stretch;
};

// The source height of the destination row whose height is `f0`.
long double sourceHeight(const Plan& p, int64_t f0) {
    long double f = static_cast<long double>(f0);
    if (p.stretch) f = (sqrtl(p.B * 2 * f + 1) - 1) / p.B;
    return f;
}

long double sourceColumn(const Plan& p, long double f, int64_t x) {
    return ((p.Vy - f) * x + f * p.Vx) / p.Vy;
}

int64_t checkedCount(int32_t w, int32_t h, const PerspectiveParams& p) {
    if (p.vertical < 0 || p.vertical > 10)
        throw std::invalid_argument("vertical correction outside 0..10");
    if (w < 0 || h < 0) throw std::invalid_argument("negative picture size");
    const int64_t count = int64_t{w} * h;
    if (count > INT32_MAX) throw std::invalid_argument("picture too large");
    return count;
}

// Source heights stay within [0, 2H] for any accepted plan, so a row beyond
// +-2^31 cannot occur; a column beyond +-2^62 lies at least 2^32 pixels away
// from the picture whatever the row.  Positions past these bounds (NaN
// among them) have no source, and every accepted one converts to 64 bits
// without overflow: |row*W| < 2^62, |column| < 2^62.
constexpr long double kRowBound = 2147483648.0L;             // 2^31
constexpr long double kColumnBound = 4611686018427387904.0L; // 2^62

bool inBounds(long double rowPos, long double column) {
    return fabsl(rowPos) < kRowBound && fabsl(column) < kColumnBound;
}

std::optional<Plan> planOf(const PerspectiveParams& p, int32_t w, int32_t h) {
    const std::optional<Fuite> fuite = calculerFuite(p.corners, w);
    if (!fuite) return std::nullopt;
    Plan plan{fuite->B, fuite->Vx, fuite->Vy, p.vertical != 0};
    if (plan.stretch) {
        plan.B = p.vertical * plan.B / 10;
        if (plan.B == 0 || !finite(plan.B)) return std::nullopt;
    }
    // Every row, and the two ends of every row: along a row the column is a
    // monotone function of x (each rounded operation is monotone), so it is
    // finite throughout when it is finite at both ends.
    const int64_t W = w, H = h;
    for (int64_t y = 0; y < H; ++y) {
        const long double f = sourceHeight(plan, H - y);
        if (!finite(f) || !finite(H - f)) return std::nullopt;
        if (!finite(sourceColumn(plan, f, 0)) || !finite(sourceColumn(plan, f, W - 1)))
            return std::nullopt;
    }
    return plan;
}

// The downward fraction of the source row: 1 - Frac(f), or 0 when f is whole.
long double rowFraction(long double f) {
    const long double fr = f - truncl(f);
    return fr != 0 ? 1 - fr : 0;
}

// Fast: Trunc by a conversion to 64 bits (one fisttp), exact within the
// bounds checked first; otherwise truncl.
template <bool Fast>
void sample(const TPtImg* src, TPtImg* dst, int64_t W, int64_t count, Sampling sampling,
            long double rowPos, long double column, long double fy) {
    if (!inBounds(rowPos, column)) return;
    const int64_t column64 = static_cast<int64_t>(Fast ? column : truncl(column));
    const int64_t u = static_cast<int64_t>(Fast ? rowPos : truncl(rowPos)) * W + column64;
    if (sampling == Sampling::Nearest) {
        if (u >= 0 && u <= count - 1) *dst = src[u];
        return;
    }
    if (u < 0 || u >= count - W) return;
    const long double tColumn = Fast ? static_cast<long double>(column64) : truncl(column);
    long double fx = column - tColumn;
    if (fx < 0) fx += 1;
    // At u = count - W - 1 the diagonal neighbour is one past the end: the
    // last pixel stands in for it.
    const int64_t diag = u + W + 1 <= count - 1 ? u + W + 1 : count - 1;
    *dst = detail::blend(src[diag], src[u + 1], src[u], src[u + W], fx, fy);
}

} // namespace

std::optional<Fuite> calculerFuite(const Corners& c, int32_t w) {
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
        if (!finite(v)) return std::nullopt;
    if (f.Vy == 0) return std::nullopt;
    return f;
}

namespace reference {

bool corrigerPerspective(const TPtImg* src, TPtImg* dst, int32_t w, int32_t h,
                         const PerspectiveParams& p) {
    const int64_t count = checkedCount(w, h, p);
    if (count == 0) return false;
    const std::optional<Plan> plan = planOf(p, w, h);
    if (!plan) return false;
    const int64_t W = w, H = h;
    for (int64_t i = 0; i < count; ++i) {
        const int64_t x = i % W, y = i / W;
        const long double f = sourceHeight(*plan, H - y);
        const long double X = sourceColumn(*plan, f, x);
        sample<false>(src, dst + i, W, count, p.sampling, H - f, X,
                      p.sampling == Sampling::Bilinear ? rowFraction(f) : 0);
    }
    return true;
}

} // namespace reference

// The same arithmetic with everything that depends on the row alone (the
// source height with its square root, Vy - f, f*Vx, H - f and the row
// fraction) formed once per row.  Each per-pixel expression keeps the
// reference's operands and order, so the bytes are identical.
bool corrigerPerspective(const TPtImg* src, TPtImg* dst, int32_t w, int32_t h,
                         const PerspectiveParams& p) {
    const int64_t count = checkedCount(w, h, p);
    if (count == 0) return false;
    const std::optional<Plan> plan = planOf(p, w, h);
    if (!plan) return false;
    const int64_t W = w, H = h;
    const long double Vy = plan->Vy;
    for (int64_t y = 0; y < H; ++y) {
        const long double f = sourceHeight(*plan, H - y);
        const long double vyf = Vy - f, fvx = f * plan->Vx, rowPos = H - f;
        const long double fy = p.sampling == Sampling::Bilinear ? rowFraction(f) : 0;
        TPtImg* row = dst + y * W;
        for (int64_t x = 0; x < W; ++x)
            sample<true>(src, row + x, W, count, p.sampling, rowPos, (vyf * x + fvx) / Vy, fy);
    }
    return true;
}

} // namespace talvine::engines
