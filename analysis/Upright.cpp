// The analysis in four steps.
//
// 1. Detection, coarse.  The picture is reduced by a whole factor f (box
//    average of the luma 77 R + 150 G + 29 B, in integers) to about
//    `detectionSize` on its long side, and OpenCV's LSD finds the segments
//    there, without its own scaling.
// 2. Refinement, at full resolution.  Along each segment, at every pixel
//    column (row for a steep one) the edge is searched across it in a window
//    of +-(2f + 2) pixels: the luma's central difference, its peak of the
//    segment's polarity nearest to the prediction, placed to a fraction of a
//    pixel by the parabola through the peak and its neighbours.  A line is
//    fitted to those positions by least squares, twice dropping positions
//    further than 3 robust sigmas.  Pixel-locking of the parabola averages
//    out along a line that crosses pixel boundaries; the fit's slope error
//    is the line's own standard error.
// 3. The level.  Lines within 30 degrees of horizontal vote with their
//    length: the densest 0.3-degree window of their angles, then its weighted
//    mean over the lines within 3 robust sigmas of it.  Lines within 30
//    degrees of vertical give the vanishing point (below), whose direction
//    from the picture's centre is the roll seen on the verticals; the
//    direction with more length in agreement gives the level.
// 4. The vanishing point.  Every pair among the 40 longest near-vertical
//    lines proposes the point where they meet; each proposal is scored by
//    the length of lines whose direction points at it within 0.5 degree (a
//    smooth kernel), the best one is refined by reweighted least squares in
//    homogeneous coordinates (the smallest eigenvector of the lines' normal
//    matrix, each line weighted by its length over its distance to the
//    point squared, so that the residual is an angle), so a point at
//    infinity needs no special case.
//
// Everything is in one thread, in a fixed order, in double precision.
#include "Upright.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>

