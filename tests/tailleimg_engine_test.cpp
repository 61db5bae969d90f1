// Resampling kernels: worked values, the edges, and the fast forms against
// the plain per-pixel loops.
#include "core/ParamCoul.h"
#include "engines/TailleImg.h"
#include "support/TestHost.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace talvine {
namespace {

using test::bytesOf;
using test::coordinatePicture;
using test::coordinatePixel;

using Kernel = void (*)(const TPtImg*, int32_t, int32_t, TPtImg*, int32_t, int32_t);

struct Method {
    const char* name;
    Kernel fast;
    Kernel plain;
};
const Method kBasique{"Basique", engines::resizeNearest, engines::reference::resizeNearest};
const Method kLisse{"Lisse", engines::resizeSmoothed, engines::reference::resizeSmoothed};

PtsImg resized(Kernel kernel, const PtsImg& src, int32_t w, int32_t h, int32_t nw, int32_t nh) {
    PtsImg out(nw * nh);
    kernel(src.data(), w, h, out.data(), nw, nh);
    return out;
}

bool samePixel(const TPtImg& a, const TPtImg& b) {
    return a.octets[0] == b.octets[0] && a.octets[1] == b.octets[1] && a.octets[2] == b.octets[2];
}

// Source pixel (sx, sy) as named by a coordinate picture.
::testing::AssertionResult comesFrom(const TPtImg& p, int32_t sx, int32_t sy) {
    if (samePixel(p, coordinatePixel(sx, sy))) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "pixel (" << int{p.octets[0]} << ", " << int{p.octets[1]} << ") instead of (" << sx
           << ", " << sy << ")";
}

PtsImg pictureOf(std::initializer_list<TPtImg> pixels) {
    PtsImg p(static_cast<int32_t>(pixels.size()));
    int64_t i = 0;
    for (const TPtImg& px : pixels)
        p[i++] = px;
    return p;
}

TPtImg grey(uint8_t v) {
    return TPtImg{{v, v, v}};
}

// ---------------------------------------------------------------------------
// Worked values, both forms of each kernel.

class BothForms : public ::testing::TestWithParam<bool> {
  protected:
    Kernel basique() const { return GetParam() ? kBasique.fast : kBasique.plain; }
    Kernel lisse() const { return GetParam() ? kLisse.fast : kLisse.plain; }
};

TEST_P(BothForms, UnchangedSizeCopiesEveryPixelWithEitherMethod) {
    const PtsImg src = test::randomPicture(7, 5, 11);
    EXPECT_EQ(bytesOf(resized(basique(), src, 7, 5, 7, 5)), bytesOf(src));
    // The last row too: its bases blend along the last row with u = v = 0.
    EXPECT_EQ(bytesOf(resized(lisse(), src, 7, 5, 7, 5)), bytesOf(src));
}

TEST_P(BothForms, HalvingTakesEveryOtherPixelWithEitherMethod) {
    const PtsImg src = coordinatePicture(4, 4);
    for (Kernel k : {basique(), lisse()}) {
        const PtsImg out = resized(k, src, 4, 4, 2, 2);
        EXPECT_TRUE(comesFrom(out[0], 0, 0));
        EXPECT_TRUE(comesFrom(out[1], 2, 0));
        EXPECT_TRUE(comesFrom(out[2], 0, 2));
        EXPECT_TRUE(comesFrom(out[3], 2, 2));
    }
}

TEST_P(BothForms, NearestReductionBreaksTiesToEven) {
    const PtsImg src = coordinatePicture(3, 1);
    const PtsImg out = resized(basique(), src, 3, 1, 2, 1);
    EXPECT_TRUE(comesFrom(out[0], 0, 0));
    EXPECT_TRUE(comesFrom(out[1], 2, 0)); // 1.5 goes to 2
}

TEST_P(BothForms, NearestColumnPastTheRightEdgeReadsTheNextRowThenStopsAtTheLastPixel) {
    // 100 -> 200 wide: output column 199 lies at 99.5 and rounds to column 100.
    const PtsImg src = coordinatePicture(100, 3);
    const PtsImg out = resized(basique(), src, 100, 3, 200, 3);
    EXPECT_TRUE(comesFrom(out[199], 0, 1));            // row 0: first pixel of row 1
    EXPECT_TRUE(comesFrom(out[200 + 199], 0, 2));      // row 1: first pixel of row 2
    EXPECT_TRUE(comesFrom(out[2 * 200 + 199], 99, 2)); // last row: the last pixel
    EXPECT_TRUE(comesFrom(out[2 * 200 + 198], 99, 2)); // 99.0
}

TEST_P(BothForms, NearestRowPastTheBottomRepeatsTheLastRow) {
    // 2 -> 4 high: output row 3 lies at 1.5 and rounds to row 2, past the end.
    const PtsImg src = coordinatePicture(3, 2);
    const PtsImg out = resized(basique(), src, 3, 2, 3, 4);
    for (int32_t x = 0; x < 3; ++x) {
        EXPECT_TRUE(comesFrom(out[x], x, 0));
        EXPECT_TRUE(comesFrom(out[3 + x], x, 0));     // 0.5 ties to 0
        EXPECT_TRUE(comesFrom(out[2 * 3 + x], x, 1)); // 1.0
        EXPECT_TRUE(comesFrom(out[3 * 3 + x], x, 1)); // 1.5 -> 2, read as row 1
    }
}

TEST_P(BothForms, DoublingBlendsNeighboursAndTiesToEven) {
    // 2 x 2 picture, one grey level per pixel.
    const PtsImg src = pictureOf({grey(10), grey(13), grey(40), grey(101)});
    const PtsImg out = resized(lisse(), src, 2, 2, 4, 4);
    auto at = [&](int x, int y) { return int{out[y * 4 + x].octets[0]}; };
    EXPECT_EQ(at(0, 0), 10);
    EXPECT_EQ(at(1, 0), 12); // (10 + 13) / 2 = 11.5 -> 12
    EXPECT_EQ(at(2, 0), 13);
    EXPECT_EQ(at(3, 0), 26); // last column: (13 + 40) / 2 = 26.5 -> 26, with the next row's first
    EXPECT_EQ(at(0, 1), 25); // (10 + 40) / 2
    EXPECT_EQ(at(1, 1), 41); // (10 + 13 + 40 + 101) / 4 = 41
    // (3, 1): C = 13, B = 40, D = 101, A = one past the end, read as the last pixel 101:
    // (13 + 40 + 101 + 101) / 4 = 63.75
    EXPECT_EQ(at(3, 1), 64);
    // The bottom rows continue the last source row: 40, 70.5 -> 70, 101, 101.
    for (int y : {2, 3}) {
        EXPECT_EQ(at(0, y), 40) << y;
        EXPECT_EQ(at(1, y), 70) << y;
        EXPECT_EQ(at(2, y), 101) << y;
        EXPECT_EQ(at(3, y), 101) << y;
    }
    // All three bytes are blended alike.
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(out[i].octets[1], out[i].octets[0]);
        EXPECT_EQ(out[i].octets[2], out[i].octets[0]);
    }
}

