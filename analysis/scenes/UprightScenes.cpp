#include "UprightScenes.h"

#include "Upright.h"

#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace talvine::analysis::scenes {
namespace {

constexpr double kDeg = std::numbers::pi / 180;

struct Rgb {
    double r, g, b;
};

Rgb mix(Rgb a, Rgb b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

struct V3 {
    double x, y, z;
    double operator[](int axis) const { return axis == 0 ? x : axis == 1 ? y : z; }
};

// A pinhole camera at the origin, 1.6 m above the ground (y = -1.6), looking
// along +z, pitched up, then the picture turned counter-clockwise by the roll.
struct Camera {
    double f, cx, cy, cr, sr, cp, sp;

    explicit Camera(const Shot& s)
        : f(s.focalMm / 36.0 * s.width), cx((s.width - 1) / 2.0), cy((s.height - 1) / 2.0),
          cr(std::cos(s.rollDeg * kDeg)), sr(std::sin(s.rollDeg * kDeg)),
          cp(std::cos(s.pitchDeg * kDeg)), sp(std::sin(s.pitchDeg * kDeg)) {}

    // The ray through the point (u, v) of the picture, not normalised.
    V3 ray(double u, double v) const {
        const double x = u - cx, y = v - cy;
        const double x0 = x * cr - y * sr, y0 = x * sr + y * cr;
        const double dy = -y0 / f;
        return {x0 / f, dy * cp + sp, -dy * sp + cp};
    }
};

// A point of a plane in the plane's own coordinates (a, b), with how many
// world units a pixel step moves them: what turns a distance in the world
// into one in pixels for the edges' anti-aliasing.
struct Surface {
    double a, b, ga, gb, sigma;

    double step(double d, double g) const {
        return 0.5 * std::erfc(-d / (std::max(g, 1e-12) * sigma) / std::numbers::sqrt2);
    }
    // Coverage of [a0, a1] x [b0, b1].
    double box(double a0, double a1, double b0, double b1) const {
        return (step(a - a0, ga) - step(a - a1, ga)) * (step(b - b0, gb) - step(b - b1, gb));
    }
    double bandA(double a0, double a1) const { return step(a - a0, ga) - step(a - a1, ga); }
    double bandB(double b0, double b1) const { return step(b - b0, gb) - step(b - b1, gb); }
};

uint64_t mixBits(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

double hash01(int64_t i, int64_t j, uint64_t seed) {
    return static_cast<double>(mixBits(seed ^ mixBits(static_cast<uint64_t>(i) * 73856093u ^
                                                      static_cast<uint64_t>(j) * 19349663u)) >>
                               11) *
           0x1p-53;
}

Rgb sky(const V3& d) {
    const double e = d.y / std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
    return mix(Rgb{0.80, 0.88, 0.96}, Rgb{0.38, 0.58, 0.88}, std::clamp(e * 2.5, 0.0, 1.0));
}

// A facade of windows in its own plane: a across, b up (metres).
Rgb facade(const Surface& s, double roof, double bay, uint64_t seed) {
    const Rgb wall = {0.80, 0.70, 0.55}, cornice = {0.45, 0.38, 0.30};
    const double i = std::floor(s.a / bay), j = std::floor((s.b + 1.6) / 3.2);
    const double a0 = i * bay, b0 = j * 3.2 - 1.6;
    const double shade = 0.04 * hash01(static_cast<int64_t>(i), static_cast<int64_t>(j), seed);
    Rgb c = mix(wall, Rgb{0.70, 0.60, 0.46}, shade * 10);
    if (j >= 1) {
        const double w = s.box(a0 + 0.27 * bay, a0 + 0.73 * bay, b0 + 0.8, b0 + 2.6);
        const double glass = s.box(a0 + 0.3 * bay, a0 + 0.7 * bay, b0 + 0.88, b0 + 2.52);
        c = mix(c, Rgb{0.93, 0.93, 0.90}, w);
        c = mix(c, mix(Rgb{0.15, 0.22, 0.35}, Rgb{0.45, 0.55, 0.70}, (s.b - b0) / 3.2), glass);
    } else {
        const double door = s.box(a0 + 0.3 * bay, a0 + 0.7 * bay, b0, b0 + 2.4);
        c = mix(c, Rgb{0.30, 0.20, 0.14}, door);
    }
    c = mix(c, cornice, s.bandB(b0 + 2.95, b0 + 3.15));
    c = mix(c, cornice, s.bandB(roof - 0.4, roof));
    return c;
}

struct Hit {
    double t = INFINITY;
    int axis = 0;
    double k = 0;
    int id = -1;
};

// Planes of a scene: axis (0 x, 1 y, 2 z) = k, with bounds on the hit.
struct Plane {
    int axis;
    double k;
    double lo[3], hi[3];
    int id;
};

Surface surfaceOf(const Camera& cam, double u, double v, int axis, double k, double sigma) {
    auto coords = [&](double uu, double vv) {
        const V3 d = cam.ray(uu, vv);
        const double t = k / d[axis];
        const V3 p{t * d.x, t * d.y, t * d.z};
        // (a, b): x and y on a z plane, z and y on an x plane, x and z on a y plane.
        return axis == 2   ? std::array<double, 2>{p.x, p.y}
               : axis == 0 ? std::array<double, 2>{p.z, p.y}
                           : std::array<double, 2>{p.x, p.z};
    };
    const auto p = coords(u, v), pu = coords(u + 1, v), pv = coords(u, v + 1);
    return {p[0], p[1], std::hypot(pu[0] - p[0], pv[0] - p[0]),
            std::hypot(pu[1] - p[1], pv[1] - p[1]), sigma};
}

Hit cast(const V3& d, const std::vector<Plane>& planes) {
    Hit best;
    for (const Plane& p : planes) {
        const double dk = d[p.axis];
        if (dk == 0) continue;
        const double t = p.k / dk;
        if (t <= 0 || t >= best.t) continue;
        const V3 q{t * d.x, t * d.y, t * d.z};
        bool inside = true;
        for (int a = 0; a < 3; ++a)
            if (a != p.axis) inside = inside && q[a] >= p.lo[a] && q[a] <= p.hi[a];
        if (inside) best = {t, p.axis, p.k, p.id};
    }
    return best;
}

constexpr double kFar = 1e6;

std::vector<Plane> planesOf(Kind kind) {
    switch (kind) {
    case Kind::Facade:
        return {{2, 25, {-30, -1.6, 0}, {30, 18, 0}, 0},
                {1, -1.6, {-kFar, 0, 0}, {kFar, 0, 25}, 1}};
    case Kind::Street:
        return {{0, -6, {0, -1.6, 4}, {0, 14, 80}, 2},
                {0, 6, {0, -1.6, 4}, {0, 16, 80}, 3},
                {2, 80, {-6, -1.6, 0}, {6, 12, 0}, 0},
                {1, -1.6, {-6, 0, 0}, {6, 0, 80}, 4}};
    case Kind::Interior:
        return {{2, 7, {-4, -1.6, 0}, {4, 1.4, 0}, 5},
                {0, -4, {0, -1.6, 0}, {0, 1.4, 7}, 6},
                {0, 4, {0, -1.6, 0}, {0, 1.4, 7}, 6},
                {1, -1.6, {-4, 0, 0}, {4, 0, 7}, 7},
                {1, 1.4, {-4, 0, 0}, {4, 0, 7}, 8}};
    case Kind::Horizon:
        return {{1, -1.6, {-kFar, 0, 0}, {kFar, 0, kFar}, 9}};
    case Kind::NoLines:
        return {};
    }
    return {};
}

Rgb shade(int id, const Surface& s, uint64_t seed) {
    switch (id) {
    case 0:
        return facade(s, 18, 3.0, seed);
    case 1: { // pavement in front of the facade, with its kerb
        const Rgb c{0.50, 0.50, 0.48};
        return mix(c, Rgb{0.75, 0.75, 0.72}, s.bandB(21.5, 21.8));
    }
    case 2:
    case 3:
        return facade(Surface{s.a, s.b, s.ga, s.gb, s.sigma}, id == 2 ? 14 : 16, 4.0, seed + id);
    case 4: { // the road: lane dashes and a crossing
        Rgb c{0.33, 0.33, 0.34};
        const double dash = std::fmod(std::max(s.b, 0.0), 6.0) < 3.0 ? 1.0 : 0.0;
        c = mix(c, Rgb{0.9, 0.9, 0.85}, s.bandA(-0.08, 0.08) * dash);
        for (int k = 0; k < 6; ++k)
            c = mix(c, Rgb{0.9, 0.9, 0.88}, s.box(-5 + 1.6 * k, -4.2 + 1.6 * k, 14, 17));
        return c;
    }
    case 5: { // the back wall: a door and two frames
        Rgb c{0.86, 0.84, 0.78};
        c = mix(c, Rgb{0.45, 0.30, 0.20}, s.box(-3.2, -2.2, -1.6, 0.5));
        c = mix(c, Rgb{0.20, 0.20, 0.22}, s.box(-0.8, 0.6, -0.3, 0.7));
        c = mix(c, Rgb{0.70, 0.50, 0.30}, s.box(-0.7, 0.5, -0.2, 0.6));
        c = mix(c, Rgb{0.20, 0.20, 0.22}, s.box(1.5, 2.7, -0.1, 0.9));
        c = mix(c, Rgb{0.45, 0.60, 0.40}, s.box(1.6, 2.6, 0.0, 0.8));
        return mix(c, Rgb{0.95, 0.95, 0.95}, s.bandB(-1.6, -1.45));
    }
    case 6: { // side walls: a window and the skirting
        Rgb c{0.80, 0.78, 0.72};
        c = mix(c, Rgb{0.95, 0.95, 0.95}, s.box(2.0, 4.0, -0.6, 0.9));
        c = mix(c, Rgb{0.55, 0.70, 0.85}, s.box(2.1, 3.9, -0.5, 0.8));
        return mix(c, Rgb{0.95, 0.95, 0.95}, s.bandB(-1.6, -1.45));
    }
    case 7: { // tiles
        const double la =
            s.bandA(0.6 * std::round(s.a / 0.6) - 0.012, 0.6 * std::round(s.a / 0.6) + 0.012);
        const double lb =
            s.bandB(0.6 * std::round(s.b / 0.6) - 0.012, 0.6 * std::round(s.b / 0.6) + 0.012);
        return mix(Rgb{0.70, 0.62, 0.50}, Rgb{0.35, 0.30, 0.26}, std::max(la, lb));
    }
    case 8:
        return Rgb{0.92, 0.92, 0.90};
    case 9: { // the sea: darker near, lighter far, with wave crests along x
        const double far = std::clamp(std::log10(std::max(s.b, 1.0)) / 4, 0.0, 1.0);
        Rgb c = mix(Rgb{0.05, 0.20, 0.28}, Rgb{0.40, 0.55, 0.62}, far);
        const double cell = 1.5 * std::max(1.0, s.b / 20);
        const double j = std::floor(s.b / cell), i = std::floor(s.a / (4 * cell));
        const double h = hash01(static_cast<int64_t>(i), static_cast<int64_t>(j), seed);
        const double crest = s.box(i * 4 * cell + h * cell, i * 4 * cell + (1 + 2 * h) * cell,
                                   j * cell + 0.4 * cell, j * cell + 0.5 * cell);
        return mix(c, Rgb{0.75, 0.85, 0.88}, crest * 0.6);
    }
    default:
        return {0.5, 0.5, 0.5};
    }
}

// Smooth colour fields and round pebbles: nothing straight.  The fields
// are smooth enough to be computed every 8 pixels and interpolated.
class NoLines {
  public:
    explicit NoLines(const Shot& s) : s_(s), gw_(s.width / kStep + 2), gh_(s.height / kStep + 2) {
        field_.resize(static_cast<size_t>(gw_) * gh_);
        for (int32_t j = 0; j < gh_; ++j)
            for (int32_t i = 0; i < gw_; ++i)
                field_[static_cast<size_t>(j) * gw_ + i] = waves(i * kStep, j * kStep);
    }

    Rgb operator()(double u, double v) const {
        const int32_t i = static_cast<int32_t>(u) / kStep, j = static_cast<int32_t>(v) / kStep;
        const double fu = (u - i * kStep) / kStep, fv = (v - j * kStep) / kStep;
        auto at = [&](int32_t a, int32_t b) { return field_[static_cast<size_t>(b) * gw_ + a]; };
        Rgb c = mix(mix(at(i, j), at(i + 1, j), fu), mix(at(i, j + 1), at(i + 1, j + 1), fu), fv);
        const double scale = s_.width / 6000.0;
        for (int k = 0; k < 40; ++k) {
            const double px = hash01(k, 4, s_.seed) * s_.width,
                         py = hash01(k, 5, s_.seed) * s_.height;
            const double rad = (40 + 200 * hash01(k, 6, s_.seed)) * scale;
            if (std::abs(u - px) > rad + 4 || std::abs(v - py) > rad + 4) continue;
            const double d = std::hypot(u - px, v - py) - rad;
            if (d > 4) continue;
            const double cover = d < -4 ? 1.0 : 0.5 * std::erfc(d / 1.2);
            const double t = 0.35 + 0.4 * hash01(k, 7, s_.seed);
            c = mix(c, Rgb{t, t * 0.9, t * 0.8}, cover);
        }
        return c;
    }

  private:
    static constexpr int32_t kStep = 8;

    Rgb waves(double u, double v) const {
        const double scale = s_.width / 6000.0;
        double r = 0.45, g = 0.50, b = 0.35;
        for (int k = 0; k < 12; ++k) {
            const double fx = (0.6 + hash01(k, 1, s_.seed)) * 0.0012 / scale,
                         fy = (0.6 + hash01(k, 2, s_.seed)) * 0.0012 / scale;
            const double ph = hash01(k, 3, s_.seed) * 6.28;
            const double w = std::sin(u * fx + std::sin(v * fy * 0.7 + ph) * 2.0 + ph) *
                             std::cos(v * fy + std::cos(u * fx * 0.6) * 1.5);
            r += 0.03 * w;
            g += 0.025 * w * std::cos(k);
            b += 0.03 * w * std::sin(k);
        }
        return {r, g, b};
    }

    const Shot& s_;
    int32_t gw_, gh_;
    std::vector<Rgb> field_;
};

uint8_t toByte(double v) {
    return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

// The picture as a JPEG (TurboJPEG, 4:2:0, the accurate DCT); empty when it
// cannot be compressed.
std::vector<unsigned char> compressJpeg(const hosts::Picture& p, int quality) {
    tjhandle c = tjInitCompress();
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    const bool encoded = tjCompress2(c, p.rgb.data(), p.width, 0, p.height, TJPF_RGB, &buffer,
                                     &size, TJSAMP_420, quality, TJFLAG_ACCURATEDCT) == 0;
    tjDestroy(c);
    std::vector<unsigned char> bytes;
    if (encoded) bytes.assign(buffer, buffer + size);
    tjFree(buffer);
    return bytes;
}

void jpegRoundTrip(hosts::Picture& p, int quality) {
    const std::vector<unsigned char> bytes = compressJpeg(p, quality);
    if (bytes.empty()) throw std::runtime_error("scene: JPEG compression failed");
    tjhandle d = tjInitDecompress();
    const int rc = tjDecompress2(d, bytes.data(), static_cast<unsigned long>(bytes.size()),
                                 p.rgb.data(), p.width, 0, p.height, TJPF_RGB, TJFLAG_ACCURATEDCT);
    tjDestroy(d);
    if (rc != 0) throw std::runtime_error("scene: JPEG decompression failed");
}

} // namespace

const char* kindName(Kind kind) {
    switch (kind) {
    case Kind::Facade:
        return "facade";
    case Kind::Street:
        return "street";
    case Kind::Interior:
        return "interior";
    case Kind::Horizon:
        return "horizon";
    case Kind::NoLines:
        return "no-lines";
    }
    return "?";
}

hosts::Picture render(const Shot& shot) {
    hosts::Picture p;
    p.width = shot.width;
    p.height = shot.height;
    p.rgb.resize(static_cast<size_t>(shot.width) * shot.height * 3);
    const Camera cam(shot);
    const std::vector<Plane> planes = planesOf(shot.kind);
    const double sigma = std::sqrt(1.0 / 12 + shot.blurPx * shot.blurPx);
    // The horizon's signed distance in pixels: the ray's height is linear in
    // (u, v).
    const std::optional<NoLines> organic =
        shot.kind == Kind::NoLines ? std::optional<NoLines>(std::in_place, shot) : std::nullopt;
    const V3 d00 = cam.ray(0, 0), d10 = cam.ray(1, 0), d01 = cam.ray(0, 1);
    const double horizonGrad = std::hypot(d10.y - d00.y, d01.y - d00.y);
    auto rows = [&](int32_t y0, int32_t y1) {
        for (int32_t v = y0; v < y1; ++v)
            for (int32_t u = 0; u < shot.width; ++u) {
                Rgb c;
                if (shot.kind == Kind::NoLines) {
                    c = (*organic)(u, v);
                } else {
                    const V3 d = cam.ray(u, v);
                    const Hit h = cast(d, planes);
                    c = sky(d);
                    if (h.id >= 0) {
                        const Surface s = surfaceOf(cam, u, v, h.axis, h.k, sigma);
                        const Rgb ground = shade(h.id, s, shot.seed);
                        // The sea meets the sky at the horizon, anti-aliased.
                        const double cover =
                            h.id == 9
                                ? 0.5 * std::erfc(d.y / horizonGrad / sigma / std::numbers::sqrt2)
                                : 1.0;
                        c = mix(c, ground, cover);
                    } else if (shot.kind == Kind::Horizon) {
                        c = sky(d);
                    }
                }
                const size_t i = (static_cast<size_t>(v) * shot.width + u) * 3;
                const std::array<double, 3> rgb = {c.r, c.g, c.b};
                for (int k = 0; k < 3; ++k) {
                    double n = 0;
                    if (shot.noise > 0) {
                        // Irwin-Hall: four uniforms, variance 1/3, scaled to sigma.
                        const uint64_t bits = mixBits(shot.seed * 31 + i + k);
                        double sum = 0;
                        for (int q = 0; q < 4; ++q)
                            sum += static_cast<double>((bits >> (16 * q)) & 0xFFFF) / 65535.0 - 0.5;
                        n = sum * std::sqrt(3.0) * shot.noise;
                    }
                    p.rgb[i + k] = toByte(rgb[k] * 255 + n);
                }
            }
    };
    const unsigned n = std::max(1u, std::min(8u, std::thread::hardware_concurrency()));
    std::vector<std::thread> workers;
    for (unsigned k = 0; k < n; ++k)
        workers.emplace_back(rows, static_cast<int32_t>(int64_t{shot.height} * k / n),
                             static_cast<int32_t>(int64_t{shot.height} * (k + 1) / n));
    for (auto& w : workers)
        w.join();
    if (shot.jpegQuality > 0) jpegRoundTrip(p, shot.jpegQuality);
    return p;
}

Truth truth(const Shot& shot) {
    Truth t;
    t.levelDeg = shot.rollDeg;
    if (shot.kind != Kind::NoLines && shot.pitchDeg != 0) {
        const Camera cam(shot);
        // The vertical's direction seen by the pitched camera, then the roll.
        const double x0 = 0, y0 = -cam.f * cam.cp / cam.sp;
        t.vanishingX = cam.cx + x0 * cam.cr + y0 * cam.sr;
        t.vanishingY = cam.cy - x0 * cam.sr + y0 * cam.cr;
    }
    return t;
}

double residualLeanDeg(int32_t w, int32_t h, std::array<double, 2> truth,
                       std::optional<std::array<double, 2>> found) {
    double vx = 0, vy = 0; // the correction's vanishing point, heights from the bottom
    bool corrects = false;
    if (found) {
        if (const auto c = perspectiveCorners(w, h, *found)) {
            const double xg = (*c)[0][0], xd = (*c)[1][0];
            vy = -static_cast<double>(w) * h / ((xd - xg) - w);
            vx = -xg * w / ((xd - xg) - w);
            corrects = true;
        }
    }
    const double tx = truth[0], ty = h - truth[1];
    double worst = 0;
    for (const double base : {0.0, static_cast<double>(w)}) {
        // The true line from (base, 0) towards (tx, ty), at the top row's
        // height, and the column it lands in.
        const double top = base + (tx - base) * h / ty;
        const double dest = corrects ? (top * vy - h * vx) / (vy - h) : top;
        worst = std::max(worst, std::abs(std::atan((dest - base) / h)) / kDeg);
    }
    return worst;
}

std::array<double, 2> verticalsAt(const Shot& shot) {
    const Truth t = truth(shot);
    if (t.vanishingX) return {*t.vanishingX, *t.vanishingY};
    const double cx = (shot.width - 1) / 2.0, cy = (shot.height - 1) / 2.0;
    return {cx - 1e12 * std::sin(shot.rollDeg * kDeg), cy - 1e12 * std::cos(shot.rollDeg * kDeg)};
}

bool writeJpeg(const hosts::Picture& p, const std::string& path, int quality) {
    const std::vector<unsigned char> bytes = compressJpeg(p, quality);
    if (bytes.empty()) return false;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && written;
}

std::string describe(const Shot& s) {
    std::ostringstream o;
    o << kindName(s.kind) << " " << s.width << "x" << s.height << " roll " << s.rollDeg << " pitch "
      << s.pitchDeg;
    if (s.blurPx > 0) o << " blur " << s.blurPx;
    if (s.noise > 0) o << " noise " << s.noise;
    if (s.jpegQuality > 0) o << " q" << s.jpegQuality;
    return o.str();
}

} // namespace talvine::analysis::scenes
