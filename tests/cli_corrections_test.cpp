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
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <sstream>
#include <utility>

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
        // Interpolated unless told otherwise: the tool's default.
        if (!bilinear) args.push_back("--nearest");
        const auto r = runTool(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const cli::Picture out = cli::readPicture(dir / "out.png");
        const PtsImg src = pixelsOf(in);
        PtsImg expected(240 * 160);
        engines::reference::tilt(src.data(), expected.data(), 240, 160,
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
        {{"--rate", "100", "--basic"}, 100, engines::DistortionLaw::Linear, Sampling::Nearest},
        {{"--rate", "-35", "--law", "2"}, -35, engines::DistortionLaw::Square, Sampling::Bilinear},
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
        engines::reference::correctDistortion(src.data(), expected.data(), 200, 100,
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
        args.push_back("--nearest");
        const auto r = runTool(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const cli::Picture out = cli::readPicture(dir / "out.png");
        const PtsImg src = pixelsOf(in);
        PtsImg expected = pixelsOf(in);
        ASSERT_TRUE(engines::reference::correctPerspective(src.data(), expected.data(), 100, 100,
                                                           {corners, v, Sampling::Nearest}));
        EXPECT_EQ(out.rgb, bytes(expected, in)) << "v " << v;
    }
}

std::vector<uint8_t> tilted(const cli::Picture& in, Point from, Point to, Sampling sampling) {
    const PtsImg src = pixelsOf(in);
    PtsImg expected(int64_t{in.width} * in.height);
    engines::reference::tilt(src.data(), expected.data(), in.width, in.height,
                             {from, *engines::tiltAngle(from, to), sampling});
    return bytes(expected, in);
}

size_t notes(const std::string& err) {
    size_t n = 0;
    for (size_t at = err.find(": note: "); at != std::string::npos;
         at = err.find(": note: ", at + 1))
        ++n;
    return n;
}

TEST(CliCorrections, PointsArePositionsOnTheEdgesAndBeyondThePicture) {
    test::TempDir dir;
    const cli::Picture in = test::coordinateRgb(100, 100);
    cli::writePicture(dir / "in.png", in);
    const std::string src = dir / "in.png", out = dir / "out.png";
    struct Case {
        const char* what;
        engines::Corners corners;
        size_t notes;
    } cases[] = {
        {"corners on the right and bottom edges", {{20, 0}, {80, 0}, {100, 100}, {0, 100}}, 0},
        {"a facade cut off by the frame", {{20, -30}, {80, -30}, {130, 100}, {-30, 100}}, 4},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"perspective", src, out, "--nearest", "--corners"};
        for (Point p : {c.corners.hg, c.corners.hd, c.corners.bd, c.corners.bg})
            args.push_back(std::to_string(p.x) + "," + std::to_string(p.y));
        const auto r = runTool(args);
        ASSERT_EQ(r.exitCode, 0) << c.what << ": " << r.err;
        EXPECT_EQ(notes(r.err), c.notes) << c.what << ": " << r.err;
        if (c.notes) {
            EXPECT_NE(r.err.find("lies outside the 100 x 100 picture"), std::string::npos);
        }
        const PtsImg pixels = pixelsOf(in);
        PtsImg expected = pixelsOf(in);
        ASSERT_TRUE(engines::reference::correctPerspective(pixels.data(), expected.data(), 100, 100,
                                                           {c.corners, 5, Sampling::Nearest}));
        EXPECT_EQ(cli::readPicture(out).rgb, bytes(expected, in)) << c.what;
    }
    // The tilt: a line through the picture picked at two points beyond it,
    // and the far ends of the 32-bit reach.
    struct TiltCase {
        Point from, to;
        size_t notes;
    } tilts[] = {{{-5, 50}, {105, 60}, 1 + 1},
                 {{0, 100}, {100, 90}, 0},
                 {{-2147483647, 2147483647}, {2147483647, -2147483647}, 2}};
    for (const TiltCase& t : tilts) {
        const auto r = runTool({"tilt", src, out, "--bilinear", "--from",
                                std::to_string(t.from.x) + "," + std::to_string(t.from.y), "--to",
                                std::to_string(t.to.x) + "," + std::to_string(t.to.y)});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(notes(r.err), t.notes) << r.err;
        EXPECT_EQ(cli::readPicture(out).rgb, tilted(in, t.from, t.to, Sampling::Bilinear))
            << t.from.x << "," << t.from.y;
    }
}

// The points --angle says it picked, from "the line from X,Y to X,Y".
std::pair<std::string, std::string> pickedPoints(const std::string& err) {
    const size_t at = err.find("the line from ");
    if (at == std::string::npos) return {};
    std::istringstream line(err.substr(at + 14));
    std::string from, word, to;
    line >> from >> word >> to;
    return {from, to};
}

TEST(CliTilt, AnAngleTurnsAsTheTwoPointsItPicksWould) {
    test::TempDir dir;
    const cli::Picture in = test::coordinateRgb(160, 100);
    cli::writePicture(dir / "in.png", in);
    const std::string src = dir / "in.png";
    // 45 degrees rising to the right about the centre is the line from
    // (80,50) one pixel right and one up: the dialog's angle of -45.
    auto r = runTool({"tilt", src, dir / "a.png", "--angle", "45", "--nearest"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(pickedPoints(r.err), std::make_pair(std::string("80,50"), std::string("81,49")));
    EXPECT_EQ(cli::readPicture(dir / "a.png").rgb,
              tilted(in, {80, 50}, {81, 49}, Sampling::Nearest));
    struct Case {
        std::vector<std::string> options;
        double degrees;
    } cases[] = {
        {{"--angle", "3", "--nearest"}, 3},
        {{"--angle", "-3", "--centre", "30,40", "--bilinear"}, -3},
        {{"--angle", "33.3333", "--centre", "-10,120", "--nearest"}, 33.3333},
        {{"--angle", "-0.001", "--nearest"}, -0.001},
        {{"--angle", "89.99", "--nearest"}, 89.99},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"tilt", src, dir / "a.png"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        r = runTool(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
        const auto [from, to] = pickedPoints(r.err);
        ASSERT_FALSE(to.empty()) << r.err;
        int ax = 0, ay = 0, bx = 0, by = 0;
        ASSERT_EQ(std::sscanf(from.c_str(), "%d,%d", &ax, &ay), 2) << from;
        ASSERT_EQ(std::sscanf(to.c_str(), "%d,%d", &bx, &by), 2) << to;
        // Picture y points down: rising to the right is a negative dy.
        const double obtained = std::atan2(double(ay) - by, double(bx) - ax) * 180 / M_PI;
        EXPECT_NEAR(obtained, c.degrees, 1e-9) << from << " " << to;
        std::vector<std::string> same{"tilt", src, dir / "b.png", "--from", from, "--to", to};
        same.push_back(c.options.back() == "--bilinear" ? "--bilinear" : "--nearest");
        ASSERT_EQ(runTool(same).exitCode, 0);
        EXPECT_EQ(test::slurp(dir / "a.png"), test::slurp(dir / "b.png")) << c.degrees;
    }
    // With one pixel of reach the closest line is the level one: said, and
    // still applied.
    r = runTool({"tilt", src, dir / "a.png", "--angle", "10", "--centre", "2147483646,0"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("warning: 10 degrees cannot be reached"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("the closest is 0 degrees"), std::string::npos) << r.err;
}

// The rectangle straighten says it kept, from "the clean rectangle: X,Y,W,H".
std::array<int, 4> keptRect(const std::string& err) {
    std::array<int, 4> r{-1, -1, -1, -1};
    const size_t at = err.find("the clean rectangle: ");
    if (at != std::string::npos)
        std::sscanf(err.c_str() + at + 21, "%d,%d,%d,%d", &r[0], &r[1], &r[2], &r[3]);
    return r;
}

TEST(CliStraighten, KeepsTheLargestRectangleWithoutCornersFromOutside) {
    test::TempDir dir;
    const cli::Picture in = test::coordinateRgb(240, 160);
    cli::writePicture(dir / "in.png", in);
    const std::string src = dir / "in.png";
    struct Case {
        const char* what;
        std::vector<std::string> options;
        Point from, to;
        Sampling sampling;
        bool keepProportion;
    } cases[] = {
        {"any proportion",
         {"--from", "20,30", "--to", "220,50", "--nearest"},
         {20, 30},
         {220, 50},
         Sampling::Nearest,
         false},
        {"the picture's proportions",
         {"--from", "200,140", "--to", "10,120", "--keep-proportion"},
         {200, 140},
         {10, 120},
         Sampling::Bilinear,
         true},
        {"a point beyond the picture",
         {"--from", "-40,80", "--to", "260,60", "--nearest"},
         {-40, 80},
         {260, 60},
         Sampling::Nearest,
         false},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"straighten", src, dir / "out.png"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto r = runTool(args);
        ASSERT_EQ(r.exitCode, 0) << c.what << ": " << r.err;
        const auto [x, y, w, h] = keptRect(r.err);
        const cli::Picture out = cli::readPicture(dir / "out.png");
        EXPECT_EQ(out.width, w) << c.what;
        EXPECT_EQ(out.height, h) << c.what;
        ASSERT_TRUE(x >= 0 && y >= 0 && x + w <= 240 && y + h <= 160) << c.what << ": " << r.err;
        // Most of the picture survives a turn of about 6 degrees.
        EXPECT_GT(w * h, 240 * 160 * 6 / 10) << c.what;
        if (c.keepProportion) {
            EXPECT_NEAR(double(w) / h, 1.5, 0.02) << c.what;
        }
        // The kept rectangle of the tilted picture, and not one pixel of it
        // brought in from outside (white: the source holds none, its red
        // channel stays below 240).
        const std::vector<uint8_t> whole = tilted(in, c.from, c.to, c.sampling);
        std::vector<uint8_t> expected;
        for (int row = y; row < y + h; ++row)
            expected.insert(expected.end(), whole.begin() + (size_t(row) * 240 + x) * 3,
                            whole.begin() + (size_t(row) * 240 + x + w) * 3);
        EXPECT_EQ(out.rgb, expected) << c.what;
        size_t white = 0;
        for (size_t k = 0; k < out.rgb.size(); k += 3)
            white += out.rgb[k] == 255 && out.rgb[k + 1] == 255 && out.rgb[k + 2] == 255;
        EXPECT_EQ(white, 0u) << c.what;
        for (auto [cx, cy] : {std::pair{0, 0}, {w - 1, 0}, {0, h - 1}, {w - 1, h - 1}})
            EXPECT_LT(at(out, cx, cy)[0], 240) << c.what << " corner " << cx << "," << cy;
    }
    // By angle: the same as by the two points it picks.
    auto r = runTool({"straighten", src, dir / "a.png", "--angle", "-4", "--centre", "100,60"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto [from, to] = pickedPoints(r.err);
    ASSERT_EQ(runTool({"straighten", src, dir / "b.png", "--from", from, "--to", to}).exitCode, 0);
    EXPECT_EQ(test::slurp(dir / "a.png"), test::slurp(dir / "b.png"));
    // Refused as the tilt is, writing nothing.
    r = runTool({"straighten", src, dir / "c.png", "--from", "10,5", "--to", "10,40"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "c.png"));
    r = runTool({"straighten", src, dir / "c.png", "--angle", "-90"});
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "c.png"));
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
        {"corners at the far ends of the 32-bit reach",
         {"perspective", in, out, "--corners", "-2147483647,-2147483647", "2147483647,-2147483647",
          "2147483647,2147483647", "-2147483647,2147483647"},
         1,
         "no preview"},
        {"corners beyond the reach of a reported point",
         {"perspective", in, out, "--corners", "0,0", "2147483648,0", "63,47", "0,47"},
         2,
         "top-right corner x"},
        {"an angle with the two points",
         {"tilt", in, out, "--angle", "3", "--from", "1,1"},
         2,
         "--angle replaces"},
        {"a centre without an angle",
         {"tilt", in, out, "--from", "1,1", "--to", "5,5", "--centre", "3,3"},
         2,
         "--centre goes with --angle"},
        {"a vertical angle", {"tilt", in, out, "--angle", "90"}, 2, "between -90 and 90"},
        {"two samplings at once",
         {"tilt", in, out, "--angle", "3", "--basic", "--smooth"},
         2,
         "--nearest and --bilinear cannot be given together"},
        {"an angle that is no number", {"tilt", in, out, "--angle", "3deg"}, 2, "'3deg'"},
        {"a centre with no room for a second point",
         {"tilt", in, out, "--angle", "3", "--centre", "2147483647,0"},
         1,
         "no room"},
        {"sides that meet just above the bottom row, blended",
         {"perspective", in, out, "--corners", "28,46", "36,46", "63,47", "0,47", "--vertical", "0",
          "--crop"},
         1,
         "no rectangle of the 64 x 48 result"},
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
            // Notes on points outside the picture come before the one error.
            const auto lines = std::count(r.err.begin(), r.err.end(), '\n') - notes(r.err);
            EXPECT_EQ(lines, 1) << c.what << ": " << r.err;
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

namespace talvine {
namespace {

// --crop after the perspective and the distortion: the output is the
// announced rectangle of the engine's result, and no pixel of it is one the
// engine left as it was (run here over a buffer of a colour the picture
// never holds).
TEST(CliCrop, PerspectiveAndDistortionKeepOnlyComputedPixels) {
    test::TempDir dir;
    const cli::Picture in = test::coordinateRgb(240, 160);
    cli::writePicture(dir / "in.png", in);
    const std::string src = dir / "in.png";
    constexpr TPtImg kLeft{{250, 251, 252}};
    struct Case {
        std::vector<std::string> options;
        std::function<void(const PtsImg&, PtsImg&)> engine;
        bool keep;
    };
    const std::vector<Case> cases = {
        {{"perspective", "--corners", "30,0", "214,0", "240,160", "0,160", "--nearest", "--crop"},
         [](const PtsImg& s, PtsImg& d) {
             engines::correctPerspective(
                 s.data(), d.data(), 240, 160,
                 {{{30, 0}, {214, 0}, {240, 160}, {0, 160}}, 5, Sampling::Nearest});
         },
         false},
        {{"perspective", "--corners", "20,0", "230,0", "240,160", "0,160", "--vertical", "0",
          "--crop", "--keep-proportion"},
         [](const PtsImg& s, PtsImg& d) {
             engines::correctPerspective(
                 s.data(), d.data(), 240, 160,
                 {{{20, 0}, {230, 0}, {240, 160}, {0, 160}}, 0, Sampling::Bilinear});
         },
         true},
        // Sides parting upwards (a picture taken looking down): the
        // vanishing point lies below, and every row has a clean run.
        {{"perspective", "--corners", "0,0", "240,0", "214,160", "26,160", "--crop"},
         [](const PtsImg& s, PtsImg& d) {
             engines::correctPerspective(
                 s.data(), d.data(), 240, 160,
                 {{{0, 0}, {240, 0}, {214, 160}, {26, 160}}, 5, Sampling::Bilinear});
         },
         false},
        {{"distortion", "--rate", "-60", "--law", "2", "--crop"},
         [](const PtsImg& s, PtsImg& d) {
             engines::correctDistortion(s.data(), d.data(), 240, 160,
                                        {-60, engines::DistortionLaw::Square, Sampling::Bilinear});
         },
         false},
        {{"distortion", "--rate", "45", "--nearest", "--crop", "--keep-proportion"},
         [](const PtsImg& s, PtsImg& d) {
             engines::correctDistortion(s.data(), d.data(), 240, 160,
                                        {45, engines::DistortionLaw::Linear, Sampling::Nearest});
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options[0] + " " + c.options[2]);
        std::vector<std::string> args = {c.options[0], src, dir / "out.png"};
        args.insert(args.end(), c.options.begin() + 1, c.options.end());
        const auto r = runTool(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const auto [x, y, w, h] = keptRect(r.err);
        ASSERT_TRUE(x >= 0 && y >= 0 && w > 0 && h > 0 && x + w <= 240 && y + h <= 160) << r.err;
        EXPECT_GT(w * h, 240 * 160 / 3);
        if (c.keep) {
            EXPECT_NEAR(double(w) / h, 1.5, 0.02);
        }
        PtsImg engine(240 * 160);
        std::fill(engine.data(), engine.data() + 240 * 160, kLeft);
        c.engine(pixelsOf(in), engine);
        const auto whole = bytes(engine, in);
        std::vector<uint8_t> expected;
        for (int row = y; row < y + h; ++row)
            expected.insert(expected.end(), whole.begin() + (size_t(row) * 240 + x) * 3,
                            whole.begin() + (size_t(row) * 240 + x + w) * 3);
        const cli::Picture out = cli::readPicture(dir / "out.png");
        EXPECT_EQ(out.rgb, expected);
        size_t left = 0;
        for (size_t k = 0; k + 2 < expected.size(); k += 3)
            left += expected[k] == 250 && expected[k + 1] == 251 && expected[k + 2] == 252;
        EXPECT_EQ(left, 0u);
    }
    EXPECT_EQ(
        runTool({"distortion", src, dir / "x.png", "--rate", "5", "--keep-proportion"}).exitCode,
        2);
}

} // namespace
} // namespace talvine
