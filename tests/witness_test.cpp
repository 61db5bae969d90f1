// Cancellation witnesses: parameters where the fast paths' double (or
// float) positions and blends land on the other side of a truncation or a
// rounding than the 80-bit ones, in many pixels, found by the witness finder
// (tests/witness/witness_finder.cpp) and kept here as a table.  Every case
// runs through the public engine under every kernel (a kernel the processor
// lacks is skipped, and says so) with 1, 2, 3 and 7 threads, and must give
// the plain loop's bytes: only the fallback to the exact formula gets those
// pixels right, so a margin set to zero, or cut below a case's `need`,
// fails here.  The arithmetic that tells why each case is a witness is
// tests/witness/Witness.h; WitnessTable checks that each still is.
//
// The cases: a centre up to 2^31 pixels away and an angle that brings the
// picture back onto itself (positions near integers everywhere; stripes
// whose blends all sit on a tie); the top-left corner of an even picture,
// where the distortion's law is the identity; integer trapezoids whose
// columns are exact integers in reals; resampling ratios whose fractions make
// two neighbours' blend a half-integer.
//
// Regenerate with `talvine_witness_finder 20` (three minutes or so)
// and paste its rows; `knob` says which margin the case is there for,
// `pixels` how many pixels go wrong with that margin at zero (with the
// Position and Single knobs, the nearest methods and the float blends,
// under AVX-512 only), and `need` the scale of the margin below which some still do.
#include "engines/Dispatch.h"
#include "engines/Parallel.h"
#include "engines/TailleImg.h"
#include "support/KernelSetups.h"
#include "witness/Witness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

