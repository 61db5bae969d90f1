#include "Scene.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace talvine::hosts {
namespace {

struct Rgb {
    double r, g, b;
};

Rgb mix(Rgb a, Rgb b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// The scene as it stands, in picture units (0..1 across, 0..0.75 down): sky,
// a horizon at 0.5, ground, and a facade of 5 x 4 windows.
Rgb scene(double x, double y) {
    constexpr double kHorizon = 0.50;
    constexpr double left = 0.30, right = 0.70, top = 0.08, base = 0.66;
    if (x >= left && x <= right && y >= top && y <= base) {
        const double u = (x - left) / (right - left), v = (y - top) / (base - top);
        const double cu = u * 5 - std::floor(u * 5), cv = v * 6 - std::floor(v * 6);
        const bool edge = u < 0.01 || u > 0.99 || v < 0.008;
        if (edge) return {0.35, 0.25, 0.20};
        const bool window = cu > 0.22 && cu < 0.78 && cv > 0.25 && cv < 0.80 && v < 0.84;
        const bool door = v >= 0.84 && u > 0.42 && u < 0.58;
        if (door) return {0.30, 0.18, 0.10};
        if (window) {
            const bool frame =
                cu < 0.27 || cu > 0.73 || cv < 0.30 || cv > 0.75 || std::abs(cu - 0.5) < 0.025;
            return frame ? Rgb{0.95, 0.95, 0.92}
                         : mix(Rgb{0.20, 0.35, 0.55}, Rgb{0.55, 0.70, 0.85}, cv);
        }
        return mix(Rgb{0.86, 0.74, 0.58}, Rgb{0.78, 0.64, 0.48}, v);
    }
    if (std::abs(y - kHorizon) < 0.002) return {0.25, 0.30, 0.25};
    if (y < kHorizon) return mix(Rgb{0.45, 0.65, 0.92}, Rgb{0.85, 0.92, 0.98}, y / kHorizon);
    const double stripe = std::fmod(x * 24 + (y - kHorizon) * 6, 1.0) < 0.5 ? 0.0 : 0.03;
    return mix(Rgb{0.45, 0.55, 0.35}, Rgb{0.30, 0.42, 0.25}, (y - kHorizon) / 0.25 + stripe);
}

} // namespace

Picture sampleScene(int width, int height, SceneGeometry g) {
    Picture p;
    p.width = width;
    p.height = height;
    p.rgb.resize(size_t(width) * size_t(height) * 3);
    const double cx = width / 2.0, cy = height / 2.0, unit = width;
    const double halfDiagonal = std::hypot(cx, cy);
    const double theta = g.tiltDegrees * std::numbers::pi / 180.0;
    const double c = std::cos(theta), s = std::sin(theta);
    constexpr int kSub = 3; // 3 x 3 samples per pixel
    for (int py = 0; py < height; ++py)
        for (int px = 0; px < width; ++px) {
            Rgb sum{0, 0, 0};
            for (int sy = 0; sy < kSub; ++sy)
                for (int sx = 0; sx < kSub; ++sx) {
                    // Lens: a picture point at radius r shows the scene at r (1 + k r^2).
                    double x = px + (sx + 0.5) / kSub - cx, y = py + (sy + 0.5) / kSub - cy;
                    const double r2 = (x * x + y * y) / (halfDiagonal * halfDiagonal);
                    x *= 1 + g.barrel * r2;
                    y *= 1 + g.barrel * r2;
                    // Camera roll.
                    const double rx = c * x - s * y, ry = s * x + c * y;
                    // Looking up: rows higher in the picture are seen narrower.
                    const double row = (ry + cy) / height;
                    const double scale = 1 - g.keystone * (1 - row);
                    const Rgb v = scene((cx + rx / scale) / unit, (ry + cy) / unit);
                    sum = {sum.r + v.r, sum.g + v.g, sum.b + v.b};
                }
            const double n = kSub * kSub;
            uint8_t* out = &p.rgb[(size_t(py) * size_t(width) + size_t(px)) * 3];
            out[0] = static_cast<uint8_t>(std::lround(std::clamp(sum.r / n, 0.0, 1.0) * 255));
            out[1] = static_cast<uint8_t>(std::lround(std::clamp(sum.g / n, 0.0, 1.0) * 255));
            out[2] = static_cast<uint8_t>(std::lround(std::clamp(sum.b / n, 0.0, 1.0) * 255));
        }
    return p;
}

} // namespace talvine::hosts