namespace talvine::analysis {
namespace {

constexpr double kDeg = std::numbers::pi / 180;
constexpr double kClassDeg = 30;   // a direction's reach on either side of it
constexpr double kModeDeg = 0.3;   // the level's vote window
constexpr double kVanishDeg = 0.5; // a line points at a proposal within this
constexpr size_t kProposers = 40;
constexpr double kMinShare = 0.35; // of a direction's length that must agree

int luma(const uint8_t* p) {
    return 77 * p[0] + 150 * p[1] + 29 * p[2];
}

cv::Mat reduced(PictureView pic, int32_t f) {
    const int32_t w = pic.width / f, h = pic.height / f;
    cv::Mat out(h, w, CV_8UC1);
    std::vector<uint32_t> sums(static_cast<size_t>(w));
    const uint32_t divisor = 256u * static_cast<uint32_t>(f * f);
    for (int32_t y = 0; y < h; ++y) {
        std::fill(sums.begin(), sums.end(), 0u);
        for (int32_t dy = 0; dy < f; ++dy) {
            const uint8_t* row = pic.rgb + (static_cast<size_t>(y) * f + dy) * pic.width * 3;
            for (int32_t x = 0; x < w; ++x) {
                uint32_t s = 0;
                for (int32_t dx = 0; dx < f; ++dx)
                    s += static_cast<uint32_t>(luma(row + (static_cast<size_t>(x) * f + dx) * 3));
                sums[static_cast<size_t>(x)] += s;
            }
        }
        uint8_t* o = out.ptr<uint8_t>(y);
        for (int32_t x = 0; x < w; ++x)
            o[x] = static_cast<uint8_t>((sums[static_cast<size_t>(x)] + divisor / 2) / divisor);
    }
    return out;
}

struct Fitted {
    Line line;
    double weight = 0;   // full-resolution length
    double angleDeg = 0; // counter-clockwise from the horizontal (horizontals) or from the
                         // upward vertical (verticals), as seen
};

// Searches the edge along a coarse segment at full resolution.  `steep`
// segments are searched along rows (x as a function of y).
std::optional<Fitted> refine(PictureView pic, double ax, double ay, double bx, double by,
                             int32_t f) {
    const bool steep = std::abs(by - ay) > std::abs(bx - ax);
    // t runs along the segment's main axis, e across it.
    double t0 = steep ? ay : ax, e0 = steep ? ax : ay, t1 = steep ? by : bx, e1 = steep ? bx : by;
    if (t1 < t0) std::swap(t0, t1), std::swap(e0, e1);
    const double slope = (e1 - e0) / (t1 - t0);
    const int32_t along = steep ? pic.height : pic.width, across = steep ? pic.width : pic.height;
    const int32_t r = 2 * f + 2;
    const double trim = 1.5 * f;
    const int32_t first = std::max<int32_t>(1, static_cast<int32_t>(std::ceil(t0 + trim)));
    const int32_t last = std::min<int32_t>(along - 2, static_cast<int32_t>(std::floor(t1 - trim)));
    if (last - first < 8) return std::nullopt;

    auto sample = [&](int32_t t, int32_t e) {
        const size_t x = static_cast<size_t>(steep ? e : t), y = static_cast<size_t>(steep ? t : e);
        return luma(pic.rgb + (y * static_cast<size_t>(pic.width) + x) * 3);
    };
    struct Station {
        double t, e;
        int sign;
    };
    std::vector<Station> stations;
    std::vector<int> d(static_cast<size_t>(2 * r + 1));
    std::vector<int> g(static_cast<size_t>(2 * r + 3));
    for (int32_t t = first; t <= last; ++t) {
        const double predicted = e0 + slope * (t - t0);
        const int32_t c = static_cast<int32_t>(std::lround(predicted));
        if (c - r - 1 < 0 || c + r + 1 >= across) continue;
        for (int32_t k = -r - 1; k <= r + 1; ++k)
            g[static_cast<size_t>(k + r + 1)] = sample(t, c + k);
        int best = 0;
        int bestAbs = 0;
        for (int32_t k = -r; k <= r; ++k) {
            const int v = g[static_cast<size_t>(k + r + 2)] - g[static_cast<size_t>(k + r)];
            d[static_cast<size_t>(k + r)] = v;
            if (std::abs(v) > bestAbs) bestAbs = std::abs(v), best = k;
        }
        // At least 6 levels of 255 across two pixels.
        if (bestAbs < 6 * 256) continue;
        const int sign = d[static_cast<size_t>(best + r)] > 0 ? 1 : -1;
        // The peak of that polarity nearest to the prediction among those of
        // at least half the strongest.
        int chosen = best;
        double nearest = std::abs(best + c - predicted);
        for (int32_t k = -r + 1; k <= r - 1; ++k) {
            const int v = sign * d[static_cast<size_t>(k + r)];
            if (v * 2 < bestAbs || v < sign * d[static_cast<size_t>(k + r - 1)] ||
                v < sign * d[static_cast<size_t>(k + r + 1)])
                continue;
            const double distance = std::abs(k + c - predicted);
            if (distance < nearest) nearest = distance, chosen = k;
        }
        if (chosen <= -r || chosen >= r) continue;
        const double dm = sign * d[static_cast<size_t>(chosen + r - 1)],
                     d0 = sign * d[static_cast<size_t>(chosen + r)],
                     dp = sign * d[static_cast<size_t>(chosen + r + 1)];
        const double curvature = dm - 2 * d0 + dp;
        const double offset =
            curvature < 0 ? std::clamp((dm - dp) / (2 * curvature), -0.5, 0.5) : 0;
        stations.push_back({static_cast<double>(t), c + chosen + offset, sign});
    }
    if (stations.size() < 12) return std::nullopt;
    // One polarity per edge: the majority's.
    const long positive = std::count_if(stations.begin(), stations.end(),
                                        [](const Station& s) { return s.sign > 0; });
    const int polarity = 2 * positive >= static_cast<long>(stations.size()) ? 1 : -1;
    const size_t total = stations.size();
    std::erase_if(stations, [&](const Station& s) { return s.sign != polarity; });

    double a = 0, b = 0, tm = 0, stt = 0, sigma = 0;
    std::vector<double> residuals;
    for (int round = 0; round < 3; ++round) {
        if (stations.size() < 12) return std::nullopt;
        tm = 0;
        double em = 0;
        for (const Station& s : stations)
            tm += s.t, em += s.e;
        tm /= static_cast<double>(stations.size()), em /= static_cast<double>(stations.size());
        double ste = 0;
        stt = 0;
        for (const Station& s : stations)
            stt += (s.t - tm) * (s.t - tm), ste += (s.t - tm) * (s.e - em);
        b = ste / stt, a = em;
        residuals.clear();
        for (const Station& s : stations)
            residuals.push_back(std::abs(s.e - (a + b * (s.t - tm))));
        std::vector<double> sorted = residuals;
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(sorted.size() / 2),
                         sorted.end());
        sigma = 1.4826 * sorted[sorted.size() / 2];
        if (round == 2) break;
        const double keep = std::max(3 * sigma, 0.25);
        size_t k = 0;
        std::erase_if(stations, [&](const Station&) { return residuals[k++] > keep; });
    }
    if (stations.size() * 2 < total) return std::nullopt;
    double ss = 0;
    for (double q : residuals)
        ss += q * q;
    const double rms =
        std::sqrt(ss / static_cast<double>(std::max<size_t>(residuals.size() - 2, 1)));
    if (rms > 1.0) return std::nullopt; // not straight

