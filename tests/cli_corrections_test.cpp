// talvine tilt, distortion and perspective run as programs on picture files:
// the results against the engines on the same pixels, and one clear line for
// every refusal.
#include "core/ParamCoul.h"
#include "engines/CorrDistor.h"
#include "engines/ModifAngle.h"
#include "engines/Perspective.h"
#include "support/RunTool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace talvine {
namespace {

using engines::Sampling;
using test::runTool;

PtsImg pixelsOf(const cli::Picture& p) {
    PtsImg out(p.width * p.height);
    std::memcpy(out.data(), p.rgb.data(), p.rgb.size());
    return out;
}

std::vector<uint8_t> bytes(const PtsImg& p, const cli::Picture& like) {
    const auto* b = reinterpret_cast<const uint8_t*>(p.data());
    return {b, b + like.rgb.size()};
}

const uint8_t* at(const cli::Picture& p, int x, int y) {
    return &p.rgb[(size_t(y) * size_t(p.width) + size_t(x)) * 3];
}

TEST(CliTilt, LevelsTheLineThroughBothPointsInEitherSampling) {
    test::TempDir dir;
    const cli::Picture in = test::coordinateRgb(240, 160);
    cli::writePicture(dir / "in.png", in);
    for (bool bilinear : {false, true}) {
        std::vector<std::string> args{"tilt",    dir / "in.png", dir / "out.png", "--from",
                                      "100,100", "--to",         "200,110"};
        if (bilinear) args.push_back("--bilinear");
        const auto r = runTool(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const cli::Picture out = cli::readPicture(dir / "out.png");
        const PtsImg src = pixelsOf(in);
        PtsImg expected(240 * 160);
        engines::reference::pivoter(src.data(), expected.data(), 240, 160,
                                    {{100, 100},
                                     *engines::tiltAngle({100, 100}, {200, 110}),
                                     bilinear ? Sampling::Bilinear : Sampling::Nearest});
        EXPECT_EQ(out.rgb, bytes(expected, in)) << (bilinear ? "bilinear" : "nearest");
        if (!bilinear) {
            EXPECT_EQ(at(out, 200, 100)[0], 199);
            EXPECT_EQ(at(out, 200, 100)[1], 109);
        }
    }
}

TEST(CliDistortion, AppliesTheRateWithTheChosenLawAndSampling) {
    test::TempDir dir;
    const cli::Picture in = test::coordinateRgb(200, 100);
    cli::writePicture(dir / "in.png", in);
    struct Case {
        std::vector<std::string> extra;
        int rate;
        engines::DistortionLaw law;
        Sampling sampling;
    } cases[] = {
        {{"--rate", "100"}, 100, engines::DistortionLaw::Linear, Sampling::Nearest},
        {{"--rate", "-35", "--law", "2", "--bilinear"},
         -35,
         engines::DistortionLaw::Square,
         Sampling::Bilinear},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"distortion", dir / "in.png", dir / "out.png"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const auto r = runTool(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const cli::Picture out = cli::readPicture(dir / "out.png");
        // Earlier previews at rate 0 rewrote the picture as it was, so the
        // last run starts from the original everywhere it skips.
        const PtsImg src = pixelsOf(in);
        PtsImg expected = pixelsOf(in);
        engines::reference::corrigerDistorsion(src.data(), expected.data(), 200, 100,
                                               {c.rate, c.law, c.sampling});
        EXPECT_EQ(out.rgb, bytes(expected, in)) << c.rate;
    }
    const auto r = runTool({"distortion", dir / "in.png", dir / "o.png", "--rate", "100"});
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_EQ(at(cli::readPicture(dir / "o.png"), 150, 50)[0], 166);
}

TEST(CliPerspective, MapsTheCornersWithTheVerticalCorrection) {
    test::TempDir dir;
    const cli::Picture in = test::coordinateRgb(100, 100);
    cli::writePicture(dir / "in.png", in);
    const engines::Corners corners{{20, 0}, {80, 0}, {99, 99}, {0, 99}};
    for (int v : {0, 5}) {
        std::vector<std::string> args{"perspective", dir / "in.png", dir / "out.png", "--corners",
                                      "20,0",        "80,0",         "99,99",         "0,99"};
        if (v != 5) args.insert(args.end(), {"--vertical", std::to_string(v)});
        const auto r = runTool(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const cli::Picture out = cli::readPicture(dir / "out.png");
        const PtsImg src = pixelsOf(in);
        PtsImg expected = pixelsOf(in);
        ASSERT_TRUE(engines::reference::corrigerPerspective(src.data(), expected.data(), 100, 100,
                                                            {corners, v, Sampling::Nearest}));
        EXPECT_EQ(out.rgb, bytes(expected, in)) << "v " << v;
    }
}

TEST(CliCorrections, RefusalsAreOneLineAndWriteNothing) {
    test::TempDir dir;
    cli::writePicture(dir / "in.png", test::coordinateRgb(64, 48));
    const std::string in = dir / "in.png", out = dir / "out.png";
    struct Case {
        const char* what;
        std::vector<std::string> args;
        int exitCode;
        const char* message;
    } cases[] = {
        {"two points in one column",
         {"tilt", in, out, "--from", "10,5", "--to", "10,40"},
         1,
         "L'\xC3\xA9"
         "cart horizontal entre les deux points ne doit pas \xC3\xAAtre nul"},
        {"degenerate corners",
         {"perspective", in, out, "--corners", "10,0", "50,0", "30,47", "30,40"},
         1,
         "no preview"},
        {"a negative root at full stretch",
         {"perspective", in, out, "--corners", "0,30", "63,30", "40,47", "20,47", "--vertical",
          "10"},
         1,
         "no preview"},
        {"a point outside the picture",
         {"tilt", in, out, "--from", "10,5", "--to", "64,5"},
         1,
         "outside the 64 x 48 picture"},
        {"a corner outside the picture",
         {"perspective", in, out, "--corners", "0,0", "63,0", "63,48", "0,47"},
         1,
         "bottom-right corner"},
        {"a rate beyond the slider", {"distortion", in, out, "--rate", "101"}, 2, "--rate"},
        {"an unknown law", {"distortion", in, out, "--rate", "5", "--law", "3"}, 2, "--law"},
        {"no rate", {"distortion", in, out}, 2, "--rate"},
        {"a stretch beyond the slider",
         {"perspective", in, out, "--corners", "9,0", "50,0", "63,47", "0,47", "--vertical", "11"},
         2,
         "--vertical"},
        {"three corners",
         {"perspective", in, out, "--corners", "9,0", "50,0", "63,47"},
         2,
         "--corners"},
        {"a malformed point", {"tilt", in, out, "--from", "10;5", "--to", "20,5"}, 2, "--from"},
        {"no second point", {"tilt", in, out, "--from", "10,5"}, 2, "--to"},
    };
    for (const Case& c : cases) {
        const auto r = runTool(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.what << ": " << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << ": " << r.err;
        if (c.exitCode == 1) {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.what << ": " << r.err;
        }
        EXPECT_FALSE(std::filesystem::exists(out)) << c.what;
    }
}

TEST(CliDemo, StraightensTheSampleWithTheThreeCorrections) {
    test::TempDir dir;
    const auto r = runTool({"demo", dir.path().string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* name : {"03-tilt.png", "08-distortion.png", "09-perspective.png"})
        EXPECT_TRUE(std::filesystem::exists(dir / name)) << name;
    // The sample's horizon rises 3 degrees to the right; levelled, the dark
    // horizon line sits on one row across the middle.
    const cli::Picture tilted = cli::readPicture(dir / "03-tilt.png");
    auto horizonRow = [&](int x) {
        int best = 0, darkest = 1000;
        for (int y = 250; y < 400; ++y) {
            const uint8_t* p = at(tilted, x, y);
            const int sum = p[0] + p[1] + p[2];
            // The horizon is the sky's last row: a sharp drop from blue sky.
            if (p[2] > 150 && at(tilted, x, y + 1)[2] < 120 && sum < darkest) {
                darkest = sum;
                best = y;
            }
        }
        return best;
    };
    const int left = horizonRow(160), right = horizonRow(480);
    ASSERT_GT(left, 0);
    EXPECT_NEAR(left, right, 3) << "a 3-degree tilt over 320 columns would be 17 rows";
}

} // namespace
} // namespace talvine
