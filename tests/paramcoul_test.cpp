#include "core/ParamCoul.h"
#include "support/TestHost.h"

#include <gtest/gtest.h>

namespace talvine {
namespace {

using test::bytesOf;

TEST(PixelArray, BlockLayoutHoldsCountAndLengthBeforeTheHandle) {
    PtsImg a(5);
    const auto* header = reinterpret_cast<const int32_t*>(a.data()) - 2;
    EXPECT_EQ(header[0], 1);
    EXPECT_EQ(header[1], 5);
    EXPECT_EQ(bytesOf(a), std::vector<uint8_t>(15, 0));
}

TEST(PixelArray, EmptyArrayIsTheNullHandle) {
    PtsImg a(0);
    EXPECT_EQ(a.handle(), nullptr);
    EXPECT_EQ(a.size(), 0);
    a.setLength(0);
    EXPECT_EQ(a.handle(), nullptr);
}

TEST(PixelArray, CopiesShareOneBlockAndTheLastReleaseFreesIt) {
    PtsImg a(3);
    {
        PtsImg b = a;
        EXPECT_EQ(b.handle(), a.handle());
        EXPECT_EQ(referenceCount(a.handle()), 2);
    }
    EXPECT_EQ(referenceCount(a.handle()), 1);
}

TEST(PixelArray, AssignmentTakesTheNewReferenceBeforeReleasingTheOld) {
    PtsImg a(2);
    PtsImg& alias = a;
    a = alias; // self-assignment must not free the block
    EXPECT_EQ(referenceCount(a.handle()), 1);
    EXPECT_EQ(a.size(), 2);
}

TEST(PixelArray, GrowingAnUnsharedArrayKeepsContentAndZeroesTheRest) {
    PtsImg a(2);
    a[0] = {{1, 2, 3}};
    a[1] = {{4, 5, 6}};
    a.setLength(4);
    EXPECT_EQ(bytesOf(a), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 0, 0, 0, 0, 0, 0}));
    a.setLength(1);
    EXPECT_EQ(bytesOf(a), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(referenceCount(a.handle()), 1);
}

TEST(PixelArray, ResizingASharedArrayDetachesOnlyTheHolderThatResized) {
    PtsImg a(2);
    a[0] = {{7, 8, 9}};
    PtsImg b = a;
    b.setLength(3);
    EXPECT_NE(a.handle(), b.handle());
    EXPECT_EQ(referenceCount(a.handle()), 1);
    EXPECT_EQ(referenceCount(b.handle()), 1);
    EXPECT_EQ(a.size(), 2);
    EXPECT_EQ(bytesOf(a), (std::vector<uint8_t>{7, 8, 9, 0, 0, 0}));
    EXPECT_EQ(bytesOf(b), (std::vector<uint8_t>{7, 8, 9, 0, 0, 0, 0, 0, 0}));
    b[0] = {{1, 1, 1}};
    EXPECT_EQ(a[0].octets[0], 7);
}

TEST(PixelArray, ResizingToZeroReleasesOnlyThatHoldersReference) {
    PtsImg a(2);
    PtsImg b = a;
    b.setLength(0);
    EXPECT_EQ(b.handle(), nullptr);
    EXPECT_EQ(referenceCount(a.handle()), 1);
}

TEST(PixelArray, CloneIsPrivate) {
    PtsImg a = test::randomPicture(4, 3, 1);
    PtsImg c = a.clone();
    EXPECT_NE(c.handle(), a.handle());
    EXPECT_EQ(bytesOf(c), bytesOf(a));
    EXPECT_EQ(referenceCount(a.handle()), 1);
}

TEST(PixelArray, CloneOfAHostBlockWithNoElementIsTheEmptyArray) {
    TPtImg* block = test::hostArray({});
    const PtsImg a = PtsImg::adopt(block);
    EXPECT_EQ(a.size(), 0);
    EXPECT_EQ(a.clone().handle(), nullptr);
    EXPECT_EQ(referenceCount(block), 1);
}

TEST(PixelArray, AbsurdLengthsFailCleanly) {
    PtsImg a;
    EXPECT_THROW(a.setLength(-1), std::length_error);
    EXPECT_EQ(a.handle(), nullptr);
}

TEST(DecompPt, SplitsBytesTwoOneZeroAndIgnoresTheTopByte) {
    const TCompPt c = DecompPt(0xFFA1B2C3u);
    EXPECT_EQ(c.octet2, 0xA1);
    EXPECT_EQ(c.octet1, 0xB2);
    EXPECT_EQ(c.octet0, 0xC3);
    EXPECT_EQ(packPixel(TPtImg{{0xC3, 0xB2, 0xA1}}), 0xA1B2C3u);
}

} // namespace
} // namespace talvine