    const double tA = stations.front().t, tB = stations.back().t;
    const double eA = a + b * (tA - tm), eB = a + b * (tB - tm);
    Fitted out;
    out.line.x0 = steep ? eA : tA, out.line.y0 = steep ? tA : eA;
    out.line.x1 = steep ? eB : tB, out.line.y1 = steep ? tB : eB;
    out.line.stdErrorDeg = rms / std::sqrt(stt) / (1 + b * b) / kDeg;
    out.weight = std::hypot(tB - tA, eB - eA);
    // Horizontal-ish: y = e, slope b down per column: rises at atan(-b).
    // Steep: x = e, b right per row down: the upward direction (-b, -1).
    out.angleDeg = steep ? std::atan2(b, 1.0) / kDeg : std::atan(-b) / kDeg;
    return out;
}

// The symmetric 3x3 matrix's eigenvector of the smallest eigenvalue (cyclic
// Jacobi: a fixed sequence of rotations).
std::array<double, 3> smallestEigenvector(std::array<std::array<double, 3>, 3> m) {
    std::array<std::array<double, 3>, 3> v{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    for (int sweep = 0; sweep < 50; ++sweep) {
        const double off = m[0][1] * m[0][1] + m[0][2] * m[0][2] + m[1][2] * m[1][2];
        if (off < 1e-30) break;
        for (int p = 0; p < 2; ++p)
            for (int q = p + 1; q < 3; ++q) {
                if (m[p][q] == 0) continue;
                const double theta = (m[q][q] - m[p][p]) / (2 * m[p][q]);
                const double t =
                    (theta >= 0 ? 1.0 : -1.0) / (std::abs(theta) + std::sqrt(theta * theta + 1));
                const double c = 1 / std::sqrt(t * t + 1), s = t * c;
                for (int k = 0; k < 3; ++k) {
                    const double mkp = m[k][p], mkq = m[k][q];
                    m[k][p] = c * mkp - s * mkq, m[k][q] = s * mkp + c * mkq;
                }
                for (int k = 0; k < 3; ++k) {
                    const double mpk = m[p][k], mqk = m[q][k];
                    m[p][k] = c * mpk - s * mqk, m[q][k] = s * mpk + c * mqk;
                }
                for (int k = 0; k < 3; ++k) {
                    const double vkp = v[k][p], vkq = v[k][q];
                    v[k][p] = c * vkp - s * vkq, v[k][q] = s * vkp + c * vkq;
                }
            }
    }
    int best = 0;
    for (int k = 1; k < 3; ++k)
        if (m[k][k] < m[best][best]) best = k;
    return {v[0][best], v[1][best], v[2][best]};
}

// A near-vertical line in coordinates centred on the picture and scaled by
// its long side: the unit normal n and the offset c of n . p + c = 0, its
// middle and its unit direction.
struct Homogeneous {
    double nx, ny, c, mx, my, ux, uy, w;
};

// The angle between a line and the direction from its middle to the
// homogeneous point p, in degrees.
double residualDeg(const Homogeneous& l, const std::array<double, 3>& p) {
    const double gx = p[0] - p[2] * l.mx, gy = p[1] - p[2] * l.my;
    const double g = std::hypot(gx, gy);
    if (g == 0) return 90;
    return std::asin(std::min(1.0, std::abs(l.ux * gy - l.uy * gx) / g)) / kDeg;
}

struct VanishingFit {
    std::array<double, 3> point{};
    double stdErrorDeg = 0;
    double agreeing = 0; // length of the lines that agree
    std::vector<size_t> used;
};

std::optional<VanishingFit> fitVanishing(const std::vector<Homogeneous>& lines) {
    if (lines.size() < 2) return std::nullopt;
    std::vector<size_t> order(lines.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return lines[a].w > lines[b].w; });
    order.resize(std::min(order.size(), kProposers));
    auto score = [&](const std::array<double, 3>& p, double tolerance) {
        double s = 0;
        for (const Homogeneous& l : lines) {
            const double r = residualDeg(l, p) / tolerance;
            if (r < 1) s += l.w * (1 - r * r);
        }
        return s;
    };
    std::array<double, 3> best{};
    double bestScore = -1;
    for (size_t i = 0; i < order.size(); ++i)
        for (size_t j = i + 1; j < order.size(); ++j) {
            const Homogeneous &a = lines[order[i]], &b = lines[order[j]];
            std::array<double, 3> p = {a.ny * b.c - a.c * b.ny, a.c * b.nx - a.nx * b.c,
                                       a.nx * b.ny - a.ny * b.nx};
            const double n = std::hypot(p[0], p[1], p[2]);
            if (n == 0) continue;
            for (double& q : p)
                q /= n;
            if (const double s = score(p, kVanishDeg); s > bestScore) bestScore = s, best = p;
        }
    if (bestScore <= 0) return std::nullopt;
    VanishingFit fit;
    fit.point = best;
    double tolerance = kVanishDeg;
    for (int round = 0; round < 12; ++round) {
        std::array<std::array<double, 3>, 3> m{};
        std::vector<size_t> used;
        std::vector<double> r2;
        for (size_t k = 0; k < lines.size(); ++k) {
            const Homogeneous& l = lines[k];
            const double r = residualDeg(l, fit.point);
            if (r > tolerance) continue;
            const double gx = fit.point[0] - fit.point[2] * l.mx,
                         gy = fit.point[1] - fit.point[2] * l.my;
            const double w = l.w / std::max(gx * gx + gy * gy, 1e-300);
            const std::array<double, 3> h = {l.nx, l.ny, l.c};
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    m[i][j] += w * h[i] * h[j];
            used.push_back(k);
            r2.push_back(r);
        }
        if (used.size() < 2) return std::nullopt;
        std::array<double, 3> p = smallestEigenvector(m);
        // One sign: the point above the picture's centre, or at infinity
        // pointing up.
        if (p[2] < 0 || (p[2] == 0 && p[1] > 0)) p = {-p[0], -p[1], -p[2]};
        fit.point = p;
        fit.used = used;
        std::vector<double> sorted = r2;
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(sorted.size() / 2),
                         sorted.end());
        tolerance = std::clamp(3 * 1.4826 * sorted[sorted.size() / 2], 0.05, kVanishDeg);
    }
    double sw = 0, sw2 = 0, swr = 0;
    for (size_t k : fit.used) {
        const double r = residualDeg(lines[k], fit.point);
        sw += lines[k].w, sw2 += lines[k].w * lines[k].w, swr += lines[k].w * r * r;
    }
    const double neff = sw * sw / sw2;
    fit.agreeing = sw;
    fit.stdErrorDeg = std::sqrt(swr / sw) / std::sqrt(std::max(neff - 1, 1.0));
    return fit;
}

