#include "core/ParamCoul.h"
#include "engines/CorrDistor.h"
#include "support/TestHost.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <stdexcept>
#include <tuple>

namespace talvine {
namespace {

using engines::DistortionLaw;
using engines::DistortionParams;
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

// A destination prefilled with a colour no coordinate picture of these sizes
// holds at (x, y) = (x, y), so untouched pixels are easy to tell.
PtsImg marked(int32_t w, int32_t h) {
    PtsImg p(w * h);
    for (int64_t i = 0; i < int64_t{w} * h; ++i)
        p[i] = TPtImg{{1, 2, 250}};
    return p;
}
const std::tuple<int, int, int> kMark{1, 2, 250};

PtsImg correct(const PtsImg& src, int32_t w, int32_t h, DistortionParams p) {
    PtsImg dst = marked(w, h);
    engines::correctDistortion(src.data(), dst.data(), w, h, p);
    return dst;
}

struct Worked {
    const char* name;
    int32_t position;
    DistortionLaw law;
    Point destination;
    Point source;
};

// 200 x 100: centre (100, 50), Rmax = sqrt(50000) / 2.
TEST(DistortionWorkedValues, NearestTakesTheSourceOnTheSameRay) {
    const Worked cases[] = {
        {"barrel, linear law: r 50 -> 66.29", 100, DistortionLaw::Linear, {150, 50}, {166, 50}},
        {"pincushion, linear law: X 15.57", -100, DistortionLaw::Linear, {150, 50}, {115, 50}},
        {"barrel, square law: X 64.81", 100, DistortionLaw::Square, {150, 50}, {164, 50}},
        {"negative offsets truncate toward the centre",
         100,
         DistortionLaw::Linear,
         {50, 50},
         {34, 50}},
        {"the centre is the right-hand, lower middle pixel",
         100,
         DistortionLaw::Linear,
         {100, 50},
         {100, 50}},
    };
    const PtsImg src = coordinatePicture(200, 100);
    for (const Worked& c : cases) {
        const PtsImg out = correct(src, 200, 100, {c.position, c.law, Sampling::Nearest});
        EXPECT_EQ(bytes(out[c.destination.y * 200 + c.destination.x]), from(c.source.x, c.source.y))
            << c.name;
    }
}

TEST(DistortionWorkedValues, ASourceAboveThePictureLeavesTheDestinationAlone) {
    // (100, 0): Y = -66.29, sy = -66, a negative index.
    const PtsImg out = correct(coordinatePicture(200, 100), 200, 100,
                               {100, DistortionLaw::Linear, Sampling::Nearest});
    EXPECT_EQ(bytes(out[100]), kMark);
}

TEST(DistortionIdentity, RateZeroCopiesAllButTheLastRow) {
    for (Sampling s : {Sampling::Nearest, Sampling::Bilinear})
        for (auto [w, h] : {std::pair{200, 100}, std::pair{17, 9}, std::pair{8, 8}}) {
            const PtsImg src = test::randomPicture(w, h, 11);
            const PtsImg out = correct(src, w, h, {0, DistortionLaw::Square, s});
            for (int64_t i = 0; i < int64_t{w} * h; ++i)
                ASSERT_EQ(bytes(out[i]), i < int64_t{w} * (h - 1) ? bytes(src[i]) : kMark)
                    << w << "x" << h << " index " << i;
        }
}

TEST(DistortionEdges, APictureOneRowHighIsNeverWritten) {
    const PtsImg out = correct(test::randomPicture(50, 1, 4), 50, 1,
                               {60, DistortionLaw::Linear, Sampling::Bilinear});
    for (int64_t i = 0; i < 50; ++i)
        EXPECT_EQ(bytes(out[i]), kMark);
}

TEST(DistortionEdges, TheCentrePixelIsKeptInBothModes) {
    for (Sampling s : {Sampling::Nearest, Sampling::Bilinear})
        for (auto [w, h] : {std::pair{5, 3}, std::pair{6, 4}, std::pair{33, 20}}) {
            const PtsImg src = test::randomPicture(w, h, 9);
            const PtsImg out = correct(src, w, h, {-70, DistortionLaw::Linear, s});
            const int64_t centre = int64_t{h / 2} * w + w / 2;
            EXPECT_EQ(bytes(out[centre]), bytes(src[centre])) << w << "x" << h;
        }
}

TEST(DistortionEdges, WideSidesFormTheDiagonalIn64Bits) {
    // W*W exceeds 32 bits.  Rmax = sqrt(46341^2 + 9) / 2, k = 0.8 / Rmax; the
    // destination 50 right of the centre takes r = 50 * 1.8 / (1 + 50k) = 89.84.
    const int32_t w = 46341, h = 3;
    const PtsImg src = test::randomPicture(w, h, 8);
    const PtsImg out = correct(src, w, h, {100, DistortionLaw::Linear, Sampling::Nearest});
    const int64_t row = int64_t{1} * w, cx = w / 2;
    EXPECT_EQ(bytes(out[row + cx + 50]), bytes(src[row + cx + 89]));
    EXPECT_EQ(bytes(out[row + cx - 50]), bytes(src[row + cx - 89]));
}

TEST(DistortionBilinear, BlendsTheFourPixelsAfterTheTruncatedOffset) {
    // A ramp 2x + y (byte 0) is reproduced at the sampled point, within one
    // for the rounding of the weights.  A negative offset keeps its base on
    // the centre side and takes its weight from the other side, so it is
    // sampled one further on: at X + 1 (and Y + 1).
    const int32_t w = 60, h = 40;
    PtsImg src(w * h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            src[int64_t{y} * w + x] = TPtImg{{static_cast<uint8_t>(2 * x + y), 9, 9}};
    const PtsImg out = correct(src, w, h, {40, DistortionLaw::Square, Sampling::Bilinear});
    const double rmax = std::sqrt(60.0 * 60 + 40 * 40) / 2, a = 40 / 250.0, k = a / (rmax * rmax);
    for (int y = 12; y < 28; ++y)
        for (int x = 15; x < 45; ++x) {
            const double dx = x - 30, dy = y - 20, r = std::hypot(dx, dy);
            const double scale = r == 0 ? 1 : (1 + a) / (k * r * r + 1);
            auto sampled = [](double offset) {
                return offset < 0 && offset != std::trunc(offset) ? offset + 1 : offset;
            };
            const double sx = 30 + sampled(dx * scale), sy = 20 + sampled(dy * scale);
            EXPECT_NEAR(out[y * w + x].octets[0], 2 * sx + sy, 1.0) << x << "," << y;
            EXPECT_EQ(out[y * w + x].octets[1], 9);
        }
}

TEST(DistortionEngine, RefusesARateOutsideTheSlider) {
    const PtsImg src = test::randomPicture(4, 4, 1);
    PtsImg dst(16);
    for (int32_t p : {-101, 101})
        EXPECT_THROW(engines::correctDistortion(src.data(), dst.data(), 4, 4,
                                                {p, DistortionLaw::Linear, Sampling::Nearest}),
                     std::invalid_argument);
}

} // namespace
} // namespace talvine
