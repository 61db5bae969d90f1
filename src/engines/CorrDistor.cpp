#include "engines/CorrDistor.h"

#include <cmath>
#include <stdexcept>
#include <vector>

namespace talvine::engines {
namespace {

struct Law {
    bool identity;
    bool square;
    long double k; // a / Rmax, or a / (Rmax*Rmax)
    long double g; // 1 + a
};

int64_t checkedCount(int32_t w, int32_t h, const DistortionParams& p) {
    if (p.position < -100 || p.position > 100)
        throw std::invalid_argument("distortion rate outside -100..100");
    if (w < 0 || h < 0) throw std::invalid_argument("negative picture size");
    const int64_t count = int64_t{w} * h;
    if (count > INT32_MAX) throw std::invalid_argument("picture too large");
    return count;
}

Law lawOf(int32_t w, int32_t h, const DistortionParams& p) {
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

Offset sourceOffset(const Law& law, int64_t dx, int64_t dy) {
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

// One destination pixel from the truncated offset (sx, sy) and the source
// fractions; pixels without a source are left alone.
void sample(const TPtImg* src, TPtImg* dst, int64_t W, int64_t cx, int64_t cy, int64_t limit,
            int64_t last, Sampling sampling, int64_t sx, int64_t sy, long double fx,
            long double fy) {
    const int64_t u = (cx + sx) + W * (cy + sy);
    if (u < 0 || u >= limit) return;
    if (sampling == Sampling::Nearest) {
        *dst = src[u];
        return;
    }
    // At u = limit - 1 the diagonal neighbour is one past the end: the last
    // pixel stands in for it.
    const int64_t diag = u + W + 1 <= last ? u + W + 1 : last;
    *dst = detail::blend(src[diag], src[u + 1], src[u], src[u + W], fx, fy);
}

} // namespace

namespace reference {

void corrigerDistorsion(const TPtImg* src, TPtImg* dst, int32_t w, int32_t h,
                        const DistortionParams& p) {
    const int64_t count = checkedCount(w, h, p);
    if (count == 0) return;
    const Law law = lawOf(w, h, p);
    const int64_t W = w, cx = w / 2, cy = h / 2, limit = count - W;
    for (int64_t i = 0; i < count; ++i) {
        const int64_t dx = i % W - cx, dy = i / W - cy;
        const Offset o = sourceOffset(law, dx, dy);
        const long double tx = truncl(o.X), ty = truncl(o.Y);
        long double fx = o.X - tx, fy = o.Y - ty;
        if (fx < 0) fx += 1;
        if (fy < 0) fy += 1;
        sample(src, dst + i, W, cx, cy, limit, count - 1, p.sampling, static_cast<int64_t>(tx),
               static_cast<int64_t>(ty), fx, fy);
    }
}

} // namespace reference

// The geometry depends on |dx| and |dy| only up to sign: r is the same for
// the four mirror offsets, and negating dx negates dx*s and dx*s/r exactly.
// So the offsets are formed once per (|dx|, |dy|), for a row of |dx| at a
// time, and the two destination rows cy - |dy| and cy + |dy| are written from
// that one table.  Signs, truncations and fractions are then formed from the
// signed value exactly as the reference does, so the bytes are identical;
// only the order in which destination pixels are written differs, which
// cannot matter since `src` and `dst` do not overlap.
void corrigerDistorsion(const TPtImg* src, TPtImg* dst, int32_t w, int32_t h,
                        const DistortionParams& p) {
    const int64_t count = checkedCount(w, h, p);
    if (count == 0) return;
    const Law law = lawOf(w, h, p);
    const int64_t W = w, H = h, cx = w / 2, cy = h / 2, limit = count - W;
    // cx >= W - 1 - cx, so 0..cx covers every |dx|; likewise for rows.
    struct Entry {
        long double X, Y;   // offsets for (|dx|, |dy|), both >= 0
        long double tX, tY; // their truncations
        int64_t sx, sy;     // the same truncations as integers
    };
    std::vector<Entry> table(static_cast<size_t>(cx + 1));
    const int64_t last = count - 1;
    for (int64_t ady = 0; ady <= cy; ++ady) {
        for (int64_t adx = 0; adx <= cx; ++adx) {
            const Offset o = sourceOffset(law, adx, ady);
            const long double tX = truncl(o.X), tY = truncl(o.Y);
            table[static_cast<size_t>(adx)] = {
                o.X, o.Y, tX, tY, static_cast<int64_t>(tX), static_cast<int64_t>(tY)};
        }
        const Entry* e = table.data();
        for (int side = 0; side < 2; ++side) {
            if (side == 1 && ady == 0) break;
            const int64_t y = side == 0 ? cy + ady : cy - ady;
            if (y >= H) continue;
            const bool up = side == 1;
            TPtImg* row = dst + y * W;
            if (p.sampling == Sampling::Nearest) {
                // Negating an offset negates its truncation: integers suffice.
                for (int64_t x = 0; x < W; ++x) {
                    const bool left = x < cx;
                    const Entry& q = e[left ? cx - x : x - cx];
                    const int64_t sx = left ? -q.sx : q.sx, sy = up ? -q.sy : q.sy;
                    const int64_t u = (cx + sx) + W * (cy + sy);
                    if (u >= 0 && u < limit) row[x] = src[u];
                }
                continue;
            }
            for (int64_t x = 0; x < W; ++x) {
                const bool left = x < cx;
                const Entry& q = e[left ? cx - x : x - cx];
                const long double X = left ? -q.X : q.X, tX = left ? -q.tX : q.tX;
                const long double Y = up ? -q.Y : q.Y, tY = up ? -q.tY : q.tY;
                long double fx = X - tX, fy = Y - tY;
                if (fx < 0) fx += 1;
                if (fy < 0) fy += 1;
                sample(src, row + x, W, cx, cy, limit, last, p.sampling, left ? -q.sx : q.sx,
                       up ? -q.sy : q.sy, fx, fy);
            }
        }
    }
}

} // namespace talvine::engines