struct LevelFit {
    double degrees = 0, stdErrorDeg = 0, agreeing = 0;
    std::vector<size_t> used;
};

std::optional<LevelFit> fitLevel(const std::vector<double>& angles,
                                 const std::vector<double>& weights) {
    if (angles.empty()) return std::nullopt;
    std::vector<size_t> order(angles.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return angles[a] < angles[b]; });
    // The densest window, by a sliding sum over the sorted angles.
    double bestSum = -1, centre = 0;
    size_t hi = 0;
    double sum = 0;
    for (size_t lo = 0; lo < order.size(); ++lo) {
        while (hi < order.size() && angles[order[hi]] <= angles[order[lo]] + kModeDeg)
            sum += weights[order[hi++]];
        if (sum > bestSum) {
            bestSum = sum;
            double s = 0, sw = 0;
            for (size_t k = lo; k < hi; ++k)
                s += weights[order[k]] * angles[order[k]], sw += weights[order[k]];
            centre = s / sw;
        }
        sum -= weights[order[lo]];
    }
    LevelFit fit;
    double tolerance = kModeDeg;
    for (int round = 0; round < 6; ++round) {
        double s = 0, sw = 0;
        std::vector<size_t> used;
        std::vector<double> deviations;
        for (size_t k = 0; k < angles.size(); ++k)
            if (std::abs(angles[k] - centre) <= tolerance) {
                used.push_back(k);
                s += weights[k] * angles[k], sw += weights[k];
                deviations.push_back(std::abs(angles[k] - centre));
            }
        if (used.empty()) return std::nullopt;
        centre = s / sw;
        fit.used = used;
        std::nth_element(deviations.begin(),
                         deviations.begin() + static_cast<long>(deviations.size() / 2),
                         deviations.end());
        tolerance = std::clamp(3 * 1.4826 * deviations[deviations.size() / 2], 0.02, kModeDeg);
    }
    double sw = 0, sw2 = 0, swr = 0;
    for (size_t k : fit.used) {
        const double r = angles[k] - centre;
        sw += weights[k], sw2 += weights[k] * weights[k], swr += weights[k] * r * r;
    }
    const double neff = sw * sw / sw2;
    fit.degrees = centre;
    fit.agreeing = sw;
    fit.stdErrorDeg = std::sqrt(swr / sw) / std::sqrt(std::max(neff - 1, 1.0));
    return fit;
}

