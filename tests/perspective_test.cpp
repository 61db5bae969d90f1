#include "core/ParamCoul.h"
#include "engines/Perspective.h"
#include "support/TestHost.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <stdexcept>
#include <tuple>

namespace talvine {
namespace {

using engines::Corners;
using engines::PerspectiveParams;
using engines::Sampling;
using test::bytesOf;
using test::coordinatePicture;
using test::coordinatePixel;

std::tuple<int, int, int> bytes(const TPtImg& p) {
    return {p.octets[0], p.octets[1], p.octets[2]};
}
std::tuple<int, int, int> from(int x, int y) {
    return bytes(coordinatePixel(x, y));
}

PtsImg marked(int32_t w, int32_t h) {
    PtsImg p(w * h);
    for (int64_t i = 0; i < int64_t{w} * h; ++i)
        p[i] = TPtImg{{1, 2, 250}};
    return p;
}
const std::tuple<int, int, int> kMark{1, 2, 250};

// The trapezoid of the worked values, on a 100 x 100 picture.
const Corners kTrapeze{{20, 0}, {80, 0}, {100, 100}, {0, 100}};

PtsImg correct(const PtsImg& src, int32_t w, int32_t h, PerspectiveParams p) {
    PtsImg dst = marked(w, h);
    EXPECT_TRUE(engines::correctPerspective(src.data(), dst.data(), w, h, p));
    return dst;
}

TEST(VanishingPoint, WorkedTrapezoid) {
    const auto f = engines::calculerFuite(kTrapeze, 100);
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(f->trapeze[0].x, 20);
    EXPECT_EQ(f->trapeze[0].y, 100);
    EXPECT_EQ(f->trapeze[1].x, 80);
    EXPECT_EQ(f->trapeze[2].x, 100);
    EXPECT_EQ(f->trapeze[3].x, 0);
    EXPECT_NEAR(static_cast<double>(f->K), 5.0 / 3, 1e-15);
    EXPECT_NEAR(static_cast<double>(f->B), 1.0 / 75, 1e-15);
    EXPECT_EQ(f->Vx, 50);
    EXPECT_EQ(f->Vy, 250);
}

TEST(VanishingPoint, ScalesTheBottomEdgeToTheWidth) {
    // Bottom edge 50 wide on a 100-wide picture: s = 2; mean height 40 * 2.
    const auto f = engines::calculerFuite({{15, 30}, {35, 50}, {60, 100}, {10, 60}}, 100);
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(f->trapeze[0].x, 10); // (15 - 10) * 2
    EXPECT_EQ(f->trapeze[1].x, 50); // 100 - (60 - 35) * 2
    EXPECT_EQ(f->trapeze[0].y, 80); // ((100 + 60) - (30 + 50)) * 2 / 2
}

TEST(VanishingPoint, ASymmetricTrapezoidConvergesAboveTheMiddle) {
    const auto f = engines::calculerFuite({{13, 4}, {47, 4}, {58, 90}, {2, 90}}, 64);
    ASSERT_TRUE(f.has_value());
    EXPECT_NEAR(static_cast<double>(f->Vx), 32, 1e-12);
}

struct Worked {
    const char* name;
    int32_t vertical;
    Point destination;
    Point source;
};

TEST(PerspectiveWorkedValues, NearestFollowsTheConvergingColumns) {
    const Worked cases[] = {
        {"top-left takes the picked corner", 0, {0, 0}, {20, 0}},
        {"top-right: X = 79.4", 0, {99, 0}, {79, 0}},
        {"half height, left", 0, {0, 50}, {10, 50}},
        {"v 5, top-left: f = 79.13", 5, {0, 0}, {15, 20}},
        {"v 5, top-right", 5, {99, 0}, {83, 20}},
        {"v 10, top-left: f = 68.61", 10, {0, 0}, {13, 31}},
    };
    const PtsImg src = coordinatePicture(100, 100);
    for (const Worked& c : cases) {
        const PtsImg out = correct(src, 100, 100, {kTrapeze, c.vertical, Sampling::Nearest});
        EXPECT_EQ(bytes(out[c.destination.y * 100 + c.destination.x]), from(c.source.x, c.source.y))
            << c.name;
    }
}

TEST(PerspectiveRows, StayInPlaceWithoutAndDescendWithTheVerticalCorrection) {
    const PtsImg src = coordinatePicture(100, 100);
    const PtsImg flat = correct(src, 100, 100, {kTrapeze, 0, Sampling::Nearest});
    const PtsImg stretched = correct(src, 100, 100, {kTrapeze, 5, Sampling::Nearest});
    for (int y = 0; y < 100; ++y) {
        const TPtImg& p = flat[y * 100 + 50];
        EXPECT_EQ(p.octets[1], y) << "row " << y;
        EXPECT_GE(stretched[y * 100 + 50].octets[1], y) << "row " << y;
    }
    EXPECT_EQ(stretched[50].octets[1], 20); // the top row comes from row 20
    EXPECT_EQ(stretched[99 * 100 + 50].octets[1], 99);
}

// Right side vertical (XD = W): Vx = 100, Vy = 500/3, so the last column
// leans slightly right of itself.
const Corners kLeaning{{60, 0}, {100, 0}, {100, 100}, {0, 100}};

TEST(PerspectiveEdges, NearestMayTakeTheVeryLastPixel) {
    const PtsImg src = coordinatePicture(100, 100);
    const PtsImg out = correct(src, 100, 100, {kLeaning, 0, Sampling::Nearest});
    EXPECT_EQ(bytes(out[99 * 100 + 99]), from(99, 99)); // X = 99.006
}

TEST(PerspectiveEdges, BilinearWrapsIntoTheNextRowAndReadsNothingPastTheEnd) {
    const PtsImg src = coordinatePicture(100, 100);
    const PtsImg out = correct(src, 100, 100, {kLeaning, 0, Sampling::Bilinear});
    // (99, 98): u = 98*100 + 99, the last base accepted; X = 99.012, f = 2
    // whole so fy = 0: 0.988 of (99, 98) and 0.012 of (0, 99), the first
    // pixel of the next row.  The diagonal neighbour would be one past the end.
    EXPECT_EQ(bytes(out[98 * 100 + 99]), std::make_tuple(98, 98, 2));
    // (99, 99) has its base in the last row: left alone.
    EXPECT_EQ(bytes(out[99 * 100 + 99]), kMark);
}

TEST(PerspectiveBilinear, FractionOfTheRowIsMeasuredDownwards) {
    // v = 5 on the worked trapezoid: the top row's source height is
    // f = 79.13, so its row is Trunc(100 - 79.13) = 20 with 0.87 of row 21.
    const PtsImg src = coordinatePicture(100, 100);
    const PtsImg out = correct(src, 100, 100, {kTrapeze, 5, Sampling::Bilinear});
    const long double b = 1.0L / 150, f = (std::sqrt(b * 2 * 100 + 1) - 1) / b;
    EXPECT_NEAR(out[50].octets[1], 100 - static_cast<double>(f), 0.5);
    EXPECT_EQ(out[50].octets[1], 21);
}

struct Degenerate {
    const char* name;
    Corners corners;
    int32_t vertical;
};

TEST(PerspectiveDegenerate, WritesNothingAndSaysSo) {
    const Degenerate cases[] = {
        {"equal bottom x", {{20, 0}, {80, 0}, {50, 100}, {50, 90}}, 0},
        {"a top edge of zero width", {{40, 0}, {40, 0}, {100, 100}, {0, 100}}, 0},
        {"a zero mean height", {{20, 100}, {80, 100}, {100, 100}, {0, 100}}, 5},
        {"mean height zero from uneven corners", {{20, 30}, {80, 70}, {100, 60}, {0, 40}}, 0},
        {"parallel sides", {{10, 0}, {110, 0}, {100, 100}, {0, 100}}, 0},
        {"parallel sides with the stretch", {{10, 0}, {110, 0}, {100, 100}, {0, 100}}, 7},
        // Top wider than the bottom (K = 0.5, B = -0.01 * v / 10): at v = 10
        // B*2*f + 1 turns negative above f = 50.
        {"a negative square-root argument", {{-50, 0}, {150, 0}, {100, 100}, {0, 100}}, 10},
        {"corners at the ends of 32 bits",
         {{INT32_MIN, INT32_MAX}, {INT32_MIN, INT32_MIN}, {INT32_MAX, 0}, {INT32_MAX, 0}},
         3},
    };
    const PtsImg src = coordinatePicture(100, 100);
    for (const Degenerate& c : cases)
        for (Sampling s : {Sampling::Nearest, Sampling::Bilinear}) {
            PtsImg fast = marked(100, 100), ref = marked(100, 100);
            EXPECT_FALSE(engines::correctPerspective(src.data(), fast.data(), 100, 100,
                                                     {c.corners, c.vertical, s}))
                << c.name;
            EXPECT_FALSE(engines::reference::correctPerspective(src.data(), ref.data(), 100, 100,
                                                                {c.corners, c.vertical, s}))
                << c.name;
            EXPECT_EQ(bytesOf(fast), bytesOf(marked(100, 100))) << c.name;
            EXPECT_EQ(bytesOf(ref), bytesOf(marked(100, 100))) << c.name;
        }
}

TEST(PerspectiveDegenerate, ATopWiderThanTheBottomIsFineWhileTheRootIsReal) {
    // The same wide top at v = 1: B*2*f + 1 = 1 - 0.002 f stays positive.
    const PtsImg src = coordinatePicture(100, 100);
    PtsImg dst = marked(100, 100);
    EXPECT_TRUE(engines::correctPerspective(
        src.data(), dst.data(), 100, 100,
        {{{-50, 0}, {150, 0}, {100, 100}, {0, 100}}, 1, Sampling::Nearest}));
}

TEST(PerspectiveEdges, HugeSourceColumnsAreSkippedSafely) {
    // A bottom edge 2^32 - 1 wide makes s tiny and the vanishing point lie a
    // hair above the base: source columns run to about 1e12, far outside.
    const Corners far{{0, 0}, {INT32_MAX - 1, 0}, {INT32_MAX, 1}, {INT32_MIN, 1}};
    const PtsImg src = coordinatePicture(100, 100);
    for (Sampling s : {Sampling::Nearest, Sampling::Bilinear}) {
        PtsImg fast = marked(100, 100), ref = marked(100, 100);
        EXPECT_TRUE(engines::correctPerspective(src.data(), fast.data(), 100, 100, {far, 0, s}));
        EXPECT_TRUE(
            engines::reference::correctPerspective(src.data(), ref.data(), 100, 100, {far, 0, s}));
        EXPECT_EQ(bytesOf(fast), bytesOf(ref));
        EXPECT_EQ(bytesOf(fast), bytesOf(marked(100, 100)));
    }
}

TEST(PerspectiveEngine, RefusesAVerticalCorrectionOutsideTheSlider) {
    const PtsImg src = coordinatePicture(4, 4);
    PtsImg dst(16);
    for (int32_t v : {-1, 11})
        EXPECT_THROW(engines::correctPerspective(src.data(), dst.data(), 4, 4,
                                                 {kTrapeze, v, Sampling::Nearest}),
                     std::invalid_argument);
}

} // namespace
} // namespace talvine
