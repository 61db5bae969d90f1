#include "CleanCrop.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace talvine::hosts {
namespace {

// n . p <= d
struct HalfPlane {
    double nx, ny, d;
};

struct Fit {
    double cx = 0, cy = 0, h = -1;
};

// The tallest rectangle of width:height `aspect` inside all the half-planes:
// the linear programme over its centre and height, solved at the vertices
// (three constraints met exactly).
Fit tallest(const std::vector<HalfPlane>& planes, double aspect) {
    const size_t n = planes.size();
    std::vector<std::array<double, 4>> rows; // a . (cx, cy, h) <= d
    for (const HalfPlane& p : planes)
        rows.push_back({p.nx, p.ny, (std::abs(p.nx) * aspect + std::abs(p.ny)) / 2, p.d});
    Fit best;
    for (size_t i = 0; i < n; ++i)
        for (size_t j = i + 1; j < n; ++j)
            for (size_t k = j + 1; k < n; ++k) {
                const auto &a = rows[i], &b = rows[j], &c = rows[k];
                auto det3 = [](double a1, double a2, double a3, double b1, double b2, double b3,
                               double c1, double c2, double c3) {
                    return a1 * (b2 * c3 - b3 * c2) - a2 * (b1 * c3 - b3 * c1) +
                           a3 * (b1 * c2 - b2 * c1);
                };
                const double det = det3(a[0], a[1], a[2], b[0], b[1], b[2], c[0], c[1], c[2]);
                if (std::abs(det) < 1e-12) continue;
                const double x = det3(a[3], a[1], a[2], b[3], b[1], b[2], c[3], c[1], c[2]) / det;
                const double y = det3(a[0], a[3], a[2], b[0], b[3], b[2], c[0], c[3], c[2]) / det;
                const double h = det3(a[0], a[1], a[3], b[0], b[1], b[3], c[0], c[1], c[3]) / det;
                if (h <= best.h) continue;
                bool inside = true;
                for (const auto& r : rows)
                    inside = inside && r[0] * x + r[1] * y + r[2] * h <= r[3] + 1e-9;
                if (inside) best = {x, y, h};
            }
    return best;
}

} // namespace

std::optional<PixelRect> cleanCrop(int32_t width, int32_t height, double fromX, double fromY,
                                   double toX, double toY, bool keepProportion, double margin) {
    if (width <= 0 || height <= 0 || toX == fromX) return std::nullopt;
    // The turn that levels the line, from the source to the result.
    const double phi = -std::atan((toY - fromY) / (toX - fromX));
    const double c = std::cos(phi), s = std::sin(phi);
    const double w1 = width - 1.0, h1 = height - 1.0;
    // Pixel centres of the result that are inside the result and whose
    // source, turned back, lies inside the source.
    std::vector<HalfPlane> planes = {
        {-1, 0, 0}, {1, 0, w1}, {0, -1, 0}, {0, 1, h1}, // the result's frame
    };
    // u = c (x - fx) + s (y - fy) + fx, v = -s (x - fx) + c (y - fy) + fy.
    const double u0 = fromX - c * fromX - s * fromY, v0 = fromY + s * fromX - c * fromY;
    planes.push_back({c, s, w1 - margin - u0});
    planes.push_back({-c, -s, u0 - margin});
    planes.push_back({-s, c, h1 - margin - v0});
    planes.push_back({s, -c, v0 - margin});

    auto rectOf = [&](double aspect) -> std::optional<PixelRect> {
        const Fit f = tallest(planes, aspect);
        if (f.h < 0) return std::nullopt;
        const double hw = aspect * f.h / 2, hh = f.h / 2;
        const int32_t x0 = static_cast<int32_t>(std::ceil(f.cx - hw - 1e-9));
        const int32_t x1 = static_cast<int32_t>(std::floor(f.cx + hw + 1e-9));
        const int32_t y0 = static_cast<int32_t>(std::ceil(f.cy - hh - 1e-9));
        const int32_t y1 = static_cast<int32_t>(std::floor(f.cy + hh + 1e-9));
        if (x1 < x0 || y1 < y0) return std::nullopt;
        return PixelRect{x0, y0, x1 - x0 + 1, y1 - y0 + 1};
    };
    if (keepProportion) return rectOf(w1 / std::max(1.0, h1));
    // Any proportion: the widest area over a scan of proportions, refined.
    auto area = [&](double logAspect) {
        const Fit f = tallest(planes, std::exp(logAspect));
        return f.h < 0 ? -1.0 : std::exp(logAspect) * f.h * f.h;
    };
    double bestLog = 0, bestArea = -1;
    const double lo = std::log(1.0 / 50), hi = std::log(50.0);
    for (int i = 0; i <= 400; ++i) {
        const double l = lo + (hi - lo) * i / 400;
        if (const double a = area(l); a > bestArea) {
            bestArea = a;
            bestLog = l;
        }
    }
    double a = bestLog - (hi - lo) / 400, b = bestLog + (hi - lo) / 400;
    for (int i = 0; i < 60; ++i) {
        const double m1 = a + (b - a) / 3, m2 = b - (b - a) / 3;
        if (area(m1) < area(m2))
            a = m1;
        else
            b = m2;
    }
    if (bestArea < 0) return std::nullopt;
    return rectOf(std::exp((a + b) / 2));
}

} // namespace talvine::hosts