constexpr const char* kTooFew = "too few straight lines";
constexpr const char* kDisagree = "lines disagree";

} // namespace

double Line::length() const {
    return std::hypot(x1 - x0, y1 - y0);
}

Analysis analyse(PictureView pic, const Options& options) {
    Analysis out;
    if (pic.width < 16 || pic.height < 16 || !pic.rgb) {
        out.level.refusal = out.verticals.refusal = kTooFew;
        return out;
    }
    const int32_t longSide = std::max(pic.width, pic.height);
    const int32_t f = std::max<int32_t>(1, (longSide + std::max(options.detectionSize, 64) - 1) /
                                               std::max(options.detectionSize, 64));
    const cv::Mat small = reduced(pic, f);
    std::vector<cv::Vec4f> segments;
    {
        // LSD's own parameters, without its scaling: the reduction above is
        // the scale.
        cv::Ptr<cv::LineSegmentDetector> lsd =
            cv::createLineSegmentDetector(cv::LSD_REFINE_STD, 1.0, 0.6, 2.0, 22.5, 0, 0.7, 1024);
        lsd->detect(small, segments);
    }
    const double border = 0.005 * longSide;
    std::vector<Fitted> fitted;
    for (const cv::Vec4f& s : segments) {
        // LSD puts the centre of pixel (i, j) at (i + 0.5, j + 0.5); the
        // reduced pixel i covers full pixels f i .. f i + f - 1.
        const double ax = f * static_cast<double>(s[0]) - 0.5,
                     ay = f * static_cast<double>(s[1]) - 0.5;
        const double bx = f * static_cast<double>(s[2]) - 0.5,
                     by = f * static_cast<double>(s[3]) - 0.5;
        if (std::hypot(bx - ax, by - ay) < std::max(5.0 * f, 0.02 * longSide)) continue;
        const auto r = refine(pic, ax, ay, bx, by, f);
        if (!r) continue;
        const Line& l = r->line;
        // Edges along the frame are the frame's, not the scene's.
        auto near = [&](double a, double b, double edge) {
            return std::abs(a - edge) < border && std::abs(b - edge) < border;
        };
        if (near(l.x0, l.x1, 0) || near(l.x0, l.x1, pic.width - 1) || near(l.y0, l.y1, 0) ||
            near(l.y0, l.y1, pic.height - 1))
            continue;
        fitted.push_back(*r);
    }
    // Classes.
    std::vector<size_t> horizontal, vertical;
    for (size_t k = 0; k < fitted.size(); ++k) {
        Line& l = fitted[k].line;
        const double dx = std::abs(l.x1 - l.x0), dy = std::abs(l.y1 - l.y0);
        const double fromHorizontal = std::atan2(dy, dx) / kDeg;
        if (fromHorizontal <= kClassDeg) {
            l.direction = Direction::Horizontal;
            horizontal.push_back(k);
        } else if (fromHorizontal >= 90 - kClassDeg) {
            l.direction = Direction::Vertical;
            vertical.push_back(k);
        }
    }

    // The horizontals' level.
    std::optional<LevelFit> level;
    double horizontalLength = 0;
    {
        std::vector<double> angles, weights;
        for (size_t k : horizontal) {
            angles.push_back(fitted[k].angleDeg);
            weights.push_back(fitted[k].weight);
            horizontalLength += fitted[k].weight;
        }
        level = fitLevel(angles, weights);
        if (level && (level->used.size() < 2 && level->agreeing < 0.25 * pic.width)) level.reset();
    }

    // The verticals' vanishing point.
    const double cx = (pic.width - 1) / 2.0, cy = (pic.height - 1) / 2.0, scale = longSide;
    std::optional<VanishingFit> vanishing;
    double verticalLength = 0;
    {
        std::vector<Homogeneous> lines;
        for (size_t k : vertical) {
            const Line& l = fitted[k].line;
            const double x0 = (l.x0 - cx) / scale, y0 = (l.y0 - cy) / scale;
            const double x1 = (l.x1 - cx) / scale, y1 = (l.y1 - cy) / scale;
            const double len = std::hypot(x1 - x0, y1 - y0);
            const double ux = (x1 - x0) / len, uy = (y1 - y0) / len;
            const double nx = -uy, ny = ux;
            const double mx = (x0 + x1) / 2, my = (y0 + y1) / 2;
            lines.push_back({nx, ny, -(nx * mx + ny * my), mx, my, ux, uy, fitted[k].weight});
            verticalLength += fitted[k].weight;
        }
        vanishing = fitVanishing(lines);
        if (vanishing && vanishing->used.size() < 2) vanishing.reset();
        if (vanishing)
            for (size_t& k : vanishing->used)
                k = vertical[k];
    }
    if (level)
        for (size_t& k : level->used)
            k = horizontal[k];

    const bool levelAgrees = level && level->agreeing >= kMinShare * horizontalLength;
    const bool verticalsAgree = vanishing && vanishing->agreeing >= kMinShare * verticalLength;

    // Verticals.
    if (vanishing && verticalsAgree) {
        out.verticals.found = true;
        out.verticals.stdErrorDeg = vanishing->stdErrorDeg;
        const auto& p = vanishing->point;
        // Met beyond use when lines through it from the frame's two sides
        // draw together by less than half a pixel over the picture's height:
        // width x height / distance < 0.5 pixel, in units of the long side.
        const double reach = std::hypot(p[0], p[1]);
        const double w = pic.width / scale, h = pic.height / scale;
        if (std::abs(p[2]) * w * h * scale > 0.5 * reach)
            out.verticals.vanishing =
                std::array<double, 2>{cx + p[0] / p[2] * scale, cy + p[1] / p[2] * scale};
        for (size_t k : vanishing->used)
            fitted[k].line.used = true;
        out.verticalLines = static_cast<int>(vanishing->used.size());
    } else {
        out.verticals.refusal = vertical.size() < 2 || !vanishing ? kTooFew : kDisagree;
    }

    // The level: the direction with more length in agreement.
    const double hAgree = levelAgrees ? level->agreeing : 0;
    const double vAgree = out.verticals.found ? vanishing->agreeing : 0;
    if (out.verticals.found && vAgree > hAgree) {
        const auto& p = vanishing->point;
        // The upward direction of the vertical through the centre.
        double ux = p[0], uy = p[1];
        if (p[2] != 0 && uy > 0) ux = -ux, uy = -uy;
        out.level.degrees = std::atan2(-ux, -uy) / kDeg;
        out.level.stdErrorDeg = vanishing->stdErrorDeg;
        out.level.fromVerticals = true;
    } else if (levelAgrees) {
        out.level.degrees = level->degrees;
        out.level.stdErrorDeg = level->stdErrorDeg;
        for (size_t k : level->used)
            fitted[k].line.used = true;
        out.horizontalLines = static_cast<int>(level->used.size());
    } else {
        out.level.refusal = !level ? kTooFew : kDisagree;
    }
    if (levelAgrees && out.horizontalLines == 0) {
        for (size_t k : level->used)
            fitted[k].line.used = true;
        out.horizontalLines = static_cast<int>(level->used.size());
    }
    for (Fitted& l : fitted)
        out.lines.push_back(l.line);
    return out;
}

std::optional<std::array<std::array<int32_t, 2>, 4>>
perspectiveCorners(int32_t width, int32_t height, std::array<double, 2> v) {
    // Heights are measured up from the line below the bottom row, as the
    // perspective command measures them.
    const double vy = height - v[1];
    if (!(vy > height) || !std::isfinite(v[0])) return std::nullopt;
    const double k = static_cast<double>(height) / vy;
    const double left = v[0] * k, right = width + (v[0] - width) * k;
    if (!(std::abs(left) < 1e9 && std::abs(right) < 1e9)) return std::nullopt;
    const int32_t xl = static_cast<int32_t>(std::lround(left)),
                  xr = static_cast<int32_t>(std::lround(right));
    if (xl == 0 && xr == width) return std::nullopt;
    if (xr - xl < 1) return std::nullopt;
    return std::array<std::array<int32_t, 2>, 4>{{{xl, 0}, {xr, 0}, {width, height}, {0, height}}};
}

std::array<double, 2> turned(std::array<double, 2> p, double cx, double cy, double radians) {
    const double c = std::cos(radians), s = std::sin(radians);
    const double x = p[0] - cx, y = p[1] - cy;
    return {cx + x * c + y * s, cy - x * s + y * c};
}

} // namespace talvine::analysis