TEST_P(BothForms, SmoothingAOneRowPictureBlendsAlongTheRow) {
    const PtsImg src = pictureOf({grey(0), grey(100), grey(201)});
    const PtsImg out = resized(lisse(), src, 3, 1, 6, 2);
    const std::vector<int> row = {0, 50, 100, 150, 201, 201}; // 150.5 -> 150
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(int{out[y * 6 + x].octets[0]}, row[x]) << x << y;
}

TEST_P(BothForms, ChannelsTakeTheirOwnBytes) {
    const PtsImg src = pictureOf({TPtImg{{0, 100, 255}}, TPtImg{{255, 0, 0}}});
    const PtsImg out = resized(lisse(), src, 2, 1, 4, 1);
    EXPECT_EQ(bytesOf(out), (std::vector<uint8_t>{0, 100, 255, 128, 50, 128, 255, 0, 0, 255, 0,
                                                  0})); // 127.5 -> 128
}

TEST_P(BothForms, ConstantPicturesStayConstantAtEverySizeAndEdge) {
    // Extreme bytes show any wrap-around or stray read at once.
    for (uint8_t level : {uint8_t{0}, uint8_t{255}}) {
        const PtsImg src(35);
        for (int i = 0; i < 35; ++i)
            src[i] = grey(level);
        for (auto [nw, nh] : {std::pair{3, 2}, {13, 17}, {1, 1}, {40, 3}, {5, 56}}) {
            for (Kernel k : {basique(), lisse()}) {
                const PtsImg out = resized(k, src, 7, 5, nw, nh);
                EXPECT_EQ(bytesOf(out), std::vector<uint8_t>(size_t(nw) * nh * 3, level))
                    << nw << "x" << nh;
            }
        }
    }
}

TEST_P(BothForms, ZeroDimensionFailsBeforeWritingAnything) {
    const PtsImg src = coordinatePicture(4, 4);
    PtsImg dst(4);
    dst[0] = grey(77);
    for (Kernel k : {basique(), lisse()}) {
        EXPECT_THROW(k(src.data(), 4, 4, dst.data(), 0, 4), engines::ZeroDimension);
        EXPECT_THROW(k(src.data(), 4, 4, dst.data(), 4, 0), engines::ZeroDimension);
        EXPECT_THROW(k(src.data(), 4, 4, dst.data(), -1, 4), std::invalid_argument);
        EXPECT_THROW(k(nullptr, 0, 4, dst.data(), 2, 2), std::invalid_argument);
    }
    EXPECT_TRUE(samePixel(dst[0], grey(77)));
}

INSTANTIATE_TEST_SUITE_P(Resampling, BothForms, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Fast" : "Plain"; });

TEST(ResamplingSize, PixelCountOfTheNewPictureDoesNotOverflow) {
    EXPECT_EQ(engines::resizedLength(48000, 32000), 1536000000);
    EXPECT_EQ(engines::resizedLength(65536, 65536), int64_t{1} << 32);
}

} // namespace
} // namespace talvine