namespace talvine {
namespace {

using engines::DistortionLaw;
using engines::Kernel;
using engines::Sampling;
using witness::Knob;
using witness::Pattern;
using witness::Pixels;

template <class Case> struct Witness {
    Case c;
    Knob knob;
    int64_t pixels; // wrong with the knob's margin at zero
    double need;    // wrong still below this share of the margin
};

// clang-format off
const Witness<witness::TiltCase> kTilt[] = {
    {{249, 32, {-630028301, 2104719004}, -0x8.8b447cde2f78c76p-60L, Sampling::Nearest, {Pattern::Random, 271, 0, 0}}, Knob::Position, 7936, 0.00307},
    {{251, 32, {-804264151, -1666847268}, 0xa.4e8ac23a778305ep-34L, Sampling::Nearest, {Pattern::Random, 494, 0, 0}}, Knob::Position, 7904, 0.00339},
    {{253, 32, {-1132903332, -1518770437}, -0xb.4fcb45b62c9d641p-34L, Sampling::Nearest, {Pattern::Random, 423, 0, 0}}, Knob::Position, 7688, 0.00633},
    {{228, 32, {62, INT32_MIN}, -0xb.ec72ed5954c5161p-30L, Sampling::Bilinear, {Pattern::Stripes, 0, 252, 0}}, Knob::Position, 45, 0.0351},
    {{153, 32, {100, INT32_MIN}, 0xb.ae0a52ce9ac3263p-30L, Sampling::Bilinear, {Pattern::Random, 821, 0, 0}}, Knob::Position, 26, 0.0312},
    {{161, 17, {54, INT32_MIN}, -0xe.0d4f5e3f14b2bddp-30L, Sampling::Bilinear, {Pattern::Random, 458, 0, 0}}, Knob::Position, 24, 0.0312},
    {{256, 32, {-1477134414, 1123025271}, -0xf.8a7759b03534603p-43L, Sampling::Bilinear, {Pattern::Stripes, 0, 252, 0}}, Knob::Blend, 7680, 0.000198},
    {{255, 32, {1574426501, -1003704248}, 0xa.de1cc80aa249064p-40L, Sampling::Bilinear, {Pattern::Stripes, 0, 0, 252}}, Knob::Blend, 7650, 0.001},
    {{252, 32, {-1826442829, 899643266}, -0xd.564d9c48b5048ccp-39L, Sampling::Bilinear, {Pattern::Stripes, 0, 252, 0}}, Knob::Blend, 7560, 0.00208},
    {{206, 32, {-1151140096, 556141356}, -0x8.d378a3b9b476071p-38L, Sampling::Bilinear, {Pattern::Stripes, 0, 0, 252}}, Knob::Blend, 6180, 0.00272},
    {{245, 30, {1132961273, 1348014605}, -0xa.84f303e1885083ep-39L, Sampling::Bilinear, {Pattern::Stripes, 0, 252, 0}}, Knob::Blend, 6860, 0.0027},
    {{206, 32, {1724051348, -918052497}, 0xf.722bb865917f484p-39L, Sampling::Bilinear, {Pattern::Stripes, 0, 252, 0}}, Knob::Blend, 6180, 0.00254},
    {{255, 32, {1574426501, -1003704248}, 0xa.de1cc80aa249064p-40L, Sampling::Bilinear, {Pattern::Stripes, 0, 0, 252}}, Knob::Single, 7200, 0.000988},
    {{252, 32, {-1826442829, 899643266}, -0xd.564d9c48b5048ccp-39L, Sampling::Bilinear, {Pattern::Stripes, 0, 252, 0}}, Knob::Single, 7200, 0.0015},
    {{245, 32, {1484460210, 979029922}, -0xb.2438f9cd33a66d1p-40L, Sampling::Bilinear, {Pattern::Stripes, 0, 0, 252}}, Knob::Single, 7200, 0.00103},
    {{245, 30, {1132961273, 1348014605}, -0xa.84f303e1885083ep-39L, Sampling::Bilinear, {Pattern::Stripes, 0, 252, 0}}, Knob::Single, 6720, 0.00268},
    {{254, 31, {1408207077, -1109731109}, -0xf.14f087bd6c302ddp-34L, Sampling::Bilinear, {Pattern::Stripes, 0, 252, 0}}, Knob::Single, 5040, 0.00264},
    {{181, 31, {1184873787, -1439221273}, 0x9.da4abdd75d402a6p-39L, Sampling::Bilinear, {Pattern::Stripes, 0, 252, 0}}, Knob::Single, 5104, 0.00253},
};

// The tilt's AVX-512 fixed-point groups alone: their wrong pixels with the
// knob's margin at zero (the fixed point's bound e + 2^-25, or its float
// margin).
const Witness<witness::TiltFixedCase> kTiltFixed[] = {
    {{{71, 61, {60, 2147483647}, -0x8.b853d24eecce7bbp-34L, Sampling::Nearest, {Pattern::Ties, 823, 254, 0}}}, Knob::Position, 2308, 0.00195},
    {{{77, 52, {58, INT32_MIN}, 0xc.90fdaa3e8d46cafp-1L, Sampling::Nearest, {Pattern::Random, 285, 0, 0}}}, Knob::Position, 2300, 0.00975},
    {{{79, 64, {44, 963433776}, -0x8.f426fc3fdd6177ep-34L, Sampling::Nearest, {Pattern::Random, 719, 0, 0}}}, Knob::Position, 1769, 0.00433},
    {{{228, 32, {62, INT32_MIN}, -0xb.ec72ed5954c5161p-30L, Sampling::Bilinear, {Pattern::Stripes, 0, 252, 0}}}, Knob::Position, 35, 0.0351},
    {{{170, 38, {1091096246, 9}, -0xb.cf23790c8cd72c1p-30L, Sampling::Nearest, {Pattern::Random, 910, 0, 0}}}, Knob::Position, 512, 0.0306},
    {{{57, 49, {-321641500, 39}, 0xc.90fda9bab081c19p-1L, Sampling::Nearest, {Pattern::Stripes, 0, 0, 252}}}, Knob::Position, 32, 0.0257},
    {{{256, 31, {-2039434074, -1998778857}, -0x8.805ad18f1a7bf07p-33L, Sampling::Bilinear, {Pattern::Stripes, 0, 0, 252}}}, Knob::Single, 6912, 0.00101},
    {{{256, 31, {2144526596, 1127248898}, 0xf.16de865a38c4f75p-34L, Sampling::Bilinear, {Pattern::Stripes, 0, 0, 252}}}, Knob::Single, 6720, 0.000779},
    {{{255, 32, {1574426501, -1003704248}, 0xa.de1cc80aa249064p-40L, Sampling::Bilinear, {Pattern::Stripes, 0, 0, 252}}}, Knob::Single, 6720, 0.000987},
    {{{245, 30, {1132961273, 1348014605}, -0xa.84f303e1885083ep-39L, Sampling::Bilinear, {Pattern::Stripes, 0, 252, 0}}}, Knob::Single, 6272, 0.00267},
    {{{254, 31, {1408207077, -1109731109}, -0xf.14f087bd6c302ddp-34L, Sampling::Bilinear, {Pattern::Stripes, 0, 252, 0}}}, Knob::Single, 4704, 0.00263},
    {{{181, 31, {1184873787, -1439221273}, 0x9.da4abdd75d402a6p-39L, Sampling::Bilinear, {Pattern::Stripes, 0, 252, 0}}}, Knob::Single, 4640, 0.00253},
};

const Witness<witness::DistortionCase> kDistortion[] = {
    {{42, 66, -75, engines::DistortionLaw::Square, Sampling::Nearest, {Pattern::Random, 447, 0, 0}}, Knob::Position, 20, 0.000579},
    {{44, 48, -50, engines::DistortionLaw::Linear, Sampling::Nearest, {Pattern::Random, 768, 0, 0}}, Knob::Position, 16, 0.00034},
    {{76, 48, -50, engines::DistortionLaw::Linear, Sampling::Nearest, {Pattern::Ties, 296, 254, 0}}, Knob::Position, 15, 0.00101},
    {{140, 60, -100, engines::DistortionLaw::Linear, Sampling::Nearest, {Pattern::Random, 89, 0, 0}}, Knob::Position, 8, 0.00156},
    {{54, 56, 92, engines::DistortionLaw::Linear, Sampling::Nearest, {Pattern::Ties, 411, 254, 0}}, Knob::Position, 1, 0.00142},
    {{122, 14, -58, engines::DistortionLaw::Square, Sampling::Nearest, {Pattern::Random, 830, 0, 0}}, Knob::Position, 4, 0.00138},
    {{56, 60, -75, engines::DistortionLaw::Linear, Sampling::Bilinear, {Pattern::Random, 161, 0, 0}}, Knob::Position, 5, 0.00107},
    {{62, 54, -100, engines::DistortionLaw::Square, Sampling::Bilinear, {Pattern::Ties, 898, 0, 0}}, Knob::Blend, 18, 1.03e-06},
    {{32, 56, -100, engines::DistortionLaw::Square, Sampling::Bilinear, {Pattern::Random, 242, 0, 0}}, Knob::Blend, 6, 0.000131},
    {{38, 34, 100, engines::DistortionLaw::Square, Sampling::Bilinear, {Pattern::Random, 803, 0, 0}}, Knob::Blend, 5, 4e-05},
    {{96, 42, 54, engines::DistortionLaw::Square, Sampling::Bilinear, {Pattern::Random, 653, 0, 0}}, Knob::Blend, 1, 0.000251},
    {{32, 60, 90, engines::DistortionLaw::Linear, Sampling::Bilinear, {Pattern::Random, 525, 0, 0}}, Knob::Blend, 1, 0.000209},
    {{110, 70, 92, engines::DistortionLaw::Square, Sampling::Bilinear, {Pattern::Random, 824, 0, 0}}, Knob::Blend, 1, 0.000208},
    {{118, 44, -54, engines::DistortionLaw::Square, Sampling::Bilinear, {Pattern::Random, 893, 0, 0}}, Knob::Single, 1, 0.0243},
    {{66, 64, 5, engines::DistortionLaw::Square, Sampling::Bilinear, {Pattern::Random, 413, 0, 0}}, Knob::Single, 1, 0.0991},
    {{66, 8, -99, engines::DistortionLaw::Square, Sampling::Bilinear, {Pattern::Random, 275, 0, 0}}, Knob::Single, 1, 0.0492},
    {{38, 55, 76, engines::DistortionLaw::Linear, Sampling::Bilinear, {Pattern::Random, 417, 0, 0}}, Knob::Single, 1, 0.199},
    {{54, 36, 93, engines::DistortionLaw::Linear, Sampling::Bilinear, {Pattern::Random, 870, 0, 0}}, Knob::Single, 1, 0.0991},
    {{76, 60, -20, engines::DistortionLaw::Square, Sampling::Bilinear, {Pattern::Random, 665, 0, 0}}, Knob::Single, 1, 0.0991},
};

const Witness<witness::PerspectiveCase> kPerspective[] = {
    {{59, 46, {{10, 31}, {4, 13}, {117, -22}, {-54, 74}}, 0, Sampling::Nearest, {Pattern::Random, 949, 0, 0}}, Knob::Position, 642, 0.0505},
    {{55, 46, {{-31, 17}, {13, 75}, {12, 31}, {34, 63}}, 0, Sampling::Nearest, {Pattern::Ties, 106, 254, 0}}, Knob::Position, 261, 0.029},
    {{60, 18, {{76, -3}, {-29, 1}, {63, 15}, {88, -1}}, 0, Sampling::Nearest, {Pattern::Random, 807, 0, 0}}, Knob::Position, 249, 0.5},
    {{50, 28, {{75, -12}, {73, 13}, {-28, 7}, {44, -26}}, 0, Sampling::Nearest, {Pattern::Random, 110, 0, 0}}, Knob::Position, 32, 0.5},
    {{56, 23, {{-40, 8}, {-23, -10}, {-50, 44}, {-13, -21}}, 0, Sampling::Nearest, {Pattern::Ties, 904, 0, 0}}, Knob::Position, 20, 0.5},
    {{55, 36, {{-5, -16}, {-42, 13}, {-9, 20}, {105, -34}}, 0, Sampling::Nearest, {Pattern::Random, 823, 0, 0}}, Knob::Position, 20, 0.5},
    {{48, 41, {{-48, -22}, {-47, 82}, {43, 30}, {96, 36}}, 0, Sampling::Bilinear, {Pattern::Ties, 114, 254, 0}}, Knob::Position, 64, 0.0381},
    {{56, 40, {{78, -16}, {45, 51}, {73, -26}, {57, 66}}, 0, Sampling::Bilinear, {Pattern::Random, 220, 0, 0}}, Knob::Blend, 216, 0.0102},
    {{60, 36, {{97, -19}, {73, 19}, {72, 30}, {-17, -22}}, 0, Sampling::Bilinear, {Pattern::Random, 869, 0, 0}}, Knob::Blend, 204, 0.0119},
    {{32, 45, {{-3, 37}, {32, 42}, {9, 26}, {26, 49}}, 0, Sampling::Bilinear, {Pattern::Random, 900, 0, 0}}, Knob::Blend, 190, 0.00893},
    {{48, 37, {{52, 64}, {77, 0}, {3, 60}, {43, -12}}, 0, Sampling::Bilinear, {Pattern::Random, 20, 0, 0}}, Knob::Blend, 36, 0.0264},
    {{64, 45, {{-5, 90}, {56, 27}, {72, -22}, {111, 3}}, 0, Sampling::Bilinear, {Pattern::Random, 637, 0, 0}}, Knob::Blend, 49, 0.0249},
    {{50, 14, {{-46, 15}, {2, 10}, {50, -13}, {8, 22}}, 0, Sampling::Bilinear, {Pattern::Random, 576, 0, 0}}, Knob::Blend, 31, 0.0229},
    {{36, 45, {{58, 56}, {0, -33}, {9, 23}, {-10, 70}}, 0, Sampling::Bilinear, {Pattern::Random, 73, 0, 0}}, Knob::Single, 3, 0.0492},
    {{64, 42, {{90, -28}, {9, 42}, {-36, 53}, {-24, 8}}, 0, Sampling::Bilinear, {Pattern::Random, 180, 0, 0}}, Knob::Single, 3, 0.0991},
    {{25, 40, {{-9, -27}, {28, 39}, {50, 11}, {-3, 73}}, 0, Sampling::Bilinear, {Pattern::Random, 796, 0, 0}}, Knob::Single, 2, 0.0492},
    {{64, 39, {{38, 1}, {74, 36}, {85, 25}, {88, 1}}, 0, Sampling::Bilinear, {Pattern::Random, 714, 0, 0}}, Knob::Single, 1, 0.0991},
    {{58, 38, {{-272, -124}, {-42, -125}, {160, 95}, {-72, 96}}, 0, Sampling::Bilinear, {Pattern::Random, 253, 0, 0}}, Knob::Single, 1, 0.0991},
    {{64, 43, {{13, 70}, {99, 68}, {-46, 32}, {6, 25}}, 0, Sampling::Bilinear, {Pattern::Random, 351, 0, 0}}, Knob::Single, 1, 0.0991},
};

// The perspective's AVX-512 fixed-point groups alone.
const Witness<witness::PerspectiveFixedCase> kPerspectiveFixed[] = {
    {{{48, 21, {{-30, -7}, {14, -7}, {53, -3}, {27, -20}}, 0, Sampling::Nearest, {Pattern::Random, 648, 0, 0}}}, Knob::Position, 58, 0.5},
    {{{40, 45, {{27, 50}, {22, -5}, {19, 82}, {14, -22}}, 0, Sampling::Nearest, {Pattern::Random, 307, 0, 0}}}, Knob::Position, 56, 0.5},
    {{{35, 43, {{5, 5}, {44, 10}, {27, 41}, {-17, -14}}, 0, Sampling::Nearest, {Pattern::Random, 813, 0, 0}}}, Knob::Position, 34, 0.5},
    {{{36, 10, {{128, -32}, {274, -32}, {216, 25}, {72, 24}}, 0, Sampling::Nearest, {Pattern::Random, 704, 0, 0}}}, Knob::Position, 4, 0.5},
    {{{30, 25, {{29, 11}, {10, -3}, {-26, 37}, {-2, 7}}, 0, Sampling::Nearest, {Pattern::Random, 937, 0, 0}}}, Knob::Position, 4, 0.5},
    {{{18, 34, {{9, 49}, {28, 59}, {33, -10}, {23, -14}}, 0, Sampling::Nearest, {Pattern::Random, 900, 0, 0}}}, Knob::Position, 4, 0.5},
    {{{64, 42, {{90, -28}, {9, 42}, {-36, 53}, {-24, 8}}, 0, Sampling::Bilinear, {Pattern::Random, 180, 0, 0}}}, Knob::Single, 3, 0.0824},
    {{{45, 30, {{100, -72}, {279, -73}, {180, 67}, {0, 68}}, 0, Sampling::Bilinear, {Pattern::Random, 341, 0, 0}}}, Knob::Single, 2, 0.0824},
    {{{56, 19, {{-49, 15}, {-18, 17}, {65, -11}, {104, 24}}, 0, Sampling::Bilinear, {Pattern::Random, 222, 0, 0}}}, Knob::Single, 2, 0.0824},
    {{{32, 6, {{13, 2}, {59, 9}, {22, 11}, {-21, 10}}, 0, Sampling::Bilinear, {Pattern::Random, 904, 0, 0}}}, Knob::Single, 1, 0.0824},
    {{{46, 34, {{-1, -24}, {13, 29}, {31, -3}, {-1, 40}}, 0, Sampling::Bilinear, {Pattern::Random, 813, 0, 0}}}, Knob::Single, 1, 0.0824},
    {{{32, 44, {{-184, -68}, {-58, -67}, {48, 106}, {-80, 107}}, 0, Sampling::Bilinear, {Pattern::Random, 587, 0, 0}}}, Knob::Single, 1, 0.0824},
};

const Witness<witness::ResizeCase> kResize[] = {
    {{23, 6, 294, 19, {Pattern::Stripes, 0, 5, 152}}, Knob::Blend, 216, 0.00751},
    {{185, 4, 294, 18, {Pattern::Stripes, 0, 2, 149}}, Knob::Blend, 200, 0.0075},
    {{23, 6, 294, 23, {Pattern::Stripes, 0, 15, 162}}, Knob::Blend, 178, 0.00751},
    {{94, 5, 272, 23, {Pattern::Stripes, 0, 147, 215}}, Knob::Blend, 65, 0.015},
    {{155, 2, 148, 20, {Pattern::Checker, 0, 179, 253}}, Knob::Blend, 35, 0.015},
    {{125, 4, 214, 13, {Pattern::Stripes, 0, 141, 248}}, Knob::Blend, 28, 0.015},
};
// clang-format on

bool same(const Pixels& a, const Pixels& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(TPtImg)) == 0;
}

// The first differing pixel, for the message.
std::string firstDifference(const Pixels& a, const Pixels& b, int32_t w) {
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (std::memcmp(&a[i], &b[i], sizeof(TPtImg)) != 0)
            return "first at (" + std::to_string(i % w) + ", " + std::to_string(i / w) + ")";
    return "sizes differ";
}

// The cases of an engine's tables, in turn.
template <class Case, class... Tables> std::vector<Case> casesOf(const Tables&... tables) {
    std::vector<Case> cases;
    (..., [&] {
        for (const auto& w : tables)
            cases.push_back(witness::caseOf(w.c));
    }());
    return cases;
}

using Witnesses = test::KernelFixture;

TEST_P(Witnesses, TiltMatchesThePlainLoop) {
    const auto cases = casesOf<witness::TiltCase>(kTilt, kTiltFixed);
    for (size_t i = 0; i < cases.size(); ++i) {
        const witness::TiltCase& c = cases[i];
        const Pixels src = witness::picture(c.picture, c.w, c.h);
        Pixels fast(src.size()), ref(src.size());
        const engines::TiltParams p{c.centre, c.angle, c.sampling};
        ASSERT_TRUE(engines::tilt(src.data(), fast.data(), c.w, c.h, p));
        ASSERT_TRUE(engines::reference::tilt(src.data(), ref.data(), c.w, c.h, p));
        ASSERT_TRUE(same(fast, ref))
            << "tilt witness " << i << ": " << firstDifference(fast, ref, c.w);
    }
}

TEST_P(Witnesses, DistortionMatchesThePlainLoop) {
    for (size_t i = 0; i < std::size(kDistortion); ++i) {
        const witness::DistortionCase& c = kDistortion[i].c;
        const Pixels src = witness::picture(c.picture, c.w, c.h);
        Pixels fast = witness::initialDestination(c.w, c.h), ref = fast;
        const engines::DistortionParams p{c.rate, c.law, c.sampling};
        engines::correctDistortion(src.data(), fast.data(), c.w, c.h, p);
        engines::reference::correctDistortion(src.data(), ref.data(), c.w, c.h, p);
        ASSERT_TRUE(same(fast, ref))
            << "distortion witness " << i << ": " << firstDifference(fast, ref, c.w);
    }
}

TEST_P(Witnesses, PerspectiveMatchesThePlainLoop) {
    const auto cases = casesOf<witness::PerspectiveCase>(kPerspective, kPerspectiveFixed);
    for (size_t i = 0; i < cases.size(); ++i) {
        const witness::PerspectiveCase& c = cases[i];
        const Pixels src = witness::picture(c.picture, c.w, c.h);
        Pixels fast = witness::initialDestination(c.w, c.h), ref = fast;
        const engines::PerspectiveParams p{c.corners, c.vertical, c.sampling};
        ASSERT_TRUE(engines::correctPerspective(src.data(), fast.data(), c.w, c.h, p));
        ASSERT_TRUE(engines::reference::correctPerspective(src.data(), ref.data(), c.w, c.h, p));
        ASSERT_TRUE(same(fast, ref))
            << "perspective witness " << i << ": " << firstDifference(fast, ref, c.w);
    }
}

TEST_P(Witnesses, ResamplingMatchesThePlainLoop) {
    for (size_t i = 0; i < std::size(kResize); ++i) {
        const witness::ResizeCase& c = kResize[i].c;
        const Pixels src = witness::picture(c.picture, c.w, c.h);
        Pixels fast(static_cast<size_t>(int64_t{c.nw} * c.nh)), ref(fast.size());
        engines::resizeSmoothed(src.data(), c.w, c.h, fast.data(), c.nw, c.nh);
        engines::reference::resizeSmoothed(src.data(), c.w, c.h, ref.data(), c.nw, c.nh);
        ASSERT_TRUE(same(fast, ref))
            << "resampling witness " << i << ": " << firstDifference(fast, ref, c.nw);
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, Witnesses, ::testing::ValuesIn(test::kernelSetups()),
                         test::kernelSetupName);

// Each case is still a witness: with its knob's margin at zero the fast path
// would get its recorded number of pixels wrong, and some still with the
// margin at half its `need`; with the engines' own margins, none.  The counts
// are those of the machine the table was made on (x86-64 Linux, glibc): other
// C libraries may round sinl and cosl otherwise, so elsewhere only some
// wrong pixels are asked for, and none of the tilt's.
template <class Case>
void checkStillWitnesses(const char* engine, const Witness<Case>* table, size_t n,
                         bool sameLibrary) {
    for (size_t i = 0; i < n; ++i) {
        const Witness<Case>& w = table[i];
        const int64_t atZero = witness::escapes(w.c, witness::Scales::scaled(w.knob, 0)).most();
        if (sameLibrary) {
            EXPECT_EQ(atZero, w.pixels) << engine << " witness " << i;
            EXPECT_GT(witness::escapes(w.c, witness::Scales::scaled(w.knob, w.need / 2)).most(), 0)
                << engine << " witness " << i;
        } else if (!std::is_same_v<Case, witness::TiltCase> &&
                   !std::is_same_v<Case, witness::TiltFixedCase>) {
            EXPECT_GT(atZero, 0) << engine << " witness " << i;
        }
        EXPECT_EQ(witness::escapes(w.c, witness::Scales{}).most(), 0)
            << engine << " witness " << i << " is wrong with the engine's own margins";
    }
}

TEST(WitnessTable, EveryCaseStillNeedsTheFallback) {
#if defined(__GLIBC__) && defined(__x86_64__)
    const bool sameLibrary = true;
#else
    const bool sameLibrary = false;
#endif
    checkStillWitnesses("tilt", kTilt, std::size(kTilt), sameLibrary);
    checkStillWitnesses("tilt, fixed point", kTiltFixed, std::size(kTiltFixed), sameLibrary);
    checkStillWitnesses("distortion", kDistortion, std::size(kDistortion), sameLibrary);
    checkStillWitnesses("perspective", kPerspective, std::size(kPerspective), sameLibrary);
    checkStillWitnesses("perspective, fixed point", kPerspectiveFixed, std::size(kPerspectiveFixed),
                        sameLibrary);
    checkStillWitnesses("resampling", kResize, std::size(kResize), sameLibrary);
}

// The model's float blend rounds each fused multiply-add once, as the
// processor does, whatever the C library's fmaf does: here a * b + c lies just
// below the midpoint between c and the next float up (or above the one below
// it), and rounding first to
// double lands on the midpoint, whose tie goes to the even neighbour.
TEST(WitnessModel, FusedMultiplyAddRoundsOnce) {
    const float a = 1 + 0x1p-23f, b = 64 * (1 - 0x1p-23f), c = 0x1p30f + 128;
    EXPECT_EQ(witness::detail::fmaSingle(a, b, c), c);
    EXPECT_EQ(witness::detail::fmaSingle(-a, b, -c), -c);
    EXPECT_EQ(witness::detail::fmaSingle(a, -b, c), c); // just above the midpoint below c
    std::mt19937 random(7);
    std::uniform_real_distribution<float> byte(-255, 255), unit(0, 1);
    for (int i = 0; i < 100000; ++i) {
        const float u = unit(random), d = byte(random), e = byte(random);
        const long double exact = static_cast<long double>(u) * d + e;
        const float got = witness::detail::fmaSingle(u, d, e);
        // Rounded to nearest: no float lies nearer the exact value.
        EXPECT_LE(std::fabs(static_cast<long double>(got) - exact),
                  std::fabs(static_cast<long double>(std::nextafter(got, HUGE_VALF)) - exact));
        EXPECT_LE(std::fabs(static_cast<long double>(got) - exact),
                  std::fabs(static_cast<long double>(std::nextafter(got, -HUGE_VALF)) - exact));
        if (::testing::Test::HasFailure()) break;
    }
}

// Every engine, every knob it has, and both samplings where they matter.
TEST(WitnessTable, CoversEveryMargin) {
    auto has = [](const auto& table, Knob knob) {
        for (const auto& w : table)
            if (w.knob == knob) return true;
        return false;
    };
    for (Knob k : {Knob::Position, Knob::Blend, Knob::Single})
        EXPECT_TRUE(has(kTilt, k));
    for (Knob k : {Knob::Position, Knob::Single}) {
        EXPECT_TRUE(has(kTiltFixed, k));
        EXPECT_TRUE(has(kPerspectiveFixed, k));
    }
    for (Knob k : {Knob::Position, Knob::Blend, Knob::Single}) {
        EXPECT_TRUE(has(kDistortion, k));
        EXPECT_TRUE(has(kPerspective, k));
    }
    EXPECT_TRUE(has(kResize, Knob::Blend));
    auto bilinearPosition = [](const auto& table) {
        for (const auto& w : table)
            if (w.knob == Knob::Position && w.c.sampling == Sampling::Bilinear) return true;
        return false;
    };
    EXPECT_TRUE(bilinearPosition(kTilt)) << "a position witness that every kernel meets";
    auto nearestPosition = [](const auto& table) {
        for (const auto& w : table)
            if (w.knob == Knob::Position && w.c.engine.sampling == Sampling::Nearest) return true;
        return false;
    };
    EXPECT_TRUE(nearestPosition(kTiltFixed)) << "the fixed point's nearest method";
    EXPECT_TRUE(bilinearPosition(kDistortion));
}

} // namespace
} // namespace talvine
