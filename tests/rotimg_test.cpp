// Quarter turns and mirrors: the kernels against the plain index mapping, and
// the commands' pixels, sizes and callbacks through XchgData in process.
#include "core/ParamCoul.h"
#include "engines/RotImg.h"
#include "plugin/Library.h"
#include "support/TestHost.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string_view>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace talvine {
namespace {

using test::bytesOf;
using test::Recorder;

// The mapping written out pixel by pixel: destination element <- source element.
using Mapping =
    std::function<std::pair<int64_t, int64_t>(int64_t x, int64_t y, int64_t w, int64_t h)>;
const Mapping kCcw = [](int64_t x, int64_t y, int64_t w, int64_t h) {
    return std::pair{x * h + y, y * w + (w - 1 - x)};
};
const Mapping kCw = [](int64_t x, int64_t y, int64_t w, int64_t h) {
    return std::pair{x * h + y, (h - 1 - y) * w + x};
};
const Mapping kLeftRight = [](int64_t x, int64_t y, int64_t w, int64_t) {
    return std::pair{y * w + x, y * w + (w - 1 - x)};
};
const Mapping kTopBottom = [](int64_t x, int64_t y, int64_t w, int64_t h) {
    return std::pair{y * w + x, (h - 1 - y) * w + x};
};

std::vector<uint8_t> mapped(const PtsImg& src, int32_t w, int32_t h, const Mapping& m) {
    PtsImg dst(w * h);
    for (int64_t y = 0; y < h; ++y)
        for (int64_t x = 0; x < w; ++x) {
            const auto [d, s] = m(x, y, w, h);
            dst[d] = src[s];
        }
    return bytesOf(dst);
}

struct Size {
    int32_t w, h;
};
// Small pictures, then pictures of more than two 256-pixel tiles each way:
// whole tiles, one pixel over, and odd remainders in one direction or both.
const Size kSizes[] = {{1, 1},     {1, 7},     {7, 1},     {2, 2},     {3, 2},     {64, 64},
                       {65, 63},   {131, 67},  {200, 129}, {768, 768}, {513, 769}, {771, 515},
                       {601, 533}, {770, 518}, {1031, 3},  {3, 1031}};

TEST(RotImgKernels, QuarterTurnsMatchTheIndexMappingAtEverySize) {
    for (const Size s : kSizes) {
        const PtsImg src = test::randomPicture(s.w, s.h, static_cast<uint32_t>(s.w * 1000 + s.h));
        PtsImg dst(s.w * s.h);
        engines::quarterTurnCcw(src.data(), dst.data(), s.w, s.h);
        EXPECT_EQ(bytesOf(dst), mapped(src, s.w, s.h, kCcw)) << s.w << "x" << s.h;
        engines::quarterTurnCw(src.data(), dst.data(), s.w, s.h);
        EXPECT_EQ(bytesOf(dst), mapped(src, s.w, s.h, kCw)) << s.w << "x" << s.h;
    }
}

TEST(RotImgKernels, MirrorsInPlaceMatchTheIndexMappingAtEverySize) {
    for (const Size s : kSizes) {
        const PtsImg src = test::randomPicture(s.w, s.h, static_cast<uint32_t>(s.w * 7 + s.h));
        PtsImg img = src.clone();
        engines::mirrorLeftRight(img.data(), s.w, s.h);
        EXPECT_EQ(bytesOf(img), mapped(src, s.w, s.h, kLeftRight)) << s.w << "x" << s.h;
        img = src.clone();
        engines::mirrorTopBottom(img.data(), s.w, s.h);
        EXPECT_EQ(bytesOf(img), mapped(src, s.w, s.h, kTopBottom)) << s.w << "x" << s.h;
    }
}

class InstantCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(startLibrary());
        AdrRetour(&Recorder::callback, 77);
        Recorder::clear();
    }
    void TearDown() override { AdrRetour(nullptr, 0); }

    void run(int32_t cmd, const PtsImg& img, int32_t w, int32_t h, int32_t sousMode = 0) {
        XchgData(cmd, 0, 0, 0, 0, w, h, sousMode, 0, img.handle(), nullptr, 0, 0);
    }
};

// a b c      pixels named by their letter in byte 0
// d e f
PtsImg letters() {
    PtsImg p(6);
    for (int i = 0; i < 6; ++i)
        p[i] = TPtImg{{static_cast<uint8_t>('a' + i), 0, 0}};
    return p;
}
std::string lettersOf(const PtsImg& p) {
    std::string s;
    for (int i = 0; i < p.size(); ++i)
        s.push_back(static_cast<char>(p[i].octets[0]));
    return s;
}

