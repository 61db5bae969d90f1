#include "core/ParamCoul.h"
#include "engines/ModifAngle.h"
#include "support/TestHost.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <tuple>

namespace talvine {
namespace {

using engines::Sampling;
using engines::TiltParams;
using test::bytesOf;
using test::coordinatePicture;
using test::coordinatePixel;

std::tuple<int, int, int> bytes(const TPtImg& p) {
    return {p.octets[0], p.octets[1], p.octets[2]};
}
const std::tuple<int, int, int> kWhite{255, 255, 255};

// A destination pixel of a coordinate picture names its source.
std::tuple<int, int, int> from(int x, int y) {
    return bytes(coordinatePixel(x, y));
}

PtsImg run(const PtsImg& src, int32_t w, int32_t h, Point p1, Point p2, Sampling sampling) {
    PtsImg dst(w * h);
    const auto angle = engines::tiltAngle(p1, p2);
    EXPECT_TRUE(angle.has_value());
    EXPECT_TRUE(engines::tilt(src.data(), dst.data(), w, h, TiltParams{p1, *angle, sampling}));
    return dst;
}

TEST(TiltAngle, IsTheArctangentOfTheSlopeWhicheverPointComesFirst) {
    const long double a = *engines::tiltAngle({100, 100}, {200, 110});
    EXPECT_NEAR(static_cast<double>(a) * 180 / std::numbers::pi, 5.7106, 1e-4);
    EXPECT_EQ(*engines::tiltAngle({200, 110}, {100, 100}), a);
    EXPECT_EQ(*engines::tiltAngle({100, 100}, {0, 90}), a);
    EXPECT_EQ(*engines::tiltAngle({5, 7}, {9, 7}), 0.0L);
}

TEST(TiltAngle, IsUndefinedForTwoPointsInOneColumn) {
    EXPECT_FALSE(engines::tiltAngle({40, 10}, {40, 90}).has_value());
    EXPECT_FALSE(engines::tiltAngle({40, 10}, {40, 10}).has_value());
}

TEST(TiltNearest, TruncatesOffsetsTowardTheCentre) {
    const int32_t w = 300, h = 200;
    const PtsImg src = coordinatePicture(w, h);
    const PtsImg out = run(src, w, h, {100, 100}, {200, 110}, Sampling::Nearest);
    EXPECT_EQ(bytes(out[100 * w + 200]), from(199, 109));
    EXPECT_EQ(bytes(out[100 * w + 0]), from(1, 91));      // not (0, 90)
    EXPECT_EQ(bytes(out[100 * w + 100]), from(100, 100)); // the centre keeps its place
}

TEST(TiltNearest, FillsTheTurnedInCornersWithWhite) {
    const int32_t w = 300, h = 200;
    const PtsImg out =
        run(coordinatePicture(w, h), w, h, {100, 100}, {200, 110}, Sampling::Nearest);
    EXPECT_EQ(bytes(out[0]), kWhite);                          // top-left wedge
    EXPECT_EQ(bytes(out[int64_t{h - 1} * w + w - 1]), kWhite); // bottom-right wedge
}

TEST(TiltLevelLine, NearestCopiesAndBilinearWhitensTheUnreachableBorder) {
    const int32_t w = 7, h = 5;
    const PtsImg src = test::randomPicture(w, h, 3);
    const PtsImg nearest = run(src, w, h, {2, 3}, {6, 3}, Sampling::Nearest);
    EXPECT_EQ(bytesOf(nearest), bytesOf(src));

    const PtsImg bilinear = run(src, w, h, {2, 3}, {6, 3}, Sampling::Bilinear);
    for (int64_t i = 0; i < int64_t{w} * h; ++i) {
        // First row, last row and the last pixel of the row above it.
        const bool white = i < w || i >= int64_t{w} * h - w - 1;
        EXPECT_EQ(bytes(bilinear[i]), white ? kWhite : bytes(src[i])) << "index " << i;
    }
}

TEST(TiltBilinear, PicturesOfOneOrTwoRowsComeOutWhite) {
    for (int32_t h : {1, 2}) {
        const int32_t w = 9;
        const PtsImg out =
            run(test::randomPicture(w, h, 5), w, h, {3, 0}, {8, 1}, Sampling::Bilinear);
        for (int64_t i = 0; i < int64_t{w} * h; ++i)
            EXPECT_EQ(bytes(out[i]), kWhite);
    }
}

TEST(TiltBilinear, ReproducesALinearRampAtTheSourcePoint) {
    // Bilinear interpolation of a ramp 2x + 3y gives the ramp's value at the
    // source point; rounding of the weights may move a value by one.
    const int32_t w = 40, h = 30;
    PtsImg src(w * h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            src[int64_t{y} * w + x] = TPtImg{{static_cast<uint8_t>(2 * x + 3 * y), 0, 77}};
    const Point c{20, 15};
    const PtsImg out = run(src, w, h, c, {30, 17}, Sampling::Bilinear);
    const double a = std::atan(2.0 / 10.0);
    for (int y = 10; y < 20; ++y)
        for (int x = 12; x < 28; ++x) {
            const double sx = c.x + (x - c.x) * std::cos(a) - (y - c.y) * std::sin(a);
            const double sy = c.y + (x - c.x) * std::sin(a) + (y - c.y) * std::cos(a);
            EXPECT_NEAR(out[y * w + x].octets[0], 2 * sx + 3 * sy, 1.0) << x << "," << y;
            EXPECT_EQ(out[y * w + x].octets[2], 77);
        }
}

TEST(TiltBilinear, WrapsSideSourcesIntoTheNeighbouringRow) {
    // Centre (2, 10), slope 0.4.  The destination (0, 18) has its source at
    // (-2.83, 16.69): nearest sampling finds it outside the picture, while the
    // bilinear base index 16*20 - 2 is the pixel (18, 15) at the end of the
    // row above, blended with weights u = 0.17 (across) and v = 0.69 (down).
    const int32_t w = 20, h = 20;
    const PtsImg src = coordinatePicture(w, h);
    const PtsImg nearest = run(src, w, h, {2, 10}, {12, 14}, Sampling::Nearest);
    const PtsImg bilinear = run(src, w, h, {2, 10}, {12, 14}, Sampling::Bilinear);
    EXPECT_EQ(bytes(nearest[18 * w + 0]), kWhite);
    // x: 18 + u = 18.17; y: 15 + v = 15.69; x^y: 10.57 from (29, 28, 2, 3).
    EXPECT_EQ(bytes(bilinear[18 * w + 0]), std::make_tuple(18, 16, 11));
}

// The blend rounds with lrintl; it must agree with rintl (ties to even) and
// clamp, over the whole range a blend can produce.
TEST(BilinearRounding, TiesGoToEvenAndValuesClampToAByte) {
    auto expected = [](long double v) {
        const long double r = rintl(v);
        return r < 0 ? 0 : r > 255 ? 255 : static_cast<int>(r);
    };
    EXPECT_EQ(engines::detail::clampRound(2.5L), 2);
    EXPECT_EQ(engines::detail::clampRound(3.5L), 4);
    EXPECT_EQ(engines::detail::clampRound(255.5L), 255);
    EXPECT_EQ(engines::detail::clampRound(-0.5L), 0);
    EXPECT_EQ(engines::detail::clampRound(-0.7L), 0);
    EXPECT_EQ(engines::detail::clampRound(256.2L), 255);
    for (int k = -3; k <= 258; ++k)
        for (long double v : {k + 0.5L, nextafterl(k + 0.5L, -1000), nextafterl(k + 0.5L, 1000),
                              static_cast<long double>(k)})
            ASSERT_EQ(engines::detail::clampRound(v), expected(v)) << static_cast<double>(v);
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<long double> any(-4, 260);
    for (int i = 0; i < 100000; ++i) {
        const long double v = any(rng);
        ASSERT_EQ(engines::detail::clampRound(v), expected(v)) << static_cast<double>(v);
    }
}

TEST(TiltEngine, RefusesANonFiniteAngleWithoutWriting) {
    const PtsImg src = test::randomPicture(4, 4, 1);
    PtsImg dst = test::randomPicture(4, 4, 2);
    const auto before = bytesOf(dst);
    for (long double bad : {NAN, INFINITY}) {
        EXPECT_FALSE(engines::tilt(src.data(), dst.data(), 4, 4,
                                   TiltParams{{1, 1}, bad, Sampling::Bilinear}));
        EXPECT_FALSE(engines::reference::tilt(src.data(), dst.data(), 4, 4,
                                              TiltParams{{1, 1}, bad, Sampling::Nearest}));
    }
    EXPECT_EQ(bytesOf(dst), before);
}

} // namespace
} // namespace talvine
