// The clean rectangles measured on the engines' own output.  Every case runs
// its correction twice: once on a picture of one colour over a destination
// of another (a white corner or a pixel left as it was shows), once on a
// picture whose pixels hold their own column and row (a pixel read across
// the end of a row, or blended with one, lies far from where the mapping
// puts it).  Inside the rectangle no pixel may fail either run; just beyond
// each side of a free rectangle one must (or the side is the picture's
// edge), so the rectangle is also as large as the corrections allow.
#include "UprightCrop.h"
#include "engines/CorrDistor.h"
#include "engines/ModifAngle.h"
#include "engines/Perspective.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace talvine::hosts {
namespace {

using engines::Sampling;

constexpr TPtImg kColour{{10, 200, 60}};
constexpr TPtImg kLeftAsItWas{{1, 2, 3}};

struct Position {
    long double x, y;
};

// One correction of a W x H picture: how to run it, and where its mapping
// reads the source for a destination pixel, before any truncation.
struct Warp {
    std::string name;
    int32_t W, H;
    // How far a sample may read back from the mapping's position: within a
    // pixel for the nearest pixel (truncated), within a pixel and a half for
    // the blend (a negative fraction weighs the pixel beyond, and the bytes
    // round); a chain adds its steps' (the tilt's turn passes the
    // perspective's truncation on).
    long double tolerance;
    std::function<bool(const TPtImg*, TPtImg*)> apply;
    std::function<Position(int32_t, int32_t)> source;
    std::function<std::optional<PixelRect>(bool)> crop;
};

Sampling samplingOf(bool bilinear) {
    return bilinear ? Sampling::Bilinear : Sampling::Nearest;
}

Position tiltSource(const TiltStep& t, int32_t x, int32_t y) {
    const long double a = *engines::tiltAngle(t.from, t.to);
    const long double dx = x - t.from.x, dy = y - t.from.y;
    return {t.from.x + dx * cosl(a) - dy * sinl(a), t.from.y + dx * sinl(a) + dy * cosl(a)};
}

bool runTilt(const TiltStep& t, int32_t W, int32_t H, const TPtImg* src, TPtImg* dst) {
    return engines::tilt(src, dst, W, H,
                         {t.from, *engines::tiltAngle(t.from, t.to), samplingOf(t.bilinear)});
}

std::optional<Position> perspectiveSource(const PerspectiveStep& p, int32_t W, int32_t H, int32_t x,
                                          int32_t y) {
    const auto& k = p.corners;
    const auto fuite = engines::calculerFuite({k[0], k[1], k[2], k[3]}, W);
    if (!fuite) return std::nullopt;
    long double f = H - y;
    if (p.vertical != 0) {
        const long double b = p.vertical * fuite->B / 10;
        f = (sqrtl(b * 2 * f + 1) - 1) / b;
    }
    // Beyond the vanishing point a row is the picture mirrored: no source
    // position counts as right there.
    if (!((fuite->Vy - f) / fuite->Vy > 0)) return Position{NAN, NAN};
    return Position{((fuite->Vy - f) * x + f * fuite->Vx) / fuite->Vy, H - f};
}

bool runPerspective(const PerspectiveStep& p, int32_t W, int32_t H, const TPtImg* src,
                    TPtImg* dst) {
    const auto& k = p.corners;
    return engines::correctPerspective(
        src, dst, W, H, {{k[0], k[1], k[2], k[3]}, p.vertical, samplingOf(p.bilinear)});
}

Warp tiltWarp(int32_t W, int32_t H, TiltStep t) {
    return {"tilt to " + std::to_string(t.to.x) + "," + std::to_string(t.to.y),
            W,
            H,
            t.bilinear ? 1.6L : 1.01L,
            [=](const TPtImg* s, TPtImg* d) { return runTilt(t, W, H, s, d); },
            [=](int32_t x, int32_t y) { return tiltSource(t, x, y); },
            [=](bool keep) { return uprightCrop(W, H, t, std::nullopt, keep); }};
}

Warp perspectiveWarp(int32_t W, int32_t H, PerspectiveStep p) {
    std::string name = "perspective";
    for (const Point& c : p.corners)
        name += " " + std::to_string(c.x) + "," + std::to_string(c.y);
    return {name + " vertical " + std::to_string(p.vertical),
            W,
            H,
            p.bilinear ? 1.6L : 1.01L,
            [=](const TPtImg* s, TPtImg* d) { return runPerspective(p, W, H, s, d); },
            [=](int32_t x, int32_t y) {
                return perspectiveSource(p, W, H, x, y).value_or(Position{NAN, NAN});
            },
            [=](bool keep) { return uprightCrop(W, H, std::nullopt, p, keep); }};
}

// A tilt, then a perspective correction of its result.
Warp chainWarp(int32_t W, int32_t H, TiltStep t, PerspectiveStep p) {
    return {"tilt, then " + perspectiveWarp(W, H, p).name,
            W,
            H,
            3.2L,
            [=](const TPtImg* s, TPtImg* d) {
                std::vector<TPtImg> tilted(static_cast<size_t>(W) * H);
                return runTilt(t, W, H, s, tilted.data()) &&
                       runPerspective(p, W, H, tilted.data(), d);
            },
            [=](int32_t x, int32_t y) {
                const auto mid = perspectiveSource(p, W, H, x, y);
                if (!mid) return Position{NAN, NAN};
                // The tilt's mapping is affine: between whole pixels too.
                const Position a = tiltSource(t, 0, 0), bx = tiltSource(t, 1, 0),
                               by = tiltSource(t, 0, 1);
                return Position{a.x + (bx.x - a.x) * mid->x + (by.x - a.x) * mid->y,
                                a.y + (bx.y - a.y) * mid->x + (by.y - a.y) * mid->y};
            },
            [=](bool keep) { return uprightCrop(W, H, t, p, keep); }};
}

Warp distortionWarp(int32_t W, int32_t H, DistortionStep d) {
    const engines::DistortionParams params{
        d.position, d.law == 2 ? engines::DistortionLaw::Square : engines::DistortionLaw::Linear,
        samplingOf(d.bilinear)};
    return {"distortion " + std::to_string(d.position) + " law " + std::to_string(d.law),
            W,
            H,
            d.bilinear ? 1.6L : 1.01L,
            [=](const TPtImg* s, TPtImg* out) {
                engines::correctDistortion(s, out, W, H, params);
                return true;
            },
            [=](int32_t x, int32_t y) {
                const auto o = engines::distortionOffset(W, H, params, x - W / 2, y - H / 2);
                return Position{W / 2 + o.x, H / 2 + o.y};
            },
            [=](bool keep) { return distortionCrop(W, H, d, keep); }};
}

// Which destination pixels were not computed from the right place inside
// the source.  The second picture holds (column, row, 77) in every pixel, so
// a sample reads back as its source position.  Nothing when the engine
// refuses the correction.
std::optional<std::vector<bool>> faults(const Warp& w) {
    const size_t n = static_cast<size_t>(w.W) * w.H;
    std::vector<TPtImg> plain(n, kColour), out(n, kLeftAsItWas);
    if (!w.apply(plain.data(), out.data())) return std::nullopt;
    std::vector<bool> bad(n);
    for (size_t i = 0; i < n; ++i)
        bad[i] = !(out[i].octets[0] == kColour.octets[0] && out[i].octets[1] == kColour.octets[1] &&
                   out[i].octets[2] == kColour.octets[2]);
    std::vector<TPtImg> coordinates(n);
    for (int32_t y = 0; y < w.H; ++y)
        for (int32_t x = 0; x < w.W; ++x)
            coordinates[static_cast<size_t>(y) * w.W + x] = {
                {static_cast<uint8_t>(x), static_cast<uint8_t>(y), 77}};
    std::fill(out.begin(), out.end(), kLeftAsItWas);
    EXPECT_TRUE(w.apply(coordinates.data(), out.data()));
    for (int32_t y = 0; y < w.H; ++y)
        for (int32_t x = 0; x < w.W; ++x) {
            const size_t i = static_cast<size_t>(y) * w.W + x;
            const Position p = w.source(x, y);
            if (!(fabsl(out[i].octets[0] - p.x) <= w.tolerance) ||
                !(fabsl(out[i].octets[1] - p.y) <= w.tolerance))
                bad[i] = true;
        }
    return bad;
}

int countIn(const std::vector<bool>& bad, int32_t W, int32_t x0, int32_t y0, int32_t x1,
            int32_t y1) {
    int n = 0;
    for (int32_t y = y0; y <= y1; ++y)
        for (int32_t x = x0; x <= x1; ++x)
            n += bad[static_cast<size_t>(y) * W + x];
    return n;
}

// Checks both rectangles of `w`; returns whether a rectangle was found.
bool check(const Warp& w) {
    SCOPED_TRACE(w.name + (w.tolerance > 1.5L ? ", blended" : ", nearest"));
    const int32_t W = w.W, H = w.H;
    const auto faulty = faults(w);
    if (!faulty) {
        // A correction the engine refuses leaves nothing to crop.
        EXPECT_FALSE(w.crop(false));
        EXPECT_FALSE(w.crop(true));
        return false;
    }
    const std::vector<bool>& bad = *faulty;
    bool found = false;
    for (const bool keep : {false, true}) {
        SCOPED_TRACE(keep ? "the picture's proportions" : "any proportions");
        const auto r = w.crop(keep);
        if (!r) {
            // Nothing is offered only when no pixel at all is clean.
            EXPECT_EQ(countIn(bad, W, 0, 0, W - 1, H - 1), W * H);
            continue;
        }
        found = true;
        const bool inside = r->width > 0 && r->height > 0 && r->x >= 0 && r->y >= 0 &&
                            r->x + r->width <= W && r->y + r->height <= H;
        EXPECT_TRUE(inside) << r->x << "," << r->y << " " << r->width << "x" << r->height;
        if (!inside) continue;
        const int32_t x0 = r->x, y0 = r->y, x1 = r->x + r->width - 1, y1 = r->y + r->height - 1;
        EXPECT_EQ(countIn(bad, W, x0, y0, x1, y1), 0)
            << x0 << "," << y0 << " " << r->width << "x" << r->height;
        if (keep) {
            EXPECT_LE(std::abs(r->width - double(W) / H * r->height), 0.5 + 1e-9)
                << r->width << "x" << r->height;
            // Two pixels more on every side would take in a fault.
            if (r->width < W && r->height < H) {
                EXPECT_GT(countIn(bad, W, std::max(0, x0 - 2), std::max(0, y0 - 2),
                                  std::min(W - 1, x1 + 2), std::min(H - 1, y1 + 2)),
                          0);
            }
            continue;
        }
        // Each side is the picture's edge, or a fault lies within two
        // pixels beyond it.
        EXPECT_TRUE(x0 == 0 || countIn(bad, W, std::max(0, x0 - 2), y0, x0 - 1, y1) > 0) << "left";
        EXPECT_TRUE(x1 == W - 1 || countIn(bad, W, x1 + 1, y0, std::min(W - 1, x1 + 2), y1) > 0)
            << "right";
        EXPECT_TRUE(y0 == 0 || countIn(bad, W, x0, std::max(0, y0 - 2), x1, y0 - 1) > 0) << "top";
        EXPECT_TRUE(y1 == H - 1 || countIn(bad, W, x0, y1 + 1, x1, std::min(H - 1, y1 + 2)) > 0)
            << "bottom";
    }
    return found;
}

using Corners = std::array<Point, 4>;

TEST(CleanCrop, AfterATiltEitherWay) {
    for (const bool bilinear : {false, true}) {
        EXPECT_TRUE(check(tiltWarp(241, 160, {{120, 80}, {1120, 40}, bilinear})));
        EXPECT_TRUE(check(tiltWarp(241, 160, {{30, 140}, {530, 177}, bilinear})));
        EXPECT_TRUE(check(tiltWarp(150, 220, {{75, 110}, {-300, 0}, bilinear})));
    }
}

TEST(CleanCrop, AfterAPerspectiveOfEveryShape) {
    constexpr int32_t W = 240, H = 160;
    const std::vector<Corners> shapes = {
        {{{30, 0}, {210, 0}, {240, 160}, {0, 160}}},    // narrower at the top
        {{{0, 0}, {240, 0}, {215, 160}, {25, 160}}},    // wider at the top
        {{{-20, 10}, {200, 0}, {240, 150}, {5, 160}}},  // lopsided, a corner outside
        {{{60, 30}, {170, 20}, {200, 130}, {40, 150}}}, // picked well inside
        {{{2, 0}, {238, 0}, {240, 160}, {0, 160}}},     // nearly square
    };
    for (const Corners& k : shapes)
        for (const int vertical : {0, 3, 10})
            for (const bool bilinear : {false, true})
                EXPECT_TRUE(check(perspectiveWarp(W, H, {k, vertical, bilinear})));
}

TEST(CleanCrop, AfterATiltThenAPerspective) {
    const Corners keystone{{{30, 0}, {212, 0}, {240, 160}, {0, 160}}};
    for (const bool bilinear : {false, true}) {
        EXPECT_TRUE(
            check(chainWarp(240, 160, {{120, 80}, {1120, 50}, bilinear}, {keystone, 5, bilinear})));
        EXPECT_TRUE(check(
            chainWarp(240, 160, {{100, 90}, {600, 110}, !bilinear}, {keystone, 0, bilinear})));
    }
}

TEST(CleanCrop, AfterTheDistortionAtEveryRateAndLaw) {
    for (const int position : {-100, -45, -3, 0, 3, 45, 100})
        for (const int law : {1, 2})
            for (const bool bilinear : {false, true}) {
                EXPECT_TRUE(check(distortionWarp(241, 160, {position, law, bilinear})));
                EXPECT_TRUE(check(distortionWarp(120, 191, {position, law, bilinear})));
            }
}

// Picks of every kind, tilts of every slope and rates of every size: the
// rectangle is clean and tight whatever comes.
TEST(CleanCrop, HoldsForRandomCorrections) {
    std::mt19937 random(20260);
    auto between = [&](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(random);
    };
    int found = 0;
    for (int i = 0; i < 40; ++i) {
        const int32_t W = between(20, 250), H = between(20, 250);
        const bool bilinear = between(0, 1) == 1;
        const Corners k{{{between(-W / 4, W / 2), between(-H / 4, H / 3)},
                         {between(W / 2, W + W / 4), between(-H / 4, H / 3)},
                         {between(W / 2, W + W / 4), between(2 * H / 3, H + H / 4)},
                         {between(-W / 4, W / 2), between(2 * H / 3, H + H / 4)}}};
        const int vertical = between(0, 10);
        found += check(perspectiveWarp(W, H, {k, vertical, bilinear}));
        const Point from{between(0, W - 1), between(0, H - 1)};
        found += check(
            tiltWarp(W, H, {from, {from.x + between(50, 400), between(-200, 200)}, bilinear}));
        found += check(distortionWarp(W, H, {between(-100, 100), between(1, 2), bilinear}));
    }
    EXPECT_GT(found, 100);
}

TEST(CleanCrop, NothingWhenNoPixelIsClean) {
    for (const bool keep : {false, true}) {
        EXPECT_FALSE(distortionCrop(1, 100, {20, 1, false}, keep));
        EXPECT_FALSE(distortionCrop(100, 1, {20, 1, true}, keep));
        EXPECT_FALSE(distortionCrop(100, 100, {101, 1, false}, keep)) << "a rate off the slider";
        EXPECT_FALSE(uprightCrop(0, 0, TiltStep{{0, 0}, {5, 5}, false}, std::nullopt, keep));
        EXPECT_FALSE(uprightCrop(
            100, 100, std::nullopt,
            PerspectiveStep{{{{10, 0}, {90, 0}, {10, 100}, {10, 100}}}, 0, false}, keep))
            << "a bottom edge of no width";
    }
    // Sides meeting just above the bottom row: that row alone has a source
    // for the nearest pixel; the blend, which needs the row below it too,
    // has none.
    const Corners flat{{{100, 99}, {140, 99}, {240, 100}, {0, 100}}};
    EXPECT_TRUE(check(perspectiveWarp(240, 100, {flat, 0, false})));
    EXPECT_FALSE(check(perspectiveWarp(240, 100, {flat, 0, true})));
    // A picture three pixels wide and high, blended.  Rate -50 fetches
    // every pixel from less than a pixel off the centre: all nine are
    // clean.  Rate 50 fetches the corners from 1.1 pixels out, truncated to
    // one: the right column and the bottom row read beyond the picture.
    EXPECT_EQ(distortionCrop(3, 3, {-50, 1, true}, false), (PixelRect{0, 0, 3, 3}));
    EXPECT_EQ(distortionCrop(3, 3, {50, 1, true}, false), (PixelRect{0, 0, 2, 2}));
}

} // namespace
} // namespace talvine::hosts
