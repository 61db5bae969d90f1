#include "engines/ModifAngle.h"

#include "core/ParamCoul.h"

#include <cmath>

namespace talvine::engines {
namespace {

// Signed 128-bit products keep the bilinear base index exact for any centre
// the host may report (offsets reach 2^34, widths 2^31).
__extension__ typedef __int128 Int128;

constexpr TPtImg kWhite{{255, 255, 255}};

struct SinCos {
    long double sin;
    long double cos;
};

SinCos sinCos(long double angle) {
    return {sinl(angle), cosl(angle)};
}

long double fracUp(long double r, long double t) {
    long double f = r - t;
    if (f < 0) f += 1;
    return f;
}

// Trunc: truncl, or in the fast loop a conversion to 64 bits and back (one
// fisttp, which truncates whatever the rounding mode); both are exact for
// the |values| < 2^35 met here.
template <bool Fast> long double trunc80(long double v) {
    if constexpr (Fast)
        return static_cast<long double>(static_cast<int64_t>(v));
    else
        return truncl(v);
}

// One bilinear destination pixel from the source point (fx, fy).
template <bool Fast>
TPtImg bilinearAt(const TPtImg* src, int64_t w, int64_t count, long double fx, long double fy) {
    const long double tx = trunc80<Fast>(fx), ty = trunc80<Fast>(fy);
    const Int128 m = static_cast<Int128>(static_cast<int64_t>(ty)) * w + static_cast<int64_t>(tx);
    if (m < w || m >= count - w - 1) return kWhite;
    const int64_t base = static_cast<int64_t>(m);
    return detail::blend(src[base + w + 1], src[base + 1], src[base], src[base + w], fracUp(fx, tx),
                         fracUp(fy, ty));
}

} // namespace

std::optional<long double> tiltAngle(Point p1, Point p2) {
    const int64_t dy = int64_t{p2.y} - p1.y;
    const int64_t dx = int64_t{p2.x} - p1.x;
    if (dx == 0) return std::nullopt;
    return atanl(static_cast<long double>(dy) / static_cast<long double>(dx));
}

namespace reference {

bool pivoter(const TPtImg* src, TPtImg* dst, int32_t w, int32_t h, const TiltParams& p) {
    if (!std::isfinite(p.angle)) return false;
    const SinCos sc = sinCos(p.angle);
    const int64_t W = w, H = h, count = W * H;
    const int64_t x1 = p.centre.x, y1 = p.centre.y;
    if (p.sampling == Sampling::Nearest) {
        for (int64_t y = 0; y < H; ++y)
            for (int64_t x = 0; x < W; ++x) {
                const int64_t dx = x - x1, dy = y - y1;
                const long double X = dx * sc.cos - dy * sc.sin;
                const long double Y = dx * sc.sin + dy * sc.cos;
                const int64_t sx = static_cast<int64_t>(X) + x1;
                const int64_t sy = static_cast<int64_t>(Y) + y1;
                dst[y * W + x] = sx >= 0 && sx < W && sy >= 0 && sy < H ? src[sy * W + sx] : kWhite;
            }
    } else {
        for (int64_t i = 0; i < count; ++i) {
            const int64_t x = i % W, y = i / W;
            const int64_t dx = x - x1, dy = y - y1;
            const long double X = dx * sc.cos - dy * sc.sin;
            const long double Y = dx * sc.sin + dy * sc.cos;
            dst[i] = bilinearAt<false>(src, W, count, x1 + X, y1 + Y);
        }
    }
    return true;
}

} // namespace reference

// The same arithmetic, row by row: the row's products (dy*sin, dy*cos) are
// formed once per row, since a product of the same two values rounds the
// same wherever it is formed, and the sums and differences stay those of the
// reference, so the bytes are identical.  The bilinear loop also drops the
// division and remainder of the flat index and truncates by conversion.
// (Tables of the column products measured slower than forming them: an
// 80-bit load costs more than a multiplication.)
bool pivoter(const TPtImg* src, TPtImg* dst, int32_t w, int32_t h, const TiltParams& p) {
    if (!std::isfinite(p.angle)) return false;
    const SinCos sc = sinCos(p.angle);
    const int64_t W = w, H = h, count = W * H;
    const int64_t x1 = p.centre.x, y1 = p.centre.y;
    for (int64_t y = 0; y < H; ++y) {
        const int64_t dy = y - y1;
        const long double rowSin = dy * sc.sin, rowCos = dy * sc.cos;
        TPtImg* out = dst + y * W;
        if (p.sampling == Sampling::Nearest) {
            for (int64_t x = 0; x < W; ++x) {
                const int64_t dx = x - x1;
                const int64_t sx = static_cast<int64_t>(dx * sc.cos - rowSin) + x1;
                const int64_t sy = static_cast<int64_t>(dx * sc.sin + rowCos) + y1;
                out[x] = sx >= 0 && sx < W && sy >= 0 && sy < H ? src[sy * W + sx] : kWhite;
            }
        } else {
            for (int64_t x = 0; x < W; ++x) {
                const int64_t dx = x - x1;
                out[x] = bilinearAt<true>(src, W, count, x1 + (dx * sc.cos - rowSin),
                                          y1 + (dx * sc.sin + rowCos));
            }
        }
    }
    return true;
}

} // namespace talvine::engines
