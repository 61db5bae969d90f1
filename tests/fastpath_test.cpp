// The engines' fast paths (double precision, AVX2, threads) against their
// plain 80-bit loops, byte for byte, for every kernel this machine supports
// and several thread counts, on random cases and on cases built to sit on
// the boundaries the fast paths must hand back to the exact formula:
// positions that land exactly on integers or halves, blends of exactly
// k + 1/2, angle 0, centres and corners far outside, sides of 1 and 2.

#include "core/ParamCoul.h"
#include "engines/CorrDistor.h"
#include "engines/Dispatch.h"
#include "engines/FastBlend.h"
#include "engines/ModifAngle.h"
#include "engines/Parallel.h"
#include "engines/Perspective.h"
#include "engines/TailleImg.h"
#include "support/KernelSetups.h"
#include "support/TestHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace talvine {
namespace {

using engines::Kernel;
using engines::Sampling;
using test::bytesOf;

// A picture whose channels are 0 and 1 (or 254 and 255): blends of two or
// four such pixels with fractions of 1/2 are exact ties.
PtsImg tiePicture(int32_t w, int32_t h, uint32_t seed, uint8_t low) {
    PtsImg p(int64_t{w} * h);
    std::mt19937 rng(seed);
    auto* b = reinterpret_cast<uint8_t*>(p.data());
    for (int64_t i = 0; i < int64_t{w} * h * 3; ++i)
        b[i] = static_cast<uint8_t>(low + (rng() & 1));
    return p;
}

std::vector<PtsImg> pictures(int32_t w, int32_t h, uint32_t seed) {
    std::vector<PtsImg> out;
    out.push_back(test::randomPicture(w, h, seed));
    out.push_back(tiePicture(w, h, seed + 1, 0));
    out.push_back(tiePicture(w, h, seed + 2, 254));
    return out;
}

const std::pair<int32_t, int32_t> kShapes[] = {{1, 1}, {2, 1},   {1, 2},   {2, 2},  {3, 7},
                                               {7, 3}, {19, 17}, {131, 9}, {5, 40}, {260, 35}};

using FastPath = test::KernelFixture;

TEST_P(FastPath, TiltMatchesThePlainLoop) {
    std::mt19937 rng(7);
    // The cases must reach both outcomes of a pixel: taken from the source,
    // and white for want of one.
    int64_t white = 0, taken = 0;
    const long double angles[] = {0.0L,
                                  1e-15L,
                                  -1e-15L,
                                  std::numbers::pi_v<long double> / 4,
                                  -std::numbers::pi_v<long double> / 6,
                                  1.5707963267948966L,
                                  *engines::tiltAngle({100, 100}, {200, 110}),
                                  *engines::tiltAngle({0, 0}, {3, 4})};
    for (auto [w, h] : kShapes)
        for (const PtsImg& src : pictures(w, h, rng())) {
            for (int k = 0; k < 10; ++k) {
                std::uniform_int_distribution<int32_t> cx(-w, 2 * w), cy(-h, 2 * h);
                Point c{cx(rng), cy(rng)};
                if (k == 0) c = {0, 0};
                if (k == 1) c = {w - 1, h - 1};
                if (k == 2) c = {-1000000, 3000000};
                if (k == 3) c = {INT32_MIN, INT32_MAX};
                const long double angle =
                    k < 8 ? angles[k]
                          : std::uniform_real_distribution<double>(-1.56, 1.56)(rng) + 0.0L;
                for (Sampling s : {Sampling::Nearest, Sampling::Bilinear}) {
                    PtsImg fast(int64_t{w} * h), ref(int64_t{w} * h);
                    engines::tilt(src.data(), fast.data(), w, h, {c, angle, s});
                    engines::reference::tilt(src.data(), ref.data(), w, h, {c, angle, s});
                    ASSERT_EQ(bytesOf(fast), bytesOf(ref))
                        << w << "x" << h << " centre " << c.x << "," << c.y << " angle "
                        << static_cast<double>(angle);
                    for (int64_t i = 0; i < int64_t{w} * h; ++i) {
                        const TPtImg& px = ref[i];
                        const bool isWhite =
                            px.octets[0] == 255 && px.octets[1] == 255 && px.octets[2] == 255;
                        white += isWhite, taken += !isWhite;
                    }
                }
            }
        }
    EXPECT_GT(white, 1000);
    EXPECT_GT(taken, 1000);
}

TEST_P(FastPath, DistortionMatchesThePlainLoop) {
    std::mt19937 rng(11);
    // Both outcomes of a pixel: computed, and left as it was for want of a
    // source.
    int64_t kept = 0, computed = 0;
    for (auto [w, h] : kShapes)
        for (const PtsImg& src : pictures(w, h, rng()))
            for (int position : {-100, -37, -1, 0, 1, 50, 100})
                for (auto law : {engines::DistortionLaw::Linear, engines::DistortionLaw::Square})
                    for (Sampling s : {Sampling::Nearest, Sampling::Bilinear}) {
                        // Destinations start as other bytes: pixels without a
                        // source must keep them in both.
                        PtsImg fast = test::randomPicture(w, h, 5),
                               ref = test::randomPicture(w, h, 5);
                        engines::correctDistortion(src.data(), fast.data(), w, h,
                                                   {position, law, s});
                        engines::reference::correctDistortion(src.data(), ref.data(), w, h,
                                                              {position, law, s});
                        ASSERT_EQ(bytesOf(fast), bytesOf(ref))
                            << w << "x" << h << " rate " << position << " law "
                            << static_cast<int>(law) << " bilinear " << (s == Sampling::Bilinear);
                        const PtsImg before = test::randomPicture(w, h, 5);
                        for (int64_t i = 0; i < int64_t{w} * h; ++i) {
                            const bool same = ref[i].octets[0] == before[i].octets[0] &&
                                              ref[i].octets[1] == before[i].octets[1] &&
                                              ref[i].octets[2] == before[i].octets[2];
                            kept += same, computed += !same;
                        }
                    }
    EXPECT_GT(kept, 100);
    EXPECT_GT(computed, 1000);
}

TEST_P(FastPath, PerspectiveMatchesThePlainLoop) {
    std::mt19937 rng(13);
    int mapped = 0, refused = 0;
    for (auto [w, h] : kShapes)
        for (const PtsImg& src : pictures(w, h, rng()))
            for (int k = 0; k < 8; ++k) {
                // Corners on the frame (integer and half columns), inside,
                // far outside, and a top wider than the bottom.
                engines::Corners c{{w / 5, 0}, {w - w / 5, 0}, {w, h}, {0, h}};
                if (k == 1) c = {{0, 0}, {w, 0}, {w + 1, h}, {-1, h}};
                if (k == 2) c = {{-5000, -9000}, {7000, -9000}, {90000, 40000}, {-80000, 40000}};
                if (k == 3) c = {{-2, 0}, {w + 2, 0}, {w, h}, {0, h}};
                if (k >= 4) {
                    std::uniform_int_distribution<int32_t> x(-w, 2 * w), y(-h, 2 * h);
                    c = {{x(rng), y(rng)}, {x(rng), y(rng)}, {x(rng), y(rng)}, {x(rng), y(rng)}};
                }
                for (int v : {0, 5, 10})
                    for (Sampling s : {Sampling::Nearest, Sampling::Bilinear}) {
                        PtsImg fast = test::randomPicture(w, h, 3),
                               ref = test::randomPicture(w, h, 3);
                        const bool a =
                            engines::correctPerspective(src.data(), fast.data(), w, h, {c, v, s});
                        const bool b = engines::reference::correctPerspective(
                            src.data(), ref.data(), w, h, {c, v, s});
                        ASSERT_EQ(a, b);
                        ASSERT_EQ(bytesOf(fast), bytesOf(ref))
                            << w << "x" << h << " case " << k << " v " << v;
                        mapped += a, refused += !a;
                    }
            }
    // Both outcomes: corners that give a mapping, and corners (crossed
    // sides, random ones mostly) that give none.
    EXPECT_GT(mapped, 500);
    EXPECT_GT(refused, 500);
}

TEST_P(FastPath, ResamplingMatchesThePlainLoop) {
    std::mt19937 rng(17);
    const std::pair<int32_t, int32_t> sizes[] = {{1, 1},   {2, 3},    {7, 5},
                                                 {64, 33}, {130, 70}, {400, 12}};
    for (auto [w, h] : sizes)
        for (const PtsImg& src : pictures(w, h, rng()))
            for (auto [nw, nh] :
                 {std::pair{w, h}, std::pair{2 * w, 2 * h}, std::pair{w / 2 + 1, h / 2 + 1},
                  std::pair{3 * w + 1, h + 7}, std::pair{1, 1},
                  // every fraction 0 (exact halving of an even side, a third,
                  // a fifth): rows that only copy, by windows or by gathers
                  std::pair{std::max(1, w / 2), std::max(1, h / 2)},
                  std::pair{std::max(1, w / 3), h}, std::pair{std::max(1, w / 5), h},
                  // fractions of 1/4, 1/8 and 1/128: the integer path
                  std::pair{4 * w, 4 * h}, std::pair{8 * w, h},
                  std::pair{w * 4 / 3 + (w % 3 == 0 ? 0 : 1), 128 * h}}) {
                PtsImg fast(int64_t{nw} * nh), ref(int64_t{nw} * nh);
                engines::resizeSmoothed(src.data(), w, h, fast.data(), nw, nh);
                engines::reference::resizeSmoothed(src.data(), w, h, ref.data(), nw, nh);
                ASSERT_EQ(bytesOf(fast), bytesOf(ref))
                    << w << "x" << h << " to " << nw << "x" << nh;
                engines::resizeNearest(src.data(), w, h, fast.data(), nw, nh);
                engines::reference::resizeNearest(src.data(), w, h, ref.data(), nw, nh);
                ASSERT_EQ(bytesOf(fast), bytesOf(ref))
                    << w << "x" << h << " to " << nw << "x" << nh;
            }
}

// Random sources and targets, up to eight times larger.
TEST_P(FastPath, ResamplingMatchesThePlainLoopOnRandomSizes) {
    std::mt19937 rng(2024);
    std::uniform_int_distribution<int32_t> side(1, 45);
    for (int i = 0; i < 8; ++i) {
        const int32_t w = side(rng), h = side(rng);
        const PtsImg src = test::randomPicture(w, h, rng());
        std::uniform_int_distribution<int32_t> nside(1, 8 * std::max(w, h));
        for (int t = 0; t < 4; ++t) {
            const int32_t nw = nside(rng), nh = nside(rng);
            PtsImg fast(int64_t{nw} * nh), ref(int64_t{nw} * nh);
            engines::resizeSmoothed(src.data(), w, h, fast.data(), nw, nh);
            engines::reference::resizeSmoothed(src.data(), w, h, ref.data(), nw, nh);
            ASSERT_EQ(bytesOf(fast), bytesOf(ref)) << w << "x" << h << " to " << nw << "x" << nh;
            engines::resizeNearest(src.data(), w, h, fast.data(), nw, nh);
            engines::reference::resizeNearest(src.data(), w, h, ref.data(), nw, nh);
            ASSERT_EQ(bytesOf(fast), bytesOf(ref)) << w << "x" << h << " to " << nw << "x" << nh;
        }
    }
}

// Positions on .5, and blends whose exact sums end in .5: with fractions of
// 1/10 (not exact in binary) 5 * 0.1, 5 * 0.3, ... land a hair off the tie,
// with 1/2 and 1/4 they land on it.
TEST_P(FastPath, ResamplingMatchesThePlainLoopOnRoundingTies) {
    const auto grey = [](uint8_t v) { return TPtImg{{v, v, v}}; };
    const auto pictureOf = [](std::initializer_list<TPtImg> pixels) {
        PtsImg p(static_cast<int32_t>(pixels.size()));
        std::copy(pixels.begin(), pixels.end(), p.data());
        return p;
    };
    const PtsImg levels = pictureOf({grey(1), grey(2), grey(3), grey(4), grey(5), grey(6)});
    const PtsImg fives = pictureOf({grey(0), grey(5), grey(15), grey(10), grey(5), grey(0)});
    for (const PtsImg* src : {&levels, &fives})
        for (auto [nw, nh] : {std::pair{4, 2},
                              {12, 4},
                              {2, 2},
                              {6, 4},
                              {9, 6},
                              {30, 20},
                              {15, 10},
                              {24, 16},
                              {3, 20}}) {
            PtsImg fast(nw * nh), ref(nw * nh);
            engines::resizeSmoothed(src->data(), 3, 2, fast.data(), nw, nh);
            engines::reference::resizeSmoothed(src->data(), 3, 2, ref.data(), nw, nh);
            EXPECT_EQ(bytesOf(fast), bytesOf(ref)) << nw << "x" << nh;
            engines::resizeNearest(src->data(), 3, 2, fast.data(), nw, nh);
            engines::reference::resizeNearest(src->data(), 3, 2, ref.data(), nw, nh);
            EXPECT_EQ(bytesOf(fast), bytesOf(ref)) << nw << "x" << nh;
        }
}

INSTANTIATE_TEST_SUITE_P(Kernels, FastPath, ::testing::ValuesIn(test::kernelSetups()),
                         test::kernelSetupName);

// The worked trapezoid gives columns that are exact integers and exact
// halves, and a 0/1 picture makes their blends exact ties: the double path
// must hand those pixels to the exact formula, and does.
TEST(FastPathFallback, ExactIntegersAndTiesGoThroughTheExactFormula) {
    const PtsImg src = tiePicture(100, 100, 1, 0);
    PtsImg fast(100 * 100), ref(100 * 100);
    const engines::PerspectiveParams p{
        {{20, 0}, {80, 0}, {100, 100}, {0, 100}}, 0, Sampling::Bilinear};
    const int64_t before = engines::fast::fallbacks.load();
    engines::correctPerspective(src.data(), fast.data(), 100, 100, p);
    const int64_t exact = engines::fast::fallbacks.load() - before;
    engines::reference::correctPerspective(src.data(), ref.data(), 100, 100, p);
    EXPECT_EQ(bytesOf(fast), bytesOf(ref));
    EXPECT_GT(exact, 100);       // every row has whole and half columns
    EXPECT_LT(exact, 100 * 100); // but most pixels are decided in double
}

// The AVX-512 tilt blends sixteen pixels at a time in single precision,
// where its margin is widest: noisy and smooth pictures at small and large
// angles, each kernel against one plain loop, and most pixels still decided
// without the exact formula.
TEST(FastPathSinglePrecision, TiltBlendsMatchThePlainLoopOnNoisyAndSmoothPictures) {
    constexpr int32_t w = 600, h = 400;
    PtsImg smooth(int64_t{w} * h);
    std::mt19937 rng(11);
    auto* b = reinterpret_cast<uint8_t*>(smooth.data());
    for (int64_t y = 0; y < h; ++y)
        for (int64_t x = 0; x < w; ++x)
            for (int64_t c = 0; c < 3; ++c)
                b[3 * (y * w + x) + c] = static_cast<uint8_t>(
                    (x * (c + 1) / 5 + y / (c + 2) + static_cast<int64_t>(rng() % 3)) & 255);
    const PtsImg noisy = test::randomPicture(w, h, 12);
    const long double angles[] = {1e-3L, -1e-3L, 0.02L, -0.02L, 0.06L, -0.06L,
                                  0.3L,  -0.3L,  1.2L,  -1.2L,  0.7L,  -0.11L};
    const Kernel before = engines::activeKernel();
    for (const PtsImg* src : {&noisy, static_cast<const PtsImg*>(&smooth)})
        for (size_t i = 0; i < std::size(angles); ++i) {
            const Point c = i % 4 == 3 ? Point{-50000, 70000}
                                       : Point{static_cast<int32_t>(rng() % w),
                                               static_cast<int32_t>(rng() % h)};
            const engines::TiltParams p{c, angles[i], Sampling::Bilinear};
            PtsImg ref(int64_t{w} * h);
            engines::reference::tilt(src->data(), ref.data(), w, h, p);
            for (Kernel k : {Kernel::Baseline, Kernel::Avx2, Kernel::Avx512}) {
                if (!engines::setKernel(k)) continue;
                PtsImg fast(int64_t{w} * h);
                const int64_t exactBefore = engines::fast::fallbacks.load();
                engines::tilt(src->data(), fast.data(), w, h, p);
                ASSERT_EQ(bytesOf(fast), bytesOf(ref))
                    << "kernel " << static_cast<int>(k) << " angle "
                    << static_cast<double>(angles[i]) << " centre " << c.x << "," << c.y;
                EXPECT_LT(engines::fast::fallbacks.load() - exactBefore, int64_t{w} * h / 50);
            }
        }
    engines::setKernel(before);
}

// Small turns, where the AVX-512 tilt takes sixteen pixels from a window
// of two source rows in fixed point: centres inside the picture, so that
// groups straddle the centre's column and row (the nearest method's source
// moves one on where the offset turns negative), centres on and beyond the
// edges, and turns of both signs up to the window's limit of about 3.8
// degrees, over pictures of two tiles' width.
TEST(FastPathFixedPoint, SmallTurnsMatchThePlainLoop) {
    constexpr int32_t w = 600, h = 150;
    const PtsImg src = test::randomPicture(w, h, 21);
    const long double angles[] = {7e-4L, -7e-4L, 0.013L, -0.021L, 0.059L, -0.06L, 0.066L, -0.066L};
    const Point centres[] = {{300, 75}, {17, 130},  {583, 3},  {0, 0},
                             {w, h},    {-40, 200}, {700, -90}};
    const Kernel before = engines::activeKernel();
    if (!engines::setKernel(Kernel::Avx512)) GTEST_SKIP() << "no AVX-512 on this processor";
    for (const Point& c : centres)
        for (const long double angle : angles)
            for (Sampling s : {Sampling::Nearest, Sampling::Bilinear}) {
                const engines::TiltParams p{c, angle, s};
                PtsImg fast(int64_t{w} * h), ref(int64_t{w} * h);
                engines::tilt(src.data(), fast.data(), w, h, p);
                engines::reference::tilt(src.data(), ref.data(), w, h, p);
                ASSERT_EQ(bytesOf(fast), bytesOf(ref))
                    << "centre " << c.x << "," << c.y << " angle " << static_cast<double>(angle)
                    << " sampling " << static_cast<int>(s);
            }
    engines::setKernel(before);
}

// The AVX-512 perspective steps its columns in fixed point where a row's
// slope lets sixteen of them share a window: trapezoids that shrink a row
// and that stretch it, and crossed corners whose rows step by more than a
// pixel (whose lanes would overflow the fixed point), both samplings.
TEST(FastPathFixedPoint, PerspectiveRowsMatchThePlainLoop) {
    const Kernel before = engines::activeKernel();
    if (!engines::setKernel(Kernel::Avx512)) GTEST_SKIP() << "no AVX-512 on this processor";
    struct Case {
        int32_t w, h;
        engines::Corners corners;
    };
    const Case cases[] = {
        {300, 120, {{70, 15}, {235, 12}, {295, 118}, {5, 115}}},
        {300, 120, {{-40, -10}, {340, -10}, {250, 130}, {50, 130}}},
        {62, 40, {{-35, 47}, {64, -40}, {-62, -37}, {98, 39}}},
        {54, 47, {{66, 60}, {85, 15}, {-13, 9}, {101, 69}}},
    };
    for (const Case& c : cases) {
        const PtsImg src = test::randomPicture(c.w, c.h, 31);
        for (int32_t vertical : {0, 4})
            for (Sampling s : {Sampling::Nearest, Sampling::Bilinear}) {
                const engines::PerspectiveParams p{c.corners, vertical, s};
                PtsImg fast = test::randomPicture(c.w, c.h, 32), ref = fast.clone();
                const bool drawn =
                    engines::correctPerspective(src.data(), fast.data(), c.w, c.h, p);
                ASSERT_EQ(drawn, engines::reference::correctPerspective(src.data(), ref.data(), c.w,
                                                                        c.h, p));
                ASSERT_EQ(bytesOf(fast), bytesOf(ref))
                    << c.w << "x" << c.h << " vertical " << vertical << " sampling "
                    << static_cast<int>(s);
            }
    }
    engines::setKernel(before);
}

// The distortion works in tiles of rows and columns about the centre:
// pictures of several tiles each way, odd and even sides and partial tiles
// at every edge, each kernel against one plain loop.
TEST(FastPathTiles, DistortionMatchesThePlainLoopAcrossTiles) {
    const Kernel before = engines::activeKernel();
    std::mt19937 rng(17);
    for (auto [w, h] : {std::pair{1701, 131}, std::pair{1000, 70}}) {
        const PtsImg src = test::randomPicture(w, h, rng());
        for (int position : {-60, 35, 100})
            for (auto law : {engines::DistortionLaw::Linear, engines::DistortionLaw::Square})
                for (Sampling s : {Sampling::Nearest, Sampling::Bilinear}) {
                    const engines::DistortionParams p{position, law, s};
                    PtsImg ref = test::randomPicture(w, h, 5);
                    engines::reference::correctDistortion(src.data(), ref.data(), w, h, p);
                    for (Kernel k : {Kernel::Baseline, Kernel::Avx2, Kernel::Avx512}) {
                        if (!engines::setKernel(k)) continue;
                        PtsImg fast = test::randomPicture(w, h, 5);
                        engines::correctDistortion(src.data(), fast.data(), w, h, p);
                        ASSERT_EQ(bytesOf(fast), bytesOf(ref))
                            << w << "x" << h << " rate " << position << " law "
                            << static_cast<int>(law) << " bilinear " << (s == Sampling::Bilinear)
                            << " kernel " << static_cast<int>(k);
                    }
                }
    }
    engines::setKernel(before);
}

TEST(FastPathScreen, RefusesPositionsNearIntegersAndBlendsNearTies) {
    engines::fast::Split s;
    EXPECT_FALSE(engines::fast::splitPosition(3.0, 1e-9, s));
    EXPECT_FALSE(engines::fast::splitPosition(3.0 + 1e-10, 1e-9, s));
    EXPECT_FALSE(engines::fast::splitPosition(-2.0 - 1e-10, 1e-9, s));
    EXPECT_FALSE(engines::fast::splitPosition(0x1p31 + 0.5, 1e-9, s));
    ASSERT_TRUE(engines::fast::splitPosition(-2.25, 1e-9, s));
    EXPECT_EQ(s.trunc, -2);  // towards zero
    EXPECT_EQ(s.frac, 0.75); // from the floor, as the weights take it
    EXPECT_EQ(engines::fast::roundedChannel(12.5, 1e-9), -1);
    EXPECT_EQ(engines::fast::roundedChannel(12.4999, 1e-9), 12);
    EXPECT_EQ(engines::fast::roundedChannel(300.2, 1e-9), 255);
    EXPECT_EQ(engines::fast::roundedChannel(-3.2, 1e-9), 0);
}

TEST(ThreadPool, CoversEveryItemOnceInBlocksOfAtMostTheGrain) {
    for (engines::Split split : {engines::Split::Dynamic, engines::Split::Contiguous})
        for (int threads : {1, 2, 3, 7}) {
            engines::setThreadCount(threads);
            EXPECT_EQ(engines::threadCount(), threads);
            for (int64_t count : {int64_t{1003}, int64_t{5}, int64_t{16}}) {
                std::vector<int> seen(static_cast<size_t>(count), 0);
                std::atomic<int> oversized{0};
                engines::parallelFor(
                    count, 16,
                    [&](int64_t b, int64_t e) {
                        if (e - b > 16) ++oversized;
                        for (int64_t i = b; i < e; ++i)
                            ++seen[static_cast<size_t>(i)];
                    },
                    split);
                EXPECT_EQ(oversized.load(), 0);
                EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), count)
                    << threads << " threads, " << count << " items";
            }
        }
    engines::setThreadCount(0);
}

} // namespace
} // namespace talvine
