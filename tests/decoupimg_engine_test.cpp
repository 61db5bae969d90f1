// The crop copy: packing, clipping, and the row copy against the plain loop.
#include "core/ParamCoul.h"
#include "engines/DecoupImg.h"
#include "support/TestHost.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace talvine {
namespace {

using engines::Cadre;
using test::bytesOf;
using test::coordinatePixel;

std::vector<uint8_t> pixelsNamed(std::initializer_list<std::pair<int, int>> coords) {
    std::vector<uint8_t> out;
    for (auto [x, y] : coords) {
        const TPtImg p = coordinatePixel(x, y);
        out.insert(out.end(), p.octets, p.octets + 3);
    }
    return out;
}

TEST(CropCopy, PacksTheRectangleRowsAtTheStartAndLeavesTheRestAlone) {
    const PtsImg src = test::coordinatePicture(640, 40);
    PtsImg dst(640 * 40);
    dst[100 * 50] = TPtImg{{1, 2, 3}};
    const Cadre done =
        engines::copyRect(src.data(), 640, 40, {10, 20, 100, 15}, dst.data(), dst.size());
    EXPECT_EQ(done, (Cadre{10, 20, 100, 15}));
    EXPECT_EQ(bytesOf(dst.data(), 2), pixelsNamed({{10, 20}, {11, 20}}));
    EXPECT_EQ(bytesOf(dst.data() + 99, 2), pixelsNamed({{109, 20}, {10, 21}}));
    EXPECT_EQ(bytesOf(dst.data() + 100 * 15 - 1, 1), pixelsNamed({{109, 34}}));
    EXPECT_EQ(bytesOf(dst.data() + 100 * 50, 1), (std::vector<uint8_t>{1, 2, 3}));
}

TEST(CropCopy, ClipsRectanglesToThePicture) {
    struct Case {
        const char* what;
        Cadre asked;
        Cadre clipped;
    };
    const std::vector<Case> cases = {
        {"inside", {1, 2, 3, 4}, {1, 2, 3, 4}},
        {"whole picture", {0, 0, 8, 6}, {0, 0, 8, 6}},
        {"past the right edge", {5, 1, 8, 2}, {5, 1, 3, 2}},
        {"past the bottom edge", {0, 4, 2, 6}, {0, 4, 2, 2}},
        {"negative corner", {-3, -1, 5, 3}, {0, 0, 2, 2}},
        {"left of the picture", {-9, 0, 4, 6}, {0, 0, 0, 6}},
        {"beyond the corner", {20, 30, 4, 4}, {8, 6, 0, 0}},
        {"negative size", {2, 2, -4, -1}, {2, 2, 0, 0}},
        {"sums beyond 32 bits", {7, 5, INT32_MAX, INT32_MAX}, {7, 5, 1, 1}},
        {"zero size", {3, 3, 0, 2}, {3, 3, 0, 2}},
    };
    const PtsImg src = test::coordinatePicture(8, 6);
    for (const Case& c : cases) {
        EXPECT_EQ(engines::clipRect(c.asked, 8, 6), c.clipped) << c.what;
        PtsImg dst(48);
        const Cadre done = engines::copyRect(src.data(), 8, 6, c.asked, dst.data(), dst.size());
        EXPECT_EQ(done, c.clipped) << c.what;
        if (done.largeur > 0 && done.hauteur > 0) {
            const int64_t last = int64_t{done.largeur} * done.hauteur - 1;
            EXPECT_EQ(bytesOf(dst.data() + last, 1),
                      pixelsNamed({{done.x + done.largeur - 1, done.y + done.hauteur - 1}}))
                << c.what;
        }
    }
}

TEST(CropCopy, RefusesADestinationShorterThanTheRectangleBeforeWriting) {
    const PtsImg src = test::coordinatePicture(4, 4);
    PtsImg dst(5);
    EXPECT_THROW(engines::copyRect(src.data(), 4, 4, {0, 0, 3, 2}, dst.data(), dst.size()),
                 std::length_error);
    EXPECT_EQ(bytesOf(dst), std::vector<uint8_t>(15, 0));
}

TEST(CropCopy, RowCopyGivesTheBytesOfThePlainLoop) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> side(1, 40), pos(-10, 50);
    for (int i = 0; i < 300; ++i) {
        const int w = side(rng), h = side(rng);
        const PtsImg src = test::randomPicture(w, h, static_cast<uint32_t>(i));
        const Cadre asked{pos(rng), pos(rng), pos(rng), pos(rng)};
        PtsImg fast(w * h), plain(w * h);
        const Cadre a = engines::copyRect(src.data(), w, h, asked, fast.data(), fast.size());
        const Cadre b =
            engines::reference::copyRect(src.data(), w, h, asked, plain.data(), plain.size());
        ASSERT_EQ(a, b);
        ASSERT_EQ(bytesOf(fast), bytesOf(plain)) << w << "x" << h;
    }
}

} // namespace
} // namespace talvine