TEST_F(InstantCommands, WorkedExampleGivesTheDocumentedRowsAndSizes) {
    struct Case {
        int32_t cmd;
        const char* rows;
        Point size;
    } cases[] = {
        {1, "cfbead", {2, 3}}, {2, "daebfc", {2, 3}}, {4, "cbafed", {3, 2}}, {5, "defabc", {3, 2}}};
    for (const auto& c : cases) {
        PtsImg img = letters();
        Recorder::clear();
        run(c.cmd, img, 3, 2);
        EXPECT_EQ(lettersOf(img), c.rows) << "command " << c.cmd;
        ASSERT_EQ(Recorder::calls().size(), 1u);
        EXPECT_EQ(Recorder::calls()[0], (test::Call{77, c.size, {0, 0}, rtImage, 0, 1, 1, 0}));
    }
}

TEST_F(InstantCommands, RoundTripsRestoreThePicture) {
    const PtsImg original = test::randomPicture(37, 23, 5);
    PtsImg img = original.clone();
    run(4, img, 37, 23);
    run(4, img, 37, 23);
    run(5, img, 37, 23);
    run(5, img, 37, 23);
    run(1, img, 37, 23); // now 23 x 37
    run(2, img, 23, 37);
    EXPECT_EQ(bytesOf(img), bytesOf(original));
    for (int i = 0; i < 4; ++i)
        run(2, img, i % 2 ? 23 : 37, i % 2 ? 37 : 23);
    EXPECT_EQ(bytesOf(img), bytesOf(original));
}

TEST_F(InstantCommands, OneRowTurnsIntoOneColumn) {
    PtsImg img = test::coordinatePicture(5, 1);
    run(1, img, 5, 1);
    EXPECT_EQ(img[0].octets[0], 4); // counter-clockwise: the rightmost pixel on top
    img = test::coordinatePicture(5, 1);
    run(2, img, 5, 1);
    EXPECT_EQ(img[0].octets[0], 0); // clockwise: the leftmost pixel on top
    EXPECT_EQ(Recorder::calls().back().pt1, (Point{1, 5}));
}

TEST_F(InstantCommands, ElementsBeyondThePictureAreLeftAlone) {
    PtsImg img = test::randomPicture(4, 4, 9); // 16 elements, picture 3 x 5 uses 15
    const auto before = bytesOf(img);
    run(2, img, 3, 5);
    const auto after = bytesOf(img);
    EXPECT_EQ(std::vector<uint8_t>(after.end() - 3, after.end()),
              std::vector<uint8_t>(before.end() - 3, before.end()));
    EXPECT_NE(after, before);
}

TEST_F(InstantCommands, EmptyPictureStillCallsBack) {
    for (int32_t cmd : {1, 2, 4, 5}) {
        Recorder::clear();
        run(cmd, PtsImg(), 0, 0);
        ASSERT_EQ(Recorder::calls().size(), 1u) << cmd;
        EXPECT_EQ(Recorder::calls()[0].pt1, (Point{0, 0}));
        EXPECT_EQ(Recorder::calls()[0].fin, 1);
    }
}

TEST_F(InstantCommands, AnySubModeRunsTheCommand) {
    PtsImg img = letters();
    run(1, img, 3, 2, 1);
    EXPECT_EQ(lettersOf(img), "cfbead");
    run(2, img, 2, 3, 7);
    EXPECT_EQ(lettersOf(img), "abcdef");
}

#if !defined(__SANITIZE_ADDRESS__)
// When the private copy cannot be made, the turn leaves the picture as it was
// and makes no callback.  Run in a child whose address space is capped just
// above what it already uses.
TEST_F(InstantCommands, TurnWithoutMemoryForItsCopyChangesNothing) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        PtsImg img = test::randomPicture(3000, 2000, 4);
        auto digest = [&img] {
            return std::hash<std::string_view>{}(std::string_view(
                reinterpret_cast<const char*>(img.data()), static_cast<size_t>(img.size()) * 3));
        };
        const size_t before = digest();
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const rlim_t cap = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) +
                           (rlim_t{4} << 20);
        const rlimit limit{cap, cap};
        if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(3);
        Recorder::calls().reserve(16);
        run(2, img, 3000, 2000);
        const bool unchanged = digest() == before;
        _exit(Recorder::calls().empty() && unchanged ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

} // namespace
} // namespace talvine
